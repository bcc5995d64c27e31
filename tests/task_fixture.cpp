#include "task_fixture.h"

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
}

}  // namespace sorbantilex
