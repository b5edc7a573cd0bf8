#pragma once
// UniqueHandle: the one owning wrapper for every kind of system handle.
//
// A traits type names the handle type (Type), its invalid value (Invalid())
// and how to close it (Close(h)); HandleTraits makes one from a close function
// and an invalid value (null unless named). Each API's header declares its
// handle kinds, one line each (common/win_handles.h and its siblings):
//
//   using FileHandle = UniqueHandle<HandleTraits<HANDLE, ::CloseHandle, &InvalidHandleValue>>;
//
// The wrapper is movable, not copyable, and closes a valid handle exactly once
// when it is reset or destroyed. Usable on any thread; not synchronised.
#include <utility>

template <typename T>
constexpr T NullHandleValue() noexcept {
  return nullptr;
}

template <typename T, auto CloseFunction, T (*InvalidValue)() noexcept = &NullHandleValue<T>>
struct HandleTraits {
  using Type = T;
  static Type Invalid() noexcept { return InvalidValue(); }
  static void Close(Type handle) noexcept { CloseFunction(handle); }
};

template <typename Traits>
class UniqueHandle {
 public:
  using Type = typename Traits::Type;

  UniqueHandle() noexcept : handle_(Traits::Invalid()) {}
  explicit UniqueHandle(Type handle) noexcept : handle_(handle) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~UniqueHandle() { reset(); }

  Type get() const noexcept { return handle_; }
  bool valid() const noexcept { return handle_ != Traits::Invalid(); }
  explicit operator bool() const noexcept { return valid(); }

  // Gives up ownership without closing.
  Type release() noexcept { return std::exchange(handle_, Traits::Invalid()); }

  // Closes the current handle (if valid) and takes ownership of `handle`.
  void reset(Type handle = Traits::Invalid()) noexcept {
    Type old = std::exchange(handle_, handle);
    if (old != Traits::Invalid()) Traits::Close(old);
  }

  // For out-parameters: closes the current handle and returns its address.
  Type* put() noexcept {
    reset();
    return &handle_;
  }

 private:
  Type handle_;
};
