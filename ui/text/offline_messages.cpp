#include "ui/text/offline_messages.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "platform/offline/hive_file/log_recovery.h"
#include "platform/offline/offline_errors.h"
#include "platform/offline/installation/hive_registry.h"
#include "registry/failure.h"

namespace sorbantilex::text {
namespace {

using offline::Error;
using offline::ErrorKind;
using offline::HiveDefect;

constexpr std::string_view kNothingChanged = " No se ha modificado nada.";

std::string Quoted(const std::filesystem::path& path) { return "\"" + path.string() + "\""; }

std::string Hex(std::uint64_t n) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(n));
  return text;
}

// The operating system's words for the error's errno, after ": "; nothing
// when there is none.
std::string Because(const Error& error) {
  return error.error_number() != 0 ? std::string(": ") + std::strerror(error.error_number())
                                   : std::string();
}

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

std::string FolderOf(const std::filesystem::path& file) {
  return Quoted(file.has_parent_path() ? file.parent_path() : std::filesystem::path("."));
}

std::string DefectWords(const HiveDefect& defect) {
  using What = HiveDefect::What;
  switch (defect.what) {
    case What::kNone:
      break;
    case What::kNoHeader:
      return "no tiene cabecera de registro";
    case What::kBadHeader:
      return "cabecera incorrecta";
    case What::kSequenceMismatch:
      return "números de secuencia distintos";
    case What::kImpossibleBinsSize:
      return "la cabecera declara un tamaño de datos imposible (" + std::to_string(defect.first) +
             " bytes)";
    case What::kShorterThanHeader:
      return "la cabecera declara " + std::to_string(defect.first) +
             " bytes y el archivo solo tiene " + std::to_string(defect.second);
    case What::kDataBeyondHeader:
      return "el archivo tiene " + std::to_string(defect.first) +
             " bytes más allá de los datos que declara su cabecera";
    case What::kUnreadableAt:
      return "no se puede leer en " + Hex(defect.first);
    case What::kBinsMismatchAt:
      return "los bloques de datos no coinciden con la cabecera (en " + Hex(defect.first) + ")";
    case What::kNoRootKey:
      return "no se encuentra la clave raíz";
    case What::kRootKeyUnreadable:
      return "no se puede leer la clave raíz";
  }
  return {};
}

// What stands at a name that is no regular file, or why it cannot be opened.
std::string OpeningWords(const Error& error) {
  switch (error.kind()) {
    case ErrorKind::kHiveMissing:
      return "no existe";
    case ErrorKind::kLinkOutside:
      return "está fuera de la instalación de Windows (un enlace de su ruta lleva a otro sitio)";
    case ErrorKind::kNotRegularFile: {
      const std::string& kind = error.detail();
      if (kind == "symlink") return "es un enlace simbólico, no el archivo mismo";
      if (kind == "directory") return "es una carpeta, no un archivo";
      if (kind == "fifo") return "es una tubería (FIFO), no un archivo normal";
      if (kind == "device") return "es un dispositivo, no un archivo normal";
      if (kind == "socket") return "es un socket, no un archivo normal";
      return "no es un archivo normal";
    }
    default:
      return std::strerror(error.error_number());
  }
}

// Why a file cannot be replaced.
std::string NotWritableWords(const Error& error) {
  switch (error.kind()) {
    case ErrorKind::kReadOnlyVolume:
      return "el volumen está montado solo para lectura";
    case ErrorKind::kFolderNotWritable:
      return "no se pueden crear archivos en la carpeta " + FolderOf(error.path());
    default:
      return "el archivo es de solo lectura";
  }
}

std::string Damaged(const Error& error, const std::string& what) {
  return "El archivo de registro " + Quoted(error.path()) + " está dañado: " + what +
         ". Las reparaciones no pueden leer lo que necesitan, así que no se ha hecho ninguna. "
         "Restaure una copia de seguridad del archivo antes de repararlo. No se ha modificado "
         "nada.";
}

