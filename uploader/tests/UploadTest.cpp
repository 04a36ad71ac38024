// The upload program's pieces without its window: the command line and one
// upload attempt against a local account service.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <iterator>
#include <string>

#include "Owners.h"
#include "RegistrySandbox.h"
#include "TestFiles.h"
#include "ServiceClient.h"
#include "ServiceProcess.h"
#include "Upload.h"

namespace {

using zftest::Exists;
using zftest::WriteBytes;

TEST(DocumentPathTest, StripsQuotesFromBothEndsOnly) {
  struct Case {
    const char* commandLine;
    const char* path;
  } cases[] = {
      {"\"C:\\users\\me\\Zentrafold\\doc.pdf\"", "C:\\users\\me\\Zentrafold\\doc.pdf"},
      {"C:\\users\\me\\Zentrafold\\doc.pdf", "C:\\users\\me\\Zentrafold\\doc.pdf"},
      {"\"C:\\with space\\doc.pdf\"", "C:\\with space\\doc.pdf"},
      {"\"\"C:\\a.pdf\"\"\"", "C:\\a.pdf"},
      {"C:\\a.pdf\"", "C:\\a.pdf"},
      {"\"C:\\a.pdf", "C:\\a.pdf"},
      {"C:\\in\"side.pdf", "C:\\in\"side.pdf"},
      {"", ""},
      {"\"", ""},
      {"\"\"\"\"", ""},
      {" \"C:\\a.pdf\" ", " \"C:\\a.pdf\" "},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.path, zf::DocumentPathFromCommandLine(c.commandLine))
        << "command line [" << c.commandLine << "]";
  }
}

std::string TempFolder() {
  char base[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, base);
  char name[MAX_PATH] = {};
  GetTempFileNameA(base, "zfu", 0, name);
  DeleteFileA(name);
  CreateDirectoryA(name, nullptr);
  return name;
}

class UploadAttemptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings_.PointAt(service_.host());
    folder_ = TempFolder();
    job_.documentPath = folder_ + "\\page.pdf";
    job_.title = "Title";
    job_.notes = "Notes";
    ASSERT_TRUE(WriteBytes(job_.documentPath, document_));
  }
  void TearDown() override {
    DeleteFileA(job_.documentPath.c_str());
    RemoveDirectoryA(folder_.c_str());
  }
  void CreateAccount(bool storeRightPassword) {
    zf::ServiceClient client;
    ASSERT_TRUE(client.CreateAccount("upload@example.com", "secret", "Up", "Loader"));
    ASSERT_TRUE(zf::StoreAccount({"upload@example.com", storeRightPassword ? "secret" : "wrong"}));
  }

  zf::ComApartment com_;
  zftest::ServiceProcess service_;
  zftest::SettingsSandbox settings_;
  std::string folder_;
  std::string document_ = std::string("%PDF-1.4\n\0\r\n\x80\xff binary", 24);
  zf::UploadJob job_;
};

TEST_F(UploadAttemptTest, AcceptedDocumentIsDeleted) {
  CreateAccount(true);
  ASSERT_TRUE(zf::Upload(job_));
  EXPECT_FALSE(Exists(job_.documentPath));

  const std::string out = service_.dataDir() + "/exported.pdf";
  service_.Tool({"export", "--document", "1", "--out", out});
  std::ifstream in(out, std::ios::binary);
  const std::string stored((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(document_, stored);
  const std::string list = service_.Tool({"list"});
  EXPECT_NE(std::string::npos, list.find("title:  Title")) << list;
  EXPECT_NE(std::string::npos, list.find("notes:  Notes")) << list;
}

TEST_F(UploadAttemptTest, RefusedLoginKeepsTheDocument) {
  CreateAccount(false);
  const auto before = service_.Stats();
  EXPECT_FALSE(zf::Upload(job_));
  EXPECT_TRUE(Exists(job_.documentPath));
  const auto after = service_.Stats();
  EXPECT_EQ(1, after.at("start_session") - before.at("start_session"));
  // The login only.
  EXPECT_EQ(1, after.at("client_request") - before.at("client_request"));
}

TEST_F(UploadAttemptTest, NoStoredAccountSendsNothing) {
  EXPECT_FALSE(zf::Upload(job_));
  EXPECT_TRUE(Exists(job_.documentPath));
  EXPECT_EQ(0, service_.Stats().at("requests"));
}

TEST_F(UploadAttemptTest, MissingDocumentSendsNothing) {
  CreateAccount(true);
  const auto before = service_.Stats().at("requests");
  job_.documentPath = folder_ + "\\gone.pdf";
  EXPECT_FALSE(zf::Upload(job_));
  EXPECT_EQ(before, service_.Stats().at("requests"));
}

}  // namespace
