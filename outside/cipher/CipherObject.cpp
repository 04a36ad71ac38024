#include "CipherObject.h"

#include <new>
#include <string>

#include "../../client/Owners.h"
#include "core/CipherCore.h"

namespace zfcipher {
namespace {

// The component works on UTF-8 inside; BSTRs are UTF-16 at its surface.
std::string Utf8(BSTR text) {
  const int length = static_cast<int>(SysStringLen(text));
  if (length == 0) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), size, nullptr, nullptr);
  return out;
}

HRESULT ToBstr(const std::string& utf8, BSTR* result) {
  const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                       nullptr, 0);
  zf::UniqueBstr out(SysAllocStringLen(nullptr, static_cast<UINT>(size)));
  ZF_RETURN_HR_IF(E_OUTOFMEMORY, !out);
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.get(), size);
  *result = out.release();
  return S_OK;
}

constexpr DISPID kEncipherId = 1;
constexpr DISPID kDecipherId = 2;

}  // namespace

CipherObject::CipherObject() { ModuleAddRef(); }
CipherObject::~CipherObject() { ModuleRelease(); }

// IUnknown

HRESULT CipherObject::QueryInterface(REFIID riid, void** object) {
  ZF_RETURN_HR_IF(E_POINTER, !object);
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
      IsEqualIID(riid, IID_IZentrafoldCipher)) {
    *object = static_cast<IZentrafoldCipher*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG CipherObject::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }

ULONG CipherObject::Release() {
  const LONG left = InterlockedDecrement(&refs_);
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

// IDispatch

HRESULT CipherObject::GetTypeInfoCount(UINT* count) {
  ZF_RETURN_HR_IF(E_POINTER, !count);
  *count = 0;
  return S_OK;
}

HRESULT CipherObject::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info) *info = nullptr;
  return DISP_E_BADINDEX;
}

HRESULT CipherObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  ZF_RETURN_HR_IF(E_POINTER, !names || !ids);
  HRESULT hr = S_OK;
  for (UINT i = 0; i < count; ++i) {
    if (i == 0 && lstrcmpiW(names[i], L"EncipherText") == 0) {
      ids[i] = kEncipherId;
    } else if (i == 0 && lstrcmpiW(names[i], L"DecipherText") == 0) {
      ids[i] = kDecipherId;
    } else {
      ids[i] = DISPID_UNKNOWN;
      hr = DISP_E_UNKNOWNNAME;
    }
  }
  return hr;
}

HRESULT CipherObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                             VARIANT* result, EXCEPINFO*, UINT* argError) {
  ZF_RETURN_HR_IF(DISP_E_MEMBERNOTFOUND, id != kEncipherId && id != kDecipherId);
  ZF_RETURN_HR_IF(DISP_E_MEMBERNOTFOUND, !(flags & DISPATCH_METHOD));
  ZF_RETURN_HR_IF(E_INVALIDARG, !params);
  ZF_RETURN_HR_IF(DISP_E_BADPARAMCOUNT, params->cArgs != 2);
  ZF_RETURN_HR_IF(DISP_E_NONAMEDARGS, params->cNamedArgs != 0);
  // Arguments arrive last first.
  VARIANT text, key;
  VariantInit(&text);
  VariantInit(&key);
  HRESULT hr = VariantChangeType(&text, &params->rgvarg[1], 0, VT_BSTR);
  if (FAILED(hr)) {
    if (argError) *argError = 0;
    return DISP_E_TYPEMISMATCH;
  }
  hr = VariantChangeType(&key, &params->rgvarg[0], 0, VT_BSTR);
  if (FAILED(hr)) {
    VariantClear(&text);
    if (argError) *argError = 1;
    return DISP_E_TYPEMISMATCH;
  }
  BSTR out = nullptr;
  hr = id == kEncipherId ? EncipherText(V_BSTR(&text), V_BSTR(&key), &out)
                         : DecipherText(V_BSTR(&text), V_BSTR(&key), &out);
  VariantClear(&text);
  VariantClear(&key);
  if (FAILED(hr)) return hr;
  if (result) {
    VariantInit(result);
    V_VT(result) = VT_BSTR;
    V_BSTR(result) = out;
  } else {
    SysFreeString(out);
  }
  return S_OK;
}

// IZentrafoldCipher

HRESULT CipherObject::EncipherText(BSTR text, BSTR key, BSTR* result) {
  ZF_RETURN_HR_IF(E_POINTER, !result);
  *result = nullptr;
  try {
    return ToBstr(zfcipher::Encipher(Utf8(text), Utf8(key)), result);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT CipherObject::DecipherText(BSTR text, BSTR key, BSTR* result) {
  ZF_RETURN_HR_IF(E_POINTER, !result);
  *result = nullptr;
  try {
    const auto plain = zfcipher::Decipher(Utf8(text), Utf8(key));
    // Tampered text, another key's text or text that is not base64.
    ZF_RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_INVALID_DATA), !plain);
    return ToBstr(*plain, result);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

}  // namespace zfcipher
