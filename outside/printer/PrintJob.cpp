#include "PrintJob.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "ExitModule.h"
#include "GhostscriptRaster.h"
#include "RowLayout.h"

namespace zf::printer {
namespace {

// A band larger than this is refused rather than allocated.
const size_t kMaxBandBytes = size_t{1} << 28;

bool Succeeded(short result, const char* call, int page, int band) {
  if (result == 0) return true;
  if (band > 0) {
    ReportError("zfprint: %s returned %d (page %d, band %d)", call, result, page, band);
  } else if (page > 0) {
    ReportError("zfprint: %s returned %d (page %d)", call, result, page);
  } else {
    ReportError("zfprint: %s returned %d", call, result);
  }
  return false;
}

// Sends the current page of `raster` in bands; returns kPrinted or the failure.
PrintResult PrintPage(const ExitModule& exit, GhostscriptRaster& raster,
                      const PrintRequest& request, int page, int pageWidth, int pageHeight) {
  if (!Succeeded(exit.StartPage(), "startPageExit", page, 0)) return kExitFailed;
  const int width = DeliveredWidth(request.type, pageWidth);
  const size_t stride = BandStride(request.type, width);
  const int bandRows = std::min(request.bandRows, pageHeight);
  if (stride * static_cast<size_t>(bandRows) > kMaxBandBytes) {
    ReportError("zfprint: a band of %d rows of %u bytes is too large", bandRows,
                static_cast<unsigned>(stride));
    return kDocumentFailed;
  }
  std::vector<unsigned char> band(stride * static_cast<size_t>(bandRows));
  int bandNumber = 0;
  for (int done = 0; done < pageHeight;) {
    const int rows = std::min(bandRows, pageHeight - done);
    if (!raster.ReadRows(band.data(), rows)) {
      ReportError("zfprint: Ghostscript cannot render %s (page %d): %s", request.unixDocument,
                  page, raster.error().c_str());
      return kDocumentFailed;
    }
    done += rows;
    const int more = done < pageHeight ? 1 : 0;
    ++bandNumber;
    // endPageExit carries one resolution: the horizontal one, which fixes the
    // width of the page the exit module records.
    if (!Succeeded(exit.EndPage(band.data(), rows, width, request.type, request.xDpi, more),
                   "endPageExit", page, bandNumber)) {
      return kExitFailed;
    }
  }
  return kPrinted;
}

}  // namespace

void ReportError(const char* format, ...) {
  char line[1024];
  va_list args;
  va_start(args, format);
  int length = vsnprintf(line, sizeof line - 2, format, args);
  va_end(args);
  if (length < 0) return;
  length = std::min(length, static_cast<int>(sizeof line - 3));
  line[length++] = '\r';
  line[length++] = '\n';
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, static_cast<DWORD>(length), &written, nullptr);
}

PrintResult PrintDocument(const PrintRequest& request) {
  const std::string problem = DocumentProblem(request.unixDocument);
  if (!problem.empty()) {
    ReportError("zfprint: cannot read the document %s: %s", request.unixDocument, problem.c_str());
    return kDocumentFailed;
  }
  char modulePath[MAX_PATH] = {};
  if (!ReadExitModulePath(modulePath, sizeof modulePath)) {
    ReportError("zfprint: the Zentrafold printer is not installed (no HKLM\\%s \"%s\")",
                kPrinterKey, kExitModuleValue);
    return kNotInstalled;
  }
  ExitModule exit;
  const char* missing = nullptr;
  if (!exit.Load(modulePath, missing)) {
    if (missing == modulePath) {
      ReportError("zfprint: cannot load the exit module %s (error %lu)", modulePath,
                  static_cast<unsigned long>(GetLastError()));
    } else {
      ReportError("zfprint: the exit module %s has no export %s", modulePath, missing);
    }
    return kNotInstalled;
  }

  GhostscriptRaster raster;
  int pageWidth = 0, pageHeight = 0;
  // The first page is read before the job starts, so a document Ghostscript
  // cannot read never opens a job in the exit module.
  if (!raster.Start(request.unixDocument, request.xDpi, request.yDpi, request.type) ||
      !raster.NextPage(pageWidth, pageHeight)) {
    raster.Finish();
    ReportError("zfprint: Ghostscript cannot render %s: %s", request.unixDocument,
                raster.error().empty() ? "no pages" : raster.error().c_str());
    return kDocumentFailed;
  }

  // A failed exit call or a document that fails part-way ends the job without
  // endDocExit: ending it would have the exit module publish a document it did
  // not capture whole.
  if (!Succeeded(exit.StartDoc(), "startDocExit", 0, 0)) return kExitFailed;
  int page = 0;
  do {
    const PrintResult result = PrintPage(exit, raster, request, ++page, pageWidth, pageHeight);
    if (result != kPrinted) return result;
  } while (raster.NextPage(pageWidth, pageHeight));
  if (!raster.Finish()) {
    ReportError("zfprint: Ghostscript cannot render %s after page %d: %s", request.unixDocument,
                page, raster.error().c_str());
    return kDocumentFailed;
  }
  if (!Succeeded(exit.EndDoc(), "endDocExit", 0, 0)) return kExitFailed;
  std::printf("zfprint: %d page%s printed through %s\n", page, page == 1 ? "" : "s", modulePath);
  return kPrinted;
}

}  // namespace zf::printer
