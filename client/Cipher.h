#pragma once
// Binding of the outside cipher component. Texts are narrow strings in the ANSI
// code page; they become BSTRs only for the call.
#include <string>

namespace zf {

// Compiled into the toolbar and the upload program alike.
extern const char* const kSharedKey;

// True when result was filled. A new component instance serves each call.
bool EncipherText(std::string text, std::string key, std::string& result);
bool DecipherText(std::string text, std::string key, std::string& result);

}  // namespace zf
