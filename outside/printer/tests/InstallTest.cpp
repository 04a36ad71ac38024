// install-printer.sh and the whole installation (outside/install/install.sh) in
// the test environment's prefix and private cupsd: the spooler has the printer
// only while it is installed, the exit module is recorded where zfprint.exe
// looks for it, and the uploader starts from the folder in "ModuleLocation".
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <string>

#include "../../../client/Owners.h"
#include "TestSupport.h"

namespace zf::printer::test {
namespace {

const char kInstallPrinter[] = ZF_PRINTER_SOURCE "/install-printer.sh";
const char kSettingsKey[] = "Software\\Orvane Software\\Zentrafold";
const char kCipherClassKey[] = "CLSID\\{EB4B6F34-A783-45CB-BEE1-8A50357D7EC3}\\InprocServer32";

// What a fresh process's spooler says (Wine reads CUPS's queues when the
// spooler loads): "listed" 0 or 20 (not listed); "default" 0, or 10 when
// SetDefaultPrinterA fails.
long AskSpooler(const char* question) {
  return RunWin32("\"" + DosPath(ZF_SPOOL_PROBE) + "\" " + question + " Zentrafold");
}

bool SamePath(const std::string& a, const std::string& b) {
  return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.c_str(), -1, b.c_str(), -1) ==
         CSTR_EQUAL;
}

class InstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(nullptr, std::getenv("CUPS_SERVER")) << "the test environment has no cupsd";
    hadLocation_ = ReadString(HKEY_LOCAL_MACHINE, kSettingsKey, "ModuleLocation", location_);
    ASSERT_EQ(0, RunNative({kInstallPrinter, "--remove"}));
  }
  // The test environment keeps its bare queue, its cipher registration and
  // whatever "ModuleLocation" it had.
  void TearDown() override {
    RunNative({kInstallPrinter, "--remove"});
    RunNative({"lpadmin", "-p", "Zentrafold", "-E", "-v", "file:///dev/null"});
    if (hadLocation_) {
      WriteString(HKEY_LOCAL_MACHINE, kSettingsKey, "ModuleLocation", location_);
    } else {
      DeleteValue(HKEY_LOCAL_MACHINE, kSettingsKey, "ModuleLocation");
    }
    std::string server;
    if (!ReadString(HKEY_CLASSES_ROOT, kCipherClassKey, nullptr, server)) {
      RunWin32("regsvr32 /s \"" + DosPath(ZF_CIPHER_DLL) + "\"");
    }
  }

  bool hadLocation_ = false;
  std::string location_;
};

TEST_F(InstallTest, SpoolerHasThePrinterOnlyWhileInstalled) {
  EXPECT_EQ(20, AskSpooler("listed"));
  EXPECT_EQ(10, AskSpooler("default"));
  EXPECT_EQ("", ReadExitModuleValue());

  // Again, and with the .dll.so name: same result.
  for (const std::string& module : {std::string(ZF_FAKE_EXIT), std::string(ZF_FAKE_EXIT) + ".so"}) {
    SCOPED_TRACE(module);
    ASSERT_EQ(0, RunNative({kInstallPrinter, module}));
    EXPECT_EQ(0, AskSpooler("listed"));
    EXPECT_EQ(0, AskSpooler("default"));
    EXPECT_EQ(DosPath(ZF_FAKE_EXIT), ReadExitModuleValue());
  }

  ASSERT_EQ(0, RunNative({kInstallPrinter, "--remove"}));
  EXPECT_EQ(20, AskSpooler("listed"));
  EXPECT_EQ(10, AskSpooler("default"));
  EXPECT_EQ("", ReadExitModuleValue());
}

TEST_F(InstallTest, InstalledPrinterPrintsThroughItsExitModule) {
  ASSERT_EQ(0, RunNative({kInstallPrinter, ZF_FAKE_EXIT}));
  TempFolder temp;
  const std::string log = temp.File("calls.log");
  SetEnvironmentVariableA("ZF_FAKE_EXIT_LOG", log.c_str());
  const long code = RunWin32("\"" + DosPath(ZF_PRINT_PROGRAM) + "\" \"" +
                             DosPath(ZF_TEST_PAGES "/rect.ps") + "\" 72 1 25");
  SetEnvironmentVariableA("ZF_FAKE_EXIT_LOG", nullptr);
  EXPECT_EQ(0, code);
  const auto lines = SplitLines(ReadWholeFile(log));
  ASSERT_EQ(5u, lines.size());
  EXPECT_EQ("startDocExit", lines[0]);
  EXPECT_EQ("startPageExit", lines[1]);
  EXPECT_EQ(0u, lines[2].find("endPageExit rows=25 width=104 type=1 resolution=72 more=1"))
      << lines[2];
  EXPECT_EQ(0u, lines[3].find("endPageExit rows=25 width=104 type=1 resolution=72 more=0"))
      << lines[3];
  EXPECT_EQ("endDocExit", lines[4]);
}

