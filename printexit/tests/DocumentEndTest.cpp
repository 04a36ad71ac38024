// The document exit: printer restored, TIFF converted through verywrite.dll,
// uploader started on the PDF. The converter and the uploader are recording
// stand-ins copied into a "ModuleLocation" folder.
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>
#include <winspool.h>

#include <regex>

namespace pagetrap::test {
namespace {

constexpr char kWindowsKey[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
constexpr char kShellFoldersKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr char kModules[] = "C:\\zftest\\module location";
constexpr char kTestFolder[] = "C:\\zftest";
constexpr char kLongModules[] = "a module location with a long name to make the path long";
constexpr char kLongAppData[] = "an application data folder with a long name to make it long";

std::string DefaultPrinter() {
  char name[256] = {};
  DWORD size = sizeof name;
  return GetDefaultPrinterA(name, &size) ? name : "";
}

struct Uploader {
  DWORD process;
  std::vector<DWORD> threads;
};

// The uploaders this process started that are still running.
std::vector<Uploader> RunningUploaders() {
  std::vector<Uploader> found;
  zf::UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS | TH32CS_SNAPTHREAD, 0));
  if (!snapshot) return found;
  PROCESSENTRY32 process = {};
  process.dwSize = sizeof process;
  for (BOOL more = Process32First(snapshot.get(), &process); more;
       more = Process32Next(snapshot.get(), &process)) {
    if (process.th32ParentProcessID == GetCurrentProcessId() &&
        lstrcmpiA(process.szExeFile, "ZentrafoldUpload.exe") == 0)
      found.push_back({process.th32ProcessID, {}});
  }
  THREADENTRY32 thread = {};
  thread.dwSize = sizeof thread;
  for (BOOL more = Thread32First(snapshot.get(), &thread); more;
       more = Thread32Next(snapshot.get(), &thread)) {
    for (auto& uploader : found)
      if (thread.th32OwnerProcessID == uploader.process)
        uploader.threads.push_back(thread.th32ThreadID);
  }
  return found;
}

bool ProcessOrThreadsStillKnown(const Uploader& uploader) {
  zf::UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, uploader.process));
  if (process) return true;
  for (DWORD id : uploader.threads) {
    zf::UniqueHandle thread(OpenThread(SYNCHRONIZE, FALSE, id));
    if (thread) return true;
  }
  return false;
}

class DocumentEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Pagetrap().Loaded()) << "pagetrap.dll did not load from " << PAGETRAP_DLL;
    MakeFolders(kTestFolder);
    log_ = std::string(kTestFolder) + "\\verywrite.log";
    record_ = std::string(kTestFolder) + "\\upload.txt";
    DeleteFileA(log_.c_str());
    DeleteFileA(record_.c_str());
    SetEnvironmentVariableA("ZF_FAKE_VERYWRITE_LOG", log_.c_str());
    SetEnvironmentVariableA("ZF_FAKE_UPLOAD_RECORD", record_.c_str());
    SetEnvironmentVariableA("ZF_FAKE_VERYWRITE_FAIL", nullptr);
    SetEnvironmentVariableA("ZF_FAKE_VERYWRITE_DROP_LOCATION", nullptr);
    DeleteSetting("DefaultPrinter");
    SetSetting("ModuleLocation", MakeModuleFolder(kModules, Converter::kComplete, true));
  }

  void TearDown() override {
    // Let every uploader started here end, and wait for it.
    SetEvent(release_.get());
    for (const auto& uploader : RunningUploaders()) {
      zf::UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, uploader.process));
      if (process) WaitForSingleObject(process.get(), 30000);
    }
    EXPECT_EQ(std::vector<Message>{}, boxes_.Take());
  }

  // A print job of `pages` small RGB pages.
  static void PrintJob(int pages) {
    EXPECT_EQ(0, Pagetrap().startDoc());
    for (int page = 0; page < pages; ++page) {
      EXPECT_EQ(0, Pagetrap().startPage());
      std::vector<BYTE> band(16 * 48, 0x80);
      EXPECT_EQ(0, Pagetrap().endPage(band.data(), 16, 16, 5, 300, 0));
    }
    EXPECT_EQ(0, Pagetrap().endDoc());
  }

  std::vector<std::string> ConverterCalls() const { return SplitLines(ReadWholeFile(log_)); }

  // The PDF path the converter was given, from its VeryCreate calls.
  std::vector<std::string> CreatedDocuments() const {
    std::vector<std::string> documents;
    for (const auto& call : ConverterCalls())
      if (call.rfind("VeryCreate|", 0) == 0) documents.push_back(call.substr(11));
    return documents;
  }

  // The uploader's command line, once it has written it; "" after 20 s.
  std::string UploaderCommandLine() const {
    for (int i = 0; i < 2000 && !FileExists(record_); ++i) Sleep(10);
    return ReadWholeFile(record_);
  }

  static std::vector<std::string> FullConversion(const std::string& pdf) {
    return {"VeryCreate|" + pdf,
            "VeryAddInfo|7|Zentrafold Saved Page||Zentrafold|Keywords|Zentrafold",
            "VerySetFunction|7|121|4100|2|0|0", "VeryAddImage|7|" + CaptureFile(), "VeryClose|7"};
  }

  static std::string QuotedCommandLine(const std::string& folder, const std::string& pdf) {
    return "\"" + folder + "\\ZentrafoldUpload.exe\" \"" + pdf + "\"";
  }

  std::string log_, record_;
  SavedValue moduleLocation_{HKEY_LOCAL_MACHINE, kSettingsKey, "ModuleLocation"};
  SavedValue defaultPrinter_{HKEY_LOCAL_MACHINE, kSettingsKey, "DefaultPrinter"};
  NewDocumentsRemoved documents_;
  zf::UniqueHandle release_{CreateEventA(nullptr, TRUE, FALSE, "ZentrafoldFakeUploadRelease")};
  MessageBoxAnswerer boxes_;
};

TEST_F(DocumentEndTest, JobIsConvertedAndHandedToTheUploader) {
  PrintJob(2);

  const auto documents = CreatedDocuments();
  ASSERT_EQ(1u, documents.size());
  const std::string& pdf = documents[0];
  // <AppData>\Zentrafold\<new GUID, lower-case, no braces>.pdf
  const std::string folder = AppDataFolder() + "\\Zentrafold\\";
  ASSERT_EQ(folder, pdf.substr(0, folder.size()));
  EXPECT_TRUE(std::regex_match(pdf.substr(folder.size()),
                               std::regex("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-"
                                          "[0-9a-f]{12}\\.pdf")))
      << pdf;
  EXPECT_TRUE(FileExists(pdf));
  EXPECT_EQ(FullConversion(pdf), ConverterCalls());
  EXPECT_EQ(1u, RunningUploaders().size());
  EXPECT_EQ(QuotedCommandLine(kModules, pdf), UploaderCommandLine());
  EXPECT_TRUE(FileExists(CaptureFile())) << "the capture stays for the next job to overwrite";
}

TEST_F(DocumentEndTest, TwoJobsGiveTwoDocuments) {
  PrintJob(1);
  const std::string firstLine = UploaderCommandLine();
  DeleteFileA(record_.c_str());
  PrintJob(1);
  const std::string secondLine = UploaderCommandLine();

  const auto documents = CreatedDocuments();
  ASSERT_EQ(2u, documents.size());
  EXPECT_NE(documents[0], documents[1]);
  EXPECT_TRUE(FileExists(documents[0]));
  EXPECT_TRUE(FileExists(documents[1]));
  EXPECT_EQ(QuotedCommandLine(kModules, documents[0]), firstLine);
  EXPECT_EQ(QuotedCommandLine(kModules, documents[1]), secondLine);
}

