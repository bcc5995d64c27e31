// The registry conformance suite, held against the hive store on a fresh set
// of blank hives for every test.

#include "offline_test_support.h"
#include "registry_conformance.h"

namespace sorbantilex::offline::testing {
namespace {

// The hive store together with the folder of its hives.
class HiveRegistryInFolder final : public RegistryApi {
 public:
  HiveRegistryInFolder() : registry_(MakeHives(dir_.path()), true) {}

  Status OpenKey(KeyRef key, std::string_view subkey, std::uint32_t options, std::uint32_t access,
                 KeyRef* result) override {
    return registry_.OpenKey(key, subkey, options, access, result);
  }
  Status CreateKey(KeyRef key, std::string_view subkey, std::uint32_t options, std::uint32_t access,
                   KeyRef* result, std::uint32_t* disposition) override {
    return registry_.CreateKey(key, subkey, options, access, result, disposition);
  }
  Status CloseKey(KeyRef key) override { return registry_.CloseKey(key); }
  Status DeleteKey(KeyRef key, std::string_view subkey) override {
    return registry_.DeleteKey(key, subkey);
  }
  Status DeleteValue(KeyRef key, std::string_view name) override {
    return registry_.DeleteValue(key, name);
  }
  Status QueryValue(KeyRef key, std::string_view name, std::uint32_t* type, std::uint8_t* data,
                    std::uint32_t* size) override {
    return registry_.QueryValue(key, name, type, data, size);
  }
  Status SetValue(KeyRef key, std::string_view name, std::uint32_t type,
                  std::span<const std::uint8_t> data) override {
    return registry_.SetValue(key, name, type, data);
  }
  Status QueryInfoKey(KeyRef key, std::uint32_t* subkeys, std::uint32_t* max_subkey_len) override {
    return registry_.QueryInfoKey(key, subkeys, max_subkey_len);
  }
  Status EnumKey(KeyRef key, std::uint32_t index, char* name, std::uint32_t* name_len) override {
    return registry_.EnumKey(key, index, name, name_len);
  }
  Status EnumValue(KeyRef key, std::uint32_t index, std::string* name, std::uint32_t* type,
                   std::vector<std::uint8_t>* data) override {
    return registry_.EnumValue(key, index, name, type, data);
  }

 private:
  TempDir dir_;
  HiveRegistry registry_;
};

INSTANTIATE_REGISTRY_CONFORMANCE(Hive,
                                 {"Hive", [] { return std::make_unique<HiveRegistryInFolder>(); }});

}  // namespace
}  // namespace sorbantilex::offline::testing
