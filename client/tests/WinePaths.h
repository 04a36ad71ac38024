#pragma once
// Paths between the two sides of a Wine test: Unix paths of build outputs and
// tools, Windows paths of what the programs under test see.
#include <windows.h>

#include <string>

namespace zftest {

inline std::string DosPath(const std::string& unixPath) {
  WCHAR* wide = wine_get_dos_file_name(unixPath.c_str());
  if (!wide) return {};
  char narrow[MAX_PATH * 2] = {};
  WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, sizeof narrow, nullptr, nullptr);
  HeapFree(GetProcessHeap(), 0, wide);
  return narrow;
}

inline std::string UnixPath(const std::string& windowsPath) {
  WCHAR wide[MAX_PATH * 2] = {};
  if (!MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, wide, MAX_PATH * 2)) return {};
  char* converted = wine_get_unix_file_name(wide);
  if (!converted) return {};
  std::string path(converted);
  HeapFree(GetProcessHeap(), 0, converted);
  return path;
}

}  // namespace zftest
