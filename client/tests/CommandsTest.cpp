// The request vocabulary, against the local service and a scripted one.
#include <gtest/gtest.h>

#include <fstream>

#include "CipherCore.h"
#include "Owners.h"
#include "RegistrySandbox.h"
#include "ServiceClient.h"
#include "ServiceProcess.h"

namespace {

using zftest::CannedHttpServer;
using zftest::HttpRequest;
using zftest::HttpResponse;
using zftest::SoapEnvelope;

const std::string kSharedKey = "Qx7vTn2LpW9rBz4HcM6sKd1YfJ8gUe3A";
const std::string kSessionKey = "scripted-session-key";

class CommandsTest : public ::testing::Test {
 protected:
  zf::ComApartment com_;
  zftest::SettingsSandbox settings_;
};

class LiveCommandsTest : public CommandsTest {
 protected:
  LiveCommandsTest() { settings_.PointAt(service_.host()); }
  zftest::ServiceProcess service_;
};

// A scripted peer: StartSession, then ClientRequests answered with the given
// replies (plain when at most 3 characters, else enciphered with the session key).
class ScriptedCommandsTest : public CommandsTest {
 protected:
  ScriptedCommandsTest() {
    settings_.PointAt(canned_.host());
    canned_.Push(HttpResponse{
        200, SoapEnvelope("<ns1:StartSessionResponse><ns1:StartSessionResult>" +
                          zfcipher::Encipher(kSessionKey, kSharedKey) +
                          "</ns1:StartSessionResult></ns1:StartSessionResponse>")});
  }
  void Reply(const std::string& text) {
    const std::string result = text.size() <= 3 ? text : zfcipher::Encipher(text, kSessionKey);
    canned_.Push(HttpResponse{
        200, SoapEnvelope("<ns1:ClientRequestResponse><ns1:ClientRequestResult>" + result +
                          "</ns1:ClientRequestResult></ns1:ClientRequestResponse>")});
  }
  // The deciphered request texts the client sent, in order.
  std::vector<std::string> SentTexts() {
    std::vector<std::string> texts;
    for (const HttpRequest& r : canned_.Requests()) {
      const size_t open = r.body.find("<ns1:strCipher>");
      if (open == std::string::npos) continue;
      const size_t start = open + 15, end = r.body.find("</ns1:strCipher>", start);
      texts.push_back(zfcipher::Decipher(r.body.substr(start, end - start), kSessionKey)
                          .value_or("<does not decipher>"));
    }
    return texts;
  }
  CannedHttpServer canned_;
};

std::string WriteScratchFile(const std::string& name, const std::string& bytes) {
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  const std::string path = std::string(dir) + name;
  zf::UniqueFile file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  return path;
}

TEST_F(LiveCommandsTest, AccountsAndLogins) {
  zf::ServiceClient client;
  ASSERT_TRUE(client.CreateAccount("ann@example.com", "s3cret", "Ann", "Example"));
  EXPECT_EQ("ann@example.com", client.Account().userName);
  EXPECT_EQ("s3cret", client.Account().password);
  EXPECT_FALSE(client.CreateAccount("ann@example.com", "other", "Ann", "Again"));

  EXPECT_TRUE(zf::ServiceClient().Login("ann@example.com", "s3cret"));
  EXPECT_FALSE(zf::ServiceClient().Login("ann@example.com", "wrong"));
  EXPECT_FALSE(zf::ServiceClient().Login("nobody@example.com", "s3cret"));

  // Login keeps the account record for StoreAccount.
  zf::ServiceClient login;
  ASSERT_TRUE(login.Login("ann@example.com", "s3cret"));
  ASSERT_TRUE(login.StoreAccount());
  zf::AccountRecord stored;
  ASSERT_TRUE(zf::LoadAccount(stored));
  EXPECT_EQ("ann@example.com", stored.userName);
}

TEST_F(LiveCommandsTest, FolderListChangesWithSaveAndDelete) {
  ASSERT_TRUE(zf::ServiceClient().CreateAccount("f@example.com", "pw", "F", "G"));
  zf::ServiceClient client;
  zf::FolderList folders;
  ASSERT_TRUE(client.ListFolders("f@example.com", "pw", folders));
  EXPECT_TRUE(folders.empty());

  ASSERT_TRUE(client.SaveFolder("f@example.com", "pw", {"", "kept as is", "Recipes"}));
  ASSERT_TRUE(client.SaveFolder("f@example.com", "pw", {"tmp1", "", "Travel"}));
  ASSERT_TRUE(client.ListFolders("f@example.com", "pw", folders));
  ASSERT_EQ(2u, folders.size());
  EXPECT_EQ(36u, folders[0].id.size());
  EXPECT_EQ("kept as is", folders[0].second);
  EXPECT_EQ("Recipes", folders[0].name);
  EXPECT_EQ("Travel", folders[1].name);

  zf::FolderEntry renamed = folders[1];
  renamed.name = "Holidays";
  ASSERT_TRUE(client.SaveFolder("f@example.com", "pw", renamed));
  ASSERT_TRUE(client.DeleteFolder("f@example.com", "pw", folders[0].id));
  zf::FolderList after;
  ASSERT_TRUE(client.ListFolders("f@example.com", "pw", after));
  ASSERT_EQ(1u, after.size());
  EXPECT_EQ(folders[1].id, after[0].id);
  EXPECT_EQ("Holidays", after[0].name);

  // A wrong password refuses every folder command.
  zf::FolderList none;
  EXPECT_FALSE(client.ListFolders("f@example.com", "nope", none));
  EXPECT_FALSE(zf::ServiceClient().SaveFolder("f@example.com", "nope", {"", "", "X"}));
}

TEST_F(LiveCommandsTest, UploadArrivesByteExact) {
  ASSERT_TRUE(zf::ServiceClient().CreateAccount("up@example.com", "pw", "U", "P"));
  zf::ServiceClient folderClient;
  ASSERT_TRUE(folderClient.SaveFolder("up@example.com", "pw", {"", "", "Saved pages"}));
  zf::FolderList folders;
  ASSERT_TRUE(folderClient.ListFolders("up@example.com", "pw", folders));
  ASSERT_EQ(1u, folders.size());
  ASSERT_TRUE(zf::StoreAccount({"up@example.com", "pw"}));

  std::string bytes(4096, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 7) & 0xFF);
  const std::string path = WriteScratchFile("zf-upload.bin", bytes);
  zf::ServiceClient client;
  ASSERT_TRUE(client.UploadDocument(path, "A title", "two\nlines", folders[0].id));
  DeleteFileA(path.c_str());