// The profiles of `detail` from its line `first` on, one an indented line.
std::string ProfileLines(const std::string& detail, std::size_t first) {
  std::string lines;
  std::size_t line = 0;
  std::size_t start = 0;
  while (start <= detail.size()) {
    const std::size_t end = std::min(detail.find('\n', start), detail.size());
    if (line++ >= first) lines += "\n  " + detail.substr(start, end - start);
    start = end + 1;
  }
  return lines;
}

// What failed while the changes were written, as the part of a sentence
// that follows "Falló <file>: ".
// Why replay stopped before the end of the logs, as a clause ("la entrada
// 590 de "NTUSER.DAT.LOG1" está dañada ...").
std::string StopWords(const offline::RecoveryIssue& stop) {
  using Kind = offline::RecoveryIssue::Kind;
  const std::string entry = "la entrada " + std::to_string(stop.entry) + " de " + Quoted(stop.log);
  switch (stop.kind) {
    case Kind::kFirstEntryNotAnnounced:
      return "la primera entrada de " + Quoted(stop.log) + " es la " + std::to_string(stop.entry) +
             " y su cabecera anuncia la " + std::to_string(stop.expected);
    case Kind::kEntryMissing:
      return "tras la entrada " + std::to_string(stop.expected - 1) + " viene, en " +
             Quoted(stop.log) + ", la " + std::to_string(stop.entry) + " en lugar de la " +
             std::to_string(stop.expected);
    case Kind::kEntryBadSize:
      return entry + " tiene un tamaño no válido";
    case Kind::kEntryBadHash:
      return entry + " está dañada (su suma de comprobación no coincide)";
    case Kind::kEntryBadBinsSize:
      return entry + " indica un tamaño de datos no válido";
    case Kind::kEntryNoPages:
      return entry + " no contiene ninguna página";
    default:
      return "sus registros de transacciones terminan antes de tiempo";
  }
}

