#include <gtest/gtest.h>

#include "task_fixture.h"

namespace sorbantilex {
namespace {

const std::string kIfeo =
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options\\";
const std::string kIfeoWow =
    "SOFTWARE\\WOW6432Node\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options\\";
const std::string kSilent = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\SilentProcessExit\\";
const std::string kSilentWow =
    "SOFTWARE\\WOW6432Node\\Microsoft\\Windows NT\\CurrentVersion\\SilentProcessExit\\";

KeySnapshot::Value Bin(std::string name, Bytes data) { return {std::move(name), kRegBinary, data}; }

const Repair kRepair{"QuitarDepuradores", &Funciones::QuitarDepuradores};

const PlantedKey kCases[] = {
    {"DebuggerGoesOtherValuesStay",
     kHkeyLocalMachine,
     kIfeo + "sethc.exe",
     {Sz("Debugger", "C:\\Windows\\System32\\cmd.exe"), Dw("DisableHeapLookaside", 1)},
     {{Dw("DisableHeapLookaside", 1)}}},
    {"DebuggerInAnyLetterCase",
     kHkeyLocalMachine,
     kIfeo + "MsMpEng.exe",
     {Sz("debugger", "svchost.exe")},
     {{}}},
    {"DebuggerOfTheWow64View",
     kHkeyLocalMachine,
     kIfeoWow + "taskmgr.exe",
     {Sz("Debugger", "nada.exe")},
     {{}}},
    {"DebuggerOfAFilterSubkey",
     kHkeyLocalMachine,
     kIfeo + "svchost.exe\\Filtro",
     {Sz("FilterFullPath", "C:\\Windows\\System32\\svchost.exe"), Sz("Debugger", "nada.exe")},
     {{Sz("FilterFullPath", "C:\\Windows\\System32\\svchost.exe")}}},
    {"GlobalFlagLosesOnlyTheSilentExitBit",
     kHkeyLocalMachine,
     kIfeo + "notepad.exe",
     {Dw("GlobalFlag", 0x80000202)},
     {{Dw("GlobalFlag", 0x80000002)}}},
    {"GlobalFlagOfTheWow64View",
     kHkeyLocalMachine,
     kIfeoWow + "notepad.exe",
     {Dw("GlobalFlag", 0x200)},
     {{Dw("GlobalFlag", 0)}}},
    {"GlobalFlagWithoutTheBitStays",
     kHkeyLocalMachine,
     kIfeo + "notepad.exe",
     {Dw("GlobalFlag", 0x02000000)},
     {{Dw("GlobalFlag", 0x02000000)}}},
    {"GlobalFlagAsHexTextKeepsItsForm",
     kHkeyLocalMachine,
     kIfeo + "calc.exe",
     {{"GlobalFlag", kRegSz, Text(std::string_view("0x00000200\0", 11))}},
     {{{"GlobalFlag", kRegSz, Text(std::string_view("0x00000000\0", 11))}}}},
    {"GlobalFlagAsUpperHexText",
     kHkeyLocalMachine,
     kIfeo + "calc.exe",
     {Sz("GlobalFlag", "0X200A20E")},
     {{Sz("GlobalFlag", "0X200A00E")}}},
    {"GlobalFlagAsDecimalText",
     kHkeyLocalMachine,
     kIfeo + "calc.exe",
     {{"GlobalFlag", kRegSz, Text(std::string_view("514\0", 4))}},
     {{{"GlobalFlag", kRegSz, Text(std::string_view("2\0", 2))}}}},
    {"GlobalFlagTextThatIsNoNumberStays",
     kHkeyLocalMachine,
     kIfeo + "calc.exe",
     {Sz("GlobalFlag", "0x2g0")},
     {{Sz("GlobalFlag", "0x2g0")}}},
    {"GlobalFlagOfAnotherTypeStays",
     kHkeyLocalMachine,
     kIfeo + "calc.exe",
     {Bin("GlobalFlag", Dword(0x200))},
     {{Bin("GlobalFlag", Dword(0x200))}}},
    {"SilentExitMonitorGoesWithItsKey",
     kHkeyLocalMachine,
     kSilent + "notepad.exe",
     {Sz("MonitorProcess", "evil.exe"), Dw("ReportingMode", 1)},
     std::nullopt},
    {"SilentExitMonitorOfTheWow64View",
     kHkeyLocalMachine,
     kSilentWow + "calc.exe",
     {Sz("MonitorProcess", "evil.exe")},
     std::nullopt},
    {"SilentExitKeyWithoutMonitorStays",
     kHkeyLocalMachine,
     kSilent + "app.exe",
     {Sz("LocalDumpFolder", "C:\\dumps"), Dw("ReportingMode", 2)},
     {{Sz("LocalDumpFolder", "C:\\dumps"), Dw("ReportingMode", 2)}}},
};

class DepuradoresTest : public TaskTest, public ::testing::WithParamInterface<PlantedKey> {};

TEST_P(DepuradoresTest, LeavesTheKeyAsExpectedAndNothingElseChanges) {
  ExpectRepairLeaves(GetParam(), kRepair);
}

INSTANTIATE_TEST_SUITE_P(Planted, DepuradoresTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TaskTest, DepuradoresWithNoImageFileExecutionOptionsIsNoError) {
  const SystemState before = State();
  funciones_.QuitarDepuradores();
  EXPECT_EQ(State(), before);
  EXPECT_EQ(registry_.OpenHandles(), 0u);
}

}  // namespace
}  // namespace sorbantilex
