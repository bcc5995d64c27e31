#include "registry/registro.h"

#include <gtest/gtest.h>

#include "platform/memory/memory_registry.h"

namespace sorbantilex {
namespace {

TEST(RegistroTest, WritesDwordFromText) {
  MemoryRegistry registry;
  Registro registro(registry);
  registro.CrearNuevaClave(kHkeyLocalMachine, "SOFTWARE\\Prueba");
  registro.EstablecerValor(kHkeyLocalMachine, "SOFTWARE\\Prueba", "n", "32", kRegDword);
  EXPECT_EQ(registro.ConsultarValor(kHkeyLocalMachine, "SOFTWARE\\Prueba", "n"),
            Variante(std::int32_t{32}));
}

}  // namespace
}  // namespace sorbantilex
