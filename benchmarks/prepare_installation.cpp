// sorbantilex-bench-prepare CARPETA SYSTEM NTUSER.DAT: creates the sample
// damaged installation in CARPETA, then puts copies of the given real SYSTEM
// and user hives in place of the generated ones and plants the same damage in
// them. SOFTWARE stays the generated one.

#include <exception>
#include <filesystem>
#include <iostream>
#include <stdexcept>

#include "platform/offline/hive_registry.h"
#include "platform/offline/installation.h"
#include "platform/offline/sample.h"

namespace fs = std::filesystem;
namespace offline = sorbantilex::offline;

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "Uso: sorbantilex-bench-prepare CARPETA SYSTEM NTUSER.DAT\n";
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
    if (!report.errors.empty()) throw std::runtime_error(report.errors.front());
  } catch (const std::exception& error) {
    std::cerr << "sorbantilex-bench-prepare: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