// Why a hive's logs cannot recover it, in sentences.
std::string RecoveryWords(const offline::RecoveryIssue& issue) {
  using Kind = offline::RecoveryIssue::Kind;
  const std::string log = Quoted(issue.log);
  const std::string entry =
      "La entrada " + std::to_string(issue.entry) + " del registro de transacciones " + log;
  const auto damaged = [&](const std::string& why) {
    return "El registro de transacciones " + log + " está dañado: " + why + ".";
  };
  switch (issue.kind) {
    case Kind::kNoLogs:
      return "No hay junto a él registros de transacciones (.LOG1, .LOG2, .LOG) con los cambios "
             "que le faltan.";
    case Kind::kNoLogsForDamagedHead:
      return "Su cabecera está dañada y no hay junto a él registros de transacciones (.LOG1, "
             ".LOG2, .LOG) que la sustituyan.";
    case Kind::kHeadAndDataDamaged:
      return "Su cabecera y el comienzo de sus datos están dañados: no se puede saber qué "
             "registros de transacciones le corresponden.";
    case Kind::kForeignLog:
      return "El registro de transacciones " + log +
             " no corresponde a este archivo (su cabecera es de otro archivo o de otro momento).";
    case Kind::kOnlyOlderChanges:
      return "Sus registros de transacciones solo tienen cambios anteriores a los que ya "
             "contiene.";
    case Kind::kNoEntryApplies:
      return "Ninguna entrada de sus registros de transacciones se puede aplicar" +
             (issue.because.empty() ? std::string(".")
                                    : ": " + StopWords(issue.because.front()) + ".");
    case Kind::kEntryTooLarge:
      return entry + " dice que los datos del archivo ocupan " + std::to_string(issue.number) +
             " bytes, más de lo que contienen el archivo y sus registros juntos.";
    case Kind::kEntryPagesOutside:
      return entry + " describe páginas que no caben en el archivo.";
    case Kind::kEntryPagesPastEnd:
      return entry + " describe más páginas de las que contiene.";
    case Kind::kOldLogUnknownSector:
      return damaged("tamaño de sector desconocido");
    case Kind::kOldLogBadBinsSize:
      return damaged("tamaño de datos no válido");
    case Kind::kOldLogTooLarge:
      return damaged("dice que los datos del archivo ocupan " + std::to_string(issue.number) +
                     " bytes, más de lo que contienen el archivo y sus registros juntos");
    case Kind::kOldLogNoDirtyVector:
      return damaged("no tiene la lista de páginas cambiadas");
    case Kind::kOldLogIncomplete:
      return damaged("está incompleto");
    case Kind::kOldPageInvalidBin:
      return "No se puede aplicar su registro de transacciones: la página " +
             std::to_string(issue.number) + " de " + log +
             " no pertenece a un bloque de datos válido" +
             (issue.partial ? ", y aplicar solo las páginas anteriores dejaría el archivo en un "
                              "estado que nunca tuvo."
                            : ".");
    case Kind::kNoLogOfThisMoment:
      return "Ninguno de sus registros de transacciones es del mismo momento que el archivo.";
    case Kind::kSingleAndPair:
      return "Tiene a la vez un registro de transacciones " + log +
             " y otro de dos archivos que se le pueden aplicar; Windows usa uno u otro según su "
             "versión.";
    case Kind::kOnlySecondLog:
      return "Solo su segundo registro de transacciones, " + log +
             ", se le puede aplicar, y Windows lo usa o no según su versión.";
    case Kind::kTwoFormats:
      return "Tiene registros de transacciones de dos formatos distintos (" + log + " y " +
             Quoted(issue.other) + ") que se le podrían aplicar.";
    case Kind::kLogsDamaged: {
      std::string names;
      for (const std::string& name : issue.logs)
        names += (names.empty() ? "" : ", ") + Quoted(name);
      return "Sus registros de transacciones (" + names + ") están dañados o incompletos.";
    }
    case Kind::kSequenceExhausted:
      return "Sus números de secuencia han llegado al máximo.";
    case Kind::kBinsDoNotFollow:
      return "Una vez aplicados sus registros de transacciones, sus bloques de datos no se "
             "suceden como deben.";
    default:
      return StopWords(issue) + ".";
  }
}

std::string Clause(const Error& error) {
  const std::string path = Quoted(error.path());
  switch (error.kind()) {
    case ErrorKind::kStopped:
      return "el programa recibió una señal para terminar antes de reemplazar los archivos";
    case ErrorKind::kNotRegularFile:
      if (error.detail().empty()) return "no es un archivo normal";
      [[fallthrough]];
    case ErrorKind::kHiveMissing:
    case ErrorKind::kReadFailed:
      return "no se pudo leer " + path + ": " + OpeningWords(error);
    case ErrorKind::kLinkOutside:
      return "un enlace de su ruta lleva fuera de la instalación de Windows";
    case ErrorKind::kNotAFolder:
      return error.error_number() == ENOENT ? "no existe la carpeta " + path
                                            : path + " no es una carpeta";
    case ErrorKind::kReadOnly:
    case ErrorKind::kReadOnlyVolume:
    case ErrorKind::kFolderNotWritable:
      return NotWritableWords(error);
    case ErrorKind::kCreateFailed:
      return "no se pudo crear " + path + Because(error);
    case ErrorKind::kWriteFailed:
      return "no se pudo escribir " + path + Because(error);
    case ErrorKind::kCopyFailed:
      return "no se pudo copiar " + path + " en " + Quoted(error.detail()) + ": " +
             (error.error_number() != 0 ? std::strerror(error.error_number())
                                        : "el archivo se acortó");
    case ErrorKind::kSyncFailed:
      return "no se pudo guardar " + path + " en el disco" + Because(error);
    case ErrorKind::kCheckFailed:
      return error.defect() ? "el archivo nuevo " + path + " no es válido (" +
                                  DefectWords(error.defect()) + ")"
                            : "el archivo nuevo " + path + " no contiene lo escrito";
    case ErrorKind::kHivexFailed:
      return error.detail().empty() ? "libhivex no pudo escribir " + path + Because(error)
                                    : "libhivex no pudo escribir la clave \"" + error.detail() +
                                          "\" de " + path + Because(error);
    case ErrorKind::kValueTooLarge:
      return "el valor \"" + error.detail() + "\" es demasiado grande para escribirlo sin dañar " +
             path;
    case ErrorKind::kAlreadyCommitted:
      return "los cambios de " + path + " ya se escribieron";
    case ErrorKind::kSortFailed:
      return "no se pudo ordenar las subclaves nuevas en " + path;
    case ErrorKind::kUnexpected:
      return error.detail();
    default:
      return Describe(error);
  }
}

}  // namespace

