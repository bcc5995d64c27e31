#include "ui/text/rescue_messages.h"

#include <cstdio>

namespace sorbantilex::text {
namespace {

using rescue::Hibernation;
using rescue::Volume;
using rescue::VolumeState;

constexpr std::string_view kDash = " — ";

// Control characters of a label written as '?': it is printed on a
// terminal.
std::string Printable(const std::string& text) {
  std::string out;
  for (const char c : text) {
    out += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c;
  }
  return out;
}

std::string Gigabytes(std::uint64_t bytes) {
  // As Windows counts them (1 GB = 1024³ bytes), so that the figure matches
  // what the user has seen there.
  const double gigabytes = static_cast<double>(bytes) / (1024.0 * 1024.0 * 1024.0);
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", gigabytes);
  std::string result = text;
  for (char& c : result) {
    if (c == '.') c = ',';
  }
  return result + " GB";
}

std::string What(const Volume& volume) {
  switch (volume.state) {
    case VolumeState::kWindows: {
      std::string what = volume.windows_version.empty() ? "Windows" : volume.windows_version;
      if (!volume.windows_build.empty()) what += " (compilación " + volume.windows_build + ")";
      if (volume.hibernation == Hibernation::kFastStartup) what += ", inicio rápido";
      if (volume.hibernation == Hibernation::kHibernated) what += ", hibernado";
      return Printable(what);
    }
    case VolumeState::kNoWindows:
      return "NTFS sin Windows";
    case VolumeState::kBitLocker:
      return "cifrado con BitLocker";
    case VolumeState::kUnreadable:
      return "NTFS que no se puede leer";
  }
  return {};
}

// Size and label, after the description's first part.
std::string Details(const Volume& volume) {
  std::string details;
  if (volume.device.size > 0) details += std::string(kDash) + Gigabytes(volume.device.size);
  if (!volume.device.label.empty()) {
    details += std::string(kDash) + "«" + Printable(volume.device.label) + "»";
  }
  return details;
}

constexpr std::string_view kNothingSafe =
    "Mientras esté así no se puede cambiar nada en el disco sin riesgo: Windows, al arrancar, "
    "continuaría con lo que guardó y no con lo que se hubiera cambiado, y podría estropear "
    "archivos.";

}  // namespace

std::string DescribeVolume(const Volume& volume) {
  return What(volume) + Details(volume) + std::string(kDash) + Printable(volume.device.path);
}

std::string VolumeHeading(const Volume& volume) {
  return Printable(volume.device.path) + ": " + What(volume) + Details(volume);
}

std::string ExplainVolume(const Volume& volume) {
  switch (volume.state) {
    case VolumeState::kWindows:
      if (volume.hibernation == Hibernation::kFastStartup) {
        return "Windows no se cerró del todo (inicio rápido): al apagarse guardó parte de su "
               "estado en el disco para arrancar antes. " +
               std::string(kNothingSafe);
      }
      if (volume.hibernation == Hibernation::kHibernated) {
        return "Windows está hibernado: la sesión que estaba abierta (programas y documentos) "
               "está guardada en el disco para continuar donde se dejó. " +
               std::string(kNothingSafe);
      }
      return {};
    case VolumeState::kNoWindows:
      return "En este volumen no hay ninguna instalación de Windows: no hay nada que reparar.";
    case VolumeState::kBitLocker:
      return "Este volumen está cifrado con BitLocker: desde este USB no se puede leer ni "
             "reparar.\n"
             "Qué puede hacer:\n"
             "- Si Windows arranca: inicie Windows y repárelo desde allí con "
             "Sorbantilex-64-bits.exe, que está en este mismo USB.\n"
             "- Si Windows no arranca, hay que desbloquear el volumen, y esta versión no puede "
             "hacerlo. Si consigue entrar en Windows, suspenda allí BitLocker (Panel de control, "
             "Cifrado de unidad BitLocker, «Suspender protección») y vuelva a arrancar desde "
             "este USB. Si no, necesitará la clave de recuperación de BitLocker (48 cifras): si "
             "la guardó en su cuenta de Microsoft, la encontrará desde otro equipo o el móvil "
             "en https://aka.ms/myrecoverykey.";
    case VolumeState::kUnreadable:
      return "Este volumen no se ha podido abrir ni siquiera para leerlo. No se ha modificado "
             "nada.\nEl programa de montaje (ntfs-3g) dice:\n" +
             volume.detail;
  }
  return {};
}

std::vector<HibernationOption> HibernationOptions(const Volume& volume) {
  if (volume.state != VolumeState::kWindows || volume.hibernation == Hibernation::kNone) return {};
  const bool hibernated = volume.hibernation == Hibernation::kHibernated;
  std::vector<HibernationOption> options;
  options.push_back(
      {HibernationWay::kRestartWindows, "Iniciar Windows y reiniciarlo (recomendado)",
       "Quite el USB e inicie Windows. Cuando haya arrancado, elija «Reiniciar» (no "
       "«Apagar»): al reiniciar, Windows se cierra del todo. También sirve el botón de "
       "encendido de la pantalla de inicio de sesión, abajo a la derecha, sin necesidad de "
       "entrar con su usuario: pulse en él y elija «Reiniciar». Después vuelva a arrancar "
       "desde este USB. Es la forma segura."});
  options.push_back(
      {HibernationWay::kRecoverJournal, "Recuperar el diario de NTFS y reparar",
       std::string("Aplica los cambios que Windows ya había confirmado en el diario del disco "
                   "(NTFS), quita el estado en que Windows lo dejó y después repara. Se pierden "
                   "los cambios que Windows todavía no había confirmado") +
           (hibernated ? ", y también el trabajo sin guardar de la sesión hibernada (los "
                         "documentos abiertos que no se guardaron)"
                       : "") +
           ". Puede fallar si el diario está dañado: entonces no se repara nada y el disco "
           "queda como lo haya dejado el programa de recuperación (ntfsrecover)."});
  if (hibernated) {
    options.push_back(
        {HibernationWay::kDropHibernation, "Borrar el archivo de hibernación y reparar",
         "Borra el archivo donde Windows guardó la sesión hibernada y después repara. Se "
         "pierde el trabajo sin guardar de esa sesión: los documentos que estaban abiertos y "
         "no se habían guardado."});
  }
  return options;
}

}  // namespace sorbantilex::text
