#include "ui/cli/change_report.h"

#include <string>
#include <string_view>

#include "app/task_catalog.h"
#include "ui/cli/terminal.h"
#include "ui/text/offline_messages.h"

namespace sorbantilex::cli {
namespace {

std::string DescribeFile(const offline::FileChange& change) {
  const std::string_view content(reinterpret_cast<const char*>(change.content.data()),
                                 change.content.size());
  return "archivo escrito " + change.windows_path + " (" + std::to_string(change.content.size()) +
         " bytes): \"" + Printable(content) + "\"";
}

}  // namespace

bool PrintChangeReport(const RunOutcome& run, std::ostream& out, std::ostream& err) {
  // Changes the commit did not save are never shown as done.
  const bool failed = !run.dry_run && !run.commit.errors.empty();
  out << (run.dry_run ? "\nCambios (simulación: no se ha escrito nada):\n"
          : failed && run.commit.written.empty()
              ? "\nCambios (no guardados: no se ha modificado ningún archivo):\n"
          : failed ? "\nCambios (guardados solo en parte; vea los errores):\n"
                   : "\nCambios:\n");
  constexpr std::string_view kFilesCaption = TaskNamed("RestaurarHosts").caption;
  std::size_t file_index = 0;
  for (const auto& section : run.log.sections()) {
    out << "  " << (section.caption.empty() ? "(inicio)" : section.caption) << "\n";
    auto lines = DescribeChanges(section.changes);
    if (section.caption == kFilesCaption) {
      for (; file_index < run.files.size(); ++file_index) {
        lines.push_back(DescribeFile(run.files[file_index]));
      }
    }
    if (lines.empty()) lines.push_back("sin cambios");
    for (const auto& line : lines) out << "    " << Terminal(line, Breaks::kEscaped) << "\n";
  }
  for (const auto& notice : run.notices) out << "Aviso: " << Terminal(notice) << "\n";
  if (!run.commit.written.empty()) {
    out << "Copias de seguridad:\n";
    for (const auto& written : run.commit.written) {
      if (!written.backup.empty()) {
        out << "  " << Terminal(written.backup.string(), Breaks::kEscaped) << "\n";
      }
      for (const auto& log : written.log_backups) {
        out << "  " << Terminal(log.string(), Breaks::kEscaped) << "\n";
      }
    }
  }
  for (const auto& error : run.commit.errors) err << Terminal(text::Describe(error)) << "\n";
  out.flush();
  return run.commit.errors.empty();
}

}  // namespace sorbantilex::cli
