#pragma once

#include "registry/registry_api.h"

namespace sorbantilex {

/// A registry that passes every call on, unchanged, to the registry it
/// wraps. Wrappers that watch or record calls derive from it and override
/// only the calls they look at; a new `RegistryApi` operation is forwarded
/// here once.
class ForwardingRegistry : public RegistryApi {
 public:
  explicit ForwardingRegistry(RegistryApi& inner) : inner_(inner) {}

  Status OpenKey(KeyRef key, std::string_view subkey, std::uint32_t options, std::uint32_t access,
                 KeyRef* result) override {
    return inner_.OpenKey(key, subkey, options, access, result);
  }
  Status CreateKey(KeyRef key, std::string_view subkey, std::uint32_t options, std::uint32_t access,
                   KeyRef* result, std::uint32_t* disposition) override {
    return inner_.CreateKey(key, subkey, options, access, result, disposition);
  }
  Status CloseKey(KeyRef key) override { return inner_.CloseKey(key); }
  Status DeleteKey(KeyRef key, std::string_view subkey) override {
    return inner_.DeleteKey(key, subkey);
  }
  Status DeleteValue(KeyRef key, std::string_view name) override {
    return inner_.DeleteValue(key, name);
  }
  Status QueryValue(KeyRef key, std::string_view name, std::uint32_t* type, std::uint8_t* data,
                    std::uint32_t* size) override {
    return inner_.QueryValue(key, name, type, data, size);
  }
  Status SetValue(KeyRef key, std::string_view name, std::uint32_t type,
                  std::span<const std::uint8_t> data) override {
    return inner_.SetValue(key, name, type, data);
  }
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
  Status QueryStoredValue(KeyRef key, std::string_view name, std::uint32_t* type,
                          std::vector<std::uint8_t>* data) override {
    return inner_.QueryStoredValue(key, name, type, data);
  }

 protected:
  RegistryApi& inner() const { return inner_; }

 private:
  RegistryApi& inner_;
};

}  // namespace sorbantilex
