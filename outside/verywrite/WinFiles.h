#pragma once
// File access of the library: Windows paths, Win32 calls.
#include <windows.h>

#include <string>
#include <vector>

#include "Owners.h"

namespace verywrite {

// A file mapped for reading: the TIFF is read in place, without a copy of a capture
// that can be tens of megabytes.
class MappedFile {
 public:
  // False when the file cannot be opened or mapped (an empty file cannot be mapped).
  bool Open(const char* path);
  ~MappedFile();

  const unsigned char* data() const { return view_; }
  std::size_t size() const { return size_; }

 private:
  zf::UniqueFile file_;
  zf::UniqueHandle mapping_;
  const unsigned char* view_ = nullptr;
  std::size_t size_ = 0;
};

// The document's output file, created (or emptied) when the document is made so an
// unwritable path fails at once, and removed again when no document gets written.
class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(OutputFile&&) = default;
  OutputFile& operator=(OutputFile&&) = default;
  ~OutputFile();

  bool Create(const char* path);
  // Writes bytes and closes the file; on failure the file is removed.
  bool Finish(const std::vector<unsigned char>& bytes);

 private:
  void Discard();

  zf::UniqueFile file_;
  std::string path_;
};

}  // namespace verywrite
