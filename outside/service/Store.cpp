#include "Store.h"

#include <sodium.h>
#include <sqlite3.h>

#include <unistd.h>

#include <chrono>
#include <fstream>
#include <stdexcept>

namespace zfservice {
namespace {

// A prepared statement that finalises itself.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK)
      throw std::runtime_error(std::string("SQL error: ") + sqlite3_errmsg(db));
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement() { sqlite3_finalize(stmt_); }

  Statement& Bind(int i, const std::string& text) {
    sqlite3_bind_text(stmt_, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Statement& Bind(int i, std::int64_t value) {
    sqlite3_bind_int64(stmt_, i, value);
    return *this;
  }
  bool Step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    throw std::runtime_error(std::string("SQL error: ") + sqlite3_errmsg(sqlite3_db_handle(stmt_)));
  }
  std::string Text(int col) {
    const auto* p = sqlite3_column_text(stmt_, col);
    return p ? std::string(reinterpret_cast<const char*>(p),
                           static_cast<size_t>(sqlite3_column_bytes(stmt_, col)))
             : std::string();
  }
  std::int64_t Int(int col) { return sqlite3_column_int64(stmt_, col); }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

std::int64_t Now() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string NewGuidText() {
  unsigned char b[16];
  randombytes_buf(b, sizeof b);
  b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);  // version 4
  b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);
  static const char hex[] = "0123456789abcdef";
  std::string out;
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
    out += hex[b[i] >> 4];
    out += hex[b[i] & 15];
  }
  return out;
}

}  // namespace

Store::Store(const std::string& dataDir) {
  if (sodium_init() < 0) throw std::runtime_error("libsodium could not be initialised");
  std::error_code ec;
  std::filesystem::create_directories(dataDir, ec);
  if (!std::filesystem::is_directory(dataDir))
    throw std::runtime_error("data folder " + dataDir + " cannot be used");
  documentsDir_ = std::filesystem::path(dataDir) / "documents";
  std::filesystem::create_directories(documentsDir_, ec);
  if (!std::filesystem::is_directory(documentsDir_))
    throw std::runtime_error("data folder " + dataDir + " cannot be used");
  const std::string path = (std::filesystem::path(dataDir) / "service.db").string();
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    const std::string why = db_ ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    db_ = nullptr;
    throw std::runtime_error("cannot open " + path + ": " + why);
  }
  sqlite3_busy_timeout(db_, 5000);
  try {
    Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON;"
         "CREATE TABLE IF NOT EXISTS accounts(id INTEGER PRIMARY KEY,"
         " email TEXT NOT NULL UNIQUE COLLATE NOCASE, pwhash TEXT NOT NULL,"
         " first_name TEXT NOT NULL, last_name TEXT NOT NULL, created INTEGER NOT NULL);"
         "CREATE TABLE IF NOT EXISTS folders(seq INTEGER PRIMARY KEY, id TEXT NOT NULL UNIQUE,"
         " account INTEGER NOT NULL REFERENCES accounts(id), second TEXT NOT NULL,"
         " name TEXT NOT NULL);"
         "CREATE TABLE IF NOT EXISTS documents(id INTEGER PRIMARY KEY,"
         " account INTEGER NOT NULL REFERENCES accounts(id), title TEXT NOT NULL,"
         " notes TEXT NOT NULL, folder TEXT NOT NULL, size INTEGER NOT NULL,"
         " created INTEGER NOT NULL);");
  } catch (...) {
    sqlite3_close(db_);
    throw;
  }
}

Store::~Store() { sqlite3_close(db_); }

void Store::Exec(const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    const std::string why = error ? error : "unknown";
    sqlite3_free(error);
    throw std::runtime_error("cannot use the data folder: " + why);
  }
}

std::optional<std::int64_t> Store::CreateAccount(const std::string& email,
                                                 const std::string& password,
                                                 const std::string& firstName,
                                                 const std::string& lastName) {
  char hash[crypto_pwhash_STRBYTES];
  // Hashing is slow on purpose; keep it outside the lock.
  if (crypto_pwhash_str(hash, password.data(), password.size(),
                        crypto_pwhash_OPSLIMIT_INTERACTIVE,
                        crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
    return std::nullopt;
  std::lock_guard<std::mutex> lock(mutex_);
  {
    Statement exists(db_, "SELECT 1 FROM accounts WHERE email = ?");
    if (exists.Bind(1, email).Step()) return std::nullopt;
  }
  Statement insert(db_,
                   "INSERT INTO accounts(email, pwhash, first_name, last_name, created)"
                   " VALUES(?, ?, ?, ?, ?)");
  insert.Bind(1, email).Bind(2, std::string(hash)).Bind(3, firstName).Bind(4, lastName);
  insert.Bind(5, Now()).Step();
  return sqlite3_last_insert_rowid(db_);
}

std::optional<std::int64_t> Store::CheckLogin(const std::string& email,
                                              const std::string& password) {
  std::int64_t id = 0;
  std::string hash;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement find(db_, "SELECT id, pwhash FROM accounts WHERE email = ?");
    if (!find.Bind(1, email).Step()) return std::nullopt;
    id = find.Int(0);
    hash = find.Text(1);
  }
  if (crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) != 0)
    return std::nullopt;
  return id;
}

