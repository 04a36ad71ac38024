#include "Settings.h"

#include <vector>

#include "Owners.h"

namespace zf {

const char* const kSettingsKey = "Software\\Orvane Software\\Zentrafold";
const char* const kProductionHost = "services.zentrafold.com";

std::optional<std::string> ReadSettingsString(const char* valueName) {
  UniqueHKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS)
    return std::nullopt;
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key.get(), valueName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ))
    return std::nullopt;
  std::vector<char> data(size + 1, '\0');
  if (RegQueryValueExA(key.get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                       &size) != ERROR_SUCCESS)
    return std::nullopt;
  return std::string(data.data());
}

std::string ServiceHost() {
  auto host = ReadSettingsString("ServiceHost");
  return host && !host->empty() ? *host : kProductionHost;
}

std::string ProductionEndpoint() { return "http://" + ServiceHost() + "/Service.asmx"; }

}  // namespace zf
