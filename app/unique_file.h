#pragma once
#include <windows.h>

#include <utility>

// Owns a file handle from CreateFileA (INVALID_HANDLE_VALUE when empty).
class UniqueFile {
 public:
  UniqueFile() = default;
  explicit UniqueFile(HANDLE owned) : h_(owned) {}
  UniqueFile(UniqueFile&& other) noexcept : h_(std::exchange(other.h_, INVALID_HANDLE_VALUE)) {}
  UniqueFile& operator=(UniqueFile&& other) noexcept {
    reset(std::exchange(other.h_, INVALID_HANDLE_VALUE));
    return *this;
  }
  UniqueFile(const UniqueFile&) = delete;
  UniqueFile& operator=(const UniqueFile&) = delete;
  ~UniqueFile() { reset(); }

  HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != INVALID_HANDLE_VALUE; }
  void reset(HANDLE owned = INVALID_HANDLE_VALUE) {
    HANDLE old = std::exchange(h_, owned);
    if (old != INVALID_HANDLE_VALUE) CloseHandle(old);
  }
  // Closes the handle now and tells whether the close succeeded (a write can fail only there).
  bool close() { return CloseHandle(std::exchange(h_, INVALID_HANDLE_VALUE)) != FALSE; }

 private:
  HANDLE h_ = INVALID_HANDLE_VALUE;
};
