#pragma once
// The service client: session with the account service, the account record and
// the commands that travel inside ClientRequest.
#include <memory>
#include <string>
#include <vector>

#include "AccountRecord.h"
#include "FolderEntry.h"

namespace zf {

class ServiceSoapProxy;
struct DimeAttachment;

// Command codes carried in the request text.
enum class Command : int {
  CreateAccount = 1001,
  Login = 1002,
  UploadDocument = 1003,
  ListFolders = 1004,
  ChangeFolder = 1005,
  NewFolder = 1006,
  DeleteFolder = 1007,
};

// "code TAB arg1 CR arg2 ... argN"; nothing when an argument would break the layout.
bool BuildRequestText(Command code, const std::vector<std::string>& args, std::string& text);
// Folder records of a 1004 reply, in the order received.
FolderList ParseFolderList(const std::string& reply);

class ServiceClient {
 public:
  ServiceClient();
  ServiceClient(const ServiceClient&) = delete;
  ServiceClient& operator=(const ServiceClient&) = delete;
  ~ServiceClient();

  // Opens the session once; true at once when there is one.
  bool StartSession();
  const std::string& SessionKey() const { return sessionKey_; }
  const std::string& Endpoint() const { return endpoint_; }

  bool CreateAccount(const std::string& email, const std::string& password,
                     const std::string& firstName, const std::string& lastName);
  bool Login(const std::string& user, const std::string& password);
  bool UploadDocument(const std::string& documentPath, const std::string& title,
                      const std::string& notes, const std::string& folderId);
  bool ListFolders(const std::string& user, const std::string& password, FolderList& folders);
  bool SaveFolder(const std::string& user, const std::string& password,
                  const FolderEntry& folder);
  bool DeleteFolder(const std::string& user, const std::string& password,
                    const std::string& folderId);

  // The account record kept by CreateAccount and Login.
  const AccountRecord& Account() const { return account_; }
  bool StoreAccount() const { return zf::StoreAccount(account_); }

 private:
  // Sends one command (after the session and, but for 1001/1002, a login) and
  // hands back the reply text: plain when at most 3 characters, else deciphered.
  bool Send(Command code, const std::vector<std::string>& args, std::string& reply,
            const DimeAttachment* attachment = nullptr);
  bool Transact(const std::string& text, std::string& reply, const DimeAttachment* attachment);

  std::string sessionKey_;
  std::string endpoint_;
  std::unique_ptr<ServiceSoapProxy> proxy_;
  AccountRecord account_;
};

}  // namespace zf
