#include "Cipher.h"

#include <windows.h>

#include <new>

#include "Owners.h"

namespace zf {

const char* const kSharedKey = "Qx7vTn2LpW9rBz4HcM6sKd1YfJ8gUe3A";

namespace {

// {EB4B6F34-A783-45CB-BEE1-8A50357D7EC3}
constexpr CLSID kCipherClsid = {
    0xEB4B6F34, 0xA783, 0x45CB, {0xBE, 0xE1, 0x8A, 0x50, 0x35, 0x7D, 0x7E, 0xC3}};
// {87DC577C-1871-4BF1-BF08-0FA32453DDE2}
constexpr IID kCipherIid = {
    0x87DC577C, 0x1871, 0x4BF1, {0xBF, 0x08, 0x0F, 0xA3, 0x24, 0x53, 0xDD, 0xE2}};

struct ICipher : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE EncipherText(BSTR text, BSTR key, BSTR* result) = 0;
  virtual HRESULT STDMETHODCALLTYPE DecipherText(BSTR text, BSTR key, BSTR* result) = 0;
};

using Method = HRESULT (STDMETHODCALLTYPE ICipher::*)(BSTR, BSTR, BSTR*);

UniqueBstr ToBstr(const std::string& text) {
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0);
  UniqueBstr out(SysAllocStringLen(nullptr, static_cast<UINT>(length)));
  if (!out) throw std::bad_alloc();
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.get(), length);
  return out;
}

std::string ToNarrow(BSTR text) {
  // The BSTR's length plus its terminator, so an empty result converts too.
  const int length = static_cast<int>(SysStringLen(text)) + 1;
  const int size =
      WideCharToMultiByte(CP_THREAD_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) throw std::bad_alloc();
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_THREAD_ACP, 0, text, length, out.data(), size, nullptr, nullptr);
  out.resize(static_cast<size_t>(size) - 1);
  return out;
}

bool Call(Method method, const std::string& text, const std::string& key, std::string& result) {
  ComPtr<ICipher> cipher;
  if (FAILED(CoCreateInstance(kCipherClsid, nullptr, CLSCTX_INPROC_SERVER, kCipherIid,
                              cipher.put_void())) ||
      !cipher)
    return false;
  try {
    UniqueBstr textBstr = ToBstr(text);
    UniqueBstr keyBstr = ToBstr(key);
    UniqueBstr out;
    if (FAILED((cipher.get()->*method)(textBstr.get(), keyBstr.get(), out.put()))) return false;
    if (!out) return false;
    result = ToNarrow(out.get());
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace

bool EncipherText(std::string text, std::string key, std::string& result) {
  return Call(&ICipher::EncipherText, text, key, result);
}

bool DecipherText(std::string text, std::string key, std::string& result) {
  return Call(&ICipher::DecipherText, text, key, result);
}

}  // namespace zf
