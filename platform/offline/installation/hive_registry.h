#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/offline/hive_file/hive.h"
#include "registry/registry_api.h"

namespace sorbantilex::offline {

/// Something the user should know about the hives, in facts.
struct StoreNotice {
  enum class Kind {
    kRecovered,        // `hive` was brought up to date from its logs: `recovery`
    kValueNotChanged,  // value `name` of `key` not changed: `other` (maybe the
                       // same value) would be over 16344 bytes, which libhivex
                       // writes without its big-data record
    kKeyNotCreated,    // key `name` not created below `key`: not ASCII
  };
  Kind kind = Kind::kRecovered;
  std::filesystem::path hive;
  std::string key;  // full path below the hive's mount, "HKLM\SOFTWARE\..."
  std::string name;
  std::string other;
  Recovery recovery;  // kRecovered; its image is empty
};

/// A further profile's user hive.
struct UserHivePath {
  std::filesystem::path file;  // its NTUSER.DAT
  std::string sid;             // HKEY_USERS\<sid> is the hive when set
};

/// The hive files that stand for a Windows installation's registry.
struct HivePaths {
  std::filesystem::path software;     // HKEY_LOCAL_MACHINE\SOFTWARE
  std::filesystem::path system;       // HKEY_LOCAL_MACHINE\SYSTEM
  std::filesystem::path user;         // HKEY_CURRENT_USER; may be empty
  std::string user_sid;               // HKEY_USERS\<sid> is the user hive when set
  std::filesystem::path within = {};  // no link may lead a hive outside it; empty: no check
  /// The hives of further profiles, which HKEY_CURRENT_USER can be switched
  /// to (`HiveRegistry::SelectUser`); `user` is the first.
  std::vector<UserHivePath> more_users = {};
};

/// The registry of a Windows installation that is not running, kept in its
/// hive files and edited through libhivex, with the semantics of the live
/// registry:
/// - HKEY_LOCAL_MACHINE holds the mount points SOFTWARE and SYSTEM; no key
///   can be created directly beneath it or beneath HKEY_USERS;
/// - SYSTEM\CurrentControlSet is the control set SYSTEM\Select\Current names;
/// - HKEY_CURRENT_USER is the user hive, also HKEY_USERS\<sid>;
///   HKEY_CLASSES_ROOT is SOFTWARE\Classes; HKEY_CURRENT_CONFIG is
///   SYSTEM\CurrentControlSet\Hardware Profiles\Current;
/// - names are compared as Windows compares them, kept as first written;
/// - string data (types 1, 2, 7) is stored as UTF-16LE and comes back as the
///   UTF-8 text that went in; other data passes unchanged.
///
/// Changes stay in memory until `Commit`. The store refuses (and adds a
/// notice explaining why) what libhivex would write wrongly: key names
/// outside ASCII (5), and any change to the values of a key that holds a
/// value over 16344 bytes in a hive of minor version 4 or later (50). A key
/// libhivex cannot read answers 1015 and is remembered (see `Damage`).
class HiveRegistry final : public RegistryApi {
 public:
  /// Opens the hives; raises Error (see `Hive::Open`). With
  /// `for_writing` false the files are only read and `Commit` writes nothing.
  /// `software`, when given, is SOFTWARE already opened (as `for_writing`
  /// asks) and is used instead of opening it again.
  HiveRegistry(const HivePaths& paths, bool for_writing, std::unique_ptr<Hive> software = nullptr);
  ~HiveRegistry() override;

