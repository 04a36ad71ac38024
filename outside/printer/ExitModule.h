#pragma once
// The printer's exit module as the driver binds it: the DLL named in the
// registry and its four exit functions.
#include <windows.h>

#include "../../client/Owners.h"

namespace zf::printer {

// Where installation records the exit module (HKEY_LOCAL_MACHINE).
inline constexpr char kPrinterKey[] = "Software\\Zentrafold Printer";
inline constexpr char kExitModuleValue[] = "ExitModule";

// Reads the exit module's Windows path; false when it is not installed.
bool ReadExitModulePath(char* path, DWORD size);

class ExitModule {
 public:
  using StartDocExit = short(WINAPI*)();
  using StartPageExit = short(WINAPI*)();
  using EndPageExit = short(WINAPI*)(void* bits, int rows, int width, int type, int resolution,
                                     int more);
  using EndDocExit = short(WINAPI*)();

  // Loads the module and finds all four exports; on failure `missing` names
  // what was not found (the module itself or an export).
  bool Load(const char* path, const char*& missing);

  short StartDoc() const { return startDoc_(); }
  short StartPage() const { return startPage_(); }
  short EndPage(void* bits, int rows, int width, int type, int resolution, int more) const {
    return endPage_(bits, rows, width, type, resolution, more);
  }
  short EndDoc() const { return endDoc_(); }

 private:
  UniqueModule module_;
  StartDocExit startDoc_ = nullptr;
  StartPageExit startPage_ = nullptr;
  EndPageExit endPage_ = nullptr;
  EndDocExit endDoc_ = nullptr;
};

}  // namespace zf::printer
