#include <windows.h>

#include <gtest/gtest.h>

#include "platform/win32/win32_registry.h"
#include "registry_conformance.h"

namespace sorbantilex {
namespace {

INSTANTIATE_REGISTRY_CONFORMANCE(Win32, {"Win32", [] { return std::make_unique<Win32Registry>(); }});

}  // namespace
}  // namespace sorbantilex
