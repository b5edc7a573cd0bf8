#pragma once
// COM's owners: ComPtr, one reference to a COM interface, released on reset
// or destruction (movable, not copyable; used only on the thread whose
// apartment created the object), and CoTaskMemory.
#include <objbase.h>

#include <utility>

#include "common/unique_handle.h"

// Memory the shell allocated with CoTaskMemAlloc (SHGetKnownFolderPath).
using CoTaskMemory = UniqueHandle<HandleTraits<void*, ::CoTaskMemFree>>;

template <typename Interface>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      reset();
      ptr_ = std::exchange(other.ptr_, nullptr);
    }
    return *this;
  }
  ~ComPtr() { reset(); }

  Interface* get() const noexcept { return ptr_; }
  Interface* operator->() const noexcept { return ptr_; }
  explicit operator bool() const noexcept { return ptr_ != nullptr; }

  void reset() noexcept {
    if (Interface* old = std::exchange(ptr_, nullptr)) old->Release();
  }

  // A new in-process object of class `clsid`, through this interface; empty
  // when it cannot be made.
  static ComPtr create(REFCLSID clsid) noexcept {
    ComPtr created;
    ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(Interface),
                       reinterpret_cast<void**>(created.put()));
    return created;
  }

  // The same object through interface `Other`; empty when it has none.
  template <typename Other>
  ComPtr<Other> query() const noexcept {
    ComPtr<Other> other;
    if (ptr_) ptr_->QueryInterface(__uuidof(Other), reinterpret_cast<void**>(other.put()));
    return other;
  }

  // For out-parameters: releases the current reference and returns the slot.
  Interface** put() noexcept {
    reset();
    return &ptr_;
  }

 private:
  Interface* ptr_ = nullptr;
};
