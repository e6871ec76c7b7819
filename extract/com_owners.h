#pragma once
// Move-only owners for COM resources, so that every path releases what it obtained.
#include <ole2.h>
#include <oleauto.h>

#include <utility>

// One COM initialisation of the calling thread (single-threaded apartment), undone at
// destruction when it took effect (S_OK and S_FALSE both count and both must be balanced).
class ComApartment {
 public:
  ComApartment() : result_(CoInitialize(nullptr)) {}
  ~ComApartment() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  HRESULT result_;
};

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  explicit ComPtr(T* owned) : p_(owned) {}
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    reset(std::exchange(other.p_, nullptr));
    return *this;
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ~ComPtr() { reset(); }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  T** put() {
    reset();
    return &p_;
  }
  void reset(T* owned = nullptr) {
    T* old = std::exchange(p_, owned);
    if (old) old->Release();
  }
  template <class U>
  ComPtr<U> query() const {
    ComPtr<U> result;
    if (p_) p_->QueryInterface(__uuidof(U), reinterpret_cast<void**>(result.put()));
    return result;
  }

 private:
  T* p_ = nullptr;
};

class UniqueBstr {
 public:
  UniqueBstr() = default;
  explicit UniqueBstr(BSTR owned) : s_(owned) {}
  UniqueBstr(UniqueBstr&& other) noexcept : s_(std::exchange(other.s_, nullptr)) {}
  UniqueBstr& operator=(UniqueBstr&& other) noexcept {
    reset(std::exchange(other.s_, nullptr));
    return *this;
  }
  UniqueBstr(const UniqueBstr&) = delete;
  UniqueBstr& operator=(const UniqueBstr&) = delete;
  ~UniqueBstr() { reset(); }

  BSTR get() const { return s_; }
  BSTR release() { return std::exchange(s_, nullptr); }
  void reset(BSTR owned = nullptr) { SysFreeString(std::exchange(s_, owned)); }

 private:
  BSTR s_ = nullptr;
};

class UniqueVariant {
 public:
  UniqueVariant() { VariantInit(&v_); }
  UniqueVariant(UniqueVariant&&) = delete;
  UniqueVariant(const UniqueVariant&) = delete;
  UniqueVariant& operator=(const UniqueVariant&) = delete;
  ~UniqueVariant() { VariantClear(&v_); }

  const VARIANT& get() const { return v_; }
  VARIANT* put() {  // cleared, ready to receive a value
    VariantClear(&v_);
    return &v_;
  }
  void reset() { VariantClear(&v_); }

 private:
  VARIANT v_;
};
