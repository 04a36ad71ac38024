#include "AccountRecord.h"

#include <windows.h>

#include <cstring>

#include "Cipher.h"
#include "Owners.h"
#include "Settings.h"

namespace zf {
namespace {
const char* const kValueName = "UserAccount";
// Deciphered text beyond this cannot be a stored account (its copy buffer is 512 bytes).
constexpr size_t kMaxAccountText = 511;
}  // namespace

bool LoadAccount(AccountRecord& account) {
  UniqueHKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_ALL_ACCESS, key.put()) !=
      ERROR_SUCCESS)
    return false;
  char value[kStoredAccountBytes] = {};
  DWORD size = sizeof value;
  if (RegQueryValueExA(key.get(), kValueName, nullptr, nullptr, reinterpret_cast<BYTE*>(value),
                       &size) != ERROR_SUCCESS)
    return false;
  key.reset();

  // The value is zero-filled behind the text, but never trust it to be terminated.
  const std::string cipher(value, strnlen(value, size));
  std::string text;
  if (!DecipherText(cipher, kSharedKey, text)) text.clear();

  account.userName.clear();
  account.password.clear();
  if (text.size() > kMaxAccountText) return false;
  const size_t cr = text.find('\r');
  if (cr == std::string::npos) return false;
  account.userName = text.substr(0, cr);
  account.password = text.substr(cr + 1);
  return !account.userName.empty() && !account.password.empty();
}

bool StoreAccount(const AccountRecord& account) {
  std::string cipher;
  if (!EncipherText(account.userName + "\r" + account.password, kSharedKey, cipher)) return false;
  // Keep a terminating zero in the value: a cut-short account could never be read back.
  if (cipher.size() >= kStoredAccountBytes) return false;

  UniqueHKey key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      key.put(), nullptr) != ERROR_SUCCESS)
    return false;
  BYTE data[kStoredAccountBytes] = {};
  std::memcpy(data, cipher.data(), cipher.size());
  // Written over the old value in one call, so a failing write leaves it in place.
  return RegSetValueExA(key.get(), kValueName, 0, REG_BINARY, data, sizeof data) == ERROR_SUCCESS;
}

}  // namespace zf
