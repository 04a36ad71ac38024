#pragma once
// The cipher component's class and its dual interface.
#include <windows.h>
#include <oaidl.h>

// {EB4B6F34-A783-45CB-BEE1-8A50357D7EC3}
inline constexpr CLSID CLSID_ZentrafoldCipher = {
    0xEB4B6F34, 0xA783, 0x45CB, {0xBE, 0xE1, 0x8A, 0x50, 0x35, 0x7D, 0x7E, 0xC3}};
// {87DC577C-1871-4BF1-BF08-0FA32453DDE2}
inline constexpr IID IID_IZentrafoldCipher = {
    0x87DC577C, 0x1871, 0x4BF1, {0xBF, 0x08, 0x0F, 0xA3, 0x24, 0x53, 0xDD, 0xE2}};

struct IZentrafoldCipher : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE EncipherText(BSTR text, BSTR key, BSTR* result) = 0;
  virtual HRESULT STDMETHODCALLTYPE DecipherText(BSTR text, BSTR key, BSTR* result) = 0;
};
