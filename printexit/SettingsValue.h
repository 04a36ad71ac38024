#pragma once
// The product's settings key under HKEY_LOCAL_MACHINE.
#include <windows.h>

#include <optional>
#include <string>

namespace pagetrap {

inline constexpr char kSettingsKey[] = "Software\\Orvane Software\\Zentrafold";
inline constexpr char kDefaultPrinterValue[] = "DefaultPrinter";
inline constexpr char kModuleLocationValue[] = "ModuleLocation";

// A text value read from an open key into a 260-byte buffer (so at most 259
// characters); nothing when it is missing, too long or not text.
std::optional<std::string> ReadText(HKEY key, const char* name);

// "ModuleLocation" (the folder of the uploader and the conversion library).
std::optional<std::string> ReadModuleLocation();

// folder + "\" + name, without doubling a trailing backslash.
std::string JoinPath(const std::string& folder, const char* name);

}  // namespace pagetrap