  const std::string listing = service_.Tool({"list"});
  EXPECT_NE(std::string::npos, listing.find("title:  A title")) << listing;
  EXPECT_NE(std::string::npos, listing.find("notes:  two\n              lines")) << listing;
  EXPECT_NE(std::string::npos, listing.find("folder: \"Saved pages\"")) << listing;
  const std::string out = service_.dataDir() + "/exported.bin";
  service_.Tool({"export", "--document", "1", "--out", out});
  std::ifstream exported(out, std::ios::binary);
  const std::string got((std::istreambuf_iterator<char>(exported)), {});
  EXPECT_EQ(bytes.size(), got.size());
  EXPECT_TRUE(bytes == got);
}

TEST_F(LiveCommandsTest, UploadWithoutStoredAccountOrDocumentSendsNothing) {
  const std::string path = WriteScratchFile("zf-upload2.bin", "data");
  EXPECT_FALSE(zf::ServiceClient().UploadDocument(path, "t", "n", ""));  // no stored account
  ASSERT_TRUE(zf::StoreAccount({"x@example.com", "pw"}));
  EXPECT_FALSE(zf::ServiceClient().UploadDocument("C:\\no\\such\\file.pdf", "t", "n", ""));
  DeleteFileA(path.c_str());
  EXPECT_EQ(0, service_.Stats()["requests"]);
}