std::string Describe(const Error& error) {
  const std::string path = Quoted(error.path());
  switch (error.kind()) {
    case ErrorKind::kNotAFolder:
      return (error.error_number() == ENOENT ? "La carpeta " + path + " no existe"
                                             : "La ruta " + path + " no es una carpeta") +
             ". Indique con --windows la carpeta donde está montada la partición de Windows." +
             std::string(kNothingChanged);
    case ErrorKind::kNoWindowsFolder:
      return "No se encuentra la carpeta Windows (con System32\\config) en " + path +
             ". Indique con --windows la carpeta donde está montada la partición de Windows, la "
             "que contiene la carpeta Windows." +
             std::string(kNothingChanged);
    case ErrorKind::kInstallationIncomplete:
      return "No se encuentra el archivo de registro " + path +
             ". Compruebe que la partición montada es la de Windows y que el archivo no se ha "
             "movido." +
             std::string(kNothingChanged);
    case ErrorKind::kHibernated:
      return "Windows quedó hibernado en esta partición (" + path +
             " está activo: hibernación o inicio rápido). Los cambios hechos ahora se perderían o "
             "dañarían el sistema al reanudarlo. Arranque Windows y apáguelo por completo (con "
             "Mayús pulsada al elegir Apagar, o tras desactivar el inicio rápido) y vuelva a "
             "montar la partición. Si Windows no arranca, móntela con la opción remove_hiberfile "
             "de ntfs-3g (por ejemplo: ntfs-3g -o remove_hiberfile /dev/sdb2 /mnt/windows): "
             "descarta la sesión hibernada, lo que no hace daño tras un inicio rápido pero pierde "
             "el trabajo que hubiera abierto si Windows se hibernó de verdad; después, los "
             "archivos de registro que Windows no terminó de guardar se recuperan de sus "
             "registros de transacciones." +
             std::string(kNothingChanged);
    case ErrorKind::kNoProfile:
      return "No se encuentra ningún perfil de usuario con NTUSER.DAT en " + path + "." +
             std::string(kNothingChanged);
    case ErrorKind::kProfileNotFound: {
      const std::string& detail = error.detail();
      return "No hay ningún perfil llamado \"" + detail.substr(0, detail.find('\n')) +
             "\". Elija uno con --user:" + ProfileLines(detail, 1) + "\n" +
             std::string(kNothingChanged.substr(1));
    }
    case ErrorKind::kSeveralProfiles:
      return "Hay varios perfiles de usuario. Elija uno con --user:" +
             ProfileLines(error.detail(), 0) + "\n" + std::string(kNothingChanged.substr(1));
    case ErrorKind::kInstallationPresent:
      return "La carpeta " + path + " ya contiene una instalación.";
    case ErrorKind::kHiveMissing:
      return "No se encuentra el archivo de registro " + path +
             ". Indique con --windows la carpeta donde está montada la partición de Windows (la "
             "que contiene la carpeta Windows)." +
             std::string(kNothingChanged);
    case ErrorKind::kNotRegularFile:
    case ErrorKind::kLinkOutside:
    case ErrorKind::kReadFailed:
      return "No se puede usar el archivo de registro " + path + ": " + OpeningWords(error) +
             ". Compruebe que la partición montada es la de Windows." +
             std::string(kNothingChanged);
    case ErrorKind::kNotAHive:
      return "El archivo " + path + " no es un archivo de registro válido o está dañado (" +
             (error.defect() ? DefectWords(error.defect())
                             : std::string(std::strerror(error.error_number()))) +
             "). Restaure una copia de seguridad del archivo antes de repararlo." +
             std::string(kNothingChanged);
    case ErrorKind::kReadOnly:
    case ErrorKind::kReadOnlyVolume:
    case ErrorKind::kFolderNotWritable:
      return "No se puede escribir el archivo de registro " + path + ": " +
             NotWritableWords(error) +
             ". Monte la partición con permiso de escritura y compruebe los permisos del archivo, "
             "o use --dry-run para ver los cambios sin escribirlos." +
             std::string(kNothingChanged);
    case ErrorKind::kLogUnrecoverable:
      return "Windows no terminó de guardar el archivo de registro " + path +
             " y no se puede completar como lo haría Windows al arrancar: " +
             (error.recovery() != nullptr ? RecoveryWords(*error.recovery()) : error.detail()) +
             " Arranque Windows para que lo complete él mismo, o restaure una copia de seguridad "
             "del archivo." +
             std::string(kNothingChanged);
    case ErrorKind::kLogUnreadable:
      return "No se puede leer " + path + ": " +
             (error.cause() != nullptr        ? OpeningWords(*error.cause())
              : error.error_number() == EFBIG ? std::string("es demasiado grande")
              : error.error_number() == 0     ? std::string("el archivo se acortó al leerlo")
                                              : OpeningWords(error)) +
             "." + std::string(kNothingChanged);
    case ErrorKind::kAmbiguousLogs:
      return "Hay junto al archivo de registro dos archivos que solo se distinguen por las "
             "mayúsculas, " +
             path + " y " + Quoted(error.detail()) + ", y no se puede saber cuál usaría Windows." +
             std::string(kNothingChanged);
    case ErrorKind::kNoMemoryForRecovery:
      return "No se pudo preparar en memoria la recuperación de " + path + Because(error) + "." +
             std::string(kNothingChanged);
    case ErrorKind::kDamagedKey:
      return Damaged(error, "no se puede leer la clave " + error.detail());
    case ErrorKind::kControlSetUnknown:
      return Damaged(error, error.detail().empty()
                                ? "el valor Select\\Current, que indica el conjunto de control "
                                  "actual, falta o no es un número REG_DWORD"
                                : "el valor Select\\Current indica el conjunto de control " +
                                      error.detail() + ", que no existe");
    case ErrorKind::kCommitFailed:
      return "No se ha guardado ningún cambio; todos los archivos quedan como estaban. " +
             (error.path().empty() ? std::string() : "Falló " + path + ": ") +
             (error.cause() != nullptr ? Clause(*error.cause()) : std::string("error")) + ".";
    case ErrorKind::kReplaceFailed: {
      std::string done;
      for (std::size_t start = 0; start < error.detail().size();) {
        const std::size_t end = std::min(error.detail().find('\n', start), error.detail().size());
        done += " " + Quoted(error.detail().substr(start, end - start));
        start = end + 1;
      }
      return "No se pudo reemplazar " + path + Because(error) +
             ". Queda como estaba, como los archivos que faltaban por reemplazar" +
             (done.empty() ? std::string(".") : "; ya se habían reemplazado:" + done + ".");
    }
    case ErrorKind::kUndoFileNotWritten:
      return "No se pudo escribir el archivo para deshacer los cambios del registro " + path +
             Because(error) + ".";
    case ErrorKind::kUnexpected:
      return "Error inesperado, no se ha guardado ningún cambio: " + error.detail();
    case ErrorKind::kStopped:
    case ErrorKind::kAlreadyCommitted:
    case ErrorKind::kCreateFailed:
    case ErrorKind::kWriteFailed:
    case ErrorKind::kCopyFailed:
    case ErrorKind::kSyncFailed:
    case ErrorKind::kCheckFailed:
    case ErrorKind::kHivexFailed:
    case ErrorKind::kValueTooLarge:
    case ErrorKind::kSortFailed: {
      std::string sentence = Clause(error) + ".";
      // Each of these clauses starts with a lower-case ASCII letter.
      sentence[0] = static_cast<char>(sentence[0] - 'a' + 'A');
      return sentence;
    }
  }
  return "Error inesperado, no se ha guardado ningún cambio: " + std::string(error.what());
}

