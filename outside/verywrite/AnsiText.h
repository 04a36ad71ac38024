#pragma once
// The library's strings are Windows-1252; PDF text strings are made from UTF-8.
#include <string>

namespace verywrite {

// Null gives an empty string.
std::string Utf8FromWindows1252(const char* text);

}  // namespace verywrite
