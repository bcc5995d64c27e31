#include "platform/win32/win32_files.h"

#include <windows.h>

#include <string>
#include <utility>

#include "platform/win32/text.h"
#include "platform/win32/unique_handles.h"
#include "platform/win32/win32_undo_file.h"
#include "registry/failure.h"

namespace sorbantilex {
namespace {

[[noreturn]] void Fail(DWORD code, std::string_view path) {
  std::string description = "No se pudo escribir el archivo " + std::string(path) + ".";
  if (const std::string reason = win32::SystemMessage(code); !reason.empty()) {
    description += " " + reason;
  }
  throw Failure(static_cast<std::int32_t>(code), std::move(description));
}

DWORD LastErrorOr(DWORD fallback) {
  const DWORD error = ::GetLastError();
  return error != ERROR_SUCCESS ? error : fallback;
}

// Removes a file made on the way (the temporary file, the backup) unless
// the replacement went through.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::wstring path) : path_(std::move(path)) {}
  ~TemporaryFile() {
    if (!path_.empty()) ::DeleteFileW(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(TemporaryFile&& other) noexcept {
    std::swap(path_, other.path_);
    return *this;
  }

  const std::wstring& path() const { return path_; }
  void Keep() { path_.clear(); }

 private:
  std::wstring path_;
};

}  // namespace

bool Win32Files::IsPlainFile(std::string_view path) const {
  std::wstring wide;
  if (!win32::Utf8ToWide(path, &wide) || wide.find(L'\0') != std::wstring::npos) return false;
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  return (attributes &
          (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) == 0;
}

void Win32Files::WriteReplacing(std::string_view path, std::span<const std::uint8_t> content) {
  std::wstring target;
  if (path.empty() || !win32::Utf8ToWide(path, &target) ||
      target.find(L'\0') != std::wstring::npos) {
    Fail(ERROR_INVALID_NAME, path);
  }
  if (const DWORD attributes = ::GetFileAttributesW(target.c_str());
      attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) Fail(ERROR_ACCESS_DENIED, path);
    if (attributes & FILE_ATTRIBUTE_READONLY) Fail(ERROR_ACCESS_DENIED, path);
  }

  // The old file stays beside it, as "<name>.sorbantilex-<date>-<time>.bak".
  TemporaryFile backup(L"");
  if (const DWORD attributes = ::GetFileAttributesW(target.c_str());
      attributes != INVALID_FILE_ATTRIBUTES) {
    const std::wstring stem = target + L".sorbantilex-" + win32::Wide(win32::LocalStamp());
    std::wstring name = stem + L".bak";
    for (int n = 2; ::GetFileAttributesW(name.c_str()) != INVALID_FILE_ATTRIBUTES; ++n) {
      name = stem + L"-" + std::to_wstring(n) + L".bak";
    }
    if (!::CopyFileW(target.c_str(), name.c_str(), TRUE)) {
      const DWORD error = LastErrorOr(ERROR_ACCESS_DENIED);
      if (error != ERROR_FILE_EXISTS) ::DeleteFileW(name.c_str());
      Fail(error, path);
    }
    backup = TemporaryFile(name);
  }

  TemporaryFile temporary(target + L"." + std::to_wstring(::GetCurrentProcessId()) + L".tmp");
  {
    win32::UniqueHandle file(::CreateFileW(temporary.path().c_str(), GENERIC_WRITE, 0, nullptr,
                                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
      const DWORD error = ::GetLastError();
      file.release();
      temporary.Keep();  // nothing was created
      Fail(error, path);
    }
    DWORD written = 0;
    if (!content.empty() && (!::WriteFile(file.get(), content.data(),
                                          static_cast<DWORD>(content.size()), &written, nullptr) ||
                             written != content.size())) {
      Fail(LastErrorOr(ERROR_WRITE_FAULT), path);
    }
    if (!::FlushFileBuffers(file.get())) Fail(LastErrorOr(ERROR_WRITE_FAULT), path);
  }
  if (!::MoveFileExW(temporary.path().c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    Fail(LastErrorOr(ERROR_ACCESS_DENIED), path);
  }
  temporary.Keep();
  backup.Keep();
}

}  // namespace sorbantilex
