#pragma once
// The user's name and password, kept enciphered in the registry between runs.
#include <string>

namespace zf {

struct AccountRecord {
  std::string userName;
  std::string password;
};

// Registry value size of the stored account.
constexpr unsigned kStoredAccountBytes = 514;

// True only when the value exists, deciphers and holds both parts.
bool LoadAccount(AccountRecord& account);
// False, with the stored value left as it was, when the account cannot be written whole.
bool StoreAccount(const AccountRecord& account);

}  // namespace zf
