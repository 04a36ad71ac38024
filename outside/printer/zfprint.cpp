// zfprint.exe DOCUMENT RESOLUTION TYPE BAND_ROWS: prints a PDF or PostScript file to
// the Zentrafold printer, calling its exit module as the printer driver does.
// RESOLUTION is N or XxY dots per inch. endPageExit has room for one resolution
// and gets X; pagetrap records it for both axes of its TIFF, so pages meant for
// pagetrap are printed with X = Y. Exit codes: see PrintResult.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "PrintJob.h"
#include "RowLayout.h"

namespace {

const int kMaxDpi = 2400;

bool ParseNumber(const char* text, int low, int high, int& value, const char** rest = nullptr) {
  char* end = nullptr;
  const long number = std::strtol(text, &end, 10);
  if (end == text || *text < '0' || *text > '9' || number < low || number > high) return false;
  if (rest) {
    *rest = end;
  } else if (*end != '\0') {
    return false;
  }
  value = static_cast<int>(number);
  return true;
}

// "200" (both axes) or "204x196" (horizontal x vertical).
bool ParseResolution(const char* text, int& x, int& y) {
  const char* rest = nullptr;
  if (!ParseNumber(text, 1, kMaxDpi, x, &rest)) return false;
  if (*rest == '\0') {
    y = x;
    return true;
  }
  return (*rest == 'x' || *rest == 'X') && ParseNumber(rest + 1, 1, kMaxDpi, y);
}

// Ghostscript is a Linux program: it needs the document's Unix path.
bool ToUnixPath(const char* document, char* unixPath, size_t size) {
  if (document[0] == '/') {
    if (std::strlen(document) >= size) return false;
    std::strcpy(unixPath, document);
    return true;
  }
  WCHAR dosPath[MAX_PATH];
  if (!MultiByteToWideChar(CP_ACP, 0, document, -1, dosPath, MAX_PATH)) return false;
  char* converted = wine_get_unix_file_name(dosPath);
  if (!converted) return false;
  const bool fits = std::strlen(converted) < size;
  if (fits) std::strcpy(unixPath, converted);
  HeapFree(GetProcessHeap(), 0, converted);
  return fits;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace zf::printer;
  PrintRequest request = {};
  if (argc != 5 || !ParseResolution(argv[2], request.xDpi, request.yDpi) ||
      !ParseNumber(argv[3], 1, 5, request.type) ||
      (request.type != kRasterMono && request.type != kRasterRgb) ||
      !ParseNumber(argv[4], 1, 65535, request.bandRows)) {
    ReportError("usage: zfprint.exe DOCUMENT RESOLUTION TYPE BAND_ROWS");
    ReportError("  DOCUMENT    PDF or PostScript file (Windows or Unix path)");
    ReportError("  RESOLUTION  dots per inch, 1-2400: N, or XxY (endPageExit gets X)");
    ReportError("  TYPE        1 (1 bit per pixel, 1 = white) or 5 (RGB)");
    ReportError("  BAND_ROWS   rows per endPageExit call, 1-65535");
    return kBadArguments;
  }
  if (!ToUnixPath(argv[1], request.unixDocument, sizeof request.unixDocument)) {
    ReportError("zfprint: cannot find the Unix path of %s", argv[1]);
    return kDocumentFailed;
  }
  return PrintDocument(request);
}
