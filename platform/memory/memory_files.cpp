#include "platform/memory/memory_files.h"

#include "registry/failure.h"
#include "registry/key_names.h"

namespace sorbantilex {

namespace {

constexpr std::int32_t kPathNotFound = 3;
constexpr std::int32_t kAccessDenied = 5;
constexpr std::int32_t kSharingViolation = 32;

// Upper case, "\" as the one separator, no trailing separator.
std::string Normal(std::string_view path) {
  std::string text = UpperName(path);
  for (char& c : text) {
    if (c == '/') c = '\\';
  }
  while (text.size() > 1 && text.back() == '\\') text.pop_back();
  return text;
}

std::string Parent(const std::string& normal) {
  const auto slash = normal.rfind('\\');
  return slash == std::string::npos ? std::string() : normal.substr(0, slash);
}

}  // namespace

const MemoryFiles::File* MemoryFiles::Find(std::string_view path) const {
  const auto found = files_.find(Normal(path));
  return found == files_.end() ? nullptr : &found->second;
}

bool MemoryFiles::IsPlainFile(std::string_view path) const {
  const File* file = Find(path);
  return file != nullptr && (file->attributes & (kHidden | kSystem)) == 0;
}

void MemoryFiles::WriteReplacing(std::string_view path, std::span<const std::uint8_t> content) {
  const std::string key = Normal(path);
  const std::string name(path);
  if (!folders_.contains(Parent(key))) {
    throw Failure(kPathNotFound, "No se puede escribir el archivo " + name +
                                     ": el sistema no puede encontrar la ruta especificada.");
  }
  if (folders_.contains(key)) {
    throw Failure(kAccessDenied, "No se puede escribir el archivo " + name + ": acceso denegado.");
  }
  auto found = files_.find(key);
  if (found == files_.end()) {
    files_[key] = File{name, {content.begin(), content.end()}, 0, false};
    return;
  }
  File& file = found->second;
  if (file.locked) {
    throw Failure(kSharingViolation, "No se puede escribir el archivo " + name +
                                         ": el archivo está siendo utilizado por otro proceso.");
  }
  if (file.attributes & kReadOnly) {
    throw Failure(kAccessDenied, "No se puede escribir el archivo " + name + ": acceso denegado.");
  }
  file.content.assign(content.begin(), content.end());
}

void MemoryFiles::AddFolder(std::string_view path) {
  for (std::string folder = Normal(path); !folder.empty(); folder = Parent(folder)) {
    folders_.insert(folder);
  }
}

void MemoryFiles::AddFile(std::string_view path, std::string_view content,
                          std::uint32_t attributes) {
  const std::string key = Normal(path);
  AddFolder(Parent(key));
  files_[key] = File{std::string(path), {content.begin(), content.end()}, attributes, false};
}

void MemoryFiles::RemoveFile(std::string_view path) { files_.erase(Normal(path)); }

void MemoryFiles::Lock(std::string_view path) {
  if (const auto found = files_.find(Normal(path)); found != files_.end()) {
    found->second.locked = true;
  }
}

std::optional<std::string> MemoryFiles::Content(std::string_view path) const {
  const File* file = Find(path);
  if (file == nullptr) return std::nullopt;
  return std::string(file->content.begin(), file->content.end());
}

std::optional<std::uint32_t> MemoryFiles::Attributes(std::string_view path) const {
  const File* file = Find(path);
  if (file == nullptr) return std::nullopt;
  return file->attributes;
}

std::vector<std::string> MemoryFiles::FilePaths() const {
  std::vector<std::string> paths;
  for (const auto& [key, file] : files_) paths.push_back(file.path);
  return paths;
}

}  // namespace sorbantilex
