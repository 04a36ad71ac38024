// The road of a saved page from the printer on: a real document printed to the
// installed "Zentrafold" printer is captured by pagetrap, converted by the
// conversion library and delivered by ZentrafoldUpload to the local service.
#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>
#include <winspool.h>

#include <string>
#include <vector>

#include "JobFile.h"
#include "Owners.h"
#include "RegistrySandbox.h"
#include "ServiceClient.h"
#include "ServiceProcess.h"
#include "TestFiles.h"
#include "TestSupport.h"

namespace {

using pagetrap::test::AppDataFolder;
using pagetrap::test::DosPath;
using pagetrap::test::SavedValue;

constexpr const char* kUser = "road@example.com";
constexpr const char* kPassword = "harbour lights";
// Printing, fades and upload take a few seconds; only a hang comes near this.
constexpr DWORD kRoadLimitMs = 90000;

int CountProcesses(const char* exeName) {
  zf::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return -1;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  int count = 0;
  for (BOOL more = Process32First(snapshot.get(), &entry); more;
       more = Process32Next(snapshot.get(), &entry)) {
    if (lstrcmpiA(entry.szExeFile, exeName) == 0) ++count;
  }
  return count;
}

std::string DefaultPrinter() {
  char name[256] = {};
  DWORD size = sizeof name;
  return GetDefaultPrinterA(name, &size) ? name : "";
}

// Any box titled "Zentrafold" that the uploader puts up is read and answered.
std::vector<std::string> AnswerBoxes() {
  std::vector<std::string> texts;
  while (HWND box = FindWindowA("#32770", "Zentrafold")) {
    char text[512] = {};
    GetWindowTextA(GetDlgItem(box, 0xFFFF), text, sizeof text);
    texts.push_back(text);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    Sleep(200);
  }
  return texts;
}

class PrintRoadTest : public ::testing::Test {
 protected:
  // Installation as a product install does it: cipher, printer with pagetrap,
  // the uploader and the conversion library in the module folder.
  static void SetUpTestSuite() {
    int exitCode = -1;
    const std::string out = zftest::RunProgram(
        {"/bin/bash", ZF_INSTALL_SCRIPT, "--cipher", ZF_CIPHER_DLL, "--exit-module", PAGETRAP_DLL,
         "--uploader", ZF_UPLOAD_PROGRAM, "--verywrite", ZF_VERYWRITE_DLL},
        &exitCode);
    installed_ = exitCode == 0;
    if (!installed_) installOutput_ = out;
  }

  void SetUp() override {
    ASSERT_TRUE(installed_) << installOutput_;
    settings_.PointAt(service_.host());
    zf::ServiceClient client;
    ASSERT_TRUE(client.CreateAccount(kUser, kPassword, "Rhoda", "Dway"));
    ASSERT_TRUE(client.SaveFolder(kUser, kPassword, {"", "0", "Harbour"}));
    zf::FolderList folders;
    ASSERT_TRUE(client.ListFolders(kUser, kPassword, folders));
    ASSERT_EQ(1u, folders.size());
    folderId_ = folders[0].id;
    ASSERT_TRUE(zf::StoreAccount({kUser, kPassword}));
    savedDefault_ = DefaultPrinter();
  }

  void TearDown() override {
    if (!savedDefault_.empty()) SetDefaultPrinterA(savedDefault_.c_str());
  }

  // What Save Page does before it prints: the job file, the user's printer
  // recorded, "Zentrafold" made the default.
  void SavePage(const std::string& title, const std::string& notes) {
    ASSERT_TRUE(zf::WriteJob(title, notes, folderId_));
    ASSERT_TRUE(SetDefaultPrinterA("OfficeLaser"));
    ASSERT_EQ(ERROR_SUCCESS, zftest::SetSettingsString("DefaultPrinter", "OfficeLaser"));
    ASSERT_TRUE(SetDefaultPrinterA("Zentrafold"));
  }

