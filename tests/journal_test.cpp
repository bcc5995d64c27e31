#include "registry/journal.h"

#include <gtest/gtest.h>

#include "app/ini_rem.h"
#include "platform/memory/memory_window_system.h"
#include "reg_import.h"
#include "registry/registro.h"
#include "task_fixture.h"

namespace sorbantilex {
namespace {

// What a run can change: each repair of the catalogue, and the start-page
// dialog's "Aplicar" (the one change made outside them).
struct Change {
  std::string_view name;
  void (Funciones::*repair)() = nullptr;  // null: the start-page dialog
};
void PrintTo(const Change& change, std::ostream* out) { *out << change.name; }

const std::vector<Change> kChanges = [] {
  std::vector<Change> changes;
  for (const Repair& repair : kRepairs) changes.push_back({repair.name, repair.run});
  changes.push_back({"PaginaDeInicio"});
  return changes;
}();

class UndoRoundTrip : public TaskTest, public ::testing::WithParamInterface<Change> {
 protected:
  void Make(const Change& change) {
    if (change.repair != nullptr) {
      (recorded_.*change.repair)();
    } else {
      MemoryWindowSystem dialog_ui;
      IniRem(dialog_ui, recorder_).OnOkClick();
    }
  }

  Journal recorder_{registry_};
  Funciones recorded_{{recorder_, system_, files_, wmi_, ui_}};
};

// The start page locked in every place the dialog unlocks it, each value
// the last of its key: regedit puts a value it brings back after the others.
void LockStartPage(MemoryRegistry& registry) {
  const std::string explorer = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
  const std::string explorer_copy =
      "Software\\Microsoft\\Windows\\CurrentVersion\\Group Policy Objects\\LocalUser\\" +
      explorer;
  const std::string control_panel = "Software\\Policies\\Microsoft\\Internet Explorer\\Control Panel";
  const auto put = [&](KeyRef root, const std::string& path, std::string_view name,
                       std::uint32_t type, const Bytes& data) {
    KeyRef key = kNullKey;
    ASSERT_EQ(registry.CreateKey(root, path, 0, kRegistroAccess, &key, nullptr), kErrorSuccess);
    ASSERT_EQ(registry.SetValue(key, name, type, data), kErrorSuccess);
    registry.CloseKey(key);
  };
  for (const KeyRef root : {kHkeyLocalMachine, kHkeyCurrentUser}) {
    put(root, explorer, "NoSaveSettings", kRegDword, Dword(1));
    put(root, explorer_copy, "NoSaveSettings", kRegBinary, {1, 0});
    put(root, control_panel, "HomePage", kRegDword, Dword(1));
    put(root,
        "Software\\Microsoft\\Windows\\CurrentVersion\\Group Policy Objects\\LocalUser\\" +
            control_panel + "\\Sub",
        "HomePage", kRegDword, Dword(1));
  }
  put(kHkeyCurrentUser, "Software\\Microsoft\\Internet Explorer\\Main", "Start Page", kRegSz,
      Text(std::string("http://malware.example\0", 23)));
}

// Keys the repairs delete hold values of every kind, and names spelt
// otherwise than the repairs spell them.
void AddAwkwardValues(MemoryRegistry& registry) {
  const std::string policy =
      "Software\\Microsoft\\Windows\\CurrentVersion\\policies\\SYSTEM\\Más \"raro\"";
  KeyRef key = kNullKey;
  ASSERT_EQ(registry.CreateKey(kHkeyCurrentUser, policy, 0, kRegistroAccess, &key, nullptr),
            kErrorSuccess);
  const std::vector<KeySnapshot::Value> values = {
      {"", kRegSz, {}},
      {"con \"comillas\" y \\barra\\ = igual", kRegSz, Text(std::string("ñandú\0", 8))},
      {"ExpandSz", kRegExpandSz, Text(std::string("%SystemRoot%\\x\0", 15))},
      {"MultiSz", kRegMultiSz, Text(std::string("a\0b\0\0", 5))},
      {"Qword", 11, {1, 2, 3, 4, 5, 6, 7, 8}},
      {"None", kRegNone, {}},
      {"Binary", kRegBinary, Bytes(100, 0xAB)},
      {"DwordShort", kRegDword, {1, 2}},
      {"Lines", kRegSz, Text(std::string("a\r\nb\0", 5))},
  };
  for (const auto& value : values) {
    ASSERT_EQ(registry.SetValue(key, value.name, value.type, value.data), kErrorSuccess);
  }
  registry.CloseKey(key);
}

// For every repair: the state before, the run, the undo file applied, and
// the whole registry is as it was, byte for byte.
TEST_P(UndoRoundTrip, TheUndoFileRestoresTheRegistryExactly) {
  AddAwkwardValues(registry_);
  SetUpDamagedSystem();
  LockStartPage(registry_);
  const SystemState before = State();

  Make(GetParam());
  const SystemState after = State();
  const auto undo = recorder_.UndoFile();
  ASSERT_EQ(ImportRegFile(registry_, undo), "");

  const SystemState restored = State();
  EXPECT_EQ(restored.hklm, before.hklm);
  EXPECT_EQ(restored.hkcu, before.hkcu);
  EXPECT_EQ(recorder_.empty(), after.hklm == before.hklm && after.hkcu == before.hkcu);
  EXPECT_EQ(registry_.OpenHandles(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Changes, UndoRoundTrip, ::testing::ValuesIn(kChanges),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(UndoRoundTrip, AllChangesInOneRunAreUndoneByOneFile) {
  AddAwkwardValues(registry_);
  SetUpDamagedSystem();
  LockStartPage(registry_);
  const SystemState before = State();
  for (const Change& change : kChanges) Make(change);
  ASSERT_EQ(ImportRegFile(registry_, recorder_.UndoFile()), "");
  EXPECT_EQ(State().hklm, before.hklm);
  EXPECT_EQ(State().hkcu, before.hkcu);
}

// The file holds the changes and only them, in the order regedit needs.
TEST(JournalTest, WritesOnlyWhatTheRunChanged) {
  MemoryRegistry registry;
  Registro setup(registry);
  setup.CrearNuevaClave(kHkeyCurrentUser, "Software\\Leida");
  setup.EstablecerValor(kHkeyCurrentUser, "Software\\Leida", "v", "1", kRegDword);
  setup.CrearNuevaClave(kHkeyCurrentUser, "Software\\Cambiada");
  setup.EstablecerValor(kHkeyCurrentUser, "Software\\Cambiada", "Vieja", "antes", kRegSz);
  setup.EstablecerValor(kHkeyCurrentUser, "Software\\Cambiada", "Otra", "igual", kRegSz);
  setup.CrearNuevaClave(kHkeyCurrentUser, "Software\\Borrada\\Hija");
  setup.EstablecerValor(kHkeyCurrentUser, "Software\\Borrada", "", "x", kRegSz);
  registry.DenyWrite(kHkeyCurrentUser, "Software\\Leida");

  Journal recorder(registry);
  Registro registro(recorder);
  (void)registro.ConsultarValor(kHkeyCurrentUser, "Software\\Leida", "v");
  registro.EstablecerValor(kHkeyCurrentUser, "Software\\Leida", "v", "2", kRegDword);  // refused
  registro.EstablecerValor(kHkeyCurrentUser, "Software\\cambiada", "vieja", "después", kRegSz);
  registro.EstablecerValor(kHkeyCurrentUser, "Software\\Cambiada", "Nueva", "7", kRegDword);
  registro.EliminarClave(kHkeyCurrentUser, "Software\\BORRADA");
  registro.CrearNuevaClave(kHkeyCurrentUser, "Software\\Borrada");
  registro.CrearNuevaClave(kHkeyCurrentUser, "Software\\Nueva\\Honda");
  // A value written in a key the run created: removing the key undoes it;
  // the key must not come back to have its value removed.
  registro.EstablecerValor(kHkeyCurrentUser, "Software\\Nueva\\Honda", "PopupMgr", "1",
                           kRegDword);
  registro.EliminarClave(kHkeyCurrentUser, "Software\\NoExiste");

  EXPECT_EQ(RegFileText(recorder.UndoKeys()),
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[-HKEY_CURRENT_USER\\Software\\Borrada]\r\n\r\n"
            "[-HKEY_CURRENT_USER\\Software\\Nueva]\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Borrada]\r\n"
            "@=hex(1):78,00\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Borrada\\Hija]\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Cambiada]\r\n"
            "\"Nueva\"=-\r\n"
            "\"Vieja\"=hex(1):61,00,6e,00,74,00,65,00,73,00\r\n\r\n");
}

// A deleted key with keys nested far deeper than any repair expects comes
// back whole; the journal's work grows with the keys, not with their
// depth times their number.
TEST(JournalTest, RestoresADeeplyNestedDeletedKey) {
  MemoryRegistry registry;
  std::string path = "Software\\Honda";
  for (int level = 0; level < 2000; ++level) path += "\\k";
  KeyRef key = kNullKey;
  ASSERT_EQ(registry.CreateKey(kHkeyCurrentUser, path, 0, kRegistroAccess, &key, nullptr),
            kErrorSuccess);
  ASSERT_EQ(registry.SetValue(key, "fondo", kRegDword, Dword(7)), kErrorSuccess);
  registry.CloseKey(key);
  const auto before = registry.Snapshot(kHkeyCurrentUser, "Software");

  Journal journal(registry);
  Registro(journal).EliminarClave(kHkeyCurrentUser, "Software\\Honda");
  ASSERT_FALSE(registry.Snapshot(kHkeyCurrentUser, "Software\\Honda").has_value());
  ASSERT_EQ(ImportRegFile(registry, journal.UndoFile()), "");
  EXPECT_EQ(registry.Snapshot(kHkeyCurrentUser, "Software"), before);
}

}  // namespace
}  // namespace sorbantilex
