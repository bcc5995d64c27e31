#include <gtest/gtest.h>

#include <sstream>

#include "registry/failure.h"
#include "task_fixture.h"

namespace sorbantilex {
namespace {

using State = MemoryWmi::ServiceState;
using Call = MemoryWmi::Call;

constexpr std::string_view kService = "SYSTEM\\CurrentControlSet\\Services\\srservice";
constexpr std::string_view kCimv2 = "winmgmts:{impersonationLevel=impersonate}!\\\\.\\root\\cimv2";
constexpr std::string_view kMissingLibrary =
    "La librería srsvc.dll necesaria para \"Restaurar Sistema\" no existe.\r\n"
    "Reponga la librería para continuar.";
constexpr std::string_view kSystemRestorePolicies[] = {
    "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\SystemRestore",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Group Policy Objects\\LocalUser\\Software\\"
    "Microsoft\\Windows\\CurrentVersion\\Policies\\SystemRestore",
};

constexpr std::string_view kDescriptorHex =
    "01 00 14 80 90 00 00 00 9C 00 00 00 14 00 00 00 30 00 00 00 02 00 1C 00 01 00 00 00 02 80 14 "
    "00 "
    "FF 01 0F 00 01 01 00 00 00 00 00 01 00 00 00 00 02 00 60 00 04 00 00 00 00 00 14 00 FD 01 02 "
    "00 "
    "01 01 00 00 00 00 00 05 12 00 00 00 00 00 18 00 FF 01 0F 00 01 02 00 00 00 00 00 05 20 00 00 "
    "00 "
    "20 02 00 00 00 00 14 00 8D 01 02 00 01 01 00 00 00 00 00 05 0B 00 00 00 00 00 18 00 FD 01 02 "
    "00 "
    "01 02 00 00 00 00 00 05 20 00 00 00 23 02 00 00 01 01 00 00 00 00 00 05 12 00 00 00 01 01 00 "
    "00 "
    "00 00 00 05 12 00 00 00";

Bytes Descriptor() {
  std::istringstream in{std::string(kDescriptorHex)};
  Bytes bytes;
  for (int byte = 0; in >> std::hex >> byte;) bytes.push_back(static_cast<std::uint8_t>(byte));
  return bytes;
}

KeySnapshot ExpectedService(std::string_view systemroot) {
  return Key(
      "srservice",
      {Dw("Type", 32),
       Dw("Start", 2),
       Dw("ErrorControl", 1),
       {"ImagePath", kRegExpandSz, Text("%SystemRoot%\\system32\\svchost.exe -k netsvcs")},
       Sz("DisplayName", "Servicio de restauración de sistema"),
       {"DependOnService", kRegMultiSz, Text("RpcSs")},
       {"DependOnGroup", kRegMultiSz, {}},
       Sz("ObjectName", "LocalSystem"),
       Sz("Description",
          "Realiza funciones de restauración del sistema. Para detener el servicio, desactive "
          "Restaurar sistema en la ficha de Restaurar sistema en propiedades de Mi PC")},
      {Key("Enum",
           {Sz("0", "Root\\LEGACY_SRSERVICE\\0000"), Dw("Count", 1), Dw("NextInstance", 1)}),
       Key("Parameters",
           {{"ServiceDll", kRegExpandSz, Text(std::string(systemroot) + "\\System32\\srsvc.dll")}}),
       Key("Security", {{"Security", kRegBinary, Descriptor()}})});
}

class RestaurarSistemaTest : public TaskTest {
 protected:
  void SetUp() override {
    system_.SetEnvironment("SystemRoot", "E:\\WINXP");
    files_.AddFile("E:\\WINXP\\System32\\srsvc.dll", "MZ");
    wmi_.AddService("Eventlog", State::kRunning);
    wmi_.AddService("RpcSs", State::kRunning);
    wmi_.AddService("srservice", State::kRunning);
    const std::string service(kService);
    Put(kHkeyLocalMachine, service, "Start", kRegDword, Dword(4));
    Put(kHkeyLocalMachine, service, "Stray", kRegSz, Text("x"));
    Put(kHkeyLocalMachine, service + "\\Parameters", "ServiceDll", kRegExpandSz, Text("evil.dll"));
    Put(kHkeyLocalMachine, service + "\\Extra\\Deeper", "x", kRegSz, Text("y"));
    for (const KeyRef root : {kHkeyLocalMachine, kHkeyCurrentUser}) {
      for (const auto policy : kSystemRestorePolicies) {
        Put(root, policy, "DisableSR", kRegDword, Dword(1));
      }
    }
  }

