#pragma once
// RAII owners for Win32 handles, registry keys, BSTRs and COM pointers, and a few
// HRESULT helpers. Header-only: every Win32 module of the project uses it.
#include <windows.h>
#include <oleauto.h>

#include <utility>

namespace zf {

// A generic unique owner: Traits gives the null value and how to free it.
template <typename Traits>
class UniqueOwner {
 public:
  using Type = typename Traits::Type;
  UniqueOwner() = default;
  explicit UniqueOwner(Type value) : value_(value) {}
  UniqueOwner(const UniqueOwner&) = delete;
  UniqueOwner& operator=(const UniqueOwner&) = delete;
  UniqueOwner(UniqueOwner&& other) noexcept : value_(other.release()) {}
  UniqueOwner& operator=(UniqueOwner&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~UniqueOwner() { reset(); }

  Type get() const { return value_; }
  explicit operator bool() const { return Traits::Valid(value_); }
  // For out-parameters: frees what is held and hands out the slot.
  Type* put() {
    reset();
    return &value_;
  }
  Type release() { return std::exchange(value_, Traits::Null()); }
  void reset(Type value = Traits::Null()) {
    if (Traits::Valid(value_)) Traits::Free(value_);
    value_ = value;
  }

 private:
  Type value_ = Traits::Null();
};

struct HandleTraits {  // CreateFile and friends: INVALID_HANDLE_VALUE means none
  using Type = HANDLE;
  static Type Null() { return INVALID_HANDLE_VALUE; }
  static bool Valid(Type h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
  static void Free(Type h) { CloseHandle(h); }
};
struct NullHandleTraits {  // threads, processes, events: NULL means none
  using Type = HANDLE;
  static Type Null() { return nullptr; }
  static bool Valid(Type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Free(Type h) { CloseHandle(h); }
};
struct HKeyTraits {
  using Type = HKEY;
  static Type Null() { return nullptr; }
  static bool Valid(Type h) { return h != nullptr; }
  static void Free(Type h) { RegCloseKey(h); }
};
struct BstrTraits {
  using Type = BSTR;
  static Type Null() { return nullptr; }
  static bool Valid(Type b) { return b != nullptr; }
  static void Free(Type b) { SysFreeString(b); }
};
struct ModuleTraits {
  using Type = HMODULE;
  static Type Null() { return nullptr; }
  static bool Valid(Type h) { return h != nullptr; }
  static void Free(Type h) { FreeLibrary(h); }
};
struct GdiTraits {
  using Type = HGDIOBJ;
  static Type Null() { return nullptr; }
  static bool Valid(Type h) { return h != nullptr; }
  static void Free(Type h) { DeleteObject(h); }
};

using UniqueFile = UniqueOwner<HandleTraits>;
using UniqueHandle = UniqueOwner<NullHandleTraits>;
using UniqueHKey = UniqueOwner<HKeyTraits>;
using UniqueBstr = UniqueOwner<BstrTraits>;
using UniqueModule = UniqueOwner<ModuleTraits>;
using UniqueGdiObject = UniqueOwner<GdiTraits>;

// A COM pointer that owns one reference.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(const ComPtr& other) : p_(other.p_) {
    if (p_) p_->AddRef();
  }
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~ComPtr() { reset(); }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  T** put() {
    reset();
    return &p_;
  }
  void** put_void() { return reinterpret_cast<void**>(put()); }
  void reset() {
    if (p_) std::exchange(p_, nullptr)->Release();
  }
  // Takes over a reference the caller already owns.
  void attach(T* p) {
    reset();
    p_ = p;
  }

 private:
  T* p_ = nullptr;
};

// A process-wide (or module-wide) COM apartment for the calling thread.
class ComApartment {
 public:
  ComApartment() : hr_(CoInitialize(nullptr)) {}
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  HRESULT result() const { return hr_; }

 private:
  HRESULT hr_;
};

}  // namespace zf

#define ZF_RETURN_IF_FAILED(expr)          \
  do {                                     \
    const HRESULT zf_hr_ = (expr);         \
    if (FAILED(zf_hr_)) return zf_hr_;     \
  } while (0)

#define ZF_RETURN_HR_IF(hr, condition)     \
  do {                                     \
    if (condition) return (hr);            \
  } while (0)

#define ZF_RETURN_IF_WIN32_FALSE(expr)                       \
  do {                                                       \
    if (!(expr)) return HRESULT_FROM_WIN32(GetLastError());  \
  } while (0)
