#include "platform/win32/text.h"

#include <windows.h>

#include <climits>

namespace sorbantilex::win32 {
namespace {

bool ToWide(std::string_view text, DWORD flags, std::wstring* wide) {
  wide->clear();
  if (text.empty()) return true;
  if (text.size() > INT_MAX) return false;
  const int size = static_cast<int>(text.size());
  const int needed = ::MultiByteToWideChar(CP_UTF8, flags, text.data(), size, nullptr, 0);
  if (needed <= 0) return false;
  wide->resize(static_cast<std::size_t>(needed));
  return ::MultiByteToWideChar(CP_UTF8, flags, text.data(), size, wide->data(), needed) == needed;
}

}  // namespace

bool Utf8ToWide(std::string_view text, std::wstring* wide) {
  return ToWide(text, MB_ERR_INVALID_CHARS, wide);
}

std::wstring Wide(std::string_view text) {
  std::wstring wide;
  ToWide(text, 0, &wide);
  return wide;
}

std::string Utf8(std::wstring_view text) {
  if (text.empty() || text.size() > INT_MAX) return {};
  const int size = static_cast<int>(text.size());
  const int needed =
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return {};
  std::string result(static_cast<std::size_t>(needed), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, result.data(), needed, nullptr, nullptr);
  return result;
}

std::string SystemMessage(std::uint32_t code) {
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  if (buffer == nullptr) return {};
  std::wstring_view text(buffer, length);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) {
    text.remove_suffix(1);
  }
  std::string result = Utf8(text);
  ::LocalFree(buffer);
  return result;
}

}  // namespace sorbantilex::win32