  void ExpectRebuilt(std::string_view systemroot) {
    EXPECT_EQ(At(kHkeyLocalMachine, kService), ExpectedService(systemroot));
    for (const KeyRef root : {kHkeyLocalMachine, kHkeyCurrentUser}) {
      for (const auto policy : kSystemRestorePolicies) EXPECT_FALSE(At(root, policy)) << policy;
    }
    EXPECT_EQ(registry_.OpenHandles(), 0u);
  }
};

TEST_F(RestaurarSistemaTest, RebuildsTheServiceKeyFromItsTemplate) {
  funciones_.RepararRestaurarSistema();

  ExpectRebuilt("E:\\WINXP");
  EXPECT_TRUE(ui_.Messages().empty());
  EXPECT_EQ(wmi_.State("srservice"), State::kRunning);
}

// The stop comes first; the starts come last, in their order; the monikers,
// the query texts and the binary value cross to WMI as they stand.
TEST_F(RestaurarSistemaTest, TalksToWmiInItsOrder) {
  std::vector<std::size_t> calls_at_yield;
  std::optional<SystemState> at_first_yield;
  ui_.on_yield = [&] {
    calls_at_yield.push_back(wmi_.calls().size());
    if (!at_first_yield) at_first_yield = State();
  };
  const SystemState before = State();

  funciones_.RepararRestaurarSistema();

  const auto query = [](std::string_view name) {
    return Call{std::string(kCimv2),
                "ExecQuery",
                {"Select * from Win32_Service Where Name ='" + std::string(name) + "'"}};
  };
  const auto instance = [](std::string_view name, std::string_view method) {
    return Call{"Win32_Service.Name=\"" + std::string(name) + "\"", std::string(method), {}};
  };
  const Bytes descriptor = Descriptor();
  const std::vector<Call> expected = {
      {std::string(kCimv2), "", {}},
      query("srservice"),
      instance("srservice", "StopService"),
      {"Winmgmts:root\\default:StdRegProv", "", {}},
      {"StdRegProv",
       "SetBinaryValue",
       {static_cast<std::int32_t>(0x80000002u), std::string(kService) + "\\Security", "Security",
        std::vector<std::int32_t>(descriptor.begin(), descriptor.end())}},
      {std::string(kCimv2), "", {}},
      query("Eventlog"),
      instance("Eventlog", "StartService"),
      {std::string(kCimv2), "", {}},
      query("RpcSs"),
      instance("RpcSs", "StartService"),
      {std::string(kCimv2), "", {}},
      query("srservice"),
      instance("srservice", "StartService"),
  };
  EXPECT_EQ(wmi_.calls(), expected);
  EXPECT_EQ(calls_at_yield, (std::vector<std::size_t>{3, 3, 5, 8, 11, 14, 14}));
  ASSERT_TRUE(at_first_yield);
  at_first_yield->services = before.services;  // only the service was stopped
  EXPECT_EQ(*at_first_yield, before);
}

struct LibraryCase {
  std::string_view name;
  std::optional<std::uint32_t> attributes;  // nullopt: no file
};

// A missing library, or one hidden or marked as a system file, is told once;
// the rebuild then goes on as when it is present.
const LibraryCase kLibraryCases[] = {
    {"Missing", std::nullopt},
    {"Hidden", MemoryFiles::kHidden},
    {"SystemFile", MemoryFiles::kSystem},
};

class LibraryTest : public RestaurarSistemaTest,
                    public ::testing::WithParamInterface<LibraryCase> {};

TEST_P(LibraryTest, IsToldOnceAndTheRebuildGoesOn) {
  constexpr std::string_view kLibrary = "E:\\WINXP\\System32\\srsvc.dll";
  if (GetParam().attributes) {
    files_.AddFile(kLibrary, "MZ", *GetParam().attributes);
  } else {
    files_.RemoveFile(kLibrary);
  }

  funciones_.RepararRestaurarSistema();

  using Event = RecordingWindowServices::Event;
  EXPECT_EQ(std::ranges::count(ui_.events(),
                               Event{Event::Kind::kMessage, std::string(kMissingLibrary), ""}),
            1);
  EXPECT_EQ(ui_.Messages().size(), 1u);
  ExpectRebuilt("E:\\WINXP");
}

INSTANTIATE_TEST_SUITE_P(Library, LibraryTest, ::testing::ValuesIn(kLibraryCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RestaurarSistemaTest, UnavailableWmiFailsBeforeAnyChange) {
  wmi_.SetAvailable(false);
  const SystemState before = State();

  EXPECT_THROW(funciones_.RepararRestaurarSistema(), Failure);

  EXPECT_EQ(State(), before);
  EXPECT_TRUE(ui_.events().empty());
  EXPECT_EQ(wmi_.calls().size(), 1u);
}

// Without the variable the library is looked for, and registered, under the
// Windows directory rather than at the root of no folder.
TEST_F(RestaurarSistemaTest, MissingSystemRootFallsBackToTheWindowsDirectory) {
  system_.SetEnvironment("SystemRoot", std::nullopt);
  files_.AddFile(kServiceLibrary, "MZ");

  funciones_.RepararRestaurarSistema();

  EXPECT_TRUE(ui_.Messages().empty());
  ExpectRebuilt("C:\\WINDOWS");
}

}  // namespace
}  // namespace sorbantilex
