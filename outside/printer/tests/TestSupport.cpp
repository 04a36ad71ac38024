#include "TestSupport.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

#include "../../../client/Owners.h"
#include "../ExitModule.h"

extern char** environ;

namespace zf::printer::test {

TempFolder::TempFolder(const char* name) {
  char temp[MAX_PATH] = {};
  GetTempPathA(sizeof temp, temp);
  char unique[MAX_PATH] = {};
  GetTempFileNameA(temp, "zfp", 0, unique);  // reserves a unique name
  DeleteFileA(unique);
  CreateDirectoryA(unique, nullptr);
  base_ = path_ = unique;
  if (name) {
    path_ = base_ + "\\" + name;
    CreateDirectoryA(path_.c_str(), nullptr);
  }
}

TempFolder::~TempFolder() { zftest::RemoveTree(base_); }

long RunWin32(const std::string& commandLine, const std::string& outputFile) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  UniqueFile errors;
  if (!outputFile.empty()) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    errors.reset(CreateFileA(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!errors) return -1;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = errors.get();
    startup.hStdError = errors.get();
  }
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, errors ? TRUE : FALSE, 0, nullptr,
                      nullptr, &startup, &process)) {
    return -1;
  }
  UniqueHandle processHandle(process.hProcess);
  UniqueHandle threadHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  if (!GetExitCodeProcess(process.hProcess, &code)) return -1;
  return static_cast<long>(code);
}

int RunNative(const std::vector<std::string>& argv) {
  std::vector<std::string> args = argv;
  std::vector<char*> pointers;
  for (auto& arg : args) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, pointers[0], nullptr, nullptr, pointers.data(), environ) != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool FileExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool ReadString(HKEY root, const char* key, const char* value, std::string& text) {
  UniqueHKey opened;
  if (RegOpenKeyExA(root, key, 0, KEY_READ, opened.put()) != ERROR_SUCCESS) return false;
  char buffer[1024] = {};
  DWORD type = 0, size = sizeof buffer - 1;
  if (RegQueryValueExA(opened.get(), value, nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                       &size) != ERROR_SUCCESS ||
      type != REG_SZ) {
    return false;
  }
  text = buffer;
  return true;
}

void WriteString(HKEY root, const char* key, const char* value, const std::string& text) {
  UniqueHKey opened;
  if (RegCreateKeyExA(root, key, 0, nullptr, 0, KEY_WRITE, nullptr, opened.put(), nullptr) !=
      ERROR_SUCCESS) {
    return;
  }
  RegSetValueExA(opened.get(), value, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>(text.size() + 1));
}

void DeleteValue(HKEY root, const char* key, const char* value) {
  UniqueHKey opened;
  if (RegOpenKeyExA(root, key, 0, KEY_SET_VALUE, opened.put()) == ERROR_SUCCESS) {
    RegDeleteValueA(opened.get(), value);
  }
}

void SetExitModuleValue(const std::string& windowsPath) {
  WriteString(HKEY_LOCAL_MACHINE, kPrinterKey, kExitModuleValue, windowsPath);
}

void DeletePrinterKey() { RegDeleteKeyA(HKEY_LOCAL_MACHINE, kPrinterKey); }

std::string ReadExitModuleValue() {
  char path[MAX_PATH] = {};
  return ReadExitModulePath(path, sizeof path) ? path : "";
}

}  // namespace zf::printer::test
