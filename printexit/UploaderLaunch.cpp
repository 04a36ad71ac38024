#include "UploaderLaunch.h"

#include <windows.h>
#include <shlwapi.h>

#include <vector>

#include "../client/Owners.h"
#include "SettingsValue.h"

namespace pagetrap {

std::string UploaderCommandLine(const std::string& program, const std::string& pdf) {
  return "\"" + program + "\" \"" + pdf + "\"";
}

void StartUploader(const std::string& pdf) {
  const auto folder = ReadModuleLocation();
  if (!folder) return;
  char program[MAX_PATH] = {};
  lstrcpynA(program, folder->c_str(), MAX_PATH);
  if (!PathAppendA(program, "ZentrafoldUpload.exe")) return;

  // CreateProcessA may write into the command line, so it gets a buffer of its own.
  const std::string text = UploaderCommandLine(program, pdf);
  std::vector<char> commandLine(text.begin(), text.end());
  commandLine.push_back('\0');
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started = {};
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &started))
    return;
  zf::UniqueHandle process(started.hProcess);
  zf::UniqueHandle thread(started.hThread);
}

}  // namespace pagetrap