TEST_F(ScriptedCommandsTest, RequestTextLayout) {
  Reply("1");
  Reply("1");
  Reply("");
  zf::ServiceClient client;
  ASSERT_TRUE(client.Login("u@example.com", "pw"));
  zf::FolderList folders;
  ASSERT_TRUE(client.ListFolders("u@example.com", "pw", folders));
  EXPECT_TRUE(folders.empty());  // an empty reply is an empty list
  const std::vector<std::string> expected = {"1002\tu@example.com\rpw", "1002\tu@example.com\rpw",
                                             "1004\t"};
  EXPECT_EQ(expected, SentTexts());
}

TEST_F(ScriptedCommandsTest, LoginRepliesReadAsIntegers) {
  struct Case {
    std::string reply;
    bool ok;
  } cases[] = {{"1", true}, {"01", true}, {"001", true}, {"0", false}, {"-1", false},
               {"", false}, {"2", false}, {"yes", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    Reply(c.reply);
  }
  zf::ServiceClient client;  // one session, one reply per login
  for (const auto& c : cases) EXPECT_EQ(c.ok, client.Login("u@example.com", "pw")) << c.reply;
}

TEST_F(ScriptedCommandsTest, FolderListRecordsInOrder) {
  const std::string a(36, 'a'), b(36, 'b');
  Reply("1");
  Reply(a + "\nsecond\nFirst\r" + "broken record\r" + b + "\n\nSecond\nextra field");
  zf::ServiceClient client;
  zf::FolderList folders = {{"keep", "", "Kept", false, false}};
  ASSERT_TRUE(client.ListFolders("u", "p", folders));
  ASSERT_EQ(3u, folders.size());
  EXPECT_EQ("keep", folders[0].id);
  EXPECT_EQ(a, folders[1].id);
  EXPECT_EQ("second", folders[1].second);
  EXPECT_EQ("First", folders[1].name);
  EXPECT_EQ(b, folders[2].id);
  EXPECT_EQ("Second", folders[2].name);
}

TEST_F(ScriptedCommandsTest, FolderCommandsPickTheirCode) {
  const std::string id(36, 'c');
  for (int i = 0; i < 6; ++i) Reply(i % 2 ? "whatever" : "1");
  zf::ServiceClient client;
  EXPECT_TRUE(client.SaveFolder("u", "p", {id, "2nd", "Renamed"}));
  EXPECT_TRUE(client.SaveFolder("u", "p", {"local", "2nd", "New"}));
  EXPECT_TRUE(client.DeleteFolder("u", "p", id));
  EXPECT_TRUE(client.DeleteFolder("u", "p", "local"));  // never sent: done at once
  const std::vector<std::string> expected = {
      "1002\tu\rp", "1005\t" + id + "\r2nd\rRenamed", "1002\tu\rp", "1006\t2nd\rNew",
      "1002\tu\rp", "1007\t" + id};
  EXPECT_EQ(expected, SentTexts());
}

TEST_F(ScriptedCommandsTest, ArgumentsThatBreakTheLayoutSendNothing) {
  zf::ServiceClient client;
  zf::FolderList folders;
  EXPECT_FALSE(client.Login("u\r@example.com", "pw"));
  EXPECT_FALSE(client.Login("u@example.com", "p\tw"));
  EXPECT_FALSE(client.CreateAccount("u@example.com", "pw", "Fir\rst", "Last"));
  EXPECT_FALSE(client.SaveFolder("u", "p", {"", "", "a\tb"}));
  EXPECT_FALSE(client.ListFolders("u\r", "p", folders));
  ASSERT_TRUE(zf::StoreAccount({"u@example.com", "pw"}));
  const std::string path = WriteScratchFile("zf-upload3.bin", "data");
  EXPECT_FALSE(client.UploadDocument(path, "title\rwith CR", "n", ""));
  DeleteFileA(path.c_str());
  EXPECT_TRUE(canned_.Requests().empty());
}

TEST_F(ScriptedCommandsTest, CreateAccountRefusedOnlyByMinusOne) {
  Reply("-1");
  Reply("0");
  zf::ServiceClient client;
  EXPECT_FALSE(client.CreateAccount("u@example.com", "pw", "F", "L"));
  EXPECT_TRUE(client.CreateAccount("u@example.com", "pw", "F", "L"));
}

}  // namespace
