#include <gtest/gtest.h>

#include <map>

#include "recording_registry.h"
#include "task_fixture.h"
#include "tasks/modo_seguro.h"

namespace sorbantilex {
namespace {

constexpr std::string_view kSafeBoot = "SYSTEM\\CurrentControlSet\\Control\\SafeBoot";

struct Entry {
  std::string_view key;
  std::string_view text;
  bool minimal;  // in the Minimal set too
};

// The Network set; the Minimal set is the entries marked true.
constexpr Entry kEntries[] = {
    {"AFD", "Service", false},
    {"AppMgmt", "Service", true},
    {"Base", "Driver Group", true},
    {"Boot Bus Extender", "Driver Group", true},
    {"Boot file system", "Driver Group", true},
    {"Browser", "Service", false},
    {"CryptSvc", "Service", true},
    {"DcomLaunch", "Service", true},
    {"Dhcp", "Service", false},
    {"dmadmin", "Service", true},
    {"dmboot.sys", "Driver", true},
    {"dmio.sys", "Driver", true},
    {"dmload.sys", "Driver", true},
    {"dmserver", "Service", true},
    {"DnsCache", "Service", false},
    {"EventLog", "Service", true},
    {"File system", "Driver Group", true},
    {"Filter", "Driver Group", true},
    {"HelpSvc", "Service", true},
    {"ip6fw.sys", "Driver", false},
    {"ipnat.sys", "Driver", false},
    {"LanmanServer", "Service", false},
    {"LanmanWorkstation", "Service", false},
    {"LmHosts", "Service", false},
    {"Messenger", "Service", false},
    {"NDIS", "Driver Group", false},
    {"NDIS Wrapper", "Driver Group", false},
    {"Ndisuio", "Service", false},
    {"NetBIOS", "Service", false},
    {"NetBIOSGroup", "Driver Group", false},
    {"NetBT", "Service", false},
    {"NetDDEGroup", "Driver Group", false},
    {"Netlogon", "Service", true},
    {"NetMan", "Service", false},
    {"Network", "Driver Group", false},
    {"NetworkProvider", "Driver Group", false},
    {"nm", "Service", false},
    {"nm.sys", "Driver", false},
    {"NtLmSsp", "Service", false},
    {"PCI Configuration", "Driver Group", true},
    {"PlugPlay", "Service", true},
    {"PNP Filter", "Driver Group", true},
    {"PNP_TDI", "Driver Group", false},
    {"Primary disk", "Driver Group", true},
    {"rdpcdd.sys", "Driver", false},
    {"rdpdd.sys", "Driver", false},
    {"rdpwd.sys", "Driver", false},
    {"rdsessmgr", "Service", false},
    {"RpcSs", "Service", true},
    {"SCSI Class", "Driver Group", true},
    {"sermouse.sys", "Driver", true},
    {"SharedAccess", "Service", false},
    {"sr.sys", "FSFilter System Recovery", true},
    {"SRService", "Service", true},
    {"Streams Drivers", "Driver Group", false},
    {"System Bus Extender", "Driver Group", true},
    {"Tcpip", "Service", false},
    {"TDI", "Driver Group", false},
    {"tdpipe.sys", "Driver", false},
    {"tdtcp.sys", "Driver", false},
    {"termservice", "Service", false},
    {"vga.sys", "Driver", true},
    {"vgasave.sys", "Driver", true},
    {"WinMgmt", "Service", true},
    {"WZCSVC", "Service", false},
    {"{36FC9E60-C465-11CF-8056-444553540000}", "Universal Serial Bus controllers", true},
    {"{4D36E965-E325-11CE-BFC1-08002BE10318}", "CD-ROM Drive", true},
    {"{4D36E967-E325-11CE-BFC1-08002BE10318}", "DiskDrive", true},
    {"{4D36E969-E325-11CE-BFC1-08002BE10318}", "Standard floppy disk controller", true},
    {"{4D36E96A-E325-11CE-BFC1-08002BE10318}", "Hdc", true},
    {"{4D36E96B-E325-11CE-BFC1-08002BE10318}", "Keyboard", true},
    {"{4D36E96F-E325-11CE-BFC1-08002BE10318}", "Mouse", true},
    {"{4D36E972-E325-11CE-BFC1-08002BE10318}", "Net", false},
    {"{4D36E973-E325-11CE-BFC1-08002BE10318}", "NetClient", false},
    {"{4D36E974-E325-11CE-BFC1-08002BE10318}", "NetService", false},
    {"{4D36E975-E325-11CE-BFC1-08002BE10318}", "NetTrans", false},
    {"{4D36E977-E325-11CE-BFC1-08002BE10318}", "PCMCIA Adapters", true},
    {"{4D36E97B-E325-11CE-BFC1-08002BE10318}", "SCSIAdapter", true},
    {"{4D36E97D-E325-11CE-BFC1-08002BE10318}", "System", true},
    {"{4D36E980-E325-11CE-BFC1-08002BE10318}", "Floppy disk drive", true},
    {"{71A27CDD-812A-11D0-BEC7-08002BE2092F}", "Volume", true},
    {"{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}", "Human Interface Devices", true},
};

KeySnapshot EntryKey(std::string_view name, std::string_view text) {
  if (text.empty()) return Key(std::string(name), {});  // no default value
  return Key(std::string(name), {Sz("", text)});
}

// The key a repair leaves: the XP lists, and after them the entries of the
// generation's lists (when there is one) that they lack.
KeySnapshot ExpectedSafeBoot(const ListasModoSeguro* generation = nullptr) {
  std::vector<KeySnapshot> minimal;
  std::vector<KeySnapshot> network;
  for (const Entry& entry : kEntries) {
    const KeySnapshot key = EntryKey(entry.key, entry.text);
    if (entry.minimal) minimal.push_back(key);
    network.push_back(key);
  }
  const auto add = [](std::vector<KeySnapshot>& group, std::span<const EntradaModoSeguro> more) {
    for (const EntradaModoSeguro& entry : more) {
      if (std::ranges::none_of(
              group, [&](const KeySnapshot& had) { return SameName(had.name, entry.clave); })) {
        group.push_back(EntryKey(entry.clave, entry.texto));
      }
    }
  };
  if (generation != nullptr) {
    add(minimal, generation->minimo);
    add(network, generation->red);
  }
  return Key("SafeBoot", {Sz("AlternateShell", "cmd.exe")},
             {Key("Minimal", {}, std::move(minimal)), Key("Network", {}, std::move(network))});
}

class ModoSeguroTest : public TaskTest {};

// Snapshots list subkeys sorted; the call log shows the order the entries
// are written in, which Windows keeps.
TEST_F(ModoSeguroTest, WritesBothSetsInTheirOrder) {
  EXPECT_EQ(std::size(kEntries), 82u);
  EXPECT_EQ(std::ranges::count(kEntries, true, &Entry::minimal), 42);
  RecordingRegistry recorder(registry_);
  Funciones funciones({recorder, system_, files_, wmi_, ui_});

  funciones.RepararModoSeguro();

  std::map<std::string, std::vector<std::string>> written;  // by group
  const std::string prefix = "Create(HKLM," + std::string(kSafeBoot) + "\\";
  for (const std::string& call : recorder.calls) {
    if (!call.starts_with(prefix)) continue;
    const std::string rest =
        call.substr(prefix.size(), call.find(',', prefix.size()) - prefix.size());
    const auto slash = rest.find('\\');
    if (slash != std::string::npos)
      written[rest.substr(0, slash)].push_back(rest.substr(slash + 1));
  }
  std::map<std::string, std::vector<std::string>> expected;
  for (const Entry& entry : kEntries) {
    if (entry.minimal) expected["Minimal"].emplace_back(entry.key);
    expected["Network"].emplace_back(entry.key);
  }
  EXPECT_EQ(written, expected);
}

// Foreign entries and values go, changed or missing entries come back, and
// the key ends exactly as the two lists say.
TEST_F(ModoSeguroTest, RebuildsTheWholeKey) {
  const std::string base(kSafeBoot);
  Put(kHkeyLocalMachine, base, "AlternateShell", kRegSz, Text("evil.exe"));
  Put(kHkeyLocalMachine, base, "Other", kRegDword, Dword(7));
  Put(kHkeyLocalMachine, base + "\\Minimal", "Stray", kRegSz, Text("x"));
  Put(kHkeyLocalMachine, base + "\\Minimal\\AppMgmt", "", kRegSz, Text("Driver"));
  Put(kHkeyLocalMachine, base + "\\Minimal\\AppMgmt", "Extra", kRegSz, Text("x"));
  Put(kHkeyLocalMachine, base + "\\Minimal\\evildrv.sys\\Deeper", "", kRegSz, Text("Driver"));
  Put(kHkeyLocalMachine, base + "\\Network\\EventLog", "", kRegExpandSz, Text("Service"));
  CreateKey(kHkeyLocalMachine, base + "\\Option");

  funciones_.RepararModoSeguro();

  EXPECT_EQ(At(kHkeyLocalMachine, kSafeBoot), ExpectedSafeBoot());
  EXPECT_TRUE(ui_.events().empty());
  EXPECT_EQ(registry_.OpenHandles(), 0u);
}

// After Windows XP the system keeps many entries of its own under SafeBoot;
// they all stay, with everything in them, and only the missing entries of
// the XP lists and of the system's own generation are added. An unreadable
// version is treated alike, with the XP lists only: nothing is deleted. The
// version that counts is the real one, not what a compatibility mode makes
// GetVersionEx say.
using Version = std::optional<std::pair<std::uint32_t, std::uint32_t>>;
struct LaterSystem {
  std::string_view name;
  Version version;  // what GetVersionEx says
  const ListasModoSeguro* generation;
  std::optional<Version> real_version = std::nullopt;  // when it says otherwise
};
constexpr LaterSystem kLaterSystems[] = {
    {"Vista", std::pair{6u, 0u}, &kModoSeguroWindows7},
    {"Windows7", std::pair{6u, 1u}, &kModoSeguroWindows7},
    {"Windows8", std::pair{6u, 2u}, &kModoSeguroWindows10},
    {"Windows81", std::pair{6u, 3u}, &kModoSeguroWindows10},
    {"Windows10", std::pair{10u, 0u}, &kModoSeguroWindows10},
    {"Windows10InXpCompatibilityMode", std::pair{5u, 1u}, &kModoSeguroWindows10,
     Version(std::pair{10u, 0u})},
    {"VersionUnreadable", std::nullopt, nullptr},
};

class ModoSeguroLaterTest : public TaskTest, public ::testing::WithParamInterface<LaterSystem> {
 protected:
  void SetVersion(const LaterSystem& system) {
    system_.SetVersion(system.version);
    if (system.real_version) system_.SetRealVersion(*system.real_version);
  }
};

TEST_P(ModoSeguroLaterTest, KeepsEveryEntryAndAddsTheMissingOnes) {
  SetVersion(GetParam());
  const std::string base(kSafeBoot);
  Put(kHkeyLocalMachine, base, "AlternateShell", kRegSz, Text("evil.exe"));
  Put(kHkeyLocalMachine, base + "\\Minimal\\RpcEptMapper", "", kRegSz, Text("Service"));
  Put(kHkeyLocalMachine, base + "\\Minimal\\volmgr.sys", "", kRegSz, Text("Driver"));
  Put(kHkeyLocalMachine, base + "\\Minimal\\appmgmt", "", kRegSz, Text("Driver Group"));
  Put(kHkeyLocalMachine, base + "\\Minimal\\appmgmt", "Extra", kRegDword, Dword(1));
  Put(kHkeyLocalMachine, base + "\\Network\\BasicDisplay.sys\\Deeper", "", kRegSz, Text("Driver"));
  CreateKey(kHkeyLocalMachine, base + "\\Network\\LSM");
  Put(kHkeyLocalMachine, base + "\\Option", "OptionValue", kRegDword, Dword(1));
  const KeySnapshot before = *At(kHkeyLocalMachine, base);

  funciones_.RepararModoSeguro();

  // Expected: the old tree, AlternateShell set, and each list entry that had
  // no key added with its text.
  KeySnapshot expected = ExpectedSafeBoot(GetParam().generation);
  for (KeySnapshot& group : expected.subkeys) {
    for (const KeySnapshot& old_group : before.subkeys) {
      if (old_group.name != group.name) continue;
      std::erase_if(group.subkeys, [&](const KeySnapshot& entry) {
        return std::ranges::any_of(old_group.subkeys, [&](const KeySnapshot& old) {
          return SameName(old.name, entry.name);
        });
      });
      for (const KeySnapshot& old : old_group.subkeys) group.subkeys.push_back(old);
      group = Key(group.name, group.values, group.subkeys);
    }
  }
  expected.subkeys.push_back(before.subkeys.back());  // Option
  expected = Key(expected.name, expected.values, expected.subkeys);
  EXPECT_EQ(At(kHkeyLocalMachine, kSafeBoot), expected);
  EXPECT_EQ(registry_.OpenHandles(), 0u);

  funciones_.RepararModoSeguro();
  EXPECT_EQ(At(kHkeyLocalMachine, kSafeBoot), expected);
}

TEST_P(ModoSeguroLaterTest, MissingKeyIsBuiltFromTheLists) {
  SetVersion(GetParam());
  CreateKey(kHkeyLocalMachine, "SYSTEM\\CurrentControlSet\\Control");

  funciones_.RepararModoSeguro();

  EXPECT_EQ(At(kHkeyLocalMachine, kSafeBoot), ExpectedSafeBoot(GetParam().generation));
}

// A system that lost a few entries gets exactly those back, and nothing else
// is written.
TEST_P(ModoSeguroLaterTest, WritesOnlyTheEntriesThatAreMissing) {
  SetVersion(GetParam());
  funciones_.RepararModoSeguro();
  const KeySnapshot whole = *At(kHkeyLocalMachine, kSafeBoot);
  const std::string base(kSafeBoot);
  // In the order written: per group, the XP list's, then the generation's.
  std::vector<std::string> lost = {"Minimal\\vgasave.sys"};
  if (GetParam().generation != nullptr)
    lost.push_back("Minimal\\" + std::string(GetParam().generation->minimo[0].clave));
  lost.push_back("Network\\NetBT");
  if (GetParam().generation != nullptr)
    lost.push_back("Network\\" + std::string(GetParam().generation->red.back().clave));
  for (const std::string& entry : lost) registry_.DeleteKey(kHkeyLocalMachine, base + "\\" + entry);
  RecordingRegistry recorder(registry_);
  Funciones funciones({recorder, system_, files_, wmi_, ui_});

  funciones.RepararModoSeguro();

  std::vector<std::string> created;
  const std::string prefix = "Create(HKLM," + base + "\\";
  for (const std::string& call : recorder.calls) {
    if (!call.starts_with(prefix)) continue;
    const std::string key =
        call.substr(prefix.size(), call.find(',', prefix.size()) - prefix.size());
    if (key != "Minimal" && key != "Network") created.push_back(key);
  }
  EXPECT_EQ(created, lost);
  EXPECT_EQ(At(kHkeyLocalMachine, kSafeBoot), whole);
}

INSTANTIATE_TEST_SUITE_P(Systems, ModoSeguroLaterTest, ::testing::ValuesIn(kLaterSystems),
                         [](const auto& info) { return std::string(info.param.name); });

// Ransomware deletes the lists; each generation gets back its own, with the
// text of each entry, besides the XP lists. Counts and entries as the real
// installations have them.
struct WipedSystem {
  std::string_view name;
  std::pair<std::uint32_t, std::uint32_t> version;
  std::size_t minimal;  // entries of the generation's list and XP's others
  std::size_t network;
  std::vector<std::pair<std::string_view, std::string_view>> entries;  // path, text
  std::vector<std::string_view> absent;  // entries of the installation's own software
};
const WipedSystem kWipedSystems[] = {
    {"Windows7",
     {6, 1},
     60 - 1 + 7,  // its own, but the antivirus's, and XP's others
     121 - 8 + 18,
     {{"Minimal\\ProfSvc", "Service"},
      {"Minimal\\volmgr.sys", "Driver"},
      {"Minimal\\RpcEptMapper", "Service"},
      {"Minimal\\{D94EE5D8-D189-4994-83D2-F68D7D41B0E6}", "SecurityDevices"},
      {"Minimal\\sr.sys", "FSFilter System Recovery"},
      {"Network\\{50DD5230-BA8A-11D1-BF5D-0000F805F530}", "Smart card readers"},
      {"Network\\WudfUsbccidDriver", "Driver"},
      {"Network\\WZCSVC", "Service"}},
     {"Minimal\\MCODS", "Network\\McMPFSvc", "Network\\mfehidk.sys"}},
    {"Windows10",
     {10, 0},
     82 + 9,
     140 + 20,
     {{"Minimal\\LSM", "Service"},
      {"Minimal\\BrokerInfrastructure", "Service"},
      {"Minimal\\BasicDisplay.sys", "Driver"},
      {"Minimal\\HdAudBus.Sys", "Driver"},
      {"Minimal\\{F2E7DD72-6468-4E36-B6F1-6488F42C1B52}", "Firmware"},
      {"Minimal\\vga.sys", "Driver"},
      {"Network\\WinQuic", "Driver"},
      {"Network\\Wcmsvc", "Service"},
      {"Network\\{A0A588A4-C46F-4B37-B7EA-C82FE89870C6}",
       "SDA Standard Compliant SD Host Controller"},
      {"Network\\termservice", "Service"}},
     {}},
};

class ModoSeguroWipedTest : public TaskTest, public ::testing::WithParamInterface<WipedSystem> {};

TEST_P(ModoSeguroWipedTest, ListsComeBackWithTheGenerationsEntriesAndText) {
  const WipedSystem& wiped = GetParam();
  system_.SetVersion(wiped.version);
  const std::string base(kSafeBoot);
  Put(kHkeyLocalMachine, base, "AlternateShell", kRegSz, Text("cmd.exe"));
  CreateKey(kHkeyLocalMachine, base + "\\Minimal");
  CreateKey(kHkeyLocalMachine, base + "\\Network");

  funciones_.RepararModoSeguro();

  const KeySnapshot after = *At(kHkeyLocalMachine, kSafeBoot);
  ASSERT_EQ(after.subkeys.size(), 2u);
  EXPECT_EQ(after.subkeys[0].subkeys.size(), wiped.minimal);
  EXPECT_EQ(after.subkeys[1].subkeys.size(), wiped.network);
  for (const auto& [path, text] : wiped.entries) {
    const std::string group(path.substr(0, path.find('\\')));
    const std::string name(path.substr(path.find('\\') + 1));
    EXPECT_EQ(At(kHkeyLocalMachine, base + "\\" + std::string(path)), EntryKey(name, text)) << path;
    if (group == "Minimal") {  // these are in the Network list too
      EXPECT_EQ(At(kHkeyLocalMachine, base + "\\Network\\" + name), EntryKey(name, text)) << path;
    }
  }
  for (const std::string_view path : wiped.absent) {
    EXPECT_FALSE(At(kHkeyLocalMachine, base + "\\" + std::string(path)).has_value()) << path;
  }
}

INSTANTIATE_TEST_SUITE_P(Generations, ModoSeguroWipedTest, ::testing::ValuesIn(kWipedSystems),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ModoSeguroTest, MissingKeyIsRebuiltAlike) {
  CreateKey(kHkeyLocalMachine, "SYSTEM\\CurrentControlSet\\Control");

  funciones_.RepararModoSeguro();

  EXPECT_EQ(At(kHkeyLocalMachine, kSafeBoot), ExpectedSafeBoot());
}

}  // namespace
}  // namespace sorbantilex
