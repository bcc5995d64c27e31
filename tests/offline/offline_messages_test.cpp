// What the user reads of each kind of offline error: the key words of its
// sentence, the file named in double quotes, and whether it says that
// nothing was changed.

#include "ui/text/offline_messages.h"

#include <cerrno>
#include <cstring>

#include "offline_test_support.h"
#include "platform/offline/offline_errors.h"
#include "registry/failure.h"

namespace sorbantilex::offline::testing {
namespace {

const fs::path kFile = "/mnt/win dows/WINDOWS/system32/config/SOFTWARE";

struct MessageCase {
  const char* name;
  Error error;
  std::vector<std::string> words;  // each must appear
  bool nothing_changed;            // ends saying nothing was modified
};
// (The list of profiles names no file: those rows have no path.)

RecoveryIssue Issue(RecoveryIssue::Kind kind, std::string log, std::uint32_t entry,
                    std::uint64_t number = 0) {
  RecoveryIssue issue;
  issue.kind = kind;
  issue.log = std::move(log);
  issue.entry = entry;
  issue.number = number;
  return issue;
}

HiveDefect Defect(HiveDefect::What what, std::uint64_t first = 0, std::uint64_t second = 0) {
  return {what, first, second};
}

const MessageCase kMessageCases[] = {
    {"NotAFolder", Error(ErrorKind::kNotAFolder, kFile), {"no es una carpeta", "--windows"}, true},
    {"FolderMissing", Error(ErrorKind::kNotAFolder, kFile, ENOENT), {"no existe"}, true},
    {"NoWindowsFolder", Error(ErrorKind::kNoWindowsFolder, kFile), {"carpeta Windows"}, true},
    {"InstallationIncomplete",
     Error(ErrorKind::kInstallationIncomplete, kFile),
     {"No se encuentra el archivo de registro", "no se ha movido"},
     true},
    {"Hibernated", Error(ErrorKind::kHibernated, kFile), {"hibernado", "remove_hiberfile"}, true},
    {"NoProfile", Error(ErrorKind::kNoProfile, kFile), {"ningún perfil", "NTUSER.DAT"}, true},
    {"ProfileNotFound",
     Error(ErrorKind::kProfileNotFound, {}, 0, "Pedro\nAna\nJuan (S-1-5-21)"),
     {"\"Pedro\"", "--user:\n  Ana\n  Juan (S-1-5-21)\nNo se ha modificado nada."},
     true},
    {"SeveralProfiles",
     Error(ErrorKind::kSeveralProfiles, {}, 0, "Ana\nJuan"),
     {"varios perfiles", "--user:\n  Ana\n  Juan\nNo se ha modificado nada."},
     true},
    {"InstallationPresent",
     Error(ErrorKind::kInstallationPresent, kFile),
     {"ya contiene una instalación"},
     false},
    {"HiveMissing", Error(ErrorKind::kHiveMissing, kFile), {"No se encuentra", "--windows"}, true},
    {"Fifo", Error(ErrorKind::kNotRegularFile, kFile, EINVAL, "fifo"), {"tubería"}, true},
    {"Symlink",
     Error(ErrorKind::kNotRegularFile, kFile, ELOOP, "symlink"),
     {"enlace simbólico"},
     true},
    {"LinkOutside", Error(ErrorKind::kLinkOutside, kFile), {"fuera de la instalación"}, true},
    {"ReadFailed", Error(ErrorKind::kReadFailed, kFile, EIO), {std::strerror(EIO)}, true},
    {"ShorterThanHeader",
     Error(ErrorKind::kNotAHive, kFile, Defect(HiveDefect::What::kShorterThanHeader, 8192, 4096)),
     {"no es un archivo de registro válido", "la cabecera declara 8192 bytes", "tiene 4096"},
     true},
    {"BinsMismatch",
     Error(ErrorKind::kNotAHive, kFile, Defect(HiveDefect::What::kBinsMismatchAt, 0x3000)),
     {"no coinciden", "0x3000"},
     true},
    {"DataBeyondHeader",
     Error(ErrorKind::kNotAHive, kFile, Defect(HiveDefect::What::kDataBeyondHeader, 77)),
     {"77 bytes más allá de los datos"},
     true},
    {"HivexRefused", Error(ErrorKind::kNotAHive, kFile, EINVAL), {std::strerror(EINVAL)}, true},
    {"ReadOnly", Error(ErrorKind::kReadOnly, kFile), {"solo lectura", "--dry-run"}, true},
    {"ReadOnlyVolume",
     Error(ErrorKind::kReadOnlyVolume, kFile),
     {"solo para lectura", "--dry-run"},
     true},
    {"FolderNotWritable",
     Error(ErrorKind::kFolderNotWritable, kFile),
     {"no se pueden crear archivos en la carpeta \"/mnt/win dows/WINDOWS/system32/config\""},
     true},
    {"LogUnrecoverable",
     Error(ErrorKind::kLogUnrecoverable, kFile, 0, "x"),
     {"no terminó de guardar", "Arranque Windows"},
     true},
    {"LogUnreadable", Error(ErrorKind::kLogUnreadable, kFile, EIO), {"No se puede leer"}, true},
    {"DamagedKey",
     Error(ErrorKind::kDamagedKey, kFile, 0, "SOFTWARE\\Microsoft"),
     {"está dañado", "la clave SOFTWARE\\Microsoft"},
     true},
    {"ControlSetMissing",
     Error(ErrorKind::kControlSetUnknown, kFile, 0, "ControlSet003"),
     {"está dañado", "ControlSet003, que no existe"},
     true},
    {"NothingSaved",
     Error::CommitFailed(kFile, Error(ErrorKind::kSyncFailed, "/t/new", EIO)),
     {"No se ha guardado ningún cambio", "Falló", "no se pudo guardar \"/t/new\" en el disco"},
     false},
    {"NothingSavedBeforeAnyFile",
     Error::CommitFailed({}, Error(ErrorKind::kStopped)),
     {"No se ha guardado ningún cambio", "señal"},
     false},
    {"CheckFailed",
     Error::CommitFailed(
         kFile, Error(ErrorKind::kCheckFailed, kFile, Defect(HiveDefect::What::kSequenceMismatch))),
     {"no es válido (números de secuencia distintos)"},
     false},
    {"ReplaceFailed",
     Error(ErrorKind::kReplaceFailed, kFile, EXDEV, "/a\n/b"),
     {"No se pudo reemplazar", "ya se habían reemplazado: \"/a\" \"/b\"."},
     false},
    {"WriteFailed",
     Error(ErrorKind::kWriteFailed, kFile, ENOSPC),
     {"No se pudo escribir", std::strerror(ENOSPC)},
     false},
    {"LogEntryTooLarge",
     Error(ErrorKind::kLogUnrecoverable, kFile,
           Issue(RecoveryIssue::Kind::kEntryTooLarge, "SOFTWARE.LOG1", 568, 4294963200)),
     {"no se puede completar como lo haría Windows",
      "La entrada 568 del registro de transacciones \"SOFTWARE.LOG1\"", "4294963200 bytes",
      "Arranque Windows"},
     true},
    {"LogIsALink",
     Error(ErrorKind::kLogUnreadable, kFile,
           Error(ErrorKind::kNotRegularFile, kFile, 0, "symlink")),
     {"No se puede leer", "enlace simbólico"},
     true},
    {"LogTooLarge", Error(ErrorKind::kLogUnreadable, kFile, EFBIG), {"demasiado grande"}, true},
    {"LogsDifferingInCase",
     Error(ErrorKind::kAmbiguousLogs, kFile, 0, "/x/software.log1"),
     {"mayúsculas", "\"/x/software.log1\""},
     true},
    {"UndoFileNotWritten",
     Error(ErrorKind::kUndoFileNotWritten, kFile, EACCES),
     {"deshacer", std::strerror(EACCES)},
     false},
};

class OfflineMessage : public ::testing::TestWithParam<MessageCase> {};

TEST_P(OfflineMessage, SaysWhatWentWrongNamingTheFile) {
  const std::string text = text::Describe(GetParam().error);
  for (const auto& word : GetParam().words) EXPECT_NE(text.find(word), std::string::npos) << text;
  if (!GetParam().error.path().empty()) {
    EXPECT_NE(text.find("\"" + kFile.string() + "\""), std::string::npos) << text;
  }
  // After a sentence, or on a line of its own after a list.
  const bool says_nothing_changed =
      text.ends_with(" No se ha modificado nada.") || text.ends_with("\nNo se ha modificado nada.");
  EXPECT_EQ(says_nothing_changed, GetParam().nothing_changed) << text;
}

INSTANTIATE_TEST_SUITE_P(Offline, OfflineMessage, ::testing::ValuesIn(kMessageCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A hive recovered from its logs: which logs gave how many entries, and
// why the later ones were left out.
TEST(OfflineNotice, SaysWhatTheLogsBrought) {
  StoreNotice notice;
  notice.hive = kFile;
  notice.recovery.applied = {{"SOFTWARE.LOG1", false, 2, 10, 11},
                             {"SOFTWARE.LOG2", false, 1, 12, 12}};
  notice.recovery.left_out = Issue(RecoveryIssue::Kind::kEntryBadHash, "SOFTWARE.LOG2", 13);
  const std::string text = text::DescribeNotice(notice);
  for (const char* words :
       {"\"/mnt/win dows/WINDOWS/system32/config/SOFTWARE\"",
        "2 entradas de \"SOFTWARE.LOG1\" (de la 10 a la 11) y 1 entrada de \"SOFTWARE.LOG2\" (la "
        "12)",
        "se han dejado fuera, como haría Windows, porque la entrada 13 de \"SOFTWARE.LOG2\" está "
        "dañada"}) {
    EXPECT_NE(text.find(words), std::string::npos) << text;
  }
}

// The front ends receive every error of opening an installation as one
// `Failure`, described as above.
TEST(OfflineAsFailure, TurnsEveryErrorIntoAFailure) {
  auto failure_of = [](auto raise) {
    try {
      text::AsFailure(raise);
    } catch (const Failure& failure) {
      return failure;
    }
    return Failure(0, "");
  };
  const Error error(ErrorKind::kHibernated, kFile);
  const Failure described = failure_of([&] { throw error; });
  EXPECT_EQ(described.number(), kOfflineFailureNumber);
  EXPECT_EQ(described.description(), text::Describe(error));
  EXPECT_NE(failure_of([] { throw std::runtime_error("odd"); }).description().find("odd"),
            std::string::npos);
  EXPECT_EQ(failure_of([] { throw Failure(13, "as is"); }).number(), 13);
}

}  // namespace
}  // namespace sorbantilex::offline::testing
