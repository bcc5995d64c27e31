#include "registry/registro.h"

#include <gtest/gtest.h>

#include "platform/memory/memory_registry.h"
#include "recording_registry.h"
#include "registry/failure.h"

namespace sorbantilex {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes BytesOf(std::string_view text) { return {text.begin(), text.end()}; }

class RegistroTest : public ::testing::Test {
 protected:
  void Seed(std::string_view path, std::string_view name = {}, std::uint32_t type = 0,
            const Bytes& data = {}) {
    KeyRef key = kNullKey;
    ASSERT_EQ(memory_.CreateKey(kHkeyLocalMachine, path, 0, kRegistroAccess, &key, nullptr),
              kErrorSuccess);
    if (type != 0) {
      ASSERT_EQ(memory_.SetValue(key, name, type, data), kErrorSuccess);
    }
    memory_.CloseKey(key);
  }
  std::optional<KeySnapshot::Value> Stored(std::string_view path, std::string_view name) {
    const auto key = memory_.Snapshot(kHkeyLocalMachine, path);
    if (!key) return std::nullopt;
    for (const auto& value : key->values) {
      if (value.name == name) return value;
    }
    return std::nullopt;
  }

  MemoryRegistry memory_;
  RecordingRegistry recorder_{memory_};
  Registro registro_{recorder_};
};

TEST_F(RegistroTest, EachOperationMakesItsFixedCallSequence) {
  Seed("SOFTWARE\\W", "Shell", kRegSz, BytesOf("x"));
  registro_.EstablecerValor(kHkeyLocalMachine, "SOFTWARE\\W", "Shell", "Explorer.exe", kRegSz);
  registro_.ConsultarValor(kHkeyLocalMachine, "SOFTWARE\\W", "Shell");
  registro_.CrearNuevaClave(kHkeyLocalMachine, "SOFTWARE\\W\\N");
  registro_.EliminarValor(kHkeyLocalMachine, "SOFTWARE\\W", "Shell");
  EXPECT_EQ(recorder_.calls, (std::vector<std::string>{
                                 "Open(HKLM,SOFTWARE\\W,3F)=0,H1",
                                 "SetValue(H1,Shell,1,12)=0",
                                 "Close(H1)=0",
                                 "Open(HKLM,SOFTWARE\\W,3F)=0,H2",
                                 "QueryValue(H2,Shell,null)=0",
                                 "QueryValue(H2,Shell,12)=0",
                                 "Close(H2)=0",
                                 "Create(HKLM,SOFTWARE\\W\\N,3F)=0,H3",
                                 "Close(H3)=0",
                                 "Open(HKLM,SOFTWARE\\W,3F)=0,H4",
                                 "DeleteValue(H4,Shell)=0",
                                 "Close(H4)=0",
                             }));
}

TEST_F(RegistroTest, AFailedOpenGoesOnWithTheNullHandleAndChangesNothing) {
  registro_.EstablecerValor(kHkeyLocalMachine, "SOFTWARE\\Falta", "v", "1", kRegDword);
  registro_.EliminarValor(kHkeyLocalMachine, "SOFTWARE\\Falta", "v");
  EXPECT_TRUE(registro_.ConsultarValor(kHkeyLocalMachine, "SOFTWARE\\Falta", "v").IsEmpty());
  EXPECT_EQ(recorder_.calls, (std::vector<std::string>{
                                 "Open(HKLM,SOFTWARE\\Falta,3F)=2,0",
                                 "SetValue(0,v,4,4)=6",
                                 "Close(0)=6",
                                 "Open(HKLM,SOFTWARE\\Falta,3F)=2,0",
                                 "DeleteValue(0,v)=6",
                                 "Close(0)=6",
                                 "Open(HKLM,SOFTWARE\\Falta,3F)=2,0",
                                 "QueryValue(0,v,null)=6",
                                 "Close(0)=6",
                             }));
  EXPECT_FALSE(memory_.Snapshot(kHkeyLocalMachine, "SOFTWARE\\Falta"));
}

TEST_F(RegistroTest, DeletionGoesDepthFirstFromTheHighestSubkeyDown) {
  Seed("SOFTWARE\\P\\a");
  Seed("SOFTWARE\\P\\b\\c");
  registro_.EliminarClave(kHkeyLocalMachine, "SOFTWARE\\P");
  EXPECT_EQ(recorder_.calls, (std::vector<std::string>{
                                 "Open(HKLM,SOFTWARE\\P,3F)=0,H1",
                                 "QueryInfo(H1)=0",
                                 "Enum(H1,1,2)=0",
                                 "Open(H1,b,3F)=0,H2",
                                 "QueryInfo(H2)=0",
                                 "Enum(H2,0,2)=0",
                                 "Open(H2,c,3F)=0,H3",
                                 "QueryInfo(H3)=0",
                                 "Close(H3)=0",
                                 "DeleteKey(H2,c)=0",
                                 "Close(H2)=0",
                                 "DeleteKey(H1,b)=0",
                                 "Enum(H1,0,2)=0",
                                 "Open(H1,a,3F)=0,H4",
                                 "QueryInfo(H4)=0",
                                 "Close(H4)=0",
                                 "DeleteKey(H1,a)=0",
                                 "Close(H1)=0",
                                 "DeleteKey(HKLM,SOFTWARE\\P)=0",
                             }));
  EXPECT_FALSE(memory_.Snapshot(kHkeyLocalMachine, "SOFTWARE\\P"));
}

TEST_F(RegistroTest, AKeyThatCannotBeEmptiedStaysWithWhatCouldNotGo) {
  Seed("SOFTWARE\\P\\Libre", "v", kRegSz, BytesOf("x"));
  Seed("SOFTWARE\\P\\Protegida");
  memory_.DenyWrite(kHkeyLocalMachine, "SOFTWARE\\P\\Protegida");
  registro_.EliminarClave(kHkeyLocalMachine, "SOFTWARE\\P");
  const auto left = memory_.Snapshot(kHkeyLocalMachine, "SOFTWARE\\P");
  ASSERT_TRUE(left);
  ASSERT_EQ(left->subkeys.size(), 1u);
  EXPECT_EQ(left->subkeys[0].name, "Protegida");
  EXPECT_EQ(memory_.OpenHandles(), 0u);
}

TEST_F(RegistroTest, DeletingAMissingKeyDoesNothing) {
  registro_.EliminarClave(kHkeyLocalMachine, "SOFTWARE\\Nada");
  EXPECT_EQ(recorder_.calls, std::vector<std::string>{"Open(HKLM,SOFTWARE\\Nada,3F)=2,0"});
}

struct WriteCase {
  const char* name;
  std::uint32_t type;
  Variante value;
  std::optional<Bytes> stored;  // nullopt: nothing written
};

class EstablecerValorTypes : public RegistroTest,
                             public ::testing::WithParamInterface<WriteCase> {};

TEST_P(EstablecerValorTypes, StoresWhatTheTypeAsksFor) {
  const WriteCase& c = GetParam();
  Seed("SOFTWARE\\V");
  registro_.EstablecerValor(kHkeyLocalMachine, "SOFTWARE\\V", "v", c.value, c.type);
  const auto stored = Stored("SOFTWARE\\V", "v");
  if (!c.stored) {
    EXPECT_FALSE(stored);
    return;
  }
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->type, c.type);
  EXPECT_EQ(stored->data, *c.stored);
}

