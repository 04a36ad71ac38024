#pragma once
// What pagetrap keeps between the exit calls of one print job.
#include <windows.h>

struct tiff;  // libtiff's TIFF

namespace pagetrap {

struct CaptureState {
  char tiffPath[MAX_PATH] = {};  // <system directory>\NEDIP.TIF
  tiff* gout = nullptr;          // the open TIFF file
  bool openPending = false;      // the first band of the job opens the file
  bool tagsPending = false;      // the first band of a page sets the tags
  INT rowOffset = 0;             // rows of the current page so far
};

// One print job at a time: the driver calls the exits one after the other.
extern CaptureState g_capture;

}  // namespace pagetrap
