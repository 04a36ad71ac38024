#include "WinFiles.h"

namespace verywrite {

bool MappedFile::Open(const char* path) {
  file_.reset(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file_) return false;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file_.get(), &size) || size.QuadPart <= 0 ||
      static_cast<unsigned long long>(size.QuadPart) > SIZE_MAX)
    return false;
  mapping_.reset(CreateFileMappingA(file_.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping_) return false;
  view_ = static_cast<const unsigned char*>(MapViewOfFile(mapping_.get(), FILE_MAP_READ, 0, 0, 0));
  if (!view_) return false;
  size_ = static_cast<std::size_t>(size.QuadPart);
  return true;
}

MappedFile::~MappedFile() {
  if (view_) UnmapViewOfFile(view_);
}

OutputFile::~OutputFile() { Discard(); }

bool OutputFile::Create(const char* path) {
  Discard();
  file_.reset(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file_) return false;
  path_ = path;
  return true;
}

bool OutputFile::Finish(const std::vector<unsigned char>& bytes) {
  if (!file_) return false;
  DWORD put = 0;
  for (std::size_t done = 0; done < bytes.size(); done += put) {
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 24));
    if (!WriteFile(file_.get(), bytes.data() + done, want, &put, nullptr) || put == 0) {
      Discard();
      return false;
    }
  }
  // A file that does not close cleanly may not hold all its bytes.
  if (!CloseHandle(file_.release())) {
    DeleteFileA(path_.c_str());
    path_.clear();
    return false;
  }
  path_.clear();
  return true;
}

void OutputFile::Discard() {
  if (!file_) return;
  file_.reset();
  DeleteFileA(path_.c_str());
  path_.clear();
}

}  // namespace verywrite
