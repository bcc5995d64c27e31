#include "ui/cli/undo_report.h"

#include <ctime>
#include <system_error>

#include "platform/offline/error.h"
#include "platform/offline/undo_file.h"
#include "ui/cli/terminal.h"

namespace sorbantilex::cli {

void ReportUndoFile(std::ostream& out, const UndoRecorder& undo,
                    const offline::CommitReport& report, const std::filesystem::path& folder) {
  if (report.written.empty() || undo.empty()) return;
  try {
    const auto path = offline::WriteUndoFile(folder, std::time(nullptr), undo.UndoFile());
    out << "Para deshacer los cambios del registro, importe en Windows el archivo:\n  "
        << Terminal(path.string(), Breaks::kEscaped) << "\n";
  } catch (const offline::Error& error) {
    out << "Aviso: no se pudo escribir el archivo para deshacer los cambios del registro en "
        << Terminal(folder.string(), Breaks::kEscaped) << " (" << std::generic_category().message(error.error_number())
        << "); los cambios se han guardado igualmente.\n";
  }
}

}  // namespace sorbantilex::cli
