#include "SettingsValue.h"

#include "../client/Owners.h"

namespace pagetrap {

std::optional<std::string> ReadText(HKEY key, const char* name) {
  char buffer[MAX_PATH] = {};
  DWORD type = 0;
  DWORD size = sizeof buffer - 1;  // the last byte stays zero
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
          ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ))
    return std::nullopt;
  return std::string(buffer);
}

std::optional<std::string> ReadModuleLocation() {
  zf::UniqueHKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS)
    return std::nullopt;
  return ReadText(key.get(), kModuleLocationValue);
}

std::string JoinPath(const std::string& folder, const char* name) {
  std::string path = folder;
  if (!path.empty() && path.back() != '\\' && path.back() != '/') path += '\\';
  return path + name;
}

}  // namespace pagetrap
