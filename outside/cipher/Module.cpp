// Module entry points of the cipher component: class factory and registration.
#include <windows.h>
#include <olectl.h>

#include <string>

#include "../../client/Owners.h"
#include "CipherObject.h"

namespace zfcipher {
namespace {

HINSTANCE g_module = nullptr;
LONG g_moduleRefs = 0;

class ClassFactory final : public IClassFactory {
 public:
  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    ZF_RETURN_HR_IF(E_POINTER, !object);
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *object = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  // The factory is static; its references only keep the module loaded.
  ULONG STDMETHODCALLTYPE AddRef() override {
    ModuleAddRef();
    return 2;
  }
  ULONG STDMETHODCALLTYPE Release() override {
    ModuleRelease();
    return 1;
  }

  // IClassFactory
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    ZF_RETURN_HR_IF(E_POINTER, !object);
    *object = nullptr;
    ZF_RETURN_HR_IF(CLASS_E_NOAGGREGATION, outer != nullptr);
    auto* cipher = new (std::nothrow) CipherObject();
    ZF_RETURN_HR_IF(E_OUTOFMEMORY, !cipher);
    const HRESULT hr = cipher->QueryInterface(riid, object);
    cipher->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    lock ? ModuleAddRef() : ModuleRelease();
    return S_OK;
  }
};

ClassFactory g_factory;

// Narrow strings only: std::wstring does not work with Winelib's 16-bit wchar_t.
const char* const kClsidKey = "CLSID\\{EB4B6F34-A783-45CB-BEE1-8A50357D7EC3}";

LSTATUS SetString(HKEY key, const char* name, const std::string& value) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>(value.size() + 1));
}

}  // namespace

void ModuleAddRef() { InterlockedIncrement(&g_moduleRefs); }
void ModuleRelease() { InterlockedDecrement(&g_moduleRefs); }

}  // namespace zfcipher

using namespace zfcipher;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
  ZF_RETURN_HR_IF(E_POINTER, !object);
  *object = nullptr;
  ZF_RETURN_HR_IF(CLASS_E_CLASSNOTAVAILABLE, !IsEqualCLSID(clsid, CLSID_ZentrafoldCipher));
  return g_factory.QueryInterface(riid, object);
}

extern "C" HRESULT WINAPI DllCanUnloadNow() { return g_moduleRefs == 0 ? S_OK : S_FALSE; }

extern "C" HRESULT WINAPI DllRegisterServer() {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(g_module, path, MAX_PATH);
  ZF_RETURN_HR_IF(SELFREG_E_CLASS, length == 0 || length >= MAX_PATH);

  zf::UniqueHKey classKey;
  ZF_RETURN_HR_IF(SELFREG_E_CLASS,
                  RegCreateKeyExA(HKEY_CLASSES_ROOT, kClsidKey, 0, nullptr, 0,
                                  KEY_WRITE, nullptr, classKey.put(), nullptr) != ERROR_SUCCESS);
  SetString(classKey.get(), nullptr, "Zentrafold request cipher");
  zf::UniqueHKey serverKey;
  ZF_RETURN_HR_IF(SELFREG_E_CLASS,
                  RegCreateKeyExA(classKey.get(), "InprocServer32", 0, nullptr, 0, KEY_WRITE,
                                  nullptr, serverKey.put(), nullptr) != ERROR_SUCCESS);
  ZF_RETURN_HR_IF(SELFREG_E_CLASS, SetString(serverKey.get(), nullptr, path) != ERROR_SUCCESS);
  ZF_RETURN_HR_IF(SELFREG_E_CLASS,
                  SetString(serverKey.get(), "ThreadingModel", "Both") != ERROR_SUCCESS);
  return S_OK;
}

extern "C" HRESULT WINAPI DllUnregisterServer() {
  const LSTATUS status = RegDeleteTreeA(HKEY_CLASSES_ROOT, kClsidKey);
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND ? S_OK : SELFREG_E_CLASS;
}
