#pragma once
// verywrite.dll: multi-page TIFF images (and text) to a PDF document. Every entry
// point is stdcall with 32-bit arguments and results; nonzero means success.
// Strings are Windows-1252, paths Windows paths.
#include <windows.h>

// VerySetFunction(document, kVeryImageEncoding, flags, effort, 0, 0): how image pages
// are stored. flags: the encodings the caller accepts, which must include both the
// library uses (CCITT Group 4 for 1-bit pages, Flate for colour and grey pages).
// effort: 1 fastest, 2 balanced (the default), 3 smallest. Set before adding images.
enum : LONG {
  kVeryImageEncoding = 121,
  kVeryBilevelG4 = 0x0004,
  kVeryColourFlate = 0x1000,
};

extern "C" {
// A new document to be written to pdfPath (created now, written by VeryClose);
// returns its handle, 0 when the file cannot be created.
LONG WINAPI VeryCreate(LPCSTR pdfPath);
// The document information dictionary's strings; null means empty.
LONG WINAPI VeryAddInfo(LONG document, LPCSTR title, LPCSTR subject, LPCSTR author,
                        LPCSTR keywords, LPCSTR creator);
LONG WINAPI VerySetFunction(LONG document, LONG function, LONG value, LONG arg1, LONG arg2,
                            LONG arg3);
// Every directory of the TIFF file as one page; returns the number of pages added,
// 0 (nothing added) when the file is missing or any page cannot be read.
LONG WINAPI VeryAddImage(LONG document, LPCSTR tiffPath);
// The same for a TIFF image held in memory (size bytes at data).
LONG WINAPI VeryAddImageData(LONG document, const void* data, LONG size);
// Plain text on Letter pages in Helvetica, lines broken at LF or CR LF; returns the
// number of pages added.
LONG WINAPI VeryAddText(LONG document, LPCSTR text);
// Writes the PDF and ends the document (the handle is gone afterwards, also on
// failure). Fails, leaving no file, when the document has no pages.
LONG WINAPI VeryClose(LONG document);
}
