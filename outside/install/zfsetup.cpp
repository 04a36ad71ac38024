// zfsetup: what the product's installer and a first sign-in do, for a local setup.
//   zfsetup service-host HOST[:PORT]      point the client at an account service
//   zfsetup module-location FOLDER        where the uploader and verywrite.dll live
//   zfsetup create-account EMAIL PASSWORD FIRST LAST   create it and store it
//   zfsetup session                       open a session with the stored account
//   zfsetup create-folder NAME            make a folder in the stored account, print its id
//   zfsetup write-job TITLE NOTES FOLDER  what Save Page writes before it prints
#include <windows.h>

#include <cstdio>
#include <string>

#include "JobFile.h"
#include "Owners.h"
#include "ServiceClient.h"
#include "Settings.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: zfsetup service-host HOST[:PORT]\n"
               "       zfsetup module-location FOLDER\n"
               "       zfsetup create-account EMAIL PASSWORD FIRST LAST\n"
               "       zfsetup session\n"
               "       zfsetup create-folder NAME\n"
               "       zfsetup write-job TITLE NOTES FOLDER-ID\n");
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

int CreateFolder(const std::string& name) {
  zf::AccountRecord account;
  if (!zf::LoadAccount(account)) {
    std::fprintf(stderr, "zfsetup: no stored account\n");
    return 1;
  }
  zf::ServiceClient client;
  zf::FolderList folders;
  if (!client.SaveFolder(account.userName, account.password, {"", "", name}) ||
      !client.ListFolders(account.userName, account.password, folders)) {
    std::fprintf(stderr, "zfsetup: the folder could not be made\n");
    return 1;
  }
  // The service gives a new folder's identifier only through the next list.
  for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
    if (it->name == name) {
      std::printf("%s\n", it->id.c_str());
      return 0;
    }
  }
  return 1;
}

int WriteJob(const char* title, const char* notes, const char* folder) {
  // Command lines cannot carry line breaks; "\n" in NOTES stands for one.
  std::string text = notes;
  for (size_t at; (at = text.find("\\n")) != std::string::npos;) text.replace(at, 2, "\n");
  if (!zf::WriteJob(title, text, folder)) {
    std::fprintf(stderr, "zfsetup: the job file could not be written\n");
    return 1;
  }
  std::printf("job file written: title \"%s\", folder %s\n", title, folder);
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
  if (command == "create-folder" && argc == 3) return CreateFolder(argv[2]);
  if (command == "write-job" && argc == 5) return WriteJob(argv[2], argv[3], argv[4]);
  return Usage();
}
