#include "Commands.h"

#include <vector>

namespace zfservice {
namespace {

const Reply kYes{"1", false, std::nullopt};
const Reply kNo{"-1", false, std::nullopt};

bool ParseRequest(const std::string& text, int& code, std::vector<std::string>& args) {
  const size_t tab = text.find('\t');
  if (tab == std::string::npos || tab == 0 || tab > 6) return false;
  code = 0;
  for (size_t i = 0; i < tab; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    code = code * 10 + (text[i] - '0');
  }
  args.clear();
  const std::string rest = text.substr(tab + 1);
  if (rest.empty()) return true;  // "1004" TAB: no arguments
  size_t start = 0;
  for (;;) {
    const size_t cr = rest.find('\r', start);
    args.push_back(rest.substr(start, cr == std::string::npos ? std::string::npos : cr - start));
    if (cr == std::string::npos) break;
    start = cr + 1;
  }
  return true;
}

// The one attachment of an upload: "text/plain", id "12345", option 0 "DATA".
// Folder fields travel inside LF/CR separated records.
bool IsFieldText(const std::string& s) { return s.find_first_of("\r\n") == std::string::npos; }

bool IsDocumentAttachment(const Attachment& a) {
  const std::string option("\x00\x00\x00\x04" "DATA", 8);
  return a.type == "text/plain" && a.id == "12345" && a.options.compare(0, 8, option) == 0;
}

}  // namespace

Reply Commands::Handle(const Session& session, const std::string& text,
                       const Attachment* attachment) {
  int code = 0;
  std::vector<std::string> args;
  if (!ParseRequest(text, code, args)) return kNo;
  const auto wants = [&](size_t n) { return args.size() == n; };

  switch (code) {
    case 1001:  // create account: e-mail, password, first name, last name
      if (!wants(4) || args[0].empty() || args[1].empty()) return kNo;
      return store_.CreateAccount(args[0], args[1], args[2], args[3]) ? kYes : kNo;
    case 1002: {  // log in: e-mail, password
      if (!wants(2)) return kNo;
      const auto account = store_.CheckLogin(args[0], args[1]);
      sessions_.SetAccount(session.key, account.value_or(0));
      return account ? kYes : kNo;
    }
    default:
      break;
  }

  // Everything else needs a session that has logged in.
  const std::int64_t account = session.account;
  if (account == 0) return kNo;

  switch (code) {
    case 1003: {  // upload: title, notes, folder id; the document is attached
      if (!wants(3) || !attachment || !IsDocumentAttachment(*attachment)) return kNo;
      if (attachment->size > kMaxDocumentBytes)
        return Reply{"", false, std::string("The document is larger than 256 MB.")};
      const std::string& folder = args[2];
      if (!folder.empty() && folder != "-1" && !store_.OwnsFolder(account, folder)) return kNo;
      if (attachment->file.empty()) {
        store_.AddDocument(account, args[0], args[1], folder, attachment->data, attachment->size);
        return kYes;
      }
      store_.AddDocumentFile(account, args[0], args[1], folder, attachment->file,
                             attachment->size);
      Reply stored = kYes;
      stored.tookFile = true;
      return stored;
    }
    case 1004: {  // list folders: records by CR, fields by LF
      if (!args.empty()) return kNo;
      std::string list;
      for (const auto& f : store_.Folders(account)) {
        if (!list.empty()) list += '\r';
        list += f.id + '\n' + f.second + '\n' + f.name;
      }
      return Reply{list, true, std::nullopt};
    }
    case 1005:  // change folder: id, second field, name
      return wants(3) && IsFieldText(args[1]) && IsFieldText(args[2]) &&
                     store_.RenameFolder(account, args[0], args[1], args[2])
                 ? kYes
                 : kNo;
    case 1006:  // new folder: second field, name
      if (!wants(2) || !IsFieldText(args[0]) || !IsFieldText(args[1])) return kNo;
      store_.CreateFolder(account, args[0], args[1]);
      return kYes;
    case 1007:  // delete folder: id
      return wants(1) && store_.DeleteFolder(account, args[0]) ? kYes : kNo;
    default:
      return kNo;
  }
}

}  // namespace zfservice