TEST_F(DocumentEndTest, UploaderHandlesAreNotKept) {
  PrintJob(1);
  const auto uploaders = RunningUploaders();
  ASSERT_EQ(1u, uploaders.size());
  ASSERT_FALSE(UploaderCommandLine().empty());
  {
    zf::UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, uploaders[0].process));
    ASSERT_TRUE(process);
    SetEvent(release_.get());
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.get(), 30000));
  }
  // An ended process and its threads stay known only while someone holds a
  // handle; the last reference may go a moment after the handle.
  bool known = true;
  for (int i = 0; i < 500 && known; ++i) {
    known = ProcessOrThreadsStillKnown(uploaders[0]);
    if (known) Sleep(10);
  }
  EXPECT_FALSE(known) << "pagetrap still holds a handle of the uploader";
}

TEST_F(DocumentEndTest, ConversionThatFailsStartsNoUploader) {
  struct Case {
    const char* failing;
    size_t calls;  // of the full sequence, up to the failing one
    bool closed;
  };
  for (const Case& c : {Case{"VeryCreate", 1, false}, Case{"VeryAddInfo", 2, true},
                        Case{"VerySetFunction", 3, true}, Case{"VeryAddImage", 4, true}}) {
    SCOPED_TRACE(c.failing);
    DeleteFileA(log_.c_str());
    SetEnvironmentVariableA("ZF_FAKE_VERYWRITE_FAIL", c.failing);
    PrintJob(1);

    const auto documents = CreatedDocuments();
    ASSERT_EQ(1u, documents.size());
    auto expected = FullConversion(documents[0]);
    expected.resize(c.calls);
    if (c.closed) expected.push_back("VeryClose|7");
    EXPECT_EQ(expected, ConverterCalls());
    EXPECT_TRUE(RunningUploaders().empty());
  }
}

TEST_F(DocumentEndTest, ConverterThatCannotBeBoundIsReported) {
  struct Case {
    const char* name;
    const char* folder;  // nullptr: no "ModuleLocation"
    Converter converter;
  };
  for (const Case& c : {Case{"no ModuleLocation", nullptr, Converter::kNone},
                        Case{"no verywrite.dll", "C:\\zftest\\no converter", Converter::kNone},
                        Case{"verywrite.dll without VeryAddText", "C:\\zftest\\old converter",
                             Converter::kIncomplete}}) {
    SCOPED_TRACE(c.name);
    if (c.folder)
      SetSetting("ModuleLocation", MakeModuleFolder(c.folder, c.converter, true));
    else
      DeleteSetting("ModuleLocation");
    PrintJob(1);

    EXPECT_EQ((std::vector<Message>{{"Zentrafold", "Unable to load conversion module."}}),
              boxes_.Take());
    EXPECT_EQ(std::vector<std::string>{}, ConverterCalls());
    EXPECT_TRUE(RunningUploaders().empty());
  }
}

TEST_F(DocumentEndTest, ModuleLocationGoneAfterConversionStartsNothingSilently) {
  SetEnvironmentVariableA("ZF_FAKE_VERYWRITE_DROP_LOCATION", "1");
  PrintJob(1);

  ASSERT_EQ(1u, CreatedDocuments().size());
  EXPECT_EQ(FullConversion(CreatedDocuments()[0]), ConverterCalls());
  EXPECT_FALSE(HasSetting("ModuleLocation"));
  EXPECT_TRUE(RunningUploaders().empty());
}

TEST_F(DocumentEndTest, JobWithoutPagesSendsNothing) {
  // The capture file of an earlier job is there; a job without pages must not send it again.
  PrintJob(1);
  ASSERT_FALSE(UploaderCommandLine().empty());
  SetEvent(release_.get());
  DeleteFileA(log_.c_str());
  DeleteFileA(record_.c_str());

  SetSetting("DefaultPrinter", "");
  PrintJob(0);
  EXPECT_EQ(std::vector<std::string>{}, ConverterCalls());
  EXPECT_FALSE(HasSetting("DefaultPrinter")) << "the printer is restored all the same";
  EXPECT_FALSE(FileExists(record_));
}

