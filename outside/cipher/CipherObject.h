#pragma once
#include "CipherInterface.h"

namespace zfcipher {

// Module-wide count of live objects and locks, for DllCanUnloadNow.
void ModuleAddRef();
void ModuleRelease();

class CipherObject final : public IZentrafoldCipher {
 public:
  CipherObject();
  CipherObject(const CipherObject&) = delete;
  CipherObject& operator=(const CipherObject&) = delete;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IDispatch (late binding by name: "EncipherText" = 1, "DecipherText" = 2)
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags,
                                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                   UINT* argError) override;

  // IZentrafoldCipher
  HRESULT STDMETHODCALLTYPE EncipherText(BSTR text, BSTR key, BSTR* result) override;
  HRESULT STDMETHODCALLTYPE DecipherText(BSTR text, BSTR key, BSTR* result) override;

 private:
  ~CipherObject();
  LONG refs_ = 1;
};

}  // namespace zfcipher