std::vector<FolderRow> Store::Folders(std::int64_t account) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement list(db_, "SELECT id, second, name FROM folders WHERE account = ? ORDER BY seq");
  list.Bind(1, account);
  std::vector<FolderRow> rows;
  while (list.Step()) rows.push_back({list.Text(0), list.Text(1), list.Text(2)});
  return rows;
}

std::string Store::CreateFolder(std::int64_t account, const std::string& second,
                                const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string id = NewGuidText();
  Statement insert(db_, "INSERT INTO folders(id, account, second, name) VALUES(?, ?, ?, ?)");
  insert.Bind(1, id).Bind(2, account).Bind(3, second).Bind(4, name).Step();
  return id;
}

bool Store::RenameFolder(std::int64_t account, const std::string& id, const std::string& second,
                         const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement update(db_, "UPDATE folders SET second = ?, name = ? WHERE id = ? AND account = ?");
  update.Bind(1, second).Bind(2, name).Bind(3, id).Bind(4, account).Step();
  return sqlite3_changes(db_) == 1;
}

bool Store::DeleteFolder(std::int64_t account, const std::string& id) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement remove(db_, "DELETE FROM folders WHERE id = ? AND account = ?");
  remove.Bind(1, id).Bind(2, account).Step();
  return sqlite3_changes(db_) == 1;
}

bool Store::OwnsFolder(std::int64_t account, const std::string& id) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement find(db_, "SELECT 1 FROM folders WHERE id = ? AND account = ?");
  return find.Bind(1, id).Bind(2, account).Step();
}

// Document bytes live in files beside the database: large uploads then cost one
// sequential write instead of a blob copied through the journal.
int Store::NewUploadFile(std::string& path) {
  std::string pattern = (documentsDir_ / "upload-XXXXXX").string();
  const int fd = mkstemp(pattern.data());
  if (fd >= 0) path = pattern;
  return fd;
}

std::int64_t Store::AddDocument(std::int64_t account, const std::string& title,
                                const std::string& notes, const std::string& folder,
                                const void* data, std::size_t size) {
  std::string path;
  const int fd = NewUploadFile(path);
  if (fd < 0) throw std::runtime_error("cannot write a document file");
  const char* bytes = static_cast<const char*>(data);
  for (std::size_t done = 0; done < size;) {
    const ssize_t n = write(fd, bytes + done, size - done);
    if (n <= 0) {
      close(fd);
      unlink(path.c_str());
      throw std::runtime_error("cannot write a document file");
    }
    done += static_cast<std::size_t>(n);
  }
  close(fd);
  return AddDocumentFile(account, title, notes, folder, path, size);
}

// Document bytes live in files beside the database: a large upload costs one
// sequential write instead of a blob copied through the journal.
std::int64_t Store::AddDocumentFile(std::int64_t account, const std::string& title,
                                    const std::string& notes, const std::string& folder,
                                    const std::string& uploadFile, std::size_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  Exec("BEGIN IMMEDIATE");
  try {
    Statement insert(db_,
                     "INSERT INTO documents(account, title, notes, folder, size, created)"
                     " VALUES(?, ?, ?, ?, ?, ?)");
    insert.Bind(1, account).Bind(2, title).Bind(3, notes).Bind(4, folder);
    insert.Bind(5, static_cast<std::int64_t>(size)).Bind(6, Now()).Step();
    const std::int64_t id = sqlite3_last_insert_rowid(db_);
    std::filesystem::rename(uploadFile, DocumentPath(id));
    Exec("COMMIT");
    return id;
  } catch (...) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    unlink(uploadFile.c_str());
    throw;
  }
}

std::filesystem::path Store::DocumentPath(std::int64_t id) const {
  return documentsDir_ / (std::to_string(id) + ".bin");
}

std::vector<AccountRow> Store::Accounts() {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement list(db_, "SELECT id, email, first_name, last_name FROM accounts ORDER BY id");
  std::vector<AccountRow> rows;
  while (list.Step()) rows.push_back({list.Int(0), list.Text(1), list.Text(2), list.Text(3)});
  return rows;
}

std::vector<DocumentRow> Store::Documents() {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement list(db_,
                 "SELECT d.id, a.email, d.title, d.notes, d.folder, d.size, d.created"
                 " FROM documents d JOIN accounts a ON a.id = d.account ORDER BY d.id");
  std::vector<DocumentRow> rows;
  while (list.Step()) {
    DocumentRow row;
    row.id = list.Int(0);
    row.account = list.Text(1);
    row.title = list.Text(2);
    row.notes = list.Text(3);
    row.folder = list.Text(4);
    row.size = list.Int(5);
    row.created = list.Int(6);
    rows.push_back(std::move(row));
  }
  return rows;
}

std::optional<std::vector<unsigned char>> Store::DocumentData(std::int64_t id) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement find(db_, "SELECT 1 FROM documents WHERE id = ?");
    if (!find.Bind(1, id).Step()) return std::nullopt;
  }
  std::ifstream file(DocumentPath(id), std::ios::binary);
  if (!file) return std::nullopt;
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(file), {});
}

}  // namespace zfservice
