#pragma once
// The product's settings under HKEY_LOCAL_MACHINE.
#include <windows.h>

#include <optional>
#include <string>

namespace zf {

extern const char* const kSettingsKey;       // "Software\\Orvane Software\\Zentrafold"
extern const char* const kProductionHost;    // compiled-in service host

// A REG_SZ value under the settings key, or nothing when the key or value is missing.
std::optional<std::string> ReadSettingsString(const char* valueName);

// The service host ("host" or "host:port"): "ServiceHost" when set, else production.
std::string ServiceHost();
// "http://" + service host + "/Service.asmx".
std::string ProductionEndpoint();

}  // namespace zf
