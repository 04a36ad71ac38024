#pragma once
// One print job: the document rasterised page by page and handed to the exit
// module band by band, in the order a printer driver calls it.
#include <windows.h>

namespace zf::printer {

struct PrintRequest {
  char unixDocument[MAX_PATH * 4];
  int xDpi;
  int yDpi;
  int type;      // 1 or 5
  int bandRows;  // rows per endPageExit call; the page's last band may be shorter
};

// Process exit codes of zfprint.exe.
enum PrintResult {
  kPrinted = 0,
  kBadArguments = 1,
  kDocumentFailed = 2,    // missing, unreadable, or Ghostscript could not render it
  kNotInstalled = 3,      // no exit module recorded, or it does not load
  kExitFailed = 4,        // an exit function returned non-zero
};

PrintResult PrintDocument(const PrintRequest& request);

// Writes one line to the standard error handle.
void ReportError(const char* format, ...);

}  // namespace zf::printer
