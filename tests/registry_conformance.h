#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "registry/registry_api.h"

namespace sorbantilex {

/// One registry implementation under test. `make` gives a fresh registry in
/// which HKEY_CURRENT_USER\Software and HKEY_LOCAL_MACHINE\SOFTWARE exist and
/// may be written. The suite works below
/// HKEY_CURRENT_USER\Software\SorbantilexConformance, which it deletes before
/// and after each test, so a persistent registry (Windows, Wine) is fine.
struct RegistryImplementation {
  std::string name;
  std::function<std::unique_ptr<RegistryApi>()> make;
};

/// The behaviour every registry implementation must show. Adding an
/// implementation is one line plus a factory:
///   INSTANTIATE_REGISTRY_CONFORMANCE(Memory, {"Memory", [] { return ...; }});
class RegistryConformance : public ::testing::TestWithParam<RegistryImplementation> {
 protected:
  void SetUp() override;
  void TearDown() override;

  RegistryApi& registry() { return *registry_; }

 private:
  std::unique_ptr<RegistryApi> registry_;
};

}  // namespace sorbantilex

/// Use inside namespace sorbantilex.
#define INSTANTIATE_REGISTRY_CONFORMANCE(suite_name, ...)                                        \
  INSTANTIATE_TEST_SUITE_P(suite_name, RegistryConformance,                                      \
                           ::testing::Values(::sorbantilex::RegistryImplementation __VA_ARGS__), \
                           [](const auto& info) { return info.param.name; })
