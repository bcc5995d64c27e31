#include "task_fixture.h"

#include "registry/registro.h"

namespace sorbantilex {

void TaskTest::SetUpDamagedSystem() {
  const std::string policies = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\";
  const std::string copy =
      "Software\\Microsoft\\Windows\\CurrentVersion\\Group Policy Objects\\LocalUser\\Software\\"
      "Microsoft\\Windows\\CurrentVersion\\Policies\\";
  for (const KeyRef root : {kHkeyLocalMachine, kHkeyCurrentUser}) {
    for (const char* policy :
         {"System", "Explorer", "ActiveDesktop", "Uninstall", "SystemRestore"}) {
      Put(root, policies + policy, "NoLock", kRegDword, Dword(1));
      Put(root, copy + policy + "\\Sub", "NoLock", kRegDword, Dword(1));
    }
  }

  const std::string folder =
      "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced\\Folder";
  Put(kHkeyLocalMachine, folder + "\\Hidden\\SHOWALL", "CheckedValue", kRegDword, Dword(0));
  Put(kHkeyLocalMachine, folder + "\\Hidden\\NOHIDDEN", "CheckedValue", kRegDword, Dword(0));
  Put(kHkeyLocalMachine, folder + "\\SuperHidden\\Policy\\Evil", "x", kRegDword, Dword(1));

  const std::string service = "SYSTEM\\CurrentControlSet\\Services\\srservice";
  Put(kHkeyLocalMachine, service, "Start", kRegDword, Dword(4));
  Put(kHkeyLocalMachine, service + "\\Security", "Security", kRegBinary, Bytes{1, 2, 3});
  files_.AddFile(kServiceLibrary, "MZ");
  wmi_.AddService("Eventlog", MemoryWmi::ServiceState::kRunning);
  wmi_.AddService("RpcSs", MemoryWmi::ServiceState::kRunning);
  wmi_.AddService("srservice", MemoryWmi::ServiceState::kDisabled);

  Put(kHkeyLocalMachine, kWinlogon, "Shell", kRegSz, Text("evil.exe"));
  Put(kHkeyLocalMachine, kWinlogon, "Userinit", kRegSz, Text("evil.exe,"));
  Put(kHkeyLocalMachine, kWinlogon, "SFCDisable", kRegDword, Dword(0xFFFFFF9D));

  const std::string safeboot = "SYSTEM\\CurrentControlSet\\Control\\SafeBoot";
  Put(kHkeyLocalMachine, safeboot + "\\Minimal\\AppMgmt", "", kRegSz, Text("Service"));
  Put(kHkeyLocalMachine, safeboot + "\\Minimal\\evil.sys", "", kRegSz, Text("Driver"));

  const std::string domains =
      "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains\\";
  Put(kHkeyCurrentUser, domains + "trusted.com", "*", kRegDword, Dword(2));
  Put(kHkeyCurrentUser, domains + "mixed.com\\bad", "*", kRegDword, Dword(4));
  Put(kHkeyCurrentUser, domains + "mixed.com\\good", "*", kRegDword, Dword(2));

  Put(kHkeyCurrentUser, "Software\\Microsoft\\Internet Explorer\\New Windows\\Allow", "a.com",
      kRegBinary, Bytes{0, 0});

  files_.AddFile(kHosts, "66.6.6.6 www.google.com\r\n");

  const std::string ifeo =
      "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options\\";
  Put(kHkeyLocalMachine, ifeo + "MsMpEng.exe", "Debugger", kRegSz, Text("svchost.exe"));
  Put(kHkeyLocalMachine, ifeo + "notepad.exe", "GlobalFlag", kRegDword, Dword(0x200));
  Put(kHkeyLocalMachine,
      "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\SilentProcessExit\\notepad.exe",
      "MonitorProcess", kRegSz, Text("evil.exe"));
  Put(kHkeyLocalMachine, "SOFTWARE\\Policies\\Microsoft\\Windows Defender", "DisableAntiSpyware",
      kRegDword, Dword(1));
  Put(kHkeyLocalMachine, "SOFTWARE\\Microsoft\\Windows Defender\\Exclusions\\Paths", "C:\\",
      kRegDword, Dword(0));
  Put(kHkeyLocalMachine, "SOFTWARE\\Policies\\Google\\Chrome", "HomepageLocation", kRegSz,
      Text("http://evil.example/"));
  Put(kHkeyCurrentUser, "Software\\Policies\\Microsoft\\Edge", "HomepageLocation", kRegSz,
      Text("http://evil.example/"));
  const std::string internet = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
  Put(kHkeyCurrentUser, internet, "ProxyEnable", kRegDword, Dword(1));
  Put(kHkeyCurrentUser, internet, "ProxyServer", kRegSz, Text("127.0.0.1:8080"));
}

void TaskTest::ExpectRepairLeaves(const PlantedKey& row, const Repair& repair) {
  const auto plant = [&] {
    for (const auto& value : row.planted)
      Put(row.root, row.key, value.name, value.type, value.data);
  };
  const auto sorted = [](std::vector<KeySnapshot::Value> values) {
    std::ranges::sort(values, {}, [](const KeySnapshot::Value& v) { return UpperName(v.name); });
    return values;
  };
  plant();
  const SystemState before = State();

  (funciones_.*repair.run)();

  const auto key = At(row.root, row.key);
  if (!row.left) {
    EXPECT_FALSE(key.has_value()) << "the key stays";
  } else if (!key) {
    ADD_FAILURE() << "the key is gone";
  } else {
    EXPECT_EQ(sorted(key->values), sorted(*row.left));
  }
  EXPECT_EQ(registry_.OpenHandles(), 0u);
  // Nothing else changed.
  Registro(registry_).EliminarClave(row.root, row.key);
  plant();
  EXPECT_EQ(State(), before);
}

}  // namespace sorbantilex
