#pragma once
// The account service's SQLite store: accounts, folders and documents.
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace zfservice {

struct FolderRow {
  std::string id, second, name;
};

struct DocumentRow {
  std::int64_t id = 0;
  std::string account, title, notes, folder;
  std::int64_t size = 0;
  std::int64_t created = 0;
};

struct AccountRow {
  std::int64_t id = 0;
  std::string email, firstName, lastName;
};

class Store {
 public:
  // Opens (creating as needed) DIR/service.db; throws std::runtime_error when it cannot.
  explicit Store(const std::string& dataDir);
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;
  ~Store();

  // Nothing when the address is taken.
  std::optional<std::int64_t> CreateAccount(const std::string& email, const std::string& password,
                                            const std::string& firstName,
                                            const std::string& lastName);
  // The account when the password matches.
  std::optional<std::int64_t> CheckLogin(const std::string& email, const std::string& password);

  std::vector<FolderRow> Folders(std::int64_t account);
  std::string CreateFolder(std::int64_t account, const std::string& second,
                           const std::string& name);
  bool RenameFolder(std::int64_t account, const std::string& id, const std::string& second,
                    const std::string& name);
  bool DeleteFolder(std::int64_t account, const std::string& id);
  bool OwnsFolder(std::int64_t account, const std::string& id);

  std::int64_t AddDocument(std::int64_t account, const std::string& title,
                           const std::string& notes, const std::string& folder,
                           const void* data, std::size_t size);
  // A file made by NewUploadFile becomes the document's bytes.
  std::int64_t AddDocumentFile(std::int64_t account, const std::string& title,
                               const std::string& notes, const std::string& folder,
                               const std::string& uploadFile, std::size_t size);
  // A new empty file in the store's folder for bytes arriving over the wire.
  // Returns its descriptor and fills path; -1 on failure.
  int NewUploadFile(std::string& path);

  // For people and tests: what the store holds.
  std::vector<AccountRow> Accounts();
  std::vector<FolderRow> FoldersOf(std::int64_t account) { return Folders(account); }
  std::vector<DocumentRow> Documents();
  std::optional<std::vector<unsigned char>> DocumentData(std::int64_t id);

 private:
  void Exec(const char* sql);
  std::filesystem::path DocumentPath(std::int64_t id) const;
  std::filesystem::path documentsDir_;
  sqlite3* db_ = nullptr;
  std::mutex mutex_;
};

}  // namespace zfservice
