#include "ExitModule.h"

namespace zf::printer {
namespace {

template <typename Function>
bool Bind(HMODULE module, const char* name, Function& function) {
  function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return function != nullptr;
}

}  // namespace

bool ReadExitModulePath(char* path, DWORD size) {
  UniqueHKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPrinterKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
    return false;
  }
  DWORD type = 0;
  DWORD bytes = size - 1;  // room for a terminator the value may lack
  if (RegQueryValueExA(key.get(), kExitModuleValue, nullptr, &type,
                       reinterpret_cast<BYTE*>(path), &bytes) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ)) {
    return false;
  }
  path[bytes] = '\0';
  return path[0] != '\0';
}

bool ExitModule::Load(const char* path, const char*& missing) {
  module_.reset(LoadLibraryA(path));
  missing = path;
  if (!module_) return false;
  HMODULE module = module_.get();
  if (!Bind(module, missing = "startDocExit", startDoc_)) return false;
  if (!Bind(module, missing = "startPageExit", startPage_)) return false;
  if (!Bind(module, missing = "endPageExit", endPage_)) return false;
  if (!Bind(module, missing = "endDocExit", endDoc_)) return false;
  missing = nullptr;
  return true;
}

}  // namespace zf::printer