TEST_F(InstallTest, RefusesWhatItCannotInstall) {
  EXPECT_EQ(1, RunNative({kInstallPrinter, "/nonexistent/pagetrap.dll"}));
  EXPECT_EQ(2, RunNative({kInstallPrinter}));
  EXPECT_EQ(2, RunNative({kInstallPrinter, ZF_FAKE_EXIT, "--remove"}));
  EXPECT_EQ(20, AskSpooler("listed"));
  EXPECT_EQ("", ReadExitModuleValue());

  // The whole installation stops before it changes anything.
  EXPECT_EQ(2, RunNative({ZF_INSTALL_SCRIPT, "--exit-module", ZF_FAKE_EXIT}));
  EXPECT_EQ(1, RunNative({ZF_INSTALL_SCRIPT, "--cipher", ZF_CIPHER_DLL, "--exit-module",
                          ZF_FAKE_EXIT, "--uploader", "/nonexistent/ZentrafoldUpload.exe"}));
  EXPECT_EQ(20, AskSpooler("listed"));
}

TEST_F(InstallTest, InstallationRegistersInstallsAndLocatesTheModules) {
  RegDeleteTreeA(HKEY_CLASSES_ROOT, "CLSID\\{EB4B6F34-A783-45CB-BEE1-8A50357D7EC3}");
  DeleteValue(HKEY_LOCAL_MACHINE, kSettingsKey, "ModuleLocation");
  TempFolder modules("Zentrafold modules");
  ASSERT_EQ(0, RunNative({ZF_INSTALL_SCRIPT, "--cipher", ZF_CIPHER_DLL, "--exit-module",
                          std::string(ZF_FAKE_EXIT) + ".so", "--module-folder",
                          UnixPath(modules.path()), "--uploader", ZF_UPLOADER_STAND_IN,
                          "--verywrite", ZF_FAKE_EXIT}));

  std::string server;
  ASSERT_TRUE(ReadString(HKEY_CLASSES_ROOT, kCipherClassKey, nullptr, server));
  EXPECT_TRUE(SamePath(DosPath(ZF_CIPHER_DLL), server)) << server;
  EXPECT_EQ(0, AskSpooler("listed"));
  EXPECT_EQ(0, AskSpooler("default"));
  EXPECT_EQ(DosPath(ZF_FAKE_EXIT), ReadExitModuleValue());

  std::string location;
  ASSERT_TRUE(ReadString(HKEY_LOCAL_MACHINE, kSettingsKey, "ModuleLocation", location));
  EXPECT_TRUE(SamePath(modules.path() + "\\", location)) << location;
  EXPECT_TRUE(FileExists(location + "verywrite.dll"));

  // Started as the exit module starts the uploader: a Winelib program copied
  // in as "ZentrafoldUpload.exe" runs from there with the document's path.
  const std::string uploader = location + "ZentrafoldUpload.exe";
  const std::string document = modules.File("saved page.pdf");
  std::string commandLine = "\"" + uploader + "\" \"" + document + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                             nullptr, &startup, &process))
      << GetLastError();
  UniqueHandle processHandle(process.hProcess), threadHandle(process.hThread);
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 30000));
  const auto seen = SplitLines(ReadWholeFile(document + ".started"));
  ASSERT_EQ(2u, seen.size());
  EXPECT_TRUE(SamePath(uploader, seen[0])) << seen[0];
  EXPECT_EQ(commandLine, seen[1]);

  // Without a module folder: the product's own folder in Program Files.
  ASSERT_EQ(0, RunNative({ZF_INSTALL_SCRIPT, "--cipher", ZF_CIPHER_DLL, "--exit-module",
                          ZF_FAKE_EXIT}));
  ASSERT_TRUE(ReadString(HKEY_LOCAL_MACHINE, kSettingsKey, "ModuleLocation", location));
  EXPECT_EQ("C:\\Program Files\\Zentrafold\\", location);
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(location.c_str()));
}

}  // namespace
}  // namespace zf::printer::test
