#pragma once

// Owners for the Windows handles and COM resources the platform uses: each
// releases its resource exactly once, when it goes out of scope.

#include <windows.h>
#include <oleauto.h>

#include <memory>
#include <type_traits>
#include <utility>

namespace sorbantilex::win32 {

struct CloseKey {
  void operator()(HKEY key) const noexcept { ::RegCloseKey(key); }
};
using UniqueHkey = std::unique_ptr<std::remove_pointer_t<HKEY>, CloseKey>;

/// A kernel handle (file, token, mutex). INVALID_HANDLE_VALUE must be turned
/// into null before it is stored here.
struct CloseKernelHandle {
  void operator()(HANDLE handle) const noexcept { ::CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, CloseKernelHandle>;

struct ReleaseCom {
  void operator()(IUnknown* object) const noexcept { object->Release(); }
};
/// One reference to a COM object.
template <class T>
using UniqueCom = std::unique_ptr<T, ReleaseCom>;

struct FreeBstr {
  void operator()(BSTR text) const noexcept { ::SysFreeString(text); }
};
using UniqueBstr = std::unique_ptr<OLECHAR, FreeBstr>;

struct DestroySafeArray {
  void operator()(SAFEARRAY* array) const noexcept { ::SafeArrayDestroy(array); }
};
using UniqueSafeArray = std::unique_ptr<SAFEARRAY, DestroySafeArray>;

/// A VARIANT that is cleared when it goes out of scope.
class UniqueVariant {
 public:
  UniqueVariant() noexcept { ::VariantInit(&value_); }
  ~UniqueVariant() { ::VariantClear(&value_); }
  UniqueVariant(const UniqueVariant&) = delete;
  UniqueVariant& operator=(const UniqueVariant&) = delete;

  VARIANT* get() noexcept { return &value_; }
  const VARIANT* get() const noexcept { return &value_; }
  /// Clears the old content; gives the VARIANT to be filled by a call.
  VARIANT* reset() noexcept {
    ::VariantClear(&value_);
    return &value_;
  }

 private:
  VARIANT value_;
};

}  // namespace sorbantilex::win32
