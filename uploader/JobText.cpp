#include "JobText.h"

namespace zf {

std::string ToTextMode(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::string FromTextMode(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
    out += bytes[i];
  }
  return out;
}

std::string CleanJobField(std::string_view text, size_t limit) {
  std::string out;
  out.reserve(text.size() < limit ? text.size() : limit);
  for (size_t i = 0; i < text.size() && out.size() < limit; ++i) {
    const char c = text[i];
    if (c == '\0') break;  // the field ends there, as in the dialog's text buffers
    if (c == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += '\n';
    } else if (c == '\t') {
      out += ' ';
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace zf