  Status OpenKey(KeyRef key, std::string_view subkey, std::uint32_t options, std::uint32_t access,
                 KeyRef* result) override;
  Status CreateKey(KeyRef key, std::string_view subkey, std::uint32_t options, std::uint32_t access,
                   KeyRef* result, std::uint32_t* disposition) override;
  Status CloseKey(KeyRef key) override;
  Status DeleteKey(KeyRef key, std::string_view subkey) override;
  Status DeleteValue(KeyRef key, std::string_view name) override;
  Status QueryValue(KeyRef key, std::string_view name, std::uint32_t* type, std::uint8_t* data,
                    std::uint32_t* size) override;
  Status SetValue(KeyRef key, std::string_view name, std::uint32_t type,
                  std::span<const std::uint8_t> data) override;
  Status QueryInfoKey(KeyRef key, std::uint32_t* subkeys, std::uint32_t* max_subkey_len) override;
  Status EnumKey(KeyRef key, std::uint32_t index, char* name, std::uint32_t* name_len) override;
  Status EnumValue(KeyRef key, std::uint32_t index, std::string* name, std::uint32_t* type,
                   std::vector<std::uint8_t>* data) override;
  /// The bytes the hive holds, strings in UTF-16LE as they are.
  Status QueryStoredValue(KeyRef key, std::string_view name, std::uint32_t* type,
                          std::vector<std::uint8_t>* data) override;

  /// The refusal of the run (kDamagedKey naming the hive file and the key,
  /// or kControlSetUnknown) once a read met a key libhivex cannot read: the
  /// hive is damaged there, and what the repairs read as absent may only be
  /// unreadable. nullopt while every read succeeded.
  std::optional<Error> Damage() const;
  /// Hive files changed in memory.
  std::vector<std::filesystem::path> ChangedHives() const;
  /// Writes every changed hive, and the other files of the run in `more`,
  /// all or none (see `CommitFiles`). Does nothing when the store was
  /// opened for reading only, and writes nothing (the report holds
  /// `Damage()`) once a damaged key was met.
  CommitReport Commit(const CommitHooks& hooks = {},
                      std::vector<std::unique_ptr<PendingFile>> more = {});
  /// Hives recovered from their logs and changes refused, in the order they
  /// came.
  const std::vector<StoreNotice>& notices() const { return notices_; }
  /// How many user hives there are (`user` and `more_users`).
  std::size_t user_count() const { return users_hives_.size(); }
  /// From now on HKEY_CURRENT_USER is user hive `index` (0: `user`, then
  /// `more_users` in order). Handles opened before keep their keys.
  void SelectUser(std::size_t index) { user_ = users_hives_.at(index); }

  /// Number of handles open now (roots excluded).
  std::size_t OpenHandles() const { return handles_.size(); }

 private:
  struct Handle {
    std::shared_ptr<HiveKey> key;
    std::uint32_t access = 0;
  };

  std::shared_ptr<HiveKey> RootKey(KeyRef root);
  /// The value `name` of the key behind `key`, as the hive holds it; 87
  /// when `bad_parameter`, once the handle is known good.
  Status FindStored(KeyRef key, std::string_view name, bool bad_parameter, const HiveValue** value);
  Status Resolve(KeyRef key, std::uint32_t needed, std::shared_ptr<HiveKey>* out);
  Status Walk(std::shared_ptr<HiveKey> from, std::string_view path, std::shared_ptr<HiveKey>* out);
  std::shared_ptr<HiveKey> Child(HiveKey& parent, std::string_view name);
  std::shared_ptr<HiveKey> CurrentControlSet();
  KeyRef NewHandle(std::shared_ptr<HiveKey> key, std::uint32_t access);
  bool MayRewriteValues(HiveKey& key, std::string_view changed_name, std::size_t new_size);
  std::string KeyPath(const HiveKey& key) const;

  bool for_writing_;
  std::vector<std::unique_ptr<Hive>> hives_;
  Hive* software_ = nullptr;
  Hive* system_ = nullptr;
  Hive* user_ = nullptr;            // HKEY_CURRENT_USER now
  std::vector<Hive*> users_hives_;  // every user hive, in order
  std::shared_ptr<HiveKey> local_machine_;
  std::shared_ptr<HiveKey> users_;
  std::shared_ptr<HiveKey> empty_root_;
  std::map<KeyRef, Handle> handles_;
  KeyRef next_handle_ = 0x100;
  std::vector<StoreNotice> notices_;
  std::optional<Error> control_set_damage_;  // why CurrentControlSet cannot be found
};

}  // namespace sorbantilex::offline
