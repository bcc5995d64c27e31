#include "ui/cli/change_report.h"

#include <cstdio>
#include <string>
#include <string_view>
#include <system_error>

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

void PrintUndoFile(const offline::SessionResult& result, std::ostream& out, std::ostream& err) {
  if (!result.undo_file.empty()) {
    out << "Para deshacer los cambios del registro, importe en Windows el archivo:\n  "
        << Terminal(result.undo_file.string(), Breaks::kEscaped) << "\n";
    // Told on both streams: a run whose undo is incomplete must not pass
    // unnoticed when only errors are read.
    for (const std::string& omitted : result.undo_omitted) {
      const std::string line =
          "Aviso: el archivo para deshacer no puede devolver " + omitted +
          " (regedit no admite saltos de línea ni ceros en los nombres); deshaga ese cambio a "
          "mano.";
      out << Terminal(line, Breaks::kEscaped) << "\n";
      err << Terminal(line, Breaks::kEscaped) << "\n";
    }
  } else if (result.undo_error) {
    out << "Aviso: no se pudo escribir el archivo para deshacer los cambios del registro en "
        << Terminal(result.undo_folder.string(), Breaks::kEscaped) << " ("
        << std::generic_category().message(result.undo_error->error_number())
        << "); los cambios se han guardado igualmente.\n";
  }
}

}  // namespace

std::string Printable(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == '\0') {
      out += "\\0";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '"') {
      out += "\\\"";
    } else {
      out += c;
    }
  }
  return out;
}

std::string DescribeValue(std::uint32_t type, const std::vector<std::uint8_t>& data) {
  const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
  char number[48];
  switch (type) {
    case kRegSz:
      return "REG_SZ \"" + Printable(text) + "\"";
    case kRegExpandSz:
      return "REG_EXPAND_SZ \"" + Printable(text) + "\"";
    case kRegMultiSz:
      return "REG_MULTI_SZ \"" + Printable(text) + "\"";
    case kRegDword:
      if (data.size() == 4) {
        const std::uint32_t v = data[0] | (data[1] << 8) | (data[2] << 16) |
                                (static_cast<std::uint32_t>(data[3]) << 24);
        std::snprintf(number, sizeof number, "REG_DWORD 0x%08x (%u)", v, v);
        return number;
      }
      break;
    default:
      break;
  }
  std::string out = type == kRegBinary ? "REG_BINARY" : "tipo " + std::to_string(type);
  for (const auto byte : data) {
    std::snprintf(number, sizeof number, " %02X", byte);
    out += number;
  }
  return out;
}

std::vector<std::string> DescribeChanges(const std::vector<JournalEntry>& changes) {
  using Kind = JournalEntry::Kind;
  std::vector<std::string> lines;
  // Deleting a tree deletes its deepest keys first; report the tree once.
  std::vector<std::size_t> removed_under(changes.size(), 0);
  std::vector<bool> covered(changes.size(), false);
  for (std::size_t i = 0; i < changes.size(); ++i) {
    if (changes[i].kind != Kind::kKeyDeleted) continue;
    const std::string prefix = changes[i].key + "\\";
    for (std::size_t j = i; j-- > 0;) {
      if (changes[j].kind != Kind::kKeyDeleted || covered[j]) continue;
      if (changes[j].key.compare(0, prefix.size(), prefix) != 0) break;
      covered[j] = true;
      ++removed_under[i];
    }
  }
  for (std::size_t i = 0; i < changes.size(); ++i) {
    const auto& change = changes[i];
    switch (change.kind) {
      case Kind::kKeyDeleted:
        if (covered[i]) break;
        lines.push_back(
            "clave borrada   " + change.key +
            (removed_under[i] ? " (y " + std::to_string(removed_under[i]) + " subclaves)" : ""));
        break;
      case Kind::kKeyCreated:
        lines.push_back("clave creada    " + change.key);
        break;
      case Kind::kValueWritten:
        lines.push_back("valor escrito   " + change.key + " \"" + change.name +
                        "\" = " + DescribeValue(change.type, change.data));
        break;
      case Kind::kValueDeleted:
        lines.push_back("valor borrado   " + change.key + " \"" + change.name + "\"");
        break;
    }
  }
  return lines;
}

bool PrintChangeReport(const offline::Session& session, const offline::SessionResult& result,
                       std::ostream& out, std::ostream& err) {
  const offline::CommitReport& commit = result.commit;
  // Changes the commit did not save are never shown as done.
  const bool failed = !result.dry_run && !commit.errors.empty();
  out << (result.dry_run ? "\nCambios (simulación: no se ha escrito nada):\n"
          : failed && commit.written.empty()
              ? "\nCambios (no guardados: no se ha modificado ningún archivo):\n"
          : failed ? "\nCambios (guardados solo en parte; vea los errores):\n"
                   : "\nCambios:\n");
  constexpr std::string_view kFilesCaption = TaskNamed("RestaurarHosts").caption;
  const auto& files = session.file_changes();
  std::size_t file_index = 0;
  for (const auto& section : session.journal().sections()) {
    out << "  " << (section.caption.empty() ? "(inicio)" : section.caption) << "\n";
    auto lines = DescribeChanges(section.changes);
    if (section.caption == kFilesCaption) {
      for (; file_index < files.size(); ++file_index) lines.push_back(DescribeFile(files[file_index]));
    }
    if (lines.empty()) lines.push_back("sin cambios");
    for (const auto& line : lines) out << "    " << Terminal(line, Breaks::kEscaped) << "\n";
  }
  for (const auto& notice : session.notices()) {
    out << "Aviso: " << Terminal(text::DescribeNotice(notice)) << "\n";
  }
  if (!commit.written.empty()) {
    out << "Copias de seguridad:\n";
    for (const auto& written : commit.written) {
      if (!written.backup.empty()) {
        out << "  " << Terminal(written.backup.string(), Breaks::kEscaped) << "\n";
      }
      for (const auto& log : written.log_backups) {
        out << "  " << Terminal(log.string(), Breaks::kEscaped) << "\n";
      }
    }
  }
  PrintUndoFile(result, out, err);
  for (const auto& error : commit.errors) err << Terminal(text::Describe(error)) << "\n";
  out.flush();
  return commit.errors.empty();
}

}  // namespace sorbantilex::cli
