#pragma once
// User messages: no owner, OK only.
#include <windows.h>

namespace pagetrap {

inline constexpr char kCannotOpenTiff[] =
    "Cannot open TIFF file. Check to make sure you have enough disk space.  You should have at "
    "least 50mb free.";
inline constexpr char kGoutIsNull[] = "gout is null and it shouldn't be";
inline constexpr char kNoConversionModule[] = "Unable to load conversion module.";
inline constexpr char kProductCaption[] = "Zentrafold";

inline void ShowMessage(const char* text, const char* caption) {
  MessageBoxA(nullptr, text, caption, MB_OK);
}

}  // namespace pagetrap
