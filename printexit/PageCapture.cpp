// The page exits: bands of raster rows become the pages of a multi-page TIFF.
// Built with the ZF_UNDEF_WIN32 flags: libtiff's headers must take their Unix branch.
#include <tiffio.h>

#include <windows.h>

#include <cstddef>
#include <cstring>
#include <utility>

#include "CaptureState.h"
#include "ExitFunctions.h"
#include "Messages.h"
#include "TiffFile.h"

namespace pagetrap {

CaptureState g_capture;

namespace {

constexpr INT kBitmapType = 1;  // 1 bit per pixel, 0 = black, stored inverted
constexpr INT kRgbType = 5;     // 3 bytes per pixel, rows padded to 4 bytes

constexpr SHORT kNotOpen = -1;
constexpr SHORT kRowNotWritten = -2;

struct RowLayout {
  size_t payload;  // bytes of one row libtiff takes
  size_t stride;   // distance from one row to the next in the band
};

// A 1-bit row holds ceil(width / 8) bytes, as in any 1-bit bitmap, and that is
// the scanline libtiff takes: a width that is not a multiple of 8 then neither
// leaves the row's last bits unwritten nor takes libtiff past the band's end.
RowLayout LayoutOf(INT type, INT width) {
  const size_t w = width > 0 ? static_cast<size_t>(width) : 0;
  if (type == kBitmapType) return {(w + 7) / 8, (w + 7) / 8};
  const size_t payload = w * 3;
  return {payload, (payload + 3) & ~size_t{3}};
}

void SetPageTags(TIFF* out, INT type, INT width, INT rows, INT resolution) {
  const bool bitmap = type == kBitmapType;
  TIFFSetField(out, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  TIFFSetField(out, TIFFTAG_XRESOLUTION, static_cast<double>(resolution));
  TIFFSetField(out, TIFFTAG_YRESOLUTION, static_cast<double>(resolution));
  TIFFSetField(out, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(width));
  TIFFSetField(out, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(rows));
  TIFFSetField(out, TIFFTAG_COMPRESSION, bitmap ? COMPRESSION_CCITTFAX4 : COMPRESSION_NONE);
  TIFFSetField(out, TIFFTAG_PHOTOMETRIC, bitmap ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_RGB);
  TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, bitmap ? 1 : 3);
  TIFFSetField(out, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, bitmap ? 1 : 8);
  TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, 1);
}

// Writes the band's rows after the page's rows so far; false when a row failed.
bool WriteBand(CaptureState& state, BYTE* bits, INT rows, INT width, INT type) {
  const RowLayout layout = LayoutOf(type, width);
  // The page's tags (from its first band) fix how many bytes libtiff takes per
  // row; a band with shorter rows would have it read past the band.
  const tmsize_t scanline = TIFFScanlineSize(state.gout);
  if (rows > 0 && (scanline <= 0 || static_cast<size_t>(scanline) > layout.payload)) return false;
  BYTE* row = bits;
  for (INT r = 0; r < rows; ++r) {
    if (type == kBitmapType) {
      for (size_t i = 0; i < layout.payload; ++i) row[i] = static_cast<BYTE>(~row[i]);
    }
    if (TIFFWriteScanline(state.gout, row, static_cast<uint32_t>(state.rowOffset + r), 0) < 0)
      return false;
    row += layout.stride;
  }
  return true;
}

}  // namespace
}  // namespace pagetrap

using pagetrap::g_capture;

extern "C" SHORT WINAPI startDocExit() {
  // A job that never reached its end leaves its file open: close it, or the
  // handle leaks and the file stays locked against this job.
  pagetrap::CloseTiff(std::exchange(g_capture.gout, nullptr));
  char* path = g_capture.tiffPath;
  const UINT length = GetSystemDirectoryA(path, MAX_PATH);
  static constexpr char kName[] = "\\NEDIP.TIF";
  if (length == 0 || length + sizeof kName > MAX_PATH)
    path[0] = '\0';  // no room: opening the file then fails and says so
  else
    std::memcpy(path + length, kName, sizeof kName);
  g_capture.openPending = true;
  return 0;
}

extern "C" SHORT WINAPI startPageExit() {
  g_capture.tagsPending = true;
  g_capture.rowOffset = 0;
  return 0;
}

extern "C" SHORT WINAPI endPageExit(BYTE* bits, INT rows, INT width, INT type, INT resolution,
                                    INT more) {
  using namespace pagetrap;
  CaptureState& state = g_capture;
  if (state.openPending) {
    state.gout = OpenTiffForWriting(state.tiffPath);
    if (!state.gout) {
      ShowMessage(kCannotOpenTiff, "");
      return kNotOpen;
    }
  }
  state.openPending = false;
  if (!state.gout) {
    ShowMessage(kGoutIsNull, "");
    return kNotOpen;
  }

  if (rows < 0) rows = 0;
  SHORT result = 0;
  if (type == kBitmapType || type == kRgbType) {
    if (state.tagsPending) SetPageTags(state.gout, type, width, rows, resolution);
    state.tagsPending = false;
    if (!WriteBand(state, bits, rows, width, type)) result = kRowNotWritten;
    state.rowOffset += rows;
  }
  // A page that had no band of a known type has no tags and no rows; a
  // directory for it would make the whole file unreadable.
  if (!more && !state.tagsPending) {
    TIFFSetField(state.gout, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(state.rowOffset));
    TIFFWriteDirectory(state.gout);
  }
  // The band goes to the file now, so that a failure is told for this band,
  // further bands or not.
  if (!FlushTiff(state.gout)) result = kRowNotWritten;
  return result;
}
