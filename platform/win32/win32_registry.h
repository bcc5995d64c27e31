#pragma once

#include <cstdint>

#include "registry/registry_api.h"

namespace sorbantilex {

/// The registry of the running Windows, through advapi32.
///
/// Which functions: the wide (W) registry functions, with texts converted
/// between UTF-8 and UTF-16. For every text the program's code page can
/// hold they store exactly what the ANSI (A) functions store, since those
/// convert their ANSI texts to the same UTF-16 before storing; a character
/// the code page cannot hold (which the A functions would turn into '?') is
/// kept. String data (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) is stored with
/// exactly the characters given: no terminator is added to one written
/// without. It is read back as the system holds it, whatever wrote it: in
/// the form of `Utf16LeToUtf8`, an odd last byte and lone surrogates kept.
///
/// Registry view: a 64-bit build reaches the native view by itself. A 32-bit
/// build that runs under WOW64 adds KEY_WOW64_64KEY to every open, create
/// and delete, so that it, too, repairs the keys the system reads rather
/// than their 32-bit copies.
///
/// Key references are 32-bit: a root constant, or a handle value from an
/// open or create. On 64-bit Windows a reference turns into an HKEY with
/// sign extension (so 0x80000002 is HKEY_LOCAL_MACHINE); a handle that would
/// not survive that round trip is closed and the call fails with 6.
class Win32Registry final : public RegistryApi {
 public:
  Win32Registry();

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
  /// The bytes the registry keeps, strings in UTF-16LE as they are.
  Status QueryStoredValue(KeyRef key, std::string_view name, std::uint32_t* type,
                          std::vector<std::uint8_t>* data) override;

  /// The view flag added to opens, creates and deletes: KEY_WOW64_64KEY for
  /// a 32-bit process under WOW64, else 0.
  std::uint32_t view_flag() const { return view_flag_; }

 private:
  std::uint32_t view_flag_ = 0;
  /// RegDeleteKeyExW where the system has it (not on 32-bit Windows XP).
  void (*delete_key_ex_)() = nullptr;
};

/// True when this is a 32-bit process running on 64-bit Windows.
bool RunningUnderWow64();

}  // namespace sorbantilex
