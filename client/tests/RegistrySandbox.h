#pragma once
// Scratch state for client tests: the settings values a test touches are reset
// before each case and removed after it; the cipher's registration can be taken
// away for one case and is put back afterwards.
#include <windows.h>

#include <string>

#include "Owners.h"
#include "Settings.h"

namespace zftest {

inline void DeleteSettingsValue(const char* name) {
  zf::UniqueHKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, zf::kSettingsKey, 0, KEY_ALL_ACCESS, key.put()) ==
      ERROR_SUCCESS)
    RegDeleteValueA(key.get(), name);
}

inline LSTATUS SetSettingsValue(const char* name, DWORD type, const void* data, DWORD size) {
  zf::UniqueHKey key;
  const LSTATUS status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, zf::kSettingsKey, 0, nullptr, 0,
                                         KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
  if (status != ERROR_SUCCESS) return status;
  return RegSetValueExA(key.get(), name, 0, type, static_cast<const BYTE*>(data), size);
}

inline LSTATUS SetSettingsString(const char* name, const std::string& value) {
  return SetSettingsValue(name, REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1));
}

class SettingsSandbox {
 public:
  explicit SettingsSandbox(const std::string& serviceHost = "127.0.0.1:9") {
    Clear();
    SetSettingsString("ServiceHost", serviceHost);
  }
  ~SettingsSandbox() { Clear(); }
  void PointAt(const std::string& serviceHost) { SetSettingsString("ServiceHost", serviceHost); }

 private:
  static void Clear() {
    for (const char* name : {"ServiceHost", "UserAccount", "DefaultPrinter"})
      DeleteSettingsValue(name);
  }
};

// Takes the cipher component's class registration away until destroyed.
class CipherUnregistered {
 public:
  CipherUnregistered() {
    zf::UniqueHKey key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, kServerKey, 0, KEY_READ, key.put()) == ERROR_SUCCESS) {
      char path[MAX_PATH] = {};
      DWORD size = sizeof path;
      RegQueryValueExA(key.get(), nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(path), &size);
      path_ = path;
    }
    key.reset();
    RegDeleteTreeA(HKEY_CLASSES_ROOT, kClassKey);
  }
  ~CipherUnregistered() {
    zf::UniqueHKey key;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, kServerKey, 0, nullptr, 0, KEY_WRITE, nullptr,
                        key.put(), nullptr) != ERROR_SUCCESS)
      return;
    RegSetValueExA(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path_.c_str()),
                   static_cast<DWORD>(path_.size() + 1));
    RegSetValueExA(key.get(), "ThreadingModel", 0, REG_SZ,
                   reinterpret_cast<const BYTE*>("Both"), 5);
  }
  bool HadRegistration() const { return !path_.empty(); }

 private:
  static constexpr const char* kClassKey = "CLSID\\{EB4B6F34-A783-45CB-BEE1-8A50357D7EC3}";
  static constexpr const char* kServerKey =
      "CLSID\\{EB4B6F34-A783-45CB-BEE1-8A50357D7EC3}\\InprocServer32";
  std::string path_;
};

}  // namespace zftest
