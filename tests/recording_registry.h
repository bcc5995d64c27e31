#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "registry/forwarding_registry.h"

namespace sorbantilex {

/// Passes every call on to another registry and writes it down, with its
/// arguments and status, so tests can compare exact call sequences.
/// Handles print as "H" followed by the order in which they were given out,
/// roots by their short names, the null handle as "0".
class RecordingRegistry final : public ForwardingRegistry {
 public:
  using ForwardingRegistry::ForwardingRegistry;

  std::vector<std::string> calls;
  /// When set, answers enumeration calls in place of the inner registry.
  std::function<Status(KeyRef, std::uint32_t, char*, std::uint32_t*)> enum_override;

  Status OpenKey(KeyRef key, std::string_view subkey, std::uint32_t options, std::uint32_t access,
                 KeyRef* result) override {
    const Status status = inner().OpenKey(key, subkey, options, access, result);
    Log("Open(" + Name(key) + "," + std::string(subkey) + "," + Hex(access) + ")", status,
        NewName(*result));
    return status;
  }
  Status CreateKey(KeyRef key, std::string_view subkey, std::uint32_t options, std::uint32_t access,
                   KeyRef* result, std::uint32_t* disposition) override {
    const Status status = inner().CreateKey(key, subkey, options, access, result, disposition);
    Log("Create(" + Name(key) + "," + std::string(subkey) + "," + Hex(access) + ")", status,
        NewName(*result));
    return status;
  }
  Status CloseKey(KeyRef key) override {
    const std::string name = Name(key);
    const Status status = inner().CloseKey(key);
    Log("Close(" + name + ")", status);
    return status;
  }
  Status DeleteKey(KeyRef key, std::string_view subkey) override {
    const Status status = inner().DeleteKey(key, subkey);
    Log("DeleteKey(" + Name(key) + "," + std::string(subkey) + ")", status);
    return status;
  }
  Status DeleteValue(KeyRef key, std::string_view name) override {
    const Status status = inner().DeleteValue(key, name);
    Log("DeleteValue(" + Name(key) + "," + std::string(name) + ")", status);
    return status;
  }
  Status QueryValue(KeyRef key, std::string_view name, std::uint32_t* type, std::uint8_t* data,
                    std::uint32_t* size) override {
    const std::uint32_t offered = size ? *size : 0;
    const Status status = inner().QueryValue(key, name, type, data, size);
    Log("QueryValue(" + Name(key) + "," + std::string(name) + "," +
            (data ? std::to_string(offered) : "null") + ")",
        status);
    return status;
  }
  Status SetValue(KeyRef key, std::string_view name, std::uint32_t type,
                  std::span<const std::uint8_t> data) override {
    const Status status = inner().SetValue(key, name, type, data);
    Log("SetValue(" + Name(key) + "," + std::string(name) + "," + std::to_string(type) + "," +
            std::to_string(data.size()) + ")",
        status);
    return status;
  }
  Status QueryInfoKey(KeyRef key, std::uint32_t* subkeys, std::uint32_t* max_subkey_len) override {
    const Status status = inner().QueryInfoKey(key, subkeys, max_subkey_len);
    Log("QueryInfo(" + Name(key) + ")", status);
    return status;
  }
  Status EnumKey(KeyRef key, std::uint32_t index, char* name, std::uint32_t* name_len) override {
    const std::uint32_t offered = *name_len;
    const Status status = enum_override ? enum_override(key, index, name, name_len)
                                        : inner().EnumKey(key, index, name, name_len);
    Log("Enum(" + Name(key) + "," + std::to_string(index) + "," + std::to_string(offered) + ")",
        status);
    return status;
  }
  Status EnumValue(KeyRef key, std::uint32_t index, std::string* name, std::uint32_t* type,
                   std::vector<std::uint8_t>* data) override {
    const Status status = inner().EnumValue(key, index, name, type, data);
    Log("EnumValue(" + Name(key) + "," + std::to_string(index) + ")", status);
    return status;
  }

 private:
  static std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%X", value);
    return text;
  }
  std::string Name(KeyRef key) const {
    static constexpr const char* kRoots[] = {"HKCR", "HKCU", "HKLM", "HKU", "HKPD", "HKCC", "HKDD"};
    if (key == kNullKey) return "0";
    if (IsRootKey(key)) return kRoots[key - kHkeyClassesRoot];
    for (std::size_t i = 0; i < handles_.size(); ++i) {
      if (handles_[i] == key) return "H" + std::to_string(i + 1);
    }
    return "?" + Hex(key);
  }
  std::string NewName(KeyRef key) {
    if (key == kNullKey) return "0";
    handles_.push_back(key);
    return Name(key);
  }
  void Log(std::string call, Status status, const std::string& handle = {}) {
    call += "=" + std::to_string(status);
    if (!handle.empty()) call += "," + handle;
    calls.push_back(std::move(call));
  }

  std::vector<KeyRef> handles_;
};

}  // namespace sorbantilex
