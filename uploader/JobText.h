#pragma once
// The job file's text: the runtime library's text mode done by hand (this
// toolchain has no Windows runtime, and the file is read and written with
// Win32 file I/O), and the cleaning of user text so it fits the format.
#include <string>
#include <string_view>

namespace zf {

// Writing in text mode: each LF becomes CR LF.
std::string ToTextMode(std::string_view text);

// Reading in text mode: each CR LF becomes LF; a CR not followed by LF stays.
std::string FromTextMode(std::string_view bytes);

// One job field as the writer stores it: line breaks (CR LF, lone CR) become LF
// and TABs become blanks, so no field holds the CR separator (nor a TAB, which
// separates a request's command code from its arguments); a NUL ends the
// text; then cut at limit.
std::string CleanJobField(std::string_view text, size_t limit);

}  // namespace zf