const WriteCase kWriteCases[] = {
    {"SzWithoutTerminator", kRegSz, "Explorer.exe", BytesOf("Explorer.exe")},
    {"SzEmpty", kRegSz, Variante(), Bytes{}},
    {"SzFromInteger", kRegSz, std::int16_t{-7}, BytesOf("-7")},
    {"ExpandSz", kRegExpandSz, "%SystemRoot%\\x", BytesOf("%SystemRoot%\\x")},
    {"MultiSzSingleTextUnchanged", kRegMultiSz, "RpcSs", BytesOf("RpcSs")},
    {"BinaryBytesOfTheText", kRegBinary, "AB", Bytes{0x41, 0x42}},
    {"DwordFromText", kRegDword, "32", Bytes{32, 0, 0, 0}},
    {"DwordNegative", kRegDword, "-1", Bytes{0xFF, 0xFF, 0xFF, 0xFF}},
    {"DwordFromSmallInteger", kRegDword, std::int16_t{2}, Bytes{2, 0, 0, 0}},
    {"DwordFromEmpty", kRegDword, Variante(), Bytes{0, 0, 0, 0}},
    {"BigEndianNotWritten", kRegDwordBigEndian, "1", std::nullopt},
    {"LinkNotWritten", kRegLink, "x", std::nullopt},
    {"NoneNotWritten", kRegNone, "x", std::nullopt},
    {"QwordNotWritten", 11, "1", std::nullopt},
    {"ResourceListNotWritten", 8, "x", std::nullopt},
};

