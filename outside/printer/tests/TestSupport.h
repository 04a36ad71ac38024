#pragma once
// Helpers for the printer's Win32 tests: paths between Unix and Windows,
// child processes (Wine and native), files and registry values.
#include <windows.h>

#include <string>
#include <vector>

#include "TestFiles.h"
#include "WinePaths.h"

namespace zf::printer::test {

using zftest::DosPath;
using zftest::UnixPath;

// A fresh folder under the Windows temporary folder, removed with its files.
class TempFolder {
 public:
  explicit TempFolder(const char* name = nullptr);  // name: a fixed last part
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder();
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "\\" + name; }

 private:
  std::string base_;  // the unique folder; path_ is it or a folder inside
  std::string path_;
};

// Runs a Win32 program (a Winelib NAME.exe.so) and waits; its standard output
// and error go to `outputFile` when that is not empty. Returns the exit code, or -1.
long RunWin32(const std::string& commandLine, const std::string& outputFile = "");

// Runs a Linux program with the test's own Unix environment; returns its exit
// status, or -1.
int RunNative(const std::vector<std::string>& argv);

using zftest::ReadWholeFile;
bool FileExists(const std::string& path);

using zftest::SplitLines;

// REG_SZ values; reading gives false when the key or value is missing.
bool ReadString(HKEY root, const char* key, const char* value, std::string& text);
void WriteString(HKEY root, const char* key, const char* value, const std::string& text);
void DeleteValue(HKEY root, const char* key, const char* value);

void SetExitModuleValue(const std::string& windowsPath);
void DeletePrinterKey();
// The recorded exit module path, or "" when the key or value is missing.
std::string ReadExitModuleValue();

}  // namespace zf::printer::test
