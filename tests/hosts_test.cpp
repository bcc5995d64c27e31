#include <gtest/gtest.h>

#include <functional>

#include "registry/failure.h"
#include "task_fixture.h"

namespace sorbantilex {
namespace {

constexpr std::string_view kLocalhost = "127.0.0.1 localhost\r\n";
constexpr std::string_view kHijacked =
    "# Copyright (c) 1993-1999 Microsoft Corp.\r\n127.0.0.1 localhost\r\n"
    "66.6.6.6 www.google.com\r\n66.6.6.6 update.microsoft.com\r\n";

struct HostsCase {
  std::string_view name;
  std::function<void(MemoryFiles&)> setup;
  std::int32_t failure;      // 0: none
  std::string_view content;  // afterwards; empty: no file
};

const HostsCase kCases[] = {
    {"ManyLines",
     [](MemoryFiles& f) { f.AddFile("C:\\WINDOWS\\system32\\drivers\\etc\\hosts", kHijacked); }, 0,
     kLocalhost},
    {"OtherLetterCase",
     [](MemoryFiles& f) { f.AddFile("c:\\windows\\System32\\Drivers\\ETC\\HOSTS", kHijacked); }, 0,
     kLocalhost},
    {"Missing", [](MemoryFiles& f) { f.AddFolder("C:\\WINDOWS\\system32\\drivers\\etc"); }, 0,
     kLocalhost},
    {"Hidden",
     [](MemoryFiles& f) {
       f.AddFile("C:\\WINDOWS\\system32\\drivers\\etc\\hosts", kHijacked, MemoryFiles::kHidden);
     },
     0, kLocalhost},
    {"ReadOnly",
     [](MemoryFiles& f) {
       f.AddFile("C:\\WINDOWS\\system32\\drivers\\etc\\hosts", kHijacked, MemoryFiles::kReadOnly);
     },
     5, kHijacked},
    {"Locked",
     [](MemoryFiles& f) {
       f.AddFile("C:\\WINDOWS\\system32\\drivers\\etc\\hosts", kHijacked);
       f.Lock("C:\\WINDOWS\\system32\\drivers\\etc\\hosts");
     },
     32, kHijacked},
    {"MissingFolder", [](MemoryFiles& f) { f.AddFolder("C:\\WINDOWS\\system32\\drivers"); }, 3, ""},
};

class HostsTest : public TaskTest, public ::testing::WithParamInterface<HostsCase> {};

// The file ends with the one localhost line, or, when it cannot be written,
// exactly as it was, with the failure raised for the runner; no other file
// appears.
TEST_P(HostsTest, WritesTheLocalhostLineOrRaises) {
  GetParam().setup(files_);
  const SystemState before = State();

  std::int32_t failure = 0;
  try {
    funciones_.RestaurarHosts();
  } catch (const Failure& f) {
    failure = f.number();
    EXPECT_NE(f.description().find("hosts"), std::string::npos) << f.description();
  }

  EXPECT_EQ(failure, GetParam().failure);
  const auto content = files_.Content(kHosts);
  EXPECT_EQ(content.value_or(""), GetParam().content);
  EXPECT_EQ(files_.FilePaths().size(), GetParam().content.empty() ? 0u : 1u);
  if (failure != 0) {
    EXPECT_EQ(State(), before);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, HostsTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(HostsTest, FollowsTheWindowsDirectory) {
  system_.SetWindowsDirectory("D:\\WINNT");
  files_.AddFolder("D:\\WINNT\\system32\\drivers\\etc");

  funciones_.RestaurarHosts();

  EXPECT_EQ(files_.Content("D:\\WINNT\\system32\\drivers\\etc\\hosts"), std::string(kLocalhost));
  EXPECT_EQ(files_.Content(kHosts), std::nullopt);
}

}  // namespace
}  // namespace sorbantilex
