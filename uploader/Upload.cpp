#include "Upload.h"

#include <windows.h>
#include <shlwapi.h>

#include "Owners.h"
#include "ServiceClient.h"
#include "UploadDialog.h"
#include "resource.h"

namespace zf {
namespace {

constexpr const char* kCaption = "Zentrafold";
constexpr const char* kPreprocessingFailed = "File preprocessing failed.";
constexpr const char* kNotUploaded = "The file was not uploaded.";
constexpr DWORD kFadeStepMs = 50;

// Touched by the worker alone.
int g_attempts = 0;

void Fade(HWND hwnd, int from, int to, int step) {
  for (int alpha = from; step > 0 ? alpha <= to : alpha >= to; alpha += step) {
    SetLayeredWindowAttributes(hwnd, 0, static_cast<BYTE>(alpha), LWA_ALPHA);
    Sleep(kFadeStepMs);
  }
}

// The file's size from an open handle: false when it cannot be read at all.
bool DocumentSize(const std::string& path, std::int64_t& size) {
  UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  LARGE_INTEGER value{};
  if (!GetFileSizeEx(file.get(), &value)) return false;
  size = value.QuadPart;
  return true;
}

void ShowJob(HWND hwnd, const UploadJob& job) {
  SetDlgItemTextA(hwnd, IDC_TITLE, job.title.c_str());
  SetDlgItemTextA(hwnd, IDC_NOTES, job.notes.c_str());
  for (int id : {IDC_TITLE, IDC_NOTES, IDC_TITLE_LABEL, IDC_NOTES_LABEL})
    ShowWindow(GetDlgItem(hwnd, id), SW_SHOW);
}

// The failure message to show, or nullptr when the run ends silently.
const char* RunJob(UploadDialog& dialog) {
  const std::string path = DocumentPathFromCommandLine(dialog.CommandLine());
  // A missing or unreadable document is not the user's doing: say nothing.
  if (PathFileExistsA(path.c_str()) != 1) return nullptr;
  std::int64_t size = 0;
  if (!DocumentSize(path, size)) return nullptr;
  dialog.SetDocumentSize(size);

  UploadJob job;
  if (!ReadJob(path, job)) return kPreprocessingFailed;
  ShowJob(dialog.Hwnd(), job);
  while (g_attempts < kUploadAttempts) {
    ++g_attempts;
    if (Upload(job)) return nullptr;
  }
  return kNotUploaded;
}

}  // namespace

std::string DocumentPathFromCommandLine(const std::string& commandLine) {
  const size_t end = commandLine.find_last_not_of('"');
  if (end == std::string::npos) return std::string();
  const size_t begin = commandLine.find_first_not_of('"');
  return commandLine.substr(begin, end + 1 - begin);
}

bool Upload(const UploadJob& job) {
  bool uploaded = false;
  {
    ServiceClient client;
    uploaded = client.UploadDocument(job.documentPath, job.title, job.notes, job.folderId);
  }
  if (uploaded) DeleteFileA(job.documentPath.c_str());
  return uploaded;
}

DWORD WINAPI UploadWorker(void* param) {
  auto& dialog = *static_cast<UploadDialog*>(param);
  HWND hwnd = dialog.Hwnd();
  Fade(hwnd, 0, 220, 10);
  {
    ComApartment com;
    if (const char* message = RunJob(dialog))
      MessageBoxA(nullptr, message, kCaption, MB_OK);
  }
  Fade(hwnd, 224, 4, -10);
  EndDialog(hwnd, 1);
  return 0;
}

}  // namespace zf
