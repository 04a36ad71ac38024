#pragma once
// libtiff over Win32 file handles: the capture path is a Windows path, which the
// C library underneath libtiff's own TIFFOpen knows nothing about.
struct tiff;

namespace pagetrap {

// Creates or truncates the file and opens it for writing (libtiff mode "w").
// What libtiff writes is held back until FlushTiff, so that a band of one-row
// strips costs one WriteFile rather than one per row.
tiff* OpenTiffForWriting(const char* windowsPath);
// Writes out what is held back; false when bytes were lost since the last call.
bool FlushTiff(tiff* file);
// Writes what is pending and closes the file.
void CloseTiff(tiff* file);

}  // namespace pagetrap
