#pragma once
// The conversion core: TIFF bytes in, PDF bytes out. Standard C++ types only, so
// the Win32 layer can include it; all file access happens on the caller's side.
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace verywrite {

// Document information strings, UTF-8.
struct DocumentInfo {
  std::string title;
  std::string subject;
  std::string author;
  std::string keywords;
  std::string creator;
};

// libdeflate levels for colour and grey pages by effort, 1 (fastest) to 3 (smallest).
// On rendered pages with photos, after PNG filtering, level 4 is within about 3% of
// level 6's size at half its time; 10 to 12 gain little more at ten times the cost.
constexpr int kFlateLevelForEffort[] = {1, 4, 9};
constexpr int kDefaultFlateLevel = kFlateLevelForEffort[1];

class PdfDocument {
 public:
  PdfDocument();
  ~PdfDocument();
  PdfDocument(const PdfDocument&) = delete;
  PdfDocument& operator=(const PdfDocument&) = delete;

  void SetInfo(const DocumentInfo& info);
  // libdeflate level (1 to 12) for colour and grey pages added from now on.
  void SetFlateLevel(int level);

  // Adds every directory of a TIFF image as one page, or nothing when any of them
  // cannot be read. On failure *error (if given) says why.
  bool AddTiff(const unsigned char* data, std::size_t size, std::string* error = nullptr);

  // Adds one Letter page of plain text in Helvetica; the text is Windows-1252,
  // lines separated by LF or CR LF.
  bool AddText(const std::string& windows1252, std::string* error = nullptr);

  std::size_t PageCount() const;

  // The finished document; fails when there are no pages.
  bool Write(std::vector<unsigned char>* pdf, std::string* error = nullptr) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace verywrite
