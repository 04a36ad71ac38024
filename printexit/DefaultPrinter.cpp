#include "DefaultPrinter.h"

#include <windows.h>

#include "../client/Owners.h"
#include "SettingsValue.h"

namespace pagetrap {
namespace {

using SetDefaultPrinterFn = BOOL(WINAPI*)(const char* printer);

// SetDefaultPrinterA, taken by its ordinal in the spooler library.
constexpr WORD kSetDefaultPrinterOrdinal = 202;

void SetDefaultByOrdinal(const char* printer) {
  // The spooler library stays loaded: unloading it in a printing process gains nothing.
  const HMODULE spooler = LoadLibraryA("winspool.drv");
  if (!spooler) return;
  const auto set = reinterpret_cast<SetDefaultPrinterFn>(reinterpret_cast<void*>(
      GetProcAddress(spooler, MAKEINTRESOURCEA(kSetDefaultPrinterOrdinal))));
  if (set) set(printer);
}

}  // namespace

void RestoreDefaultPrinter() {
  zf::UniqueHKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_ALL_ACCESS, key.put()) !=
      ERROR_SUCCESS)
    return;
  // Without the value the spooler gets an empty name, which keeps (or picks) a default.
  const std::string printer = ReadText(key.get(), kDefaultPrinterValue).value_or("");
  SetDefaultByOrdinal(printer.c_str());
  RegDeleteValueA(key.get(), kDefaultPrinterValue);
}

}  // namespace pagetrap
