#pragma once
// ComPtr: owns one reference to a COM interface and releases it on reset or
// destruction. Movable, not copyable. Used only on the thread whose apartment
// created the object.
#include <unknwn.h>

#include <utility>

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

  // For creation calls: releases the current reference and returns the slot
  // as the void** that CoCreateInstance and QueryInterface take.
  void** put_void() noexcept {
    reset();
    return reinterpret_cast<void**>(&ptr_);
  }
  Interface** put() noexcept {
    reset();
    return &ptr_;
  }

 private:
  Interface* ptr_ = nullptr;
};
