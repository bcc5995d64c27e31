#include "platform/offline/hive_file/hive.h"
#include "platform/offline/paths.h"

#include <fcntl.h>
#include <hivex.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fstream>
#include <utility>

#include "platform/offline/hive_file/dirty_hive.h"
#include "platform/offline/hive_file/regf.h"
#include "platform/offline/safe_files.h"
#include "registry/key_names.h"

namespace sorbantilex::offline {

namespace fs = std::filesystem;

namespace {

struct FreeMemory {
  void operator()(void* p) const noexcept { std::free(p); }
};
template <typename T>
using Malloced = std::unique_ptr<T, FreeMemory>;

// A value's type is any 32-bit number; libhivex passes it in its `hive_type`
// enumeration, whose named types are only some of them. The number is kept
// in the enumeration's bytes and never loaded as the enumeration itself.
static_assert(sizeof(hive_type) == sizeof(std::uint32_t));

class TypeSlot {
 public:
  hive_type* get() { return reinterpret_cast<hive_type*>(bytes_); }
  std::uint32_t number() const {
    std::uint32_t type = 0;
    std::memcpy(&type, bytes_, sizeof type);
    return type;
  }

 private:
  alignas(hive_type) unsigned char bytes_[sizeof(hive_type)] = {};
};

void StoreType(hive_set_value& set, std::uint32_t type) { std::memcpy(&set.t, &type, sizeof type); }

}  // namespace

HiveValue* HiveKey::FindValue(std::string_view value_name) {
  const auto upper = UpperName(value_name);
  for (auto& value : values) {
    if (UpperName(value.name) == upper) return &value;
  }
  return nullptr;
}

void Hive::CloseHive::operator()(::hive_h* h) const noexcept { hivex_close(h); }

Hive::Hive(fs::path path, ::hive_h* handle, std::uint32_t minor)
    : path_(std::move(path)), handle_(handle), minor_(minor) {}

Hive::~Hive() = default;

std::unique_ptr<Hive> Hive::Open(const fs::path& path, std::string mount_name, bool for_writing,
                                 const fs::path& within) {
  const OpenedFile file = OpenRegularFile(path, within);
  if (!file) throw *file.refusal;
  // A hive Windows left dirty is recovered from its logs and read from memory.
  auto recovered = RecoverDirtyHive(file.fd.get(), path, within);
  const int source = recovered ? recovered->fd() : file.fd.get();
  const std::uint64_t source_size =
      recovered ? recovered->size() : static_cast<std::uint64_t>(file.status.st_size);
  const auto base = ReadBaseBlock(source);
  if (!base || !base->checksum_ok || base->major != 1) {
    throw Error(ErrorKind::kNotAHive, path, HiveDefect{HiveDefect::What::kBadHeader});
  }
  if (const auto defect = CheckBins(source, source_size, base->bins_size)) {
    throw Error(ErrorKind::kNotAHive, path, defect);
  }
  if (for_writing) {
    if (auto why = WhyNotReplaceable(path)) throw *why;
  }
  // libhivex opens the very file checked above, whatever its name leads to.
  ::hive_h* handle = hivex_open(DescriptorPath(source).c_str(), for_writing ? HIVEX_OPEN_WRITE : 0);
  if (handle == nullptr) throw Error(ErrorKind::kNotAHive, path, errno);
  std::unique_ptr<Hive> hive(new Hive(path, handle, base->minor));
  if (recovered) {
    recovered->Release();
    hive->recovered_.emplace(std::move(*recovered));
  }
  auto root = std::make_shared<HiveKey>();
  root->name = std::move(mount_name);
  root->hive = hive.get();
  root->origin = hivex_root(handle);
  hive->root_ = root;
  if (root->origin == 0 || !hive->LoadChildren(*root) || !hive->LoadValues(*root)) {
    throw Error(ErrorKind::kNotAHive, path, HiveDefect{HiveDefect::What::kRootKeyUnreadable});
  }
  return hive;
}

bool Hive::LoadChildren(HiveKey& key) {
  if (key.broken) return false;
  if (key.children_loaded) return true;
  key.children_loaded = true;
  if (key.origin == 0) return true;
  errno = 0;
  Malloced<hive_node_h> children(hivex_node_children(handle_.get(), key.origin));
  if (!children) {
    MarkBroken(key);
    return false;
  }
  for (const hive_node_h* child = children.get(); *child != 0; ++child) {
    Malloced<char> name(hivex_node_name(handle_.get(), *child));
    if (!name) {
      key.children.clear();
      MarkBroken(key);
      return false;
    }
    auto node = std::make_shared<HiveKey>();
    node->name = name.get();
    node->parent = &key;
    node->hive = this;
    node->origin = *child;
    key.children.emplace(UpperName(node->name), std::move(node));
  }
  return true;
}

bool Hive::LoadValues(HiveKey& key) {
  if (key.broken) return false;
  if (key.values_loaded) return true;
  key.values_loaded = true;
  if (key.origin == 0) return true;
  Malloced<hive_value_h> values(hivex_node_values(handle_.get(), key.origin));
  if (!values) {
    MarkBroken(key);
    return false;
  }
  for (const hive_value_h* value = values.get(); *value != 0; ++value) {
    Malloced<char> name(hivex_value_key(handle_.get(), *value));
    TypeSlot type;
    std::size_t length = 0;
    Malloced<char> data(hivex_value_value(handle_.get(), *value, type.get(), &length));
    if (!name || (!data && length != 0)) {
      key.values.clear();
      MarkBroken(key);
      return false;
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.get());
    key.values.push_back(
        HiveValue{name.get(), type.number(), std::vector<std::uint8_t>(bytes, bytes + length)});
  }
  return true;
}

void Hive::MarkBroken(HiveKey& key) {
  key.broken = true;
  std::string path = key.name;
  for (const HiveKey* at = key.parent; at != nullptr; at = at->parent)
    path = at->name + "\\" + path;
  damaged_keys_.push_back(std::move(path));
}

void Hive::MarkChanged(HiveKey& key) {
  for (HiveKey* at = &key; at != nullptr; at = at->parent) at->subtree_changed = true;
}

void Hive::Apply(HiveKey& key, std::size_t node, std::vector<std::size_t>& added_to) {
  ::hive_h* h = handle_.get();
  auto fail = [&](const std::string& name) {
    throw Error(ErrorKind::kHivexFailed, path_, errno, name);
  };
  for (const std::size_t gone : key.removed) {
    if (hivex_node_delete_child(h, gone) != 0) fail(key.name);
  }
  if (key.values_changed) {
    for (const auto& value : key.values) {
      if (NeedsBigDataRecord(minor_, value.data.size())) {
        throw Error(ErrorKind::kValueTooLarge, path_, 0, value.name);
      }
    }
    std::vector<hive_set_value> values;
    values.reserve(key.values.size());
    for (auto& value : key.values) {
      hive_set_value set{};
      set.key = value.name.data();
      StoreType(set, value.type);
      set.len = value.data.size();
      set.value = reinterpret_cast<char*>(value.data.data());
      values.push_back(set);
    }
    if (hivex_node_set_values(h, node, values.size(), values.data(), 0) != 0) {
      fail(key.name);
    }
  }
  bool added = false;
  for (auto& [upper, child] : key.children) {
    if (child->origin == 0) {
      const hive_node_h made = hivex_node_add_child(h, node, child->name.c_str());
      if (made == 0) fail(child->name);
      added = true;
      child->values_changed = !child->values.empty();
      Apply(*child, made, added_to);
    } else if (child->subtree_changed) {
      Apply(*child, child->origin, added_to);
    }
  }
  if (added) added_to.push_back(node);
}

class Hive::PendingHive final : public PendingFile {
 public:
  explicit PendingHive(Hive& hive) : hive_(hive) {}
  const fs::path& target() const override { return hive_.path(); }
  void Write(int fd, const fs::path& temporary) override { hive_.WriteNew(fd, temporary); }
  void Check(int fd, const fs::path& temporary) const override {
    if (const auto defect = WhyNotAHive(fd))
      throw Error(ErrorKind::kCheckFailed, temporary, defect);
  }
  // Windows rewrites its logs in place: a recovered hive's logs are kept
  // as they are.
  std::vector<fs::path> KeepMoreBackups() override {
    if (!hive_.recovered_) return {};
    return KeepBackupCopies(hive_.recovered_->logs());
  }

 private:
  Hive& hive_;
};

std::unique_ptr<PendingFile> Hive::Pending() { return std::make_unique<PendingHive>(*this); }

void Hive::WriteNew(int fd, const fs::path& temporary) {
  if (commit_attempted_) throw Error(ErrorKind::kAlreadyCommitted, path_);
  commit_attempted_ = true;
  std::vector<std::size_t> added_to;
  Apply(*root_, root_->origin, added_to);
  // libhivex writes through this very descriptor.
  if (hivex_commit(handle_.get(), DescriptorPath(fd).c_str(), 0) != 0) {
    throw Error(ErrorKind::kHivexFailed, temporary, errno);
  }
  // A recovered hive is written clean and newer than its logs, which
  // Windows then leaves alone.
  if (recovered_ && !MarkFileClean(fd, recovered_->sequence())) {
    throw Error(ErrorKind::kWriteFailed, temporary, errno);
  }
  if (!added_to.empty() && !SortSubkeyListsInPlace(fd, added_to)) {
    throw Error(ErrorKind::kSortFailed, temporary);
  }
}

}  // namespace sorbantilex::offline
