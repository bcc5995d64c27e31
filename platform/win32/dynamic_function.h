#pragma once

#include <windows.h>

namespace sorbantilex::win32 {

/// A function of a system DLL that older Windows versions lack, or null.
/// The DLL must already be loaded (kernel32, user32, advapi32 always are).
template <class Function>
Function LoadSystemFunction(const wchar_t* module, const char* name) {
  const HMODULE handle = ::GetModuleHandleW(module);
  if (handle == nullptr) return nullptr;
  // Through void(*)(), the one function pointer type every other converts
  // to without a warning.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(handle, name)));
}

}  // namespace sorbantilex::win32
