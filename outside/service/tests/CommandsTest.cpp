// The service's answers to the commands, without the transport.
#include "Commands.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>

#include "CipherCore.h"

using namespace zfservice;

namespace {

std::string MakeTempDir() {
  char pattern[] = "/tmp/zf-commands-XXXXXX";
  if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp");
  return pattern;
}

class CommandsTest : public ::testing::Test {
 protected:
  ~CommandsTest() override { std::filesystem::remove_all(dir_); }

  // A new session, logged in as email when given.
  Session NewSession(const std::string& email = "", const std::string& password = "pw") {
    const std::string key = sessions_.Open();
    if (!email.empty()) {
      EXPECT_EQ("1", commands_.Handle({key, 0}, "1002\t" + email + "\r" + password, nullptr).text);
    }
    return *sessions_.Find(zfcipher::KeyTag(key));  // a key's tag finds its session
  }
  Reply Handle(const Session& s, const std::string& text, const Attachment* a = nullptr) {
    return commands_.Handle(s, text, a);
  }
  void CreateAccount(const std::string& email) {
    ASSERT_EQ("1", Handle(NewSession(), "1001\t" + email + "\rpw\rFirst\rLast").text);
  }

  std::string dir_ = MakeTempDir();
  Store store_{dir_};
  Sessions sessions_{std::chrono::seconds(60)};
  Commands commands_{store_, sessions_};
};

Attachment Document(const std::string& bytes) {
  Attachment a;
  a.data = bytes.data();
  a.size = bytes.size();
  a.type = "text/plain";
  a.id = "12345";
  a.options = std::string("\x00\x00\x00\x04" "DATA", 8);
  return a;
}

TEST_F(CommandsTest, AccountsAreCreatedOnceAndPasswordsAreHashed) {
  CreateAccount("a@example.com");
  EXPECT_EQ("-1", Handle(NewSession(), "1001\tA@example.com\rother\rX\rY").text);
  EXPECT_EQ("-1", Handle(NewSession(), "1001\t\rpw\rX\rY").text);
  EXPECT_EQ("-1", Handle(NewSession(), "1001\tb@example.com\rpw").text);

  sqlite3* db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open((dir_ + "/service.db").c_str(), &db));
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db, "SELECT pwhash FROM accounts", -1, &stmt, nullptr);
  ASSERT_EQ(SQLITE_ROW, sqlite3_step(stmt));
  const std::string hash = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
  EXPECT_EQ(0u, hash.find("$argon2id$")) << hash;
  sqlite3_finalize(stmt);
  sqlite3_close(db);
}

TEST_F(CommandsTest, LoginDecidesWhatTheSessionMayDo) {
  CreateAccount("a@example.com");
  const Session anonymous = NewSession();
  for (const char* text : {"1003\tt\rn\r", "1004\t", "1005\tx\r\rname", "1006\t\rname", "1007\tx"})
    EXPECT_EQ("-1", Handle(anonymous, text).text) << text;

  EXPECT_EQ("-1", Handle(NewSession(), "1002\ta@example.com\rwrong").text);
  EXPECT_EQ("-1", Handle(NewSession(), "1002\tnobody@example.com\rpw").text);
  const Session s = NewSession("a@example.com");
  EXPECT_EQ(1, s.account);
  EXPECT_EQ("1", Handle(s, "1006\t\rname").text);
  // A failed login later logs the session out.
  Handle(s, "1002\ta@example.com\rwrong");
  EXPECT_EQ(0, sessions_.Find(zfcipher::KeyTag(s.key))->account);
}

