#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "registry/registry_api.h"

namespace sorbantilex::cli {

/// One change to the registry, as the command line reports it.
struct RegistryChange {
  enum class Kind { kKeyDeleted, kKeyCreated, kValueWritten, kValueDeleted };
  Kind kind;
  std::string key;   // full path, "HKLM\SOFTWARE\..."
  std::string name;  // value name
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
};

/// Passes every call on to the store and writes down each change that
/// succeeded, under the section (the repair) that is running.
class ChangeLog final : public RegistryApi {
 public:
  explicit ChangeLog(RegistryApi& inner) : inner_(inner) {}

  void BeginSection(std::string caption) { sections_.push_back({std::move(caption), {}}); }
  struct Section {
    std::string caption;
    std::vector<RegistryChange> changes;
  };
  const std::vector<Section>& sections() const { return sections_; }

  Status OpenKey(KeyRef key, std::string_view subkey, std::uint32_t options, std::uint32_t access,
                 KeyRef* result) override;
  Status CreateKey(KeyRef key, std::string_view subkey, std::uint32_t options, std::uint32_t access,
                   KeyRef* result, std::uint32_t* disposition) override;
  Status CloseKey(KeyRef key) override;
  Status DeleteKey(KeyRef key, std::string_view subkey) override;
  Status DeleteValue(KeyRef key, std::string_view name) override;
  Status QueryValue(KeyRef key, std::string_view name, std::uint32_t* type, std::uint8_t* data,
                    std::uint32_t* size) override {
    return inner_.QueryValue(key, name, type, data, size);
  }
  Status SetValue(KeyRef key, std::string_view name, std::uint32_t type,
                  std::span<const std::uint8_t> data) override;
  Status QueryInfoKey(KeyRef key, std::uint32_t* subkeys, std::uint32_t* max_subkey_len) override {
    return inner_.QueryInfoKey(key, subkeys, max_subkey_len);
  }
  Status EnumKey(KeyRef key, std::uint32_t index, char* name, std::uint32_t* name_len) override {
    return inner_.EnumKey(key, index, name, name_len);
  }
  Status EnumValue(KeyRef key, std::uint32_t index, std::string* name, std::uint32_t* type,
                   std::vector<std::uint8_t>* data) override {
    return inner_.EnumValue(key, index, name, type, data);
  }

 private:
  std::string PathOf(KeyRef key, std::string_view subkey) const;
  void Add(RegistryChange change);

  RegistryApi& inner_;
  std::map<KeyRef, std::string> paths_;
  std::vector<Section> sections_;
};

/// The report lines of one section: keys deleted (a deleted subtree once),
/// keys created, values written with type and data, values deleted.
std::vector<std::string> DescribeChanges(const std::vector<RegistryChange>& changes);

/// Text with its zeros, line ends and quotes written as escapes.
std::string Printable(std::string_view text);

/// A value's type and data as text: REG_SZ "Explorer.exe", REG_DWORD 0x00000001 (1).
std::string DescribeValue(std::uint32_t type, const std::vector<std::uint8_t>& data);

}  // namespace sorbantilex::cli
