// A recording stand-in for the printer's exit module: each call appends a line
// to the file named by ZF_FAKE_EXIT_LOG, each band's bytes go to the file named
// by ZF_FAKE_EXIT_BANDS, and ZF_FAKE_EXIT_FAIL=NAME:N makes the N-th call of
// NAME return -2.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "../../../client/Owners.h"

namespace {

LONG callCounts[4];
enum Call { kStartDoc, kStartPage, kEndPage, kEndDoc };
const char* const kCallNames[] = {"startDocExit", "startPageExit", "endPageExit", "endDocExit"};

void AppendTo(const char* variable, const void* data, DWORD size) {
  char path[MAX_PATH];
  const DWORD length = GetEnvironmentVariableA(variable, path, sizeof path);
  if (length == 0 || length >= sizeof path) return;
  zf::UniqueFile file(CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  DWORD written = 0;
  WriteFile(file.get(), data, size, &written, nullptr);
}

void Log(const char* line) {
  AppendTo("ZF_FAKE_EXIT_LOG", line, static_cast<DWORD>(std::strlen(line)));
  AppendTo("ZF_FAKE_EXIT_LOG", "\n", 1);
}

short Result(Call call) {
  const LONG count = InterlockedIncrement(&callCounts[call]);
  char failAt[64];
  const DWORD length = GetEnvironmentVariableA("ZF_FAKE_EXIT_FAIL", failAt, sizeof failAt);
  if (length == 0 || length >= sizeof failAt) return 0;
  char expected[64];
  std::snprintf(expected, sizeof expected, "%s:%ld", kCallNames[call], static_cast<long>(count));
  return std::strcmp(failAt, expected) == 0 ? -2 : 0;
}

unsigned Fnv1a(const unsigned char* bytes, size_t size) {
  unsigned hash = 2166136261u;
  for (size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 16777619u;
  return hash;
}

short Simple(Call call) {
  Log(kCallNames[call]);
  return Result(call);
}

}  // namespace

extern "C" {

short WINAPI startDocExit() { return Simple(kStartDoc); }

short WINAPI startPageExit() { return Simple(kStartPage); }

short WINAPI endPageExit(void* bits, int rows, int width, int type, int resolution, int more) {
  size_t stride = 0;
  if (type == 1) stride = static_cast<size_t>(width) / 8;
  if (type == 5) stride = (static_cast<size_t>(width) * 3 + 3) / 4 * 4;
  const size_t size = rows > 0 ? stride * static_cast<size_t>(rows) : 0;
  const auto* bytes = static_cast<const unsigned char*>(bits);
  char line[256];
  std::snprintf(line, sizeof line,
                "endPageExit rows=%d width=%d type=%d resolution=%d more=%d stride=%u sum=%08x",
                rows, width, type, resolution, more, static_cast<unsigned>(stride),
                Fnv1a(bytes, size));
  Log(line);
  AppendTo("ZF_FAKE_EXIT_BANDS", bytes, static_cast<DWORD>(size));
  return Result(kEndPage);
}

short WINAPI endDocExit() { return Simple(kEndDoc); }

}  // extern "C"
