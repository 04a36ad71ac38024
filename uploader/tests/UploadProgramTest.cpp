// ZentrafoldUpload.exe as the exit module starts it: a child process in this
// Wine prefix and display, watched and answered through Win32 windows, with a
// local account service behind it.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "CipherCore.h"
#include "Owners.h"
#include "TestFiles.h"
#include "RegistrySandbox.h"
#include "ServiceClient.h"
#include "ServiceProcess.h"

namespace {

using zftest::Exists;
using zftest::ReadBytes;
using zftest::WriteBytes;

constexpr const char* kUser = "notice@example.com";
constexpr const char* kPassword = "s3cret";
const std::string kSharedKey = "Qx7vTn2LpW9rBz4HcM6sKd1YfJ8gUe3A";
// Only a hung child ends a run early; a normal one takes about 2.5 s.
constexpr DWORD kRunLimitMs = 60000;

// The program's Windows path: the Linux root is drive Z:.
std::string ProgramPath() {
  std::string path = "Z:" + std::string(ZF_UPLOAD_PROGRAM);
  for (auto& c : path) {
    if (c == '/') c = '\\';
  }
  return path + ".so";
}

std::string WindowText(HWND hwnd) {
  char text[2048] = {};
  GetWindowTextA(hwnd, text, sizeof text);
  return text;
}

// What a run of the program showed.
struct Outcome {
  DWORD exitCode = 0xdeadbeef;
  bool finished = false;
  std::vector<std::string> messages;  // message boxes, in order, each answered with OK
  bool plainBoxes = true;             // every box: OK only, no owner
  bool sawNotice = false;
  bool detailsHiddenAtFirst = false;
  LONG_PTR style = 0, exStyle = 0;
  RECT window{}, client{};
  bool shownDetails = false;  // title and notes became visible
  std::string noticeText, title, notes, titleLabel, notesLabel;
};

struct FindNotice {
  DWORD pid;
  HWND found;
};

BOOL CALLBACK FindNoticeWindow(HWND hwnd, LPARAM param) {
  auto* find = reinterpret_cast<FindNotice*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  char cls[64] = {};
  GetClassNameA(hwnd, cls, sizeof cls);
  if (pid == find->pid && std::string(cls) == "#32770" && WindowText(hwnd).empty() &&
      GetDlgItem(hwnd, 1001)) {
    find->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

HWND MessageBoxOf(DWORD pid) {
  HWND box = FindWindowA("#32770", "Zentrafold");
  DWORD owner = 0;
  if (box) GetWindowThreadProcessId(box, &owner);
  return box && owner == pid ? box : nullptr;
}

void Observe(HWND notice, Outcome& run) {
  const bool detailsVisible = IsWindowVisible(GetDlgItem(notice, 1005)) != FALSE;
  if (!run.sawNotice) {
    run.sawNotice = true;
    run.detailsHiddenAtFirst = !detailsVisible && !IsWindowVisible(GetDlgItem(notice, 1004)) &&
                               !IsWindowVisible(GetDlgItem(notice, 1003)) &&
                               !IsWindowVisible(GetDlgItem(notice, 1002));
    run.noticeText = WindowText(GetDlgItem(notice, 1001));
  }
  // Styles and place once the dialog has finished its initialisation.
  run.style = GetWindowLongPtrA(notice, GWL_STYLE);
  run.exStyle = GetWindowLongPtrA(notice, GWL_EXSTYLE);
  GetWindowRect(notice, &run.window);
  GetClientRect(notice, &run.client);
  if (detailsVisible && !run.shownDetails) {
    run.shownDetails = IsWindowVisible(GetDlgItem(notice, 1004)) &&
                       IsWindowVisible(GetDlgItem(notice, 1003)) &&
                       IsWindowVisible(GetDlgItem(notice, 1002));
    run.title = WindowText(GetDlgItem(notice, 1005));
    run.notes = WindowText(GetDlgItem(notice, 1004));
    run.titleLabel = WindowText(GetDlgItem(notice, 1003));
    run.notesLabel = WindowText(GetDlgItem(notice, 1002));
  }
}

// Starts the program with argument (as the text after its quoted name) and
// watches it until it ends, answering each message box with OK.
Outcome RunProgram(const std::string& argument) {
  Outcome run;
  std::string commandLine = "\"" + ProgramPath() + "\"";
  if (!argument.empty()) commandLine += " " + argument;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    ADD_FAILURE() << "CreateProcessA failed, error " << GetLastError() << ": " << commandLine;
    return run;
  }
  zf::UniqueHandle process(info.hProcess), thread(info.hThread);
  const DWORD started = GetTickCount();
  while (WaitForSingleObject(process.get(), 20) == WAIT_TIMEOUT) {
    FindNotice find{info.dwProcessId, nullptr};
    EnumWindows(FindNoticeWindow, reinterpret_cast<LPARAM>(&find));
    if (find.found) Observe(find.found, run);
    if (HWND box = MessageBoxOf(info.dwProcessId)) {
      const std::string text = WindowText(GetDlgItem(box, 0xFFFF));
      // Answered once it is on screen, its buttons laid out.
      if (!text.empty() && IsWindowVisible(box)) {
        run.messages.push_back(text);
        const bool noOwner = GetWindow(box, GW_OWNER) == nullptr;
        const bool ok = IsWindowVisible(GetDlgItem(box, IDOK));
        const bool cancel = IsWindowVisible(GetDlgItem(box, IDCANCEL));
        if (!noOwner || !ok || cancel) {
          run.plainBoxes = false;
          run.messages.back() += " (owner " + std::to_string(!noOwner) + ", OK " +
                                 std::to_string(ok) + ", Cancel " + std::to_string(cancel) + ")";
        }
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        while (MessageBoxOf(info.dwProcessId) == box &&
               WaitForSingleObject(process.get(), 20) == WAIT_TIMEOUT) {
        }
      }
    }
    if (GetTickCount() - started > kRunLimitMs) {
      ADD_FAILURE() << "the upload program did not end: " << commandLine;
      TerminateProcess(process.get(), 99);
      WaitForSingleObject(process.get(), 5000);
      return run;
    }
  }
  run.finished = true;
  GetExitCodeProcess(process.get(), &run.exitCode);
  return run;
}

std::string Messages(const Outcome& run) {
  std::string all = run.plainBoxes ? "" : "(not a plain OK box) ";
  for (const auto& m : run.messages) all += "[" + m + "] ";
  return all.empty() ? "(none)" : all;
}

// A scratch folder in the per-user temporary folder, with a space in its name
// as the user's folder may have.
class Scratch {
 public:
  Scratch() {
    char base[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, base);
    char name[MAX_PATH] = {};
    GetTempFileNameA(base, "zfu", 0, name);
    DeleteFileA(name);
    path_ = std::string(name) + " notice";
    CreateDirectoryA(path_.c_str(), nullptr);
  }
  ~Scratch() { zftest::RemoveTree(path_); }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

 private:
  std::string path_;
};

class UploadProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings_.PointAt(service_.host());
    document_ = scratch_ / "{5C3E2A10-77B4-4F0E-9D1A-2B6C8E4F0A11}.pdf";
    job_ = scratch_ / "prpt.job";
    ASSERT_TRUE(WriteBytes(document_, kDocument));
  }

