// One small move-only owner for every kind of platform handle. A Traits type names the handle
// type, its empty value and how to release it; the Win32 adapters define one per handle kind.
#pragma once

#include <utility>

namespace stormtally {

template <typename Traits>
class UniqueHandle {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandle() = default;
  explicit UniqueHandle(Handle handle) : handle_(handle) {}
  ~UniqueHandle() { reset(); }

  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  Handle get() const { return handle_; }
  explicit operator bool() const { return Traits::isValid(handle_); }

  Handle release() { return std::exchange(handle_, Traits::empty()); }
  void reset(Handle handle = Traits::empty()) {
    Handle old = std::exchange(handle_, handle);
    if (Traits::isValid(old)) Traits::close(old);
  }

 private:
  Handle handle_ = Traits::empty();
};

}  // namespace stormtally
