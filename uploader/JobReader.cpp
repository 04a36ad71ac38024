// The upload program's side of the job file: the one beside the document,
// used once and deleted.
#include <windows.h>
#include <shlwapi.h>

#include <vector>

#include "JobFile.h"
#include "JobText.h"
#include "Owners.h"

namespace zf {
namespace {

// The writer produces at most about 2.6 KB (every character a line break);
// anything far beyond that is not a job and is not read into memory.
constexpr DWORD kJobFileMax = 64 * 1024;

// The whole file, not a first 1279 bytes: a full job is 1315 bytes, and a
// cut one would lose the end of its folder identifier without notice.
bool ReadWhole(const std::string& path, std::string& bytes) {
  UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > kJobFileMax) return false;
  std::vector<char> buffer(static_cast<size_t>(size.QuadPart));
  size_t done = 0;
  while (done < buffer.size()) {
    DWORD got = 0;
    const DWORD chunk = static_cast<DWORD>(buffer.size() - done);
    if (!ReadFile(file.get(), buffer.data() + done, chunk, &got, nullptr)) return false;
    if (got == 0) break;
    done += got;
  }
  bytes.assign(buffer.data(), done);
  // The job is text: it ends at a NUL, as the runtime's terminated buffer did.
  const size_t nul = bytes.find('\0');
  if (nul != std::string::npos) bytes.resize(nul);
  return true;
}

// n separators give n + 1 pieces; empty pieces count.
std::vector<std::string> SplitAtCr(const std::string& text) {
  std::vector<std::string> pieces;
  size_t start = 0;
  for (size_t cr; (cr = text.find('\r', start)) != std::string::npos; start = cr + 1)
    pieces.push_back(text.substr(start, cr - start));
  pieces.push_back(text.substr(start));
  return pieces;
}

}  // namespace

std::string JobPathBeside(const std::string& documentPath) {
  const size_t last = documentPath.rfind('\\');
  std::string path = last == std::string::npos ? std::string() : documentPath.substr(0, last);
  if (path.empty() || path.back() != '\\') path += '\\';
  return path + "prpt.job";
}

bool ReadJob(const std::string& documentPath, UploadJob& job) {
  job.documentPath = documentPath;
  job.title.clear();
  job.notes.clear();
  job.folderId.clear();

  const std::string path = JobPathBeside(documentPath);
  if (!PathFileExistsA(path.c_str())) return false;

  std::string bytes;
  const bool read = ReadWhole(path, bytes);
  // Used at most once, whatever it held.
  DeleteFileA(path.c_str());
  if (!read || bytes.empty()) return false;

  std::vector<std::string> pieces = SplitAtCr(FromTextMode(bytes));
  if (pieces.size() != 3) return false;
  job.title = std::move(pieces[0]);
  job.notes = std::move(pieces[1]);
  job.folderId = std::move(pieces[2]);
  return true;
}

}  // namespace zf
