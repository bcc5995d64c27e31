#include "registry/journal.h"

#include <gtest/gtest.h>

#include "reg_import.h"
#include "registry/registro.h"
#include "task_fixture.h"

namespace sorbantilex {
namespace {

class UndoRoundTrip : public TaskTest, public ::testing::WithParamInterface<Repair> {
 protected:
  Journal recorder_{registry_};
  Funciones recorded_{{recorder_, system_, files_, wmi_, ui_}};
};

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
  const SystemState before = State();

  (recorded_.*GetParam().run)();
  const SystemState after = State();
  const auto undo = recorder_.UndoFile();
  ASSERT_EQ(ImportRegFile(registry_, undo), "");

  const SystemState restored = State();
  EXPECT_EQ(restored.hklm, before.hklm);
  EXPECT_EQ(restored.hkcu, before.hkcu);
  EXPECT_EQ(recorder_.empty(), after.hklm == before.hklm && after.hkcu == before.hkcu);
  EXPECT_EQ(registry_.OpenHandles(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Repairs, UndoRoundTrip, ::testing::ValuesIn(kRepairs),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(UndoRoundTrip, AllRepairsInOneRunAreUndoneByOneFile) {
  AddAwkwardValues(registry_);
  SetUpDamagedSystem();
  const SystemState before = State();
  for (const Repair& repair : kRepairs) (recorded_.*repair.run)();
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

}  // namespace
}  // namespace sorbantilex
