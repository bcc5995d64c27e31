// sorbantilex-bench-prepare CARPETA SYSTEM NTUSER.DAT [MIB]: creates the
// sample damaged installation in CARPETA, then puts copies of the given real
// SYSTEM and user hives in place of the generated ones and plants the same
// damage in them. SOFTWARE stays the generated one; with MIB, real content
// (copies of SYSTEM's ControlSet001, under SOFTWARE\Injerto) is grafted into
// it until the three hives hold about MIB mebibytes together.

#include <hivex.h>

#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/offline/installation/hive_registry.h"
#include "platform/offline/installation/installation.h"
#include "platform/offline/installation/sample.h"

namespace fs = std::filesystem;
namespace offline = sorbantilex::offline;

namespace {

struct CloseHive {
  void operator()(hive_h* hive) const noexcept { hivex_close(hive); }
};
using UniqueHive = std::unique_ptr<hive_h, CloseHive>;
struct FreeMemory {
  void operator()(void* memory) const noexcept { std::free(memory); }
};

// Copies the key `from` of `source` with its values and subkeys as a new
// subkey of `parent` in `target`.
void CopyKey(hive_h* source, hive_node_h from, hive_h* target, hive_node_h parent,
             const char* name) {
  const hive_node_h made = hivex_node_add_child(target, parent, name);
  if (made == 0) throw std::runtime_error("hivex_node_add_child failed");
  std::unique_ptr<hive_value_h, FreeMemory> values(hivex_node_values(source, from));
  if (values) {
    std::vector<std::unique_ptr<char, FreeMemory>> keep;
    std::vector<hive_set_value> set;
    for (const hive_value_h* value = values.get(); *value != 0; ++value) {
      hive_type type{};
      std::size_t length = 0;
      char* data = hivex_value_value(source, *value, &type, &length);
      char* key = hivex_value_key(source, *value);
      if (data == nullptr || key == nullptr || length > 16344) {
        std::free(data);
        std::free(key);
        continue;
      }
      keep.emplace_back(data);
      keep.emplace_back(key);
      set.push_back(hive_set_value{key, type, length, data});
    }
    if (hivex_node_set_values(target, made, set.size(), set.data(), 0) != 0) {
      throw std::runtime_error("hivex_node_set_values failed");
    }
  }
  std::unique_ptr<hive_node_h, FreeMemory> children(hivex_node_children(source, from));
  if (!children) return;
  for (const hive_node_h* child = children.get(); *child != 0; ++child) {
    std::unique_ptr<char, FreeMemory> child_name(hivex_node_name(source, *child));
    if (child_name) CopyKey(source, *child, target, made, child_name.get());
  }
}

std::uintmax_t TotalSize(const offline::HivePaths& paths) {
  return fs::file_size(paths.software) + fs::file_size(paths.system) + fs::file_size(paths.user);
}

// Grafts `copies` copies of SYSTEM's ControlSet001 under SOFTWARE\Injerto.
void Graft(const offline::HivePaths& paths, int first, int copies) {
  UniqueHive source(hivex_open(paths.system.c_str(), 0));
  UniqueHive target(hivex_open(paths.software.c_str(), HIVEX_OPEN_WRITE));
  if (!source || !target) throw std::runtime_error("cannot open the hives to graft");
  const hive_node_h from =
      hivex_node_get_child(source.get(), hivex_root(source.get()), "ControlSet001");
  hive_node_h graft = hivex_node_get_child(target.get(), hivex_root(target.get()), "Injerto");
  if (graft == 0) graft = hivex_node_add_child(target.get(), hivex_root(target.get()), "Injerto");
  if (from == 0 || graft == 0) throw std::runtime_error("nothing to graft");
  for (int k = first; k < first + copies; ++k) {
    CopyKey(source.get(), from, target.get(), graft, ("Copia" + std::to_string(k)).c_str());
  }
  if (hivex_commit(target.get(), nullptr, 0) != 0) throw std::runtime_error("hivex_commit failed");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    std::cerr << "Uso: sorbantilex-bench-prepare CARPETA SYSTEM NTUSER.DAT [MIB]\n";
    return 2;
  }
  try {
    const fs::path root = argv[1];
    offline::MakeSampleInstallation(root);
    const offline::HivePaths paths = offline::Installation::Find(root).Hives(offline::kSampleUser);
    for (const auto& [from, to] :
         {std::pair{fs::path(argv[2]), paths.system}, {fs::path(argv[3]), paths.user}}) {
      fs::copy_file(from, to, fs::copy_options::overwrite_existing);
      fs::permissions(to, fs::perms::owner_write, fs::perm_options::add);
    }
    offline::HiveRegistry registry(paths, true);
    offline::PlantSampleDamage(registry);
    offline::CommitHooks hooks;
    hooks.keep_backup = false;
    const auto report = registry.Commit(hooks);
    if (!report.errors.empty()) throw report.errors.front();
    if (argc == 5) {
      const std::uintmax_t wanted = std::stoull(argv[4]) << 20;
      std::uintmax_t size = TotalSize(paths);
      if (size < wanted) {
        Graft(paths, 1, 1);
        const std::uintmax_t grown = TotalSize(paths) - size;
        size += grown;
        if (size < wanted && grown > 0) {
          Graft(paths, 2, static_cast<int>((wanted - size + grown / 2) / grown));
        }
      }
    }
  } catch (const std::exception& error) {
    std::cerr << "sorbantilex-bench-prepare: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