void AsFailure(const std::function<void()>& work) {
  try {
    work();
  } catch (const Failure&) {
    throw;
  } catch (const offline::Error& error) {
    throw Failure(offline::kOfflineFailureNumber, Describe(error));
  } catch (const std::exception& error) {
    throw Failure(
        offline::kOfflineFailureNumber,
        std::string("Error inesperado, no se ha guardado ningún cambio: ") + error.what());
  }
}

std::string DescribeNotice(const offline::StoreNotice& notice) {
  using Kind = offline::StoreNotice::Kind;
  switch (notice.kind) {
    case Kind::kRecovered:
      return DescribeRecovery(notice.hive.string(), notice.recovery);
    case Kind::kValueNotChanged:
      return "No se cambió el valor \"" + notice.name + "\" de la clave " + notice.key + " en " +
             Quoted(notice.hive) + ": la clave tendría el valor \"" + notice.other +
             "\" de más de 16344 bytes, que libhivex escribiría sin su registro de datos grandes "
             "y dañaría el archivo. Haga este cambio desde Windows.";
    case Kind::kKeyNotCreated:
      return "No se creó la clave \"" + notice.name + "\" bajo " + notice.key + " en " +
             Quoted(notice.hive) + ": libhivex solo ordena bien los nombres de clave ASCII.";
  }
  return {};
}