// The longest paths the settings allow: a command line past 520 bytes.
TEST_F(DocumentEndTest, LongPathsReachTheUploaderWhole) {
  // Padded to a length with long names: 238 + "\\ZentrafoldUpload.exe" is 259.
  auto padded = [](const char* first, char second, size_t length) {
    const std::string top = std::string(kTestFolder) + "\\" + first + "\\";
    return top + std::string(length - top.size(), second);
  };
  const std::string modules = padded(kLongModules, 'n', 238);
  ASSERT_EQ(238u, modules.size());
  // 207 + "\\Zentrafold\\" + GUID + ".pdf" is 259.
  const std::string appData = padded(kLongAppData, 'b', 207);
  ASSERT_EQ(207u, appData.size());
  SetSetting("ModuleLocation", MakeModuleFolder(modules, Converter::kComplete, true));
  MakeFolders(appData);
  {
    SavedValue shellFolder(HKEY_CURRENT_USER, kShellFoldersKey, "AppData");
    zf::UniqueHKey key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_CURRENT_USER, kShellFoldersKey, 0, KEY_SET_VALUE, key.put()));
    RegSetValueExA(key.get(), "AppData", 0, REG_SZ, reinterpret_cast<const BYTE*>(appData.c_str()),
                   static_cast<DWORD>(appData.size() + 1));
    key.reset();
    ASSERT_EQ(appData, AppDataFolder());
    PrintJob(1);
  }

  const auto documents = CreatedDocuments();
  ASSERT_EQ(1u, documents.size());
  EXPECT_EQ(appData + "\\Zentrafold\\", documents[0].substr(0, appData.size() + 12));
  EXPECT_EQ(259u, documents[0].size());
  const std::string line = UploaderCommandLine();
  EXPECT_GT(line.size(), 520u);
  EXPECT_EQ(QuotedCommandLine(modules, documents[0]), line);
  SetEvent(release_.get());
  for (const auto& uploader : RunningUploaders()) {
    zf::UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, uploader.process));
    if (process) WaitForSingleObject(process.get(), 30000);
  }
  RemoveTree(std::string(kTestFolder) + "\\" + kLongAppData);
}

class DefaultPrinterTest : public DocumentEndTest {
 protected:
  SavedValue userDefault_{HKEY_CURRENT_USER, kWindowsKey, "Device"};
};

TEST_F(DefaultPrinterTest, PrinterFromTheValueIsTheDefaultAgain) {
  if (!SetDefaultPrinterA("OfficeLaser") || !SetDefaultPrinterA("Zentrafold"))
    GTEST_SKIP() << "needs the printers \"Zentrafold\" and \"OfficeLaser\" (scripts/testenv.sh)";
  ASSERT_EQ("Zentrafold", DefaultPrinter());
  SetSetting("DefaultPrinter", "OfficeLaser");
  PrintJob(1);

  EXPECT_EQ("OfficeLaser", DefaultPrinter());
  EXPECT_FALSE(HasSetting("DefaultPrinter"));
}

TEST_F(DefaultPrinterTest, MissingValueStillReachesTheSpooler) {
  if (!SetDefaultPrinterA("Zentrafold"))
    GTEST_SKIP() << "needs the printer \"Zentrafold\" (scripts/testenv.sh)";
  // No default printer at all: given an empty name, the spooler picks one.
  {
    zf::UniqueHKey key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_CURRENT_USER, kWindowsKey, 0, KEY_SET_VALUE, key.put()));
    RegDeleteValueA(key.get(), "Device");
  }
  ASSERT_EQ("", DefaultPrinter());
  PrintJob(1);

  EXPECT_NE("", DefaultPrinter());
  EXPECT_FALSE(HasSetting("DefaultPrinter"));
}

}  // namespace
}  // namespace pagetrap::test
