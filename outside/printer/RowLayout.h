#pragma once
// Row layouts the exit module expects, converted from Ghostscript's PNM rows.
// Standard types only: shared by the Win32 program and the raster reader.
#include <cstddef>

namespace zf::printer {

enum RasterType { kRasterMono = 1, kRasterRgb = 5 };

// Width handed to the exit module: 1-bit pages are padded with white up to a
// multiple of 8 pixels, RGB pages keep their width.
int DeliveredWidth(int type, int pageWidth);

// Bytes from one row to the next in a band: width / 8 for 1-bit rows (no
// padding), width x 3 rounded up to a multiple of 4 for RGB rows.
std::size_t BandStride(int type, int deliveredWidth);

// Bytes of one row in Ghostscript's raw PBM (type 1) or PPM (type 5) output.
std::size_t PnmRowBytes(int type, int pageWidth);

// PBM rows have 1 = black; the exit module takes 1 = white, with the padding
// bits after the last pixel white too.
void ConvertPbmRow(const unsigned char* pbm, int pageWidth, unsigned char* out);

// PPM rows are R,G,B already; the row is copied and its padding zeroed.
void ConvertPpmRow(const unsigned char* ppm, int pageWidth, unsigned char* out);

}  // namespace zf::printer