std::string DescribeRecovery(const std::string& hive, const offline::Recovery& recovery) {
  std::string text = "Windows no terminó de guardar " + Quoted(hive) +
                     "; se ha recuperado como lo haría Windows al arrancar, con ";
  for (std::size_t k = 0; k < recovery.applied.size(); ++k) {
    const offline::AppliedLog& log = recovery.applied[k];
    if (k > 0) text += k + 1 == recovery.applied.size() ? " y " : ", ";
    if (log.old_format) {
      text += std::to_string(log.count) + (log.count == 1 ? " página" : " páginas") + " de " +
              Quoted(log.name);
    } else {
      text += std::to_string(log.count) + (log.count == 1 ? " entrada" : " entradas") + " de " +
              Quoted(log.name) + " (" +
              (log.count == 1 ? "la " + std::to_string(log.first_sequence)
                              : "de la " + std::to_string(log.first_sequence) + " a la " +
                                    std::to_string(log.last_sequence)) +
              ")";
    }
  }
  text += ".";
  if (recovery.base_block_from_log) {
    text += " Su cabecera estaba dañada y se ha tomado de " +
            Quoted(recovery.applied.front().name) + ".";
  }
  if (!recovery.left_out.empty()) {
    text += " Las entradas posteriores se han dejado fuera, como haría Windows, porque " +
            StopWords(recovery.left_out) + ".";
  }
  return text;
}

std::string DescribeRecoveryIssue(const offline::RecoveryIssue& issue) {
  return issue.kind >= offline::RecoveryIssue::Kind::kNoLogs ? RecoveryWords(issue)
                                                             : StopWords(issue);
}

}  // namespace sorbantilex::text
