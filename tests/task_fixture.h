#pragma once

// A whole in-memory Windows for the repair tests, and helpers to describe
// registry states.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/memory/memory_files.h"
#include "platform/memory/memory_registry.h"
#include "platform/memory/memory_system_info.h"
#include "platform/memory/memory_wmi.h"
#include "platform/memory/recording_window_services.h"
#include "registry/key_names.h"
#include "repair_catalog.h"
#include "snapshot_printer.h"
#include "tasks/funciones.h"

namespace sorbantilex {

using Bytes = std::vector<std::uint8_t>;

inline Bytes Text(std::string_view text) { return {text.begin(), text.end()}; }
inline Bytes Dword(std::uint32_t n) {
  return {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
          static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 24)};
}
inline KeySnapshot::Value Sz(std::string name, std::string_view text) {
  return {std::move(name), kRegSz, Text(text)};
}
inline KeySnapshot::Value Dw(std::string name, std::uint32_t n) {
  return {std::move(name), kRegDword, Dword(n)};
}

/// A key as the registry would list it: subkeys sorted as it enumerates them.
inline KeySnapshot Key(std::string name, std::vector<KeySnapshot::Value> values,
                       std::vector<KeySnapshot> subkeys = {}) {
  std::ranges::sort(subkeys, {}, [](const KeySnapshot& k) { return UpperName(k.name); });
  return {std::move(name), std::move(values), std::move(subkeys)};
}

/// Everything a repair may change.
struct SystemState {
  KeySnapshot hklm;
  KeySnapshot hkcu;
  std::vector<std::pair<std::string, std::string>> files;
  std::vector<std::optional<MemoryWmi::ServiceState>> services;
  friend bool operator==(const SystemState&, const SystemState&) = default;
};

inline void PrintTo(const SystemState& state, std::ostream* out) {
  PrintTo(state.hklm, out);
  PrintTo(state.hkcu, out);
  for (const auto& [path, content] : state.files) *out << "\n" << path << ": " << content;
}

/// One key planted for a repair's table of cases, and what the repair
/// leaves of it.
struct PlantedKey {
  std::string_view name;
  KeyRef root = kHkeyLocalMachine;
  std::string key;
  std::vector<KeySnapshot::Value> planted;
  /// The key's values afterwards, in any order; nullopt: the key is gone.
  std::optional<std::vector<KeySnapshot::Value>> left;
};

class TaskTest : public ::testing::Test {
 protected:
  static constexpr std::string_view kHosts = "C:\\WINDOWS\\system32\\drivers\\etc\\hosts";
  static constexpr std::string_view kServiceLibrary = "C:\\WINDOWS\\System32\\srsvc.dll";
  static constexpr std::string_view kWinlogon =
      "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";

  /// Creates the key (and the keys above it) and writes the value into it.
  void Put(KeyRef root, std::string_view path, std::string_view name, std::uint32_t type,
           const Bytes& data) {
    CreateKey(root, path);
    KeyRef key = kNullKey;
    ASSERT_EQ(registry_.OpenKey(root, path, 0, kKeySetValue, &key), kErrorSuccess);
    ASSERT_EQ(registry_.SetValue(key, name, type, data), kErrorSuccess);
    registry_.CloseKey(key);
  }
  void CreateKey(KeyRef root, std::string_view path) {
    KeyRef key = kNullKey;
    ASSERT_EQ(registry_.CreateKey(root, path, 0, kKeyRead, &key, nullptr), kErrorSuccess);
    registry_.CloseKey(key);
  }
  /// Refuses writing to the key and to everything beneath it.
  void Protect(KeyRef root, const std::string& path) {
    const auto key = registry_.Snapshot(root, path);
    ASSERT_TRUE(key.has_value()) << path;
    registry_.DenyWrite(root, path);
    for (const auto& child : key->subkeys) Protect(root, path + "\\" + child.name);
  }
  std::optional<KeySnapshot> At(KeyRef root, std::string_view path) const {
    return registry_.Snapshot(root, path);
  }

  SystemState State() const {
    SystemState state{*registry_.Snapshot(kHkeyLocalMachine, ""),
                      *registry_.Snapshot(kHkeyCurrentUser, ""),
                      {},
                      {}};
    for (const auto& path : files_.FilePaths())
      state.files.emplace_back(path, *files_.Content(path));
    for (const char* name : {"Eventlog", "RpcSs", "srservice"}) {
      state.services.push_back(wmi_.State(name));
    }
    return state;
  }

  /// A system as malicious software leaves it: every place a repair mends
  /// holds something to mend.
  void SetUpDamagedSystem();

  /// Plants the row's key, runs the repair and checks what it left of the
  /// key; then puts the key back as planted and checks that nothing else
  /// changed.
  void ExpectRepairLeaves(const PlantedKey& row, const Repair& repair);

  MemoryRegistry registry_;
  MemorySystemInfo system_;
  MemoryFiles files_;
  MemoryWmi wmi_{registry_};
  RecordingWindowServices ui_;
  Funciones funciones_{{registry_, system_, files_, wmi_, ui_}};
};

namespace {

// Rows of case tables print as their names.
template <typename Case>
requires requires(const Case& c) { std::string_view(c.name); }
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }
template <typename Case>
requires requires(const Case& c) { std::string_view(c.repair.name); }
void PrintTo(const Case& c, std::ostream* out) { *out << c.repair.name; }

}  // namespace

}  // namespace sorbantilex
