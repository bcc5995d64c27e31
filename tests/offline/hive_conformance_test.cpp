// The registry conformance suite, held against the hive store on a fresh set
// of blank hives for every test.

#include "offline_test_support.h"
#include "registry/forwarding_registry.h"
#include "registry_conformance.h"

namespace sorbantilex::offline::testing {
namespace {

// The hive store together with the folder of its hives.
struct HivesInFolder {
  TempDir dir;
  HiveRegistry registry{MakeHives(dir.path()), true};
};
class HiveRegistryInFolder final : private HivesInFolder, public ForwardingRegistry {
 public:
  HiveRegistryInFolder() : ForwardingRegistry(registry) {}
};

INSTANTIATE_REGISTRY_CONFORMANCE(Hive,
                                 {"Hive", [] { return std::make_unique<HiveRegistryInFolder>(); }});

}  // namespace
}  // namespace sorbantilex::offline::testing
