// What every platform call that can fail gives back: its value, or the
// system's error code of the call that failed, taken at the moment it failed.
#pragma once

#include <cstdint>
#include <utility>

namespace torquelin {

namespace platform {

// A failed call's error code (errno on POSIX), to build a failed Result from.
struct Failure {
  uint32_t code;
};

// A value or a failure, never both. Tested with `if (result)` or ok(); the
// value may be read only after success, the code only after a failure (it
// is 0 on success). Plain value; copied or moved as T is.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}
  Result(Failure failure) : code_(failure.code), ok_(false) {}

  bool ok() const { return ok_; }
  explicit operator bool() const { return ok_; }
  uint32_t error() const { return code_; }

  T& value() & { return value_; }
  const T& value() const& { return value_; }
  T&& value() && { return std::move(value_); }
  T* operator->() { return &value_; }
  const T* operator->() const { return &value_; }
  T& operator*() & { return value_; }
  const T& operator*() const& { return value_; }

 private:
  T value_{};
  uint32_t code_ = 0;
  bool ok_ = true;
};

// Success or the failure of a call that gives nothing else.
template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Failure failure) : code_(failure.code), ok_(false) {}

  bool ok() const { return ok_; }
  explicit operator bool() const { return ok_; }
  uint32_t error() const { return code_; }

 private:
  uint32_t code_ = 0;
  bool ok_ = true;
};

using Status = Result<void>;

}  // namespace platform

}  // namespace torquelin
