#include "platform/win32/win32_registry.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/win32/dynamic_function.h"
#include "platform/win32/text.h"
#include "platform/win32/unique_handles.h"
#include "registry/key_names.h"
#include "registry/utf8.h"

namespace sorbantilex {
namespace {

using DeleteKeyExW = LSTATUS(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);
using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);

HKEY ToHkey(KeyRef key) {
  return reinterpret_cast<HKEY>(static_cast<LONG_PTR>(static_cast<LONG>(key)));
}

// Takes over a handle the system gave, as a 32-bit reference.
Status Adopt(HKEY opened, KeyRef* result) {
  win32::UniqueHkey owner(opened);
  const auto ref = static_cast<KeyRef>(reinterpret_cast<std::uintptr_t>(opened));
  if (ToHkey(ref) != opened || IsRootKey(ref)) return kErrorInvalidHandle;
  *result = ref;
  owner.release();
  return kErrorSuccess;
}

// A key or value name as the system wants it: valid UTF-8 without zeros.
bool ToName(std::string_view text, std::wstring* name) {
  return text.find('\0') == std::string_view::npos && win32::Utf8ToWide(text, name);
}

// String data is read as the hive holds it, whatever wrote it: through
// `Utf16LeToUtf8`, which keeps an odd last byte and lone surrogates, where
// the system's conversion would drop the one and replace the others.
constexpr bool IsStringType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// The whole data of a value. The value may change between the size query
// and the read; then the read is repeated.
Status ReadValue(HKEY key, const std::wstring& name, DWORD* type, std::vector<BYTE>* data) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    DWORD size = 0;
    LSTATUS status = ::RegQueryValueExW(key, name.c_str(), nullptr, type, nullptr, &size);
    if (status != ERROR_SUCCESS) return status;
    data->assign(size, 0);
    status = ::RegQueryValueExW(key, name.c_str(), nullptr, type, data->data(), &size);
    if (status == ERROR_MORE_DATA) continue;
    if (status != ERROR_SUCCESS) return status;
    data->resize(size);
    return kErrorSuccess;
  }
  return kErrorMoreData;
}

// The name of one subkey, in UTF-8.
Status SubkeyName(HKEY key, DWORD index, std::string* name) {
  std::vector<wchar_t> buffer(kMaxKeyNameLength + 1);
  for (;;) {
    auto length = static_cast<DWORD>(buffer.size());
    const LSTATUS status =
        ::RegEnumKeyExW(key, index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_MORE_DATA && buffer.size() < 32768) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (status != ERROR_SUCCESS) return status;
    *name = win32::Utf8(std::wstring_view(buffer.data(), length));
    return kErrorSuccess;
  }
}

}  // namespace

bool RunningUnderWow64() {
#ifdef _WIN64
  return false;
#else
  // Windows XP before SP2 lacks IsWow64Process; it never runs under WOW64.
  const auto is_wow64_process =
      win32::LoadSystemFunction<IsWow64ProcessFunction>(L"kernel32.dll", "IsWow64Process");
  BOOL wow64 = FALSE;
  return is_wow64_process != nullptr && is_wow64_process(::GetCurrentProcess(), &wow64) && wow64;
#endif
}

Win32Registry::Win32Registry() {
  if (RunningUnderWow64()) {
    view_flag_ = KEY_WOW64_64KEY;
    delete_key_ex_ = reinterpret_cast<void (*)()>(
        win32::LoadSystemFunction<DeleteKeyExW>(L"advapi32.dll", "RegDeleteKeyExW"));
  }
}

Status Win32Registry::OpenKey(KeyRef key, std::string_view subkey, std::uint32_t options,
                              std::uint32_t access, KeyRef* result) {
  *result = kNullKey;
  std::wstring path;
  if (!ToName(subkey, &path)) return kErrorInvalidParameter;
  HKEY opened = nullptr;
  const LSTATUS status =
      ::RegOpenKeyExW(ToHkey(key), path.c_str(), options, access | view_flag_, &opened);
  if (status != ERROR_SUCCESS) return status;
  return Adopt(opened, result);
}

