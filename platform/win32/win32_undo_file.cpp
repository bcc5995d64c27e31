#include "platform/win32/win32_undo_file.h"

#include <windows.h>

#include <cstdio>

#include "platform/win32/unique_handles.h"

namespace sorbantilex {

namespace win32 {

std::string LocalStamp() {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04u%02u%02u-%02u%02u%02u", now.wYear, now.wMonth, now.wDay,
                now.wHour, now.wMinute, now.wSecond);
  return stamp;
}

}  // namespace win32

namespace {

constexpr int kMaxAttempts = 100;

// Writes a new file; false (and nothing left) when it cannot, with
// ERROR_FILE_EXISTS as the last error when the name is taken.
bool WriteNew(const std::wstring& path, std::span<const std::uint8_t> content) {
  win32::UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) {
    file.release();
    return false;
  }
  DWORD written = 0;
  const bool ok = ::WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()),
                              &written, nullptr) &&
                  written == content.size() && ::FlushFileBuffers(file.get());
  file.reset();
  if (!ok) {
    ::DeleteFileW(path.c_str());
    ::SetLastError(ERROR_WRITE_FAULT);
  }
  return ok;
}

}  // namespace

std::wstring WriteUndoFileInto(const std::vector<std::wstring>& folders,
                               std::span<const std::uint8_t> content) {
  const std::string stamp = win32::LocalStamp();
  const std::wstring stem = L"Sorbantilex-deshacer-" + std::wstring(stamp.begin(), stamp.end());
  for (std::wstring folder : folders) {
    if (folder.empty()) continue;
    if (folder.back() != L'\\') folder += L'\\';
    for (int n = 1; n <= kMaxAttempts; ++n) {
      const std::wstring path =
          folder + stem + (n == 1 ? std::wstring() : L"-" + std::to_wstring(n)) + L".reg";
      if (WriteNew(path, content)) return path;
      if (::GetLastError() != ERROR_FILE_EXISTS && ::GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
  }
  return {};
}

std::wstring WriteUndoFile(std::span<const std::uint8_t> content) {
  std::vector<std::wstring> folders;
  std::wstring program(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        ::GetModuleFileNameW(nullptr, program.data(), static_cast<DWORD>(program.size()));
    if (length == 0) break;
    if (length < program.size()) {
      program.resize(length);
      folders.push_back(program.substr(0, program.find_last_of(L'\\')));
      break;
    }
    if (program.size() >= 32768) break;
    program.resize(program.size() * 2);
  }
  std::wstring temporary(MAX_PATH + 1, L'\0');
  const DWORD length = ::GetTempPathW(static_cast<DWORD>(temporary.size()), temporary.data());
  if (length > 0 && length < temporary.size()) {
    temporary.resize(length);
    folders.push_back(temporary);
  }
  return WriteUndoFileInto(folders, content);
}

bool RewriteUndoFile(const std::wstring& path, std::span<const std::uint8_t> content) {
  const std::wstring fresh = path + L".tmp";
  ::DeleteFileW(fresh.c_str());  // left by a run that ended on the way
  if (!WriteNew(fresh, content)) return false;
  if (::MoveFileExW(fresh.c_str(), path.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  ::DeleteFileW(fresh.c_str());
  return false;
}

}  // namespace sorbantilex
