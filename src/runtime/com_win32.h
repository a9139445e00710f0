#pragma once
// Small owners for COM references, BSTRs, VARIANTs and a thread's COM
// initialisation, so every reference the Windows layer takes is released on
// every path.

#include <oleauto.h>
#include <unknwn.h>
#include <windows.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include "runtime/support_win32.h"

namespace zandrel::win32 {

// One counted reference to a COM interface.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  ComPtr(const ComPtr& other) : p_(other.p_) {
    if (p_) p_->AddRef();
  }
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~ComPtr() { reset(); }

  // Takes over a reference the caller already owns.
  static ComPtr adopt(T* p) {
    ComPtr r;
    r.p_ = p;
    return r;
  }
  // Adds a reference of its own.
  static ComPtr share(T* p) {
    if (p) p->AddRef();
    return adopt(p);
  }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

  // For out-parameters: releases what is held and hands out the slot.
  T** put() {
    reset();
    return &p_;
  }
  void** putVoid() { return reinterpret_cast<void**>(put()); }

  void reset() {
    if (p_) std::exchange(p_, nullptr)->Release();
  }
  // Hands the reference to the caller (for out-parameters of our own objects).
  T* detach() { return std::exchange(p_, nullptr); }

  template <class U>
  ComPtr<U> query(REFIID iid) const {
    ComPtr<U> r;
    if (p_) p_->QueryInterface(iid, r.putVoid());
    return r;
  }
  template <class U>
  ComPtr<U> query() const {
    return query<U>(__uuidof(U));
  }

 private:
  T* p_ = nullptr;
};

// An owned BSTR.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(std::string_view utf8) {
    const std::wstring wide = widen(utf8);
    s_ = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(s_); }

  BSTR get() const { return s_; }
  BSTR* put() {
    SysFreeString(std::exchange(s_, nullptr));
    return &s_;
  }
  std::string utf8() const { return s_ ? narrow(std::wstring_view(s_, SysStringLen(s_))) : ""; }

 private:
  BSTR s_ = nullptr;
};

// An owned VARIANT, cleared on destruction.
class Variant {
 public:
  Variant() { VariantInit(&v_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  ~Variant() { VariantClear(&v_); }

  VARIANT* get() { return &v_; }
  const VARIANT& operator*() const { return v_; }
  const VARIANT* operator->() const { return &v_; }
  void clear() { VariantClear(&v_); }

 private:
  VARIANT v_;
};

}  // namespace zandrel::win32