Status Win32Registry::CreateKey(KeyRef key, std::string_view subkey, std::uint32_t options,
                                std::uint32_t access, KeyRef* result, std::uint32_t* disposition) {
  *result = kNullKey;
  std::wstring path;
  if (!ToName(subkey, &path)) return kErrorInvalidParameter;
  HKEY created = nullptr;
  DWORD how = 0;
  const LSTATUS status = ::RegCreateKeyExW(ToHkey(key), path.c_str(), 0, nullptr, options,
                                           access | view_flag_, nullptr, &created, &how);
  if (status != ERROR_SUCCESS) return status;
  if (disposition != nullptr) *disposition = how;
  return Adopt(created, result);
}

Status Win32Registry::CloseKey(KeyRef key) { return ::RegCloseKey(ToHkey(key)); }

Status Win32Registry::DeleteKey(KeyRef key, std::string_view subkey) {
  std::wstring path;
  if (!ToName(subkey, &path)) return kErrorInvalidParameter;
  if (delete_key_ex_ != nullptr) {
    return reinterpret_cast<DeleteKeyExW>(delete_key_ex_)(ToHkey(key), path.c_str(), view_flag_, 0);
  }
  return ::RegDeleteKeyW(ToHkey(key), path.c_str());
}

Status Win32Registry::DeleteValue(KeyRef key, std::string_view name) {
  std::wstring value_name;
  if (!ToName(name, &value_name)) return kErrorInvalidParameter;
  return ::RegDeleteValueW(ToHkey(key), value_name.c_str());
}

Status Win32Registry::QueryValue(KeyRef key, std::string_view name, std::uint32_t* type,
                                 std::uint8_t* data, std::uint32_t* size) {
  if (data != nullptr && size == nullptr) return kErrorInvalidParameter;
  std::uint32_t stored_type = 0;
  std::vector<std::uint8_t> stored;
  if (const Status status = QueryStoredValue(key, name, &stored_type, &stored);
      status != kErrorSuccess) {
    return status;
  }
  std::string text;
  std::span<const std::uint8_t> bytes(stored.data(), stored.size());
  if (IsStringType(stored_type)) {
    text = Utf16LeToUtf8(stored);
    bytes = std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  }
  if (type != nullptr) *type = stored_type;
  if (size == nullptr) return kErrorSuccess;
  const auto needed = static_cast<std::uint32_t>(bytes.size());
  if (data != nullptr && *size < needed) {
    *size = needed;
    return kErrorMoreData;
  }
  if (data != nullptr && needed > 0) std::memcpy(data, bytes.data(), needed);
  *size = needed;
  return kErrorSuccess;
}

Status Win32Registry::QueryStoredValue(KeyRef key, std::string_view name, std::uint32_t* type,
                                       std::vector<std::uint8_t>* data) {
  std::wstring value_name;
  if (!ToName(name, &value_name)) return kErrorInvalidParameter;
  DWORD stored_type = 0;
  std::vector<BYTE> stored;
  if (const Status status = ReadValue(ToHkey(key), value_name, &stored_type, &stored);
      status != kErrorSuccess) {
    return status;
  }
  if (type != nullptr) *type = stored_type;
  if (data != nullptr) data->assign(stored.begin(), stored.end());
  return kErrorSuccess;
}

Status Win32Registry::SetValue(KeyRef key, std::string_view name, std::uint32_t type,
                               std::span<const std::uint8_t> data) {
  std::wstring value_name;
  if (!ToName(name, &value_name)) return kErrorInvalidParameter;
  if (!IsStringType(type)) {
    return ::RegSetValueExW(ToHkey(key), value_name.c_str(), 0, type, data.data(),
                            static_cast<DWORD>(data.size()));
  }
  std::wstring text;
  if (!win32::Utf8ToWide(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()),
                         &text)) {
    return kErrorInvalidParameter;
  }
  const auto bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  // The system counts a terminator that follows string data in memory but
  // was left out of the byte count; a nonzero character after the data keeps
  // the value exactly as given.
  text.push_back(L'\x1');
  return ::RegSetValueExW(ToHkey(key), value_name.c_str(), 0, type,
                          reinterpret_cast<const BYTE*>(text.data()), bytes);
}

