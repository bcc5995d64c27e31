#include "ui/cli/change_log.h"

#include <cstdio>

namespace sorbantilex::cli {

namespace {

std::string RootName(KeyRef root) {
  switch (root) {
    case kHkeyClassesRoot:
      return "HKCR";
    case kHkeyCurrentUser:
      return "HKCU";
    case kHkeyLocalMachine:
      return "HKLM";
    case kHkeyUsers:
      return "HKU";
    case kHkeyPerformanceData:
      return "HKPD";
    case kHkeyCurrentConfig:
      return "HKCC";
    case kHkeyDynData:
      return "HKDD";
    default:
      return "?";
  }
}

}  // namespace

std::string Printable(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == '\0') {
      out += "\\0";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '"') {
      out += "\\\"";
    } else {
      out += c;
    }
  }
  return out;
}

std::string ChangeLog::PathOf(KeyRef key, std::string_view subkey) const {
  std::string base;
  if (IsRootKey(key)) {
    base = RootName(key);
  } else if (const auto found = paths_.find(key); found != paths_.end()) {
    base = found->second;
  } else {
    base = "?";
  }
  if (subkey.empty()) return base;
  return base + "\\" + std::string(subkey);
}

void ChangeLog::Add(RegistryChange change) {
  if (sections_.empty()) BeginSection("");
  sections_.back().changes.push_back(std::move(change));
}

Status ChangeLog::OpenKey(KeyRef key, std::string_view subkey, std::uint32_t options,
                          std::uint32_t access, KeyRef* result) {
  const Status status = inner_.OpenKey(key, subkey, options, access, result);
  if (status == kErrorSuccess) paths_[*result] = PathOf(key, subkey);
  return status;
}

Status ChangeLog::CreateKey(KeyRef key, std::string_view subkey, std::uint32_t options,
                            std::uint32_t access, KeyRef* result, std::uint32_t* disposition) {
  std::uint32_t made = 0;
  const Status status = inner_.CreateKey(key, subkey, options, access, result, &made);
  if (disposition != nullptr) *disposition = made;
  if (status == kErrorSuccess) {
    paths_[*result] = PathOf(key, subkey);
    if (made == kRegCreatedNewKey)
      Add({RegistryChange::Kind::kKeyCreated, paths_[*result], {}, 0, {}});
  }
  return status;
}

Status ChangeLog::CloseKey(KeyRef key) {
  const Status status = inner_.CloseKey(key);
  if (status == kErrorSuccess) paths_.erase(key);
  return status;
}

Status ChangeLog::DeleteKey(KeyRef key, std::string_view subkey) {
  const std::string path = PathOf(key, subkey);
  const Status status = inner_.DeleteKey(key, subkey);
  if (status == kErrorSuccess) Add({RegistryChange::Kind::kKeyDeleted, path, {}, 0, {}});
  return status;
}

Status ChangeLog::DeleteValue(KeyRef key, std::string_view name) {
  const Status status = inner_.DeleteValue(key, name);
  if (status == kErrorSuccess)
    Add({RegistryChange::Kind::kValueDeleted, PathOf(key, ""), std::string(name), 0, {}});
  return status;
}

Status ChangeLog::SetValue(KeyRef key, std::string_view name, std::uint32_t type,
                           std::span<const std::uint8_t> data) {
  const Status status = inner_.SetValue(key, name, type, data);
  if (status == kErrorSuccess) {
    Add({RegistryChange::Kind::kValueWritten,
         PathOf(key, ""),
         std::string(name),
         type,
         {data.begin(), data.end()}});
  }
  return status;
}

std::string DescribeValue(std::uint32_t type, const std::vector<std::uint8_t>& data) {
  const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
  char number[48];
  switch (type) {
    case kRegSz:
      return "REG_SZ \"" + Printable(text) + "\"";
    case kRegExpandSz:
      return "REG_EXPAND_SZ \"" + Printable(text) + "\"";
    case kRegMultiSz:
      return "REG_MULTI_SZ \"" + Printable(text) + "\"";
    case kRegDword:
      if (data.size() == 4) {
        const std::uint32_t v = data[0] | (data[1] << 8) | (data[2] << 16) |
                                (static_cast<std::uint32_t>(data[3]) << 24);
        std::snprintf(number, sizeof number, "REG_DWORD 0x%08x (%u)", v, v);
        return number;
      }
      break;
    default:
      break;
  }
  std::string out = type == kRegBinary ? "REG_BINARY" : "tipo " + std::to_string(type);
  for (const auto byte : data) {
    std::snprintf(number, sizeof number, " %02X", byte);
    out += number;
  }
  return out;
}

std::vector<std::string> DescribeChanges(const std::vector<RegistryChange>& changes) {
  std::vector<std::string> lines;
  // Deleting a tree deletes its deepest keys first; report the tree once.
  std::vector<std::size_t> removed_under(changes.size(), 0);
  std::vector<bool> covered(changes.size(), false);
  for (std::size_t i = 0; i < changes.size(); ++i) {
    if (changes[i].kind != RegistryChange::Kind::kKeyDeleted) continue;
    const std::string prefix = changes[i].key + "\\";
    for (std::size_t j = i; j-- > 0;) {
      if (changes[j].kind != RegistryChange::Kind::kKeyDeleted || covered[j]) continue;
      if (changes[j].key.compare(0, prefix.size(), prefix) != 0) break;
      covered[j] = true;
      ++removed_under[i];
    }
  }
  for (std::size_t i = 0; i < changes.size(); ++i) {
    const auto& change = changes[i];
    switch (change.kind) {
      case RegistryChange::Kind::kKeyDeleted:
        if (covered[i]) break;
        lines.push_back(
            "clave borrada   " + change.key +
            (removed_under[i] ? " (y " + std::to_string(removed_under[i]) + " subclaves)" : ""));
        break;
      case RegistryChange::Kind::kKeyCreated:
        lines.push_back("clave creada    " + change.key);
        break;
      case RegistryChange::Kind::kValueWritten:
        lines.push_back("valor escrito   " + change.key + " \"" + change.name +
                        "\" = " + DescribeValue(change.type, change.data));
        break;
      case RegistryChange::Kind::kValueDeleted:
        lines.push_back("valor borrado   " + change.key + " \"" + change.name + "\"");
        break;
    }
  }
  return lines;
}

}  // namespace sorbantilex::cli
