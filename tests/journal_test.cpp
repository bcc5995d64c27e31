#include "registry/journal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

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
      "Software\\Microsoft\\Windows\\CurrentVersion\\Group Policy Objects\\LocalUser\\" + explorer;
  const std::string control_panel =
      "Software\\Policies\\Microsoft\\Internet Explorer\\Control Panel";
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
  registro.EstablecerValor(kHkeyCurrentUser, "Software\\Nueva\\Honda", "PopupMgr", "1", kRegDword);
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

// What a run leaves different, whatever it did on the way: the report's
// findings. Each case starts from one key with two values and a subkey.
struct NetCase {
  const char* name;
  std::function<void(Registro&)> run;
  std::vector<std::string> expected;  // "kind key name", in the order given
};
void PrintTo(const NetCase& c, std::ostream* out) { *out << c.name; }

class JournalNetChanges : public ::testing::TestWithParam<NetCase> {};

TEST_P(JournalNetChanges, GivesWhatDiffersFromBeforeTheRun) {
  MemoryRegistry registry;
  Registro setup(registry);
  setup.CrearNuevaClave(kHkeyCurrentUser, "Software\\Zona\\Hija");
  setup.EstablecerValor(kHkeyCurrentUser, "Software\\Zona", "Texto", "igual", kRegSz);
  setup.EstablecerValor(kHkeyCurrentUser, "Software\\Zona", "Numero", "1", kRegDword);

  Journal journal(registry);
  Registro registro(journal);
  GetParam().run(registro);
  std::vector<std::string> found;
  for (const auto& change : journal.NetChanges()) {
    const char* kinds[] = {"key-deleted", "key-created", "value-written", "value-deleted"};
    found.push_back(std::string(kinds[static_cast<int>(change.kind)]) + " " + change.key + " " +
                    change.name);
  }
  EXPECT_EQ(found, GetParam().expected);
}

const NetCase kNetCases[] = {
    {"SameDataWrittenAgain",
     [](Registro& r) {
       r.EstablecerValor(kHkeyCurrentUser, "Software\\Zona", "Texto", "igual", kRegSz);
       r.EstablecerValor(kHkeyCurrentUser, "Software\\Zona", "Numero", "1", kRegDword);
     },
     {}},
    {"MissingValueDeleted",
     [](Registro& r) { r.EliminarValor(kHkeyCurrentUser, "Software\\Zona", "NoEsta"); },
     {}},
    {"ChangedAndBackAgain",
     [](Registro& r) {
       r.EstablecerValor(kHkeyCurrentUser, "Software\\Zona", "Numero", "2", kRegDword);
       r.EstablecerValor(kHkeyCurrentUser, "Software\\Zona", "Numero", "1", kRegDword);
     },
     {}},
    {"OtherTypeSameBytes",
     [](Registro& r) {
       r.EstablecerValor(kHkeyCurrentUser, "Software\\Zona", "Numero", "1", kRegSz);
     },
     {"value-written HKCU\\Software\\Zona Numero"}},
    {"ValueDeleted",
     [](Registro& r) { r.EliminarValor(kHkeyCurrentUser, "Software\\Zona", "Texto"); },
     {"value-deleted HKCU\\Software\\Zona Texto"}},
    {"KeyDeletedOnceWithItsSubkey",
     [](Registro& r) { r.EliminarClave(kHkeyCurrentUser, "Software\\Zona"); },
     {"key-deleted HKCU\\Software\\Zona "}},
    {"KeyDeletedAndMadeAgainWithOneValue",
     [](Registro& r) {
       r.EliminarClave(kHkeyCurrentUser, "Software\\Zona");
       r.CrearNuevaClave(kHkeyCurrentUser, "Software\\Zona");
       r.EstablecerValor(kHkeyCurrentUser, "Software\\Zona", "Texto", "igual", kRegSz);
     },
     {"value-deleted HKCU\\Software\\Zona Numero", "key-deleted HKCU\\Software\\Zona\\Hija "}},
    {"KeyCreatedWithItsValue",
     [](Registro& r) {
       r.CrearNuevaClave(kHkeyCurrentUser, "Software\\Nueva\\Honda");
       r.EstablecerValor(kHkeyCurrentUser, "Software\\Nueva\\Honda", "PopupMgr", "yes", kRegSz);
     },
     {"key-created HKCU\\Software\\Nueva ", "value-written HKCU\\Software\\Nueva\\Honda PopupMgr"}},
};

INSTANTIATE_TEST_SUITE_P(Journal, JournalNetChanges, ::testing::ValuesIn(kNetCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Each profile's HKEY_CURRENT_USER is a tree of its own: the same path
// changed under two profiles is restored in two parts, apart from the
// machine's, and each section says whose it was.
TEST(JournalTest, KeepsEachProfilesKeysApart) {
  MemoryRegistry registry;
  Journal journal(registry);
  Registro registro(journal);
  journal.SetProfile("Juan");
  journal.BeginSection("paso");
  registro.CrearNuevaClave(kHkeyLocalMachine, "SOFTWARE\\Prueba");
  registro.EstablecerValor(kHkeyLocalMachine, "SOFTWARE\\Prueba", "m", "1", kRegDword);
  registro.CrearNuevaClave(kHkeyCurrentUser, "Software\\Prueba");
  registro.EstablecerValor(kHkeyCurrentUser, "Software\\Prueba", "u", "1", kRegDword);
  journal.SetProfile("Ana");
  journal.BeginSection("paso");
  registro.EstablecerValor(kHkeyCurrentUser, "Software\\Prueba", "u", "2", kRegDword);

  ASSERT_EQ(journal.sections().size(), 2u);
  EXPECT_EQ(journal.sections()[0].profile, "Juan");
  EXPECT_EQ(journal.sections()[1].profile, "Ana");
  const auto parts = journal.UndoParts();
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts[0].profile, std::nullopt);
  EXPECT_EQ(RegFileText(parts[0].keys).find("HKEY_CURRENT_USER"), std::string::npos);
  // (The memory registry has one HKEY_CURRENT_USER: Ana's part restores
  // the key as she found it, with the value Juan's step wrote.)
  std::vector<std::string> profiles;
  for (std::size_t i = 1; i < parts.size(); ++i) {
    profiles.push_back(parts[i].profile.value_or("?"));
    EXPECT_EQ(RegFileText(parts[i].keys).find("HKEY_LOCAL_MACHINE"), std::string::npos);
  }
  std::sort(profiles.begin(), profiles.end());
  EXPECT_EQ(profiles, (std::vector<std::string>{"Ana", "Juan"}));
}

}  // namespace
}  // namespace sorbantilex
