// The toolbar's side of the job file: <CSIDL_APPDATA>\Zentrafold\prpt.job.
#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "JobFile.h"
#include "JobText.h"
#include "Owners.h"

namespace zf {
namespace {

constexpr int kAppDataFolder = 26;  // CSIDL_APPDATA

bool WriteAll(HANDLE file, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(bytes.size() - done);
    if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0)
      return false;
    done += written;
  }
  return true;
}

}  // namespace

bool WriteJob(const std::string& title, const std::string& notes, const std::string& folderId) {
  char path[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathA(nullptr, kAppDataFolder, nullptr, 0, path))) return false;
  if (!PathAppendA(path, "Zentrafold\\")) return false;
  // A failure here shows up when the file is created.
  if (!PathFileExistsA(path)) CreateDirectoryA(path, nullptr);
  if (!PathAppendA(path, "prpt.job")) return false;

  // Cleaned fields never hold the CR separator, so the file always splits
  // into three; text mode then turns each LF into CR LF.
  std::string text = CleanJobField(title, kJobTitleMax);
  text += '\r';
  text += CleanJobField(notes, kJobNotesMax);
  text += '\r';
  text += CleanJobField(folderId, kJobFolderIdMax);

  UniqueFile file(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  return WriteAll(file.get(), ToTextMode(text));
}

}  // namespace zf
