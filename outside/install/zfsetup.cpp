// zfsetup: what the product's installer and a first sign-in do, for a local setup.
//   zfsetup service-host HOST[:PORT]      point the client at an account service
//   zfsetup module-location FOLDER        where the uploader and verywrite.dll live
//   zfsetup create-account EMAIL PASSWORD FIRST LAST   create it and store it
//   zfsetup session                       open a session with the stored account
#include <windows.h>

#include <cstdio>
#include <string>

#include "Owners.h"
#include "ServiceClient.h"
#include "Settings.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: zfsetup service-host HOST[:PORT]\n"
               "       zfsetup module-location FOLDER\n"
               "       zfsetup create-account EMAIL PASSWORD FIRST LAST\n"
               "       zfsetup session\n");
  return 2;
}

bool WriteSetting(const char* name, const std::string& value) {
  zf::UniqueHKey key;
  return RegCreateKeyExA(HKEY_LOCAL_MACHINE, zf::kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                         nullptr, key.put(), nullptr) == ERROR_SUCCESS &&
         RegSetValueExA(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

int Setting(const char* name, const std::string& value) {
  if (!WriteSetting(name, value)) {
    std::fprintf(stderr, "zfsetup: cannot write \"%s\"\n", name);
    return 1;
  }
  std::printf("%s = %s\n", name, value.c_str());
  return 0;
}

int CreateAccount(char** argv) {
  zf::ServiceClient client;
  if (!client.CreateAccount(argv[2], argv[3], argv[4], argv[5])) {
    std::fprintf(stderr, "zfsetup: the service at %s did not create the account %s\n",
                 client.Endpoint().c_str(), argv[2]);
    return 1;
  }
  if (!client.StoreAccount()) {
    std::fprintf(stderr, "zfsetup: the account could not be stored\n");
    return 1;
  }
  std::printf("account %s created at %s and stored in \"UserAccount\"\n", argv[2],
              client.Endpoint().c_str());
  return 0;
}

int Session() {
  zf::AccountRecord account;
  if (!zf::LoadAccount(account)) {
    std::fprintf(stderr, "zfsetup: no stored account\n");
    return 1;
  }
  zf::ServiceClient client;
  if (!client.StartSession()) {
    std::fprintf(stderr, "zfsetup: no session with %s\n", client.Endpoint().c_str());
    return 1;
  }
  std::printf("session opened with %s (session key of %zu characters)\n",
              client.Endpoint().c_str(), client.SessionKey().size());
  if (!client.Login(account.userName, account.password)) {
    std::fprintf(stderr, "zfsetup: the stored account %s was refused\n", account.userName.c_str());
    return 1;
  }
  std::printf("logged in as %s\n", account.userName.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  zf::ComApartment com;
  if (command == "service-host" && argc == 3) return Setting("ServiceHost", argv[2]);
  if (command == "module-location" && argc == 3) return Setting("ModuleLocation", argv[2]);
  if (command == "create-account" && argc == 6) return CreateAccount(argv);
  if (command == "session" && argc == 2) return Session();
  return Usage();
}
