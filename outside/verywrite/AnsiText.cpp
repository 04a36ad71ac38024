#include "AnsiText.h"

#include <windows.h>

#include <vector>

namespace verywrite {

std::string Utf8FromWindows1252(const char* text) {
  if (!text || !*text) return {};
  const int units = MultiByteToWideChar(1252, 0, text, -1, nullptr, 0);
  if (units <= 0) return {};
  std::vector<WCHAR> wide(static_cast<std::size_t>(units));
  MultiByteToWideChar(1252, 0, text, -1, wide.data(), units);
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string utf8(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), -1, utf8.data(), bytes, nullptr, nullptr);
  utf8.pop_back();  // the terminating zero
  return utf8;
}

}  // namespace verywrite
