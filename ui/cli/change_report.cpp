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

void PrintUndoFiles(const offline::SessionResult& result, std::ostream& out, std::ostream& err) {
  for (const offline::UndoFileResult& file : result.undo_files) {
    const std::string whose =
        file.profile ? "del perfil " + *file.profile : std::string("del registro del equipo");
    if (!file.path.empty()) {
      out << Terminal("Para deshacer los cambios " + whose + ", importe en Windows" +
                          (file.profile ? " con la sesión de " + *file.profile + " iniciada"
                                        : std::string()) +
                          " el archivo:",
                      Breaks::kEscaped)
          << "\n  " << Terminal(file.path.string(), Breaks::kEscaped) << "\n";
      // Told on both streams: a run whose undo is incomplete must not pass
      // unnoticed when only errors are read.
      for (const std::string& omitted : file.omitted) {
        const std::string line =
            "Aviso: el archivo para deshacer no puede devolver " + omitted +
            " (regedit no admite saltos de línea ni ceros en los nombres); deshaga ese cambio a "
            "mano.";
        out << Terminal(line, Breaks::kEscaped) << "\n";
        err << Terminal(line, Breaks::kEscaped) << "\n";
      }
    } else if (file.error) {
      out << Terminal("Aviso: no se pudo escribir el archivo para deshacer los cambios " + whose +
                          " en " + result.undo_folder.string() + " (" +
                          std::generic_category().message(file.error->error_number()) +
                          "); los cambios se han guardado igualmente.",
                      Breaks::kEscaped)
          << "\n";
    }
  }
}

bool OfCurrentUser(const JournalEntry& entry) { return entry.key.starts_with("HKCU"); }

bool SameChange(const JournalEntry& a, const JournalEntry& b) {
  return a.kind == b.kind && a.key == b.key && a.name == b.name && a.type == b.type &&
         a.data == b.data;
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
  // A step that ran once per profile has a section per profile, one after
  // the other: the machine's changes are told once, then each profile's.
  const auto& sections = session.journal().sections();
  const bool several_profiles = session.profiles().size() > 1;
  for (std::size_t first = 0; first < sections.size();) {
    std::size_t end = first + 1;
    while (end < sections.size() && sections[end].caption == sections[first].caption &&
           sections[end].profile != sections[first].profile) {
      ++end;
    }
    const std::string& caption = sections[first].caption;
    out << "  " << (caption.empty() ? "(inicio)" : caption) << "\n";
    std::vector<JournalEntry> machine;
    for (std::size_t k = first; k < end; ++k) {
      for (const JournalEntry& change : sections[k].changes) {
        if (several_profiles && OfCurrentUser(change)) continue;
        // The same change made again for a further profile is told once.
        bool again = false;
        for (const JournalEntry& told : machine) again = again || SameChange(told, change);
        if (!again) machine.push_back(change);
      }
    }
    auto lines = DescribeChanges(machine);
    if (caption == kFilesCaption) {
      for (; file_index < files.size(); ++file_index)
        lines.push_back(DescribeFile(files[file_index]));
    }
    const bool per_profile = several_profiles && (end - first > 1 || [&] {
                               for (const JournalEntry& change : sections[first].changes) {
                                 if (OfCurrentUser(change)) return true;
                               }
                               return false;
                             }());
    if (lines.empty() && !per_profile) lines.push_back("sin cambios");
    for (const auto& line : lines) out << "    " << Terminal(line, Breaks::kEscaped) << "\n";
    if (per_profile) {
      for (std::size_t k = first; k < end; ++k) {
        std::vector<JournalEntry> user;
        for (const JournalEntry& change : sections[k].changes) {
          if (OfCurrentUser(change)) user.push_back(change);
        }
        auto user_lines = DescribeChanges(user);
        if (user_lines.empty()) user_lines.push_back("sin cambios");
        out << "    perfil " << Terminal(sections[k].profile, Breaks::kEscaped) << ":\n";
        for (const auto& line : user_lines) {
          out << "      " << Terminal(line, Breaks::kEscaped) << "\n";
        }
      }
    }
    first = end;
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
  PrintUndoFiles(result, out, err);
  for (const auto& error : commit.errors) err << Terminal(text::Describe(error)) << "\n";
  out.flush();
  return commit.errors.empty();
}

}  // namespace sorbantilex::cli