INSTANTIATE_TEST_SUITE_P(Types, EstablecerValorTypes, ::testing::ValuesIn(kWriteCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RegistroTest, ATextThatIsNoNumberFailsForADwordAndTheKeyIsClosed) {
  Seed("SOFTWARE\\V", "v", kRegDword, Bytes{5, 0, 0, 0});
  for (const char* text : {"abc", "", "12a", " 3", "2147483648", "-2147483649"}) {
    try {
      registro_.EstablecerValor(kHkeyLocalMachine, "SOFTWARE\\V", "v", text, kRegDword);
      ADD_FAILURE() << "no failure for \"" << text << "\"";
    } catch (const Failure& failure) {
      EXPECT_NE(failure.number(), 0) << text;
      EXPECT_FALSE(failure.description().empty()) << text;
    }
    EXPECT_EQ(memory_.OpenHandles(), 0u) << text;
  }
  EXPECT_EQ(Stored("SOFTWARE\\V", "v")->data, (Bytes{5, 0, 0, 0}));
}

TEST_F(RegistroTest, WritingIntoAMissingKeyCreatesNothing) {
  registro_.EstablecerValor(kHkeyLocalMachine, "SOFTWARE\\No\\Existe", "v", "x", kRegSz);
  EXPECT_FALSE(memory_.Snapshot(kHkeyLocalMachine, "SOFTWARE\\No"));
}

TEST_F(RegistroTest, CreatingAnExistingKeyLeavesItsValues) {
  Seed("SOFTWARE\\K", "v", kRegSz, BytesOf("uno"));
  registro_.CrearNuevaClave(kHkeyLocalMachine, "SOFTWARE\\K");
  EXPECT_EQ(Stored("SOFTWARE\\K", "v")->data, BytesOf("uno"));
}

struct ReadCase {
  const char* name;
  std::uint32_t type;
  Bytes stored;
  Variante expected;
};

class ConsultarValorTypes : public RegistroTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ConsultarValorTypes, ReadsTextAndDwordOnly) {
  const ReadCase& c = GetParam();
  Seed("SOFTWARE\\R", "v", c.type, c.stored);
  EXPECT_EQ(registro_.ConsultarValor(kHkeyLocalMachine, "SOFTWARE\\R", "v"), c.expected);
}

const ReadCase kReadCases[] = {
    {"SzWithoutTerminator", kRegSz, BytesOf("abc"), "abc"},
    {"SzWithTerminatorKeepsIt", kRegSz, Bytes{'a', 'b', 'c', 0}, std::string("abc\0", 4)},
    {"SzEmpty", kRegSz, {}, ""},
    {"Dword", kRegDword, Bytes{2, 0, 0, 0}, std::int32_t{2}},
    {"DwordNegative", kRegDword, Bytes{0xFE, 0xFF, 0xFF, 0xFF}, std::int32_t{-2}},
    {"DwordShortFillsLowBytes", kRegDword, Bytes{7, 1}, std::int32_t{0x107}},
    {"DwordTooLongIsEmpty", kRegDword, Bytes{1, 0, 0, 0, 0}, Variante()},
    {"ExpandSzIsEmpty", kRegExpandSz, BytesOf("x"), Variante()},
    {"BinaryIsEmpty", kRegBinary, Bytes{2, 0, 0, 0}, Variante()},
    {"MultiSzIsEmpty", kRegMultiSz, BytesOf("x"), Variante()},
};

INSTANTIATE_TEST_SUITE_P(Types, ConsultarValorTypes, ::testing::ValuesIn(kReadCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RegistroTest, ReadingAMissingValueOrAnUnreadableKeyIsEmpty) {
  Seed("SOFTWARE\\R");
  EXPECT_TRUE(registro_.ConsultarValor(kHkeyLocalMachine, "SOFTWARE\\R", "falta").IsEmpty());
  Seed("SOFTWARE\\S", "v", kRegDword, Bytes{1, 0, 0, 0});
  memory_.DenyWrite(kHkeyLocalMachine, "SOFTWARE\\S");  // the class asks for write rights too
  EXPECT_TRUE(registro_.ConsultarValor(kHkeyLocalMachine, "SOFTWARE\\S", "v").IsEmpty());
}

}  // namespace
}  // namespace sorbantilex
