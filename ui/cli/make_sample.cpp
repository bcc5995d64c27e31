// sorbantilex-muestra CARPETA: creates the sample damaged Windows XP
// installation in CARPETA, for trying the program out.

#include <exception>
#include <iostream>

#include "platform/offline/installation/sample.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "Uso: sorbantilex-muestra CARPETA\n";
    return 2;
  }
  try {
    sorbantilex::offline::MakeSampleInstallation(argv[1]);
  } catch (const std::exception& error) {
    std::cerr << "sorbantilex-muestra: " << error.what() << "\n";
    return 1;
  }
  std::cout << "Instalación de muestra creada en " << argv[1] << "\n";
  return 0;
}
