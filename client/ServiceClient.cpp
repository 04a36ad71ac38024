#include "ServiceClient.h"

#include <windows.h>

#include <cstdlib>

#include "Cipher.h"
#include "Owners.h"
#include "ServiceProxy.h"
#include "Settings.h"

namespace zf {
namespace {

constexpr size_t kPlainReplyMax = 3;

// Replies of 1002 and 1003 are read as a decimal integer.
bool IsOne(const std::string& reply) { return std::strtol(reply.c_str(), nullptr, 10) == 1; }

// The whole document in memory, its size taken from the file system.
bool ReadDocument(const std::string& path, std::vector<char>& data) {
  UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return false;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 ||
      static_cast<unsigned long long>(size.QuadPart) > SIZE_MAX / 2)
    return false;
  try {
    data.resize(static_cast<size_t>(size.QuadPart));
  } catch (const std::bad_alloc&) {
    return false;
  }
  size_t done = 0;
  while (done < data.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 30));
    DWORD got = 0;
    if (!ReadFile(file.get(), data.data() + done, chunk, &got, nullptr)) return false;
    if (got == 0) break;
    done += got;
  }
  data.resize(done);
  return true;
}

}  // namespace

bool BuildRequestText(Command code, const std::vector<std::string>& args, std::string& text) {
  std::string out = std::to_string(static_cast<int>(code));
  out += '\t';
  for (size_t i = 0; i < args.size(); ++i) {
    // There is no escaping: such an argument would shift every field after it.
    if (args[i].find_first_of("\r\t") != std::string::npos) return false;
    if (i) out += '\r';
    out += args[i];
  }
  text = std::move(out);
  return true;
}

FolderList ParseFolderList(const std::string& reply) {
  FolderList folders;
  size_t start = 0;
  while (start < reply.size()) {
    size_t end = reply.find('\r', start);
    if (end == std::string::npos) end = reply.size();
    const std::string record = reply.substr(start, end - start);
    start = end + 1;

    std::vector<std::string> fields;
    size_t from = 0;
    for (;;) {
      const size_t lf = record.find('\n', from);
      fields.push_back(record.substr(from, lf == std::string::npos ? std::string::npos : lf - from));
      if (lf == std::string::npos) break;
      from = lf + 1;
    }
    if (fields.size() < 3) continue;
    FolderEntry folder;
    folder.id = fields[0];
    folder.second = fields[1];
    folder.name = fields[2];
    folders.push_back(std::move(folder));
  }
  return folders;
}

ServiceClient::ServiceClient()
    : endpoint_(ProductionEndpoint()), proxy_(std::make_unique<ServiceSoapProxy>()) {
  proxy_->endpoint = endpoint_.c_str();
}

ServiceClient::~ServiceClient() = default;

bool ServiceClient::StartSession() {
  if (!sessionKey_.empty()) return true;
  StartSessionResponse response;
  if (proxy_->StartSession(StartSessionRequest{}, response) != 0) return false;
  std::string key;
  if (!DecipherText(response.StartSessionResult.value_or(std::string()), kSharedKey, key))
    return false;
  sessionKey_ = std::move(key);
  return true;
}

bool ServiceClient::Transact(const std::string& text, std::string& reply,
                             const DimeAttachment* attachment) {
  std::string cipher;
  if (!EncipherText(text, sessionKey_, cipher)) return false;
  ClientRequestRequest request;
  request.strCipher = std::move(cipher);
  request.attachment = attachment;
  ClientRequestResponse response;
  if (proxy_->ClientRequest(request, response) != 0) return false;
  // An absent result reads like an empty one.
  std::string result = response.ClientRequestResult.value_or(std::string());
  if (result.size() <= kPlainReplyMax) {
    reply = std::move(result);
    return true;
  }
  return DecipherText(result, sessionKey_, reply);
}

bool ServiceClient::Send(Command code, const std::vector<std::string>& args, std::string& reply,
                         const DimeAttachment* attachment) {
  // A broken layout is refused before anything leaves the client.
  const bool needsLogin = code != Command::CreateAccount && code != Command::Login;
  std::string text, login;
  if (!BuildRequestText(code, args, text)) return false;
  if (needsLogin &&
      !BuildRequestText(Command::Login, {account_.userName, account_.password}, login))
    return false;
  if (!StartSession()) return false;
  if (needsLogin) {
    std::string loginReply;
    if (!Transact(login, loginReply, nullptr) || !IsOne(loginReply)) return false;
  }
  return Transact(text, reply, attachment);
}

bool ServiceClient::CreateAccount(const std::string& email, const std::string& password,
                                  const std::string& firstName, const std::string& lastName) {
  account_ = {email, password};
  std::string reply;
  return Send(Command::CreateAccount, {email, password, firstName, lastName}, reply) &&
         reply != "-1";
}

bool ServiceClient::Login(const std::string& user, const std::string& password) {
  account_ = {user, password};
  std::string reply;
  return Send(Command::Login, {user, password}, reply) && IsOne(reply);
}

bool ServiceClient::UploadDocument(const std::string& documentPath, const std::string& title,
                                   const std::string& notes, const std::string& folderId) {
  AccountRecord stored;
  if (!LoadAccount(stored)) return false;
  account_ = stored;
  std::vector<char> document;
  if (!ReadDocument(documentPath, document)) return false;

  DimeAttachment attachment;
  attachment.data = document.data();
  attachment.size = document.size();
  attachment.type = "text/plain";
  attachment.id = "12345";
  attachment.optionType = 0;
  attachment.option = "DATA";
  std::string reply;
  return Send(Command::UploadDocument, {title, notes, folderId}, reply, &attachment) &&
         IsOne(reply);
}

bool ServiceClient::ListFolders(const std::string& user, const std::string& password,
                                FolderList& folders) {
  account_ = {user, password};
  std::string reply;
  if (!Send(Command::ListFolders, {}, reply)) return false;
  for (auto& folder : ParseFolderList(reply)) folders.push_back(std::move(folder));
  return true;
}

bool ServiceClient::SaveFolder(const std::string& user, const std::string& password,
                               const FolderEntry& folder) {
  account_ = {user, password};
  std::string reply;
  if (folder.id.size() == kFolderIdLength)
    return Send(Command::ChangeFolder, {folder.id, folder.second, folder.name}, reply);
  return Send(Command::NewFolder, {folder.second, folder.name}, reply);
}

bool ServiceClient::DeleteFolder(const std::string& user, const std::string& password,
                                 const std::string& folderId) {
  // A folder never sent to the service is gone as soon as it is dropped here.
  if (folderId.size() != kFolderIdLength) return true;
  account_ = {user, password};
  std::string reply;
  return Send(Command::DeleteFolder, {folderId}, reply);
}

}  // namespace zf