  // A service account, stored for the program, with one folder.
  void CreateAccount(const char* storedPassword = kPassword) {
    zf::ServiceClient client;
    ASSERT_TRUE(client.CreateAccount(kUser, kPassword, "Nora", "Tice"));
    zf::FolderEntry folder;
    folder.second = "0";
    folder.name = "Receipts";
    ASSERT_TRUE(client.SaveFolder(kUser, kPassword, folder));
    zf::FolderList folders;
    ASSERT_TRUE(client.ListFolders(kUser, kPassword, folders));
    ASSERT_EQ(1u, folders.size());
    folderId_ = folders[0].id;
    ASSERT_TRUE(zf::StoreAccount({kUser, storedPassword}));
  }

  std::string JobBytes() const { return "Quarterly report\rPrinted from the intranet\r" + folderId_; }

  void ExpectUploaded(const Outcome& run) {
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_TRUE(run.messages.empty()) << Messages(run);
    EXPECT_FALSE(Exists(document_)) << document_;
    EXPECT_FALSE(Exists(job_)) << job_;

    const std::string list = service_.Tool({"list"});
    EXPECT_NE(std::string::npos, list.find("Documents (1)")) << list;
    EXPECT_NE(std::string::npos, list.find("title:  Quarterly report\n")) << list;
    EXPECT_NE(std::string::npos, list.find("notes:  Printed from the intranet\n")) << list;
    EXPECT_NE(std::string::npos, list.find("folder: \"Receipts\"")) << list;
    EXPECT_NE(std::string::npos, list.find(std::to_string(kDocument.size()) + " bytes")) << list;
    const std::string out = service_.dataDir() + "/exported.pdf";
    service_.Tool({"export", "--document", "1", "--out", out});
    std::ifstream in(out, std::ios::binary);
    const std::string stored((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
    EXPECT_EQ(kDocument, stored);
  }

  // A failure the user is told of in one plain box: the job is used up, the
  // document stays for another try.
  void ExpectReported(const Outcome& run, const char* message) {
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode);
    ASSERT_EQ(1u, run.messages.size()) << Messages(run);
    EXPECT_EQ(message, run.messages[0]);
    EXPECT_TRUE(run.plainBoxes);
    EXPECT_FALSE(Exists(job_));
    EXPECT_TRUE(Exists(document_));
  }

  static const std::string kDocument;
  zf::ComApartment com_;
  zftest::ServiceProcess service_;
  zftest::SettingsSandbox settings_;
  Scratch scratch_;
  std::string document_, job_, folderId_;
};

const char kDocumentBytes[] = "%PDF-1.4\n%\xe2\xe3\xcf\xd3\r\n1 0 obj\0\x1a\xff<<>>\nendobj\n%%EOF";
const std::string UploadProgramTest::kDocument(kDocumentBytes, sizeof kDocumentBytes - 1);

TEST_F(UploadProgramTest, UploadsTheDocumentWithItsJob) {
  CreateAccount();
  ASSERT_TRUE(WriteBytes(job_, JobBytes()));
  const Outcome run = RunProgram("\"" + document_ + "\"");
  ExpectUploaded(run);

  // The notice: a click-through, topmost tool window without caption or frame,
  // its lower right corner 50 pixels inside the desktop's.
  ASSERT_TRUE(run.sawNotice);
  EXPECT_EQ("Your page is being saved to your Zentrafold account...", run.noticeText);
  EXPECT_TRUE(run.detailsHiddenAtFirst);
  const LONG_PTR wanted = WS_EX_LAYERED | WS_EX_TRANSPARENT | WS_EX_TOOLWINDOW | WS_EX_TOPMOST;
  EXPECT_EQ(wanted, run.exStyle & wanted) << std::hex << "ex style 0x" << run.exStyle;
  EXPECT_EQ(0, run.exStyle & WS_EX_APPWINDOW) << std::hex << "ex style 0x" << run.exStyle;
  EXPECT_EQ(WS_POPUP, run.style & (WS_POPUP | WS_CHILD)) << std::hex << "style 0x" << run.style;
  EXPECT_EQ(0, run.style & (WS_CAPTION | WS_THICKFRAME | WS_BORDER | WS_DLGFRAME))
      << std::hex << "style 0x" << run.style;
  RECT desktop{};
  GetWindowRect(GetDesktopWindow(), &desktop);
  EXPECT_EQ(desktop.right - 50, run.window.right);
  EXPECT_EQ(desktop.bottom - 50, run.window.bottom);
  EXPECT_EQ(run.client.right, run.window.right - run.window.left);
  EXPECT_EQ(run.client.bottom, run.window.bottom - run.window.top);
  EXPECT_GT(run.client.right, run.client.bottom);

  EXPECT_TRUE(run.shownDetails);
  EXPECT_EQ("Quarterly report", run.title);
  EXPECT_EQ("Printed from the intranet", run.notes);
  EXPECT_EQ("Title:", run.titleLabel);
  EXPECT_EQ("Notes:", run.notesLabel);
}

TEST_F(UploadProgramTest, UnquotedPathWorksTheSame) {
  CreateAccount();
  ASSERT_TRUE(WriteBytes(job_, JobBytes()));
  ExpectUploaded(RunProgram(document_));
}

// Nothing to work on: the notice comes and goes without a word, and the job
// file stays for the document it belongs to.
TEST_F(UploadProgramTest, UnusableDocumentEndsSilently) {
  CreateAccount();
  const std::string folderDocument = scratch_ / "folder.pdf";
  ASSERT_TRUE(CreateDirectoryA(folderDocument.c_str(), nullptr));
  struct Case {
    const char* what;
    std::string argument;
    bool lockDocument;
  } cases[] = {
      {"missing document", "\"" + (scratch_ / "missing.pdf") + "\"", false},
      {"a folder, not a file", "\"" + folderDocument + "\"", false},
      {"document opened exclusively", "\"" + document_ + "\"", true},
      {"empty command line", "", false},
      {"only quotes", "\"\"", false},
  };
  const auto requestsBefore = service_.Stats().at("requests");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(WriteBytes(job_, JobBytes()));
    zf::UniqueFile lock;
    if (c.lockDocument) {
      lock.reset(CreateFileA(document_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
      ASSERT_TRUE(lock) << "error " << GetLastError();
    }
    const Outcome run = RunProgram(c.argument);
    lock.reset();
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_TRUE(run.sawNotice);
    EXPECT_TRUE(run.messages.empty()) << Messages(run);
    EXPECT_FALSE(run.shownDetails);
    EXPECT_EQ(JobBytes(), ReadBytes(job_));
    EXPECT_TRUE(Exists(document_));
  }
  EXPECT_EQ(requestsBefore, service_.Stats().at("requests"));
}

TEST_F(UploadProgramTest, UnusableJobFileIsReported) {
  CreateAccount();
  struct Case {
    const char* what;
    bool write;
    std::string bytes;
  } cases[] = {
      {"no job file", false, ""},
      {"empty job file", true, ""},
      {"two fields", true, "Title\rNotes"},
      {"four fields", true, "Title\rNotes\r\r" + folderId_},
      // A line break in the notes, as the writer leaves it: CR CR LF.
      {"notes with a line break", true, "Title\rline 1\r\r\nline 2\r" + folderId_},
  };
  const auto requestsBefore = service_.Stats().at("requests");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DeleteFileA(job_.c_str());
    if (c.write) {
      ASSERT_TRUE(WriteBytes(job_, c.bytes));
    }
    const Outcome run = RunProgram("\"" + document_ + "\"");
    ExpectReported(run, "File preprocessing failed.");
    EXPECT_FALSE(run.shownDetails);
  }
  EXPECT_EQ(requestsBefore, service_.Stats().at("requests"));
  EXPECT_NE(std::string::npos, service_.Tool({"list"}).find("Documents (0)"));
}

TEST_F(UploadProgramTest, NoStoredAccountIsReportedWithoutSending) {
  ASSERT_TRUE(WriteBytes(job_, "Title\rNotes\r"));
  const Outcome run = RunProgram("\"" + document_ + "\"");
  ExpectReported(run, "The file was not uploaded.");
  EXPECT_TRUE(run.shownDetails);
  EXPECT_EQ("Title", run.title);
  EXPECT_EQ(0, service_.Stats().at("requests"));
}

TEST_F(UploadProgramTest, RefusedLoginIsTriedThreeTimes) {
  CreateAccount("not the password");
  const auto before = service_.Stats();
  ASSERT_TRUE(WriteBytes(job_, JobBytes()));
  ExpectReported(RunProgram("\"" + document_ + "\""), "The file was not uploaded.");
  // Each attempt: a session of its own and the refused login, nothing more.
  const auto after = service_.Stats();
  EXPECT_EQ(3, after.at("start_session") - before.at("start_session"));
  EXPECT_EQ(3, after.at("client_request") - before.at("client_request"));
  EXPECT_NE(std::string::npos, service_.Tool({"list"}).find("Documents (0)"));
}

zftest::HttpResponse StartSessionReply(const std::string& sessionKey) {
  return {200, zftest::SoapEnvelope("<ns1:StartSessionResponse><ns1:StartSessionResult>" +
                                    zfcipher::Encipher(sessionKey, kSharedKey) +
                                    "</ns1:StartSessionResult></ns1:StartSessionResponse>")};
}

zftest::HttpResponse ClientRequestReply(const std::string& result) {
  return {200, zftest::SoapEnvelope("<ns1:ClientRequestResponse><ns1:ClientRequestResult>" +
                                    result +
                                    "</ns1:ClientRequestResult></ns1:ClientRequestResponse>")};
}

TEST_F(UploadProgramTest, SecondAttemptSucceedsAfterAFailedOne) {
  ASSERT_TRUE(zf::StoreAccount({kUser, kPassword}));
  zftest::CannedHttpServer canned;
  canned.Push(StartSessionReply("first-session-key"));
  canned.Push(ClientRequestReply("-1"));  // login refused once
  canned.Push(StartSessionReply("second-session-key"));
  canned.Push(ClientRequestReply("1"));  // login
  canned.Push(ClientRequestReply("1"));  // upload taken
  settings_.PointAt(canned.host());
  ASSERT_TRUE(WriteBytes(job_, "Title\rNotes\r"));

  const Outcome run = RunProgram("\"" + document_ + "\"");
  EXPECT_TRUE(run.finished);
  EXPECT_TRUE(run.messages.empty()) << Messages(run);
  EXPECT_FALSE(Exists(document_));
  EXPECT_FALSE(Exists(job_));
  const auto requests = canned.Requests();
  ASSERT_EQ(5u, requests.size());
  EXPECT_NE(std::string::npos, requests[0].headers.at("soapaction").find("StartSession"));
  EXPECT_NE(std::string::npos, requests[2].headers.at("soapaction").find("StartSession"));
  // The upload carries the document whole.
  EXPECT_NE(std::string::npos, requests[4].body.find(kDocument)) << requests[4].body.size();
}

}  // namespace
