#pragma once
// Rasterises a PDF or PostScript file with the native Ghostscript and reads its
// pages from a pipe, row by row, in the exit module's layout. Standard types
// only: the unit behind it is built without the _WIN32 macros.
#include <string>
#include <vector>

namespace zf::printer {

// Empty when the Unix path names a readable file, else why not.
std::string DocumentProblem(const std::string& document);

class GhostscriptRaster {
 public:
  GhostscriptRaster() = default;
  GhostscriptRaster(const GhostscriptRaster&) = delete;
  GhostscriptRaster& operator=(const GhostscriptRaster&) = delete;
  ~GhostscriptRaster();

  // Starts gs on the Unix path `document` at xDpi x yDpi; type is 1 (read as
  // PBM) or 5 (PPM).
  bool Start(const std::string& document, int xDpi, int yDpi, int type);
  // Reads the next page's header: false at the end of the document or on an
  // error (then error() is not empty).
  bool NextPage(int& pageWidth, int& pageHeight);
  // Reads `rows` rows of the current page into `out`, BandStride bytes apart.
  bool ReadRows(unsigned char* out, int rows);
  // Waits for gs; false when it failed (error() then holds its first error line).
  bool Finish();

  const std::string& error() const { return error_; }

 private:
  bool Fill();
  bool ReadByte(int& c);
  bool ReadNumber(int& value);
  bool ReadExact(unsigned char* out, std::size_t bytes);
  bool Fail(const std::string& message);
  std::string GhostscriptError() const;
  void Stop();

  int type_ = 0;
  int pid_ = -1;
  int fd_ = -1;
  int errorsFd_ = -1;  // gs's standard error, kept in memory for the message
  int width_ = 0;
  int rowsLeft_ = 0;
  std::vector<unsigned char> buffer_;
  std::size_t start_ = 0;
  std::size_t end_ = 0;
  std::vector<unsigned char> row_;
  std::string error_;
};

}  // namespace zf::printer
