#include <gtest/gtest.h>

#include "task_fixture.h"

namespace sorbantilex {
namespace {

constexpr std::string_view kFolder =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced\\Folder";

class ArchivosOcultosTest : public TaskTest {
 protected:
  void SetUp() override {
    const std::string folder(kFolder);
    Put(kHkeyLocalMachine, folder + "\\Hidden\\SHOWALL", "CheckedValue", kRegSz, Text("0"));
    Put(kHkeyLocalMachine, folder + "\\Hidden\\SHOWALL", "Text", kRegSz, Text("Mostrar"));
    Put(kHkeyLocalMachine, folder + "\\Hidden\\NOHIDDEN", "CheckedValue", kRegDword, Dword(0));
    Put(kHkeyLocalMachine, folder + "\\SuperHidden", "Type", kRegSz, Text("checkbox"));
    Put(kHkeyLocalMachine, folder + "\\SuperHidden", "CheckedValue", kRegDword, Dword(1));
    Put(kHkeyLocalMachine, folder + "\\SuperHidden\\Policy", "Evil", kRegDword, Dword(1));
    Put(kHkeyLocalMachine, folder + "\\SuperHidden\\Policy\\Other\\Deeper", "x", kRegSz, Text("y"));
  }

  static KeySnapshot Policy() {
    return Key("Policy", {}, {Key("DontShowSuperHidden", {Sz("", "")})});
  }
};

TEST_F(ArchivosOcultosTest, RewritesTheSettingsAndRebuildsThePolicyKey) {
  funciones_.RepararArchivosOcultos();

  const KeySnapshot expected = Key(
      "Folder", {},
      {Key("Hidden", {},
           {Key("SHOWALL", {Dw("CheckedValue", 1), Sz("Text", "Mostrar"), Dw("DefaultValue", 2)}),
            Key("NOHIDDEN", {Dw("CheckedValue", 2), Dw("DefaultValue", 2)})}),
       Key("SuperHidden",
           {Sz("Type", "checkbox"), Dw("CheckedValue", 0), Dw("DefaultValue", 0),
            Dw("UncheckedValue", 1)},
           {Policy()})});
  EXPECT_EQ(At(kHkeyLocalMachine, kFolder), expected);
  EXPECT_TRUE(ui_.events().empty());
}

// Values go only into keys that exist; the Policy key is rebuilt whatever
// stood there.
TEST_F(ArchivosOcultosTest, MissingKeysAreNotCreated) {
  MemoryRegistry& registry = registry_;
  Registro(registry).EliminarClave(kHkeyLocalMachine, std::string(kFolder) + "\\Hidden\\SHOWALL");
  Registro(registry).EliminarClave(kHkeyLocalMachine, std::string(kFolder) + "\\SuperHidden");

  funciones_.RepararArchivosOcultos();

  const KeySnapshot expected =
      Key("Folder", {},
          {Key("Hidden", {}, {Key("NOHIDDEN", {Dw("CheckedValue", 2), Dw("DefaultValue", 2)})}),
           Key("SuperHidden", {}, {Policy()})});
  EXPECT_EQ(At(kHkeyLocalMachine, kFolder), expected);
}

}  // namespace
}  // namespace sorbantilex