TEST_F(CommandsTest, FoldersKeepTheirSecondFieldAndOrder) {
  CreateAccount("a@example.com");
  const Session s = NewSession("a@example.com");
  EXPECT_EQ("1", Handle(s, "1006\tsecond-1\rFirst").text);
  EXPECT_EQ("1", Handle(s, "1006\t\rSecond").text);
  Reply list = Handle(s, "1004\t");
  EXPECT_TRUE(list.encipher);
  const auto folders = store_.Folders(s.account);
  ASSERT_EQ(2u, folders.size());
  EXPECT_EQ(36u, folders[0].id.size());
  EXPECT_EQ(folders[0].id + "\nsecond-1\nFirst\r" + folders[1].id + "\n\nSecond", list.text);

  EXPECT_EQ("1", Handle(s, "1005\t" + folders[1].id + "\rs2\rRenamed").text);
  EXPECT_EQ("-1", Handle(s, "1005\tno-such-folder\r\rX").text);
  EXPECT_EQ("-1", Handle(s, "1006\t\rtwo\nlines").text);  // would break the list
  EXPECT_EQ("1", Handle(s, "1007\t" + folders[0].id).text);
  EXPECT_EQ("-1", Handle(s, "1007\t" + folders[0].id).text);
  EXPECT_EQ(folders[1].id + "\ns2\nRenamed", Handle(s, "1004\t").text);
}

TEST_F(CommandsTest, NothingCrossesAccounts) {
  CreateAccount("a@example.com");
  CreateAccount("b@example.com");
  const Session a = NewSession("a@example.com"), b = NewSession("b@example.com");
  ASSERT_EQ("1", Handle(a, "1006\t\rA's").text);
  const std::string id = store_.Folders(a.account).at(0).id;

  EXPECT_EQ("", Handle(b, "1004\t").text);
  EXPECT_EQ("-1", Handle(b, "1005\t" + id + "\r\rStolen").text);
  EXPECT_EQ("-1", Handle(b, "1007\t" + id).text);
  const Attachment doc = Document("x");
  EXPECT_EQ("-1", Handle(b, "1003\tt\rn\r" + id, &doc).text);
  EXPECT_EQ("1", Handle(a, "1003\tt\rn\r" + id, &doc).text);
  EXPECT_EQ("A's", store_.Folders(a.account).at(0).name);
}

TEST_F(CommandsTest, UploadsAreCheckedAndKeptExactly) {
  CreateAccount("a@example.com");
  const Session s = NewSession("a@example.com");
  std::string bytes;
  for (int i = 0; i < 1024; ++i) bytes += static_cast<char>(i & 0xFF);

  Attachment ok = Document(bytes);
  Attachment wrongType = ok, wrongId = ok, wrongOption = ok, noOption = ok, huge = ok;
  wrongType.type = "application/pdf";
  wrongId.id = "1";
  wrongOption.options = std::string("\x00\x01\x00\x04" "DATA", 8);
  noOption.options.clear();
  huge.size = kMaxDocumentBytes + 1;  // refused before it is read
  struct Case {
    const char* what;
    const Attachment* attachment;
    std::string text;
    std::string reply;
    bool fault;
  } cases[] = {
      {"no attachment", nullptr, "1003\tt\rn\r", "-1", false},
      {"type", &wrongType, "1003\tt\rn\r", "-1", false},
      {"id", &wrongId, "1003\tt\rn\r", "-1", false},
      {"option", &wrongOption, "1003\tt\rn\r", "-1", false},
      {"no option", &noOption, "1003\tt\rn\r", "-1", false},
      {"too large", &huge, "1003\tt\rn\r", "", true},
      {"two fields", &ok, "1003\tt\rn", "-1", false},
      {"unknown folder", &ok, "1003\tt\rn\rnot-a-folder", "-1", false},
      {"stored", &ok, "1003\tTitle\rline 1\nline 2\r-1", "1", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Reply r = Handle(s, c.text, c.attachment);
    EXPECT_EQ(c.reply, r.text);
    EXPECT_EQ(c.fault, r.fault.has_value());
  }
  const auto docs = store_.Documents();
  ASSERT_EQ(1u, docs.size());
  EXPECT_EQ("Title", docs[0].title);
  EXPECT_EQ("line 1\nline 2", docs[0].notes);
  EXPECT_EQ("-1", docs[0].folder);
  const auto data = store_.DocumentData(docs[0].id);
  ASSERT_TRUE(data);
  EXPECT_EQ(bytes, std::string(data->begin(), data->end()));
}

TEST_F(CommandsTest, MalformedRequestsAreRefused) {
  const Session s = NewSession();
  for (const char* text : {"", "1002", "\t", "abc\tx", "99999999\tx", "1008\t", "1002\tonly"})
    EXPECT_EQ("-1", Handle(s, text).text) << text;
}

}  // namespace