  // Prints the sample through the driver stand-in and waits for the uploader it
  // leads to; returns the texts of any message boxes.
  std::vector<std::string> Print(const std::string& resolution, const std::string& type) {
    std::string commandLine = "\"" + DosPath(ZF_PRINT_PROGRAM) + "\" \"" +
                              DosPath(ZF_SAMPLE_PDF) + "\" " + resolution + " " + type + " 128";
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
      ADD_FAILURE() << "cannot start " << commandLine << ": error " << GetLastError();
      return {};
    }
    zf::UniqueHandle process(info.hProcess), thread(info.hThread);
    std::vector<std::string> boxes;
    const DWORD started = GetTickCount();
    // The printer job ends first, then the uploader it started.
    while (WaitForSingleObject(process.get(), 50) == WAIT_TIMEOUT ||
           CountProcesses("ZentrafoldUpload.exe") > 0) {
      for (auto& text : AnswerBoxes()) boxes.push_back(text);
      if (GetTickCount() - started > kRoadLimitMs) {
        ADD_FAILURE() << "the print job or its upload did not end";
        break;
      }
    }
    DWORD exitCode = 1;
    GetExitCodeProcess(process.get(), &exitCode);
    EXPECT_EQ(0u, exitCode) << commandLine;
    return boxes;
  }

  static bool installed_;
  static std::string installOutput_;
  zf::ComApartment com_;
  zftest::ServiceProcess service_;
  zftest::SettingsSandbox settings_;
  SavedValue moduleLocation_{HKEY_LOCAL_MACHINE, zf::kSettingsKey, "ModuleLocation"};
  std::string folderId_, savedDefault_;
};

bool PrintRoadTest::installed_ = false;
std::string PrintRoadTest::installOutput_;

TEST_F(PrintRoadTest, PrintedPageArrivesInTheAccount) {
  struct Case {
    const char* what;
    const char* resolution;
    const char* type;
  } cases[] = {
      {"1-bit pages at 200 dpi", "200", "1"},
      {"RGB pages at 100 dpi", "100", "5"},
  };
  int documents = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string title = std::string("Harbour Lights Gazette, ") + c.what;
    SavePage(title, "Weekend edition\r\nferry times on page 2");
    EXPECT_TRUE(Print(c.resolution, c.type).empty());
    ++documents;

    // The user's printer is back and its record gone.
    EXPECT_EQ("OfficeLaser", DefaultPrinter());
    char value[MAX_PATH] = {};
    DWORD size = sizeof value;
    EXPECT_NE(ERROR_SUCCESS, RegGetValueA(HKEY_LOCAL_MACHINE, zf::kSettingsKey, "DefaultPrinter",
                                          RRF_RT_REG_SZ, nullptr, value, &size));
    // Job file and document are gone from the user's folder.
    const std::string folder = AppDataFolder() + "\\Zentrafold";
    EXPECT_FALSE(zftest::Exists(folder + "\\prpt.job"));
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((folder + "\\*.pdf").c_str(), &found);
    EXPECT_EQ(INVALID_HANDLE_VALUE, find) << found.cFileName;
    if (find != INVALID_HANDLE_VALUE) FindClose(find);

    // The service holds it as a three-page PDF with the job's words.
    const std::string list = service_.Tool({"list"});
    EXPECT_NE(std::string::npos, list.find("Documents (" + std::to_string(documents) + ")"))
        << list;
    EXPECT_NE(std::string::npos, list.find("title:  " + title + "\n")) << list;
    EXPECT_NE(std::string::npos, list.find("notes:  Weekend edition\n")) << list;
    EXPECT_NE(std::string::npos, list.find("folder: \"Harbour\"")) << list;
    const std::string pdf = service_.dataDir() + "/road-" + std::to_string(documents) + ".pdf";
    service_.Tool({"export", "--document", std::to_string(documents), "--out", pdf});
    int status = -1;
    const std::string check = zftest::RunProgram({"/usr/bin/qpdf", "--check", pdf}, &status);
    EXPECT_EQ(0, status) << check;
    const std::string info = zftest::RunProgram({"/usr/bin/pdfinfo", pdf}, &status);
    EXPECT_NE(std::string::npos, info.find("Pages:           3")) << info;
    EXPECT_NE(std::string::npos, info.find("Title:           Zentrafold Saved Page")) << info;
  }
}

}  // namespace
