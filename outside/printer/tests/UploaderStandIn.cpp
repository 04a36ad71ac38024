// Installed as "ZentrafoldUpload.exe" by the install test: started with a
// document path, as the exit module starts the uploader, it writes its own
// module path and command line into DOCUMENT.started.
#include <windows.h>

#include <string>

#include "../../../client/Owners.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
  std::string document = commandLine;
  if (document.size() >= 2 && document.front() == '"' && document.back() == '"') {
    document = document.substr(1, document.size() - 2);
  }
  char module[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, module, sizeof module);
  const std::string text = std::string(module) + "\n" + GetCommandLineA() + "\n";
  zf::UniqueFile file(CreateFileA((document + ".started").c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return 1;
  DWORD written = 0;
  WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  return 0;
}