Status Win32Registry::QueryInfoKey(KeyRef key, std::uint32_t* subkeys,
                                   std::uint32_t* max_subkey_len) {
  DWORD count = 0;
  DWORD longest = 0;
  const LSTATUS status =
      ::RegQueryInfoKeyW(ToHkey(key), nullptr, nullptr, nullptr, &count, &longest, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr);
  if (status != ERROR_SUCCESS) return status;
  if (subkeys != nullptr) *subkeys = count;
  if (max_subkey_len != nullptr) {
    // The system counts UTF-16 units; callers size their buffers in UTF-8
    // bytes, so measure the names themselves where the handle allows it.
    std::size_t longest_utf8 = 0;
    std::string name;
    bool measured = true;
    for (DWORD index = 0; index < count && measured; ++index) {
      const Status enum_status = SubkeyName(ToHkey(key), index, &name);
      if (enum_status == kErrorNoMoreItems) break;
      measured = enum_status == kErrorSuccess;
      longest_utf8 = std::max(longest_utf8, name.size());
    }
    *max_subkey_len = measured ? static_cast<std::uint32_t>(longest_utf8) : longest;
  }
  return kErrorSuccess;
}

Status Win32Registry::EnumKey(KeyRef key, std::uint32_t index, char* name,
                              std::uint32_t* name_len) {
  if (name == nullptr || name_len == nullptr) return kErrorInvalidParameter;
  std::string found;
  if (const Status status = SubkeyName(ToHkey(key), index, &found); status != kErrorSuccess) {
    return status;
  }
  if (*name_len <= found.size()) return kErrorMoreData;
  std::memcpy(name, found.data(), found.size());
  name[found.size()] = '\0';
  *name_len = static_cast<std::uint32_t>(found.size());
  return kErrorSuccess;
}

Status Win32Registry::EnumValue(KeyRef key, std::uint32_t index, std::string* name,
                                std::uint32_t* type, std::vector<std::uint8_t>* data) {
  // Sized from the key's longest name and data; a value that grows in
  // between is read again with room for it.
  DWORD name_room = 0;
  DWORD data_room = 0;
  if (const LSTATUS status =
          ::RegQueryInfoKeyW(ToHkey(key), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, &name_room, &data_room, nullptr, nullptr);
      status != ERROR_SUCCESS) {
    return status;
  }
  std::vector<wchar_t> value_name(name_room + 1);
  std::vector<BYTE> stored(std::max<DWORD>(data_room, 1));
  DWORD stored_type = 0;
  for (int attempt = 0;; ++attempt) {
    auto name_length = static_cast<DWORD>(value_name.size());
    auto size = static_cast<DWORD>(stored.size());
    const LSTATUS status = ::RegEnumValueW(ToHkey(key), index, value_name.data(), &name_length,
                                           nullptr, &stored_type, stored.data(), &size);
    if (status == ERROR_MORE_DATA && attempt < 8) {
      value_name.resize(std::max<std::size_t>(value_name.size() * 2, kMaxValueNameLength + 1));
      stored.resize(std::max<std::size_t>(stored.size() * 2, size));
      continue;
    }
    if (status != ERROR_SUCCESS) return status;
    value_name.resize(name_length);
    stored.resize(size);
    break;
  }
  if (name != nullptr) *name = win32::Utf8(std::wstring_view(value_name.data(), value_name.size()));
  if (type != nullptr) *type = stored_type;
  if (data != nullptr) {
    if (IsStringType(stored_type)) {
      const std::string text = Utf16LeToUtf8(stored);
      data->assign(text.begin(), text.end());
    } else {
      data->assign(stored.begin(), stored.end());
    }
  }
  return kErrorSuccess;
}

}  // namespace sorbantilex
