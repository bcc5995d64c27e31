#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sorbantilex {

/// A Windows status code as the registry functions return it.
using Status = std::int32_t;

inline constexpr Status kErrorSuccess = 0;
inline constexpr Status kErrorFileNotFound = 2;
inline constexpr Status kErrorAccessDenied = 5;
inline constexpr Status kErrorInvalidHandle = 6;
inline constexpr Status kErrorInvalidParameter = 87;
inline constexpr Status kErrorBadPathname = 161;
inline constexpr Status kErrorMoreData = 234;
inline constexpr Status kErrorNoMoreItems = 259;
inline constexpr Status kErrorKeyDeleted = 1018;

/// A key reference: one of the seven root constants or a handle that an open
/// or create call gave. 0 is the null handle.
using KeyRef = std::uint32_t;

inline constexpr KeyRef kNullKey = 0;
inline constexpr KeyRef kHkeyClassesRoot = 0x80000000u;
inline constexpr KeyRef kHkeyCurrentUser = 0x80000001u;
inline constexpr KeyRef kHkeyLocalMachine = 0x80000002u;
inline constexpr KeyRef kHkeyUsers = 0x80000003u;
inline constexpr KeyRef kHkeyPerformanceData = 0x80000004u;
inline constexpr KeyRef kHkeyCurrentConfig = 0x80000005u;
inline constexpr KeyRef kHkeyDynData = 0x80000006u;

constexpr bool IsRootKey(KeyRef key) { return key >= kHkeyClassesRoot && key <= kHkeyDynData; }

/// Value types by their Windows numbers (named apart from the Windows
/// macros so that this header and <windows.h> can meet in one file).
inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegDwordBigEndian = 5;
inline constexpr std::uint32_t kRegLink = 6;
inline constexpr std::uint32_t kRegMultiSz = 7;

/// Access rights.
inline constexpr std::uint32_t kRegistroAccess = 0x3F;  // the six specific key rights
inline constexpr std::uint32_t kKeyQueryValue = 0x0001;
inline constexpr std::uint32_t kKeySetValue = 0x0002;
inline constexpr std::uint32_t kKeyCreateSubKey = 0x0004;
inline constexpr std::uint32_t kKeyEnumerateSubKeys = 0x0008;
inline constexpr std::uint32_t kKeyNotify = 0x0010;
inline constexpr std::uint32_t kKeyCreateLink = 0x0020;
inline constexpr std::uint32_t kKeyRead = 0x20019;
inline constexpr std::uint32_t kKeyDelete = 0x10000;  // the standard DELETE right

inline constexpr std::uint32_t kRegOptionNonVolatile = 0;
inline constexpr std::uint32_t kRegCreatedNewKey = 1;
inline constexpr std::uint32_t kRegOpenedExistingKey = 2;

/// The registry operations the program needs of a platform, with the
/// semantics of the Windows registry functions of the same names: the nine
/// the repairs use, and the value enumeration that lets the undo record
/// keep a whole key before it is deleted.
///
/// Texts (key paths, value names, key names) cross this interface as UTF-8;
/// so does the data of REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ, which comes
/// back exactly as it went in, with a terminator only if one was written.
/// All other data is bytes, passed unchanged. Lengths and sizes count bytes
/// of that UTF-8 text. How a store keeps texts is its own business.
///
/// Every operation returns a Windows status: 0 success, 2 not found,
/// 5 access denied, 6 invalid handle, 234 buffer too small, 259 no more
/// items, 1018 the key was deleted since the handle was opened.
class RegistryApi {
 public:
  RegistryApi() = default;
  virtual ~RegistryApi() = default;
  RegistryApi(const RegistryApi&) = delete;
  RegistryApi& operator=(const RegistryApi&) = delete;

  /// RegOpenKeyEx: opens an existing key. On failure `*result` is 0.
  virtual Status OpenKey(KeyRef key, std::string_view subkey, std::uint32_t options,
                         std::uint32_t access, KeyRef* result) = 0;
  /// RegCreateKeyEx: creates the key and any missing keys along the path,
  /// or opens it when it exists. `disposition` may be null. On failure
  /// `*result` is 0.
  virtual Status CreateKey(KeyRef key, std::string_view subkey, std::uint32_t options,
                           std::uint32_t access, KeyRef* result, std::uint32_t* disposition) = 0;
  /// RegCloseKey. Closing a root is a successful no-op.
  virtual Status CloseKey(KeyRef key) = 0;
  /// RegDeleteKey: removes a key that has no subkeys.
  virtual Status DeleteKey(KeyRef key, std::string_view subkey) = 0;
  /// RegDeleteValue.
  virtual Status DeleteValue(KeyRef key, std::string_view name) = 0;
  /// RegQueryValueEx. `type` may be null. With `data` null only the type and
  /// the size are reported; with a buffer smaller than the data the status is
  /// 234 and `*size` holds the size needed.
  virtual Status QueryValue(KeyRef key, std::string_view name, std::uint32_t* type,
                            std::uint8_t* data, std::uint32_t* size) = 0;
  /// RegSetValueEx: stores the value, replacing any old one; the name keeps
  /// the spelling it was first written with.
  virtual Status SetValue(KeyRef key, std::string_view name, std::uint32_t type,
                          std::span<const std::uint8_t> data) = 0;
  /// RegQueryInfoKey: the number of subkeys and the length of the longest
  /// subkey name (no terminator). Either pointer may be null.
  virtual Status QueryInfoKey(KeyRef key, std::uint32_t* subkeys,
                              std::uint32_t* max_subkey_len) = 0;
  /// RegEnumKeyEx: the name of the subkey at `index` (subkeys stand in
  /// ascending order of their upper-cased names). `*name_len` holds the
  /// buffer size on entry (room for a terminator included) and the name's
  /// length without terminator on return. Past the end: 259.
  virtual Status EnumKey(KeyRef key, std::uint32_t index, char* name, std::uint32_t* name_len) = 0;
  /// RegEnumValue: the name, type and data of the value at `index`, the
  /// data as `QueryValue` gives it. Values stand in the order the store
  /// keeps them (the order first written, where nothing reorders them).
  /// Any pointer may be null. Past the end: 259.
  virtual Status EnumValue(KeyRef key, std::uint32_t index, std::string* name, std::uint32_t* type,
                           std::vector<std::uint8_t>* data) = 0;
  /// The value's data as the store keeps it: for REG_SZ, REG_EXPAND_SZ and
  /// REG_MULTI_SZ the UTF-16LE bytes (an odd length, which no UTF-8 text
  /// stands for, included), other types as `QueryValue` gives them. Only
  /// the undo record needs it, to put back exactly what was there. The
  /// default gives `QueryValue`'s text in UTF-16LE, which is exact for every
  /// store that keeps texts of whole UTF-16 units.
  virtual Status QueryStoredValue(KeyRef key, std::string_view name, std::uint32_t* type,
                                  std::vector<std::uint8_t>* data);
};

}  // namespace sorbantilex
