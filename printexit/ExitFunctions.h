#pragma once
// The exit functions the virtual printer's driver calls, exported by name.
// Results are 16-bit; 0 means success.
#include <windows.h>

extern "C" {
SHORT WINAPI startDocExit();
SHORT WINAPI startPageExit();
// One band of raster rows, top row first: type 1 rows of (width + 7) / 8 bytes,
// 1 = white; type 5 rows of width x 3 bytes padded to a multiple of 4.
// -1: no TIFF file; -2: a row of this band (or the page's directory at its last
// band) was not written.
SHORT WINAPI endPageExit(BYTE* bits, INT rows, INT width, INT type, INT resolution, INT more);
SHORT WINAPI endDocExit();
}
