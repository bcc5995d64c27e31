#include "ui/cli/report.h"

#include <unistd.h>

#include <cstdio>
#include <memory>

#include "app/ini_rem.h"
#include "app/window_system.h"
#include "platform/offline/safe_files.h"
#include "platform/offline/session/session.h"
#include "registry/failure.h"
#include "registry/journal.h"
#include "registry/key_names.h"
#include "registry/utf8.h"
#include "tasks/funciones.h"
#include "ui/cli/change_report.h"
#include "ui/cli/terminal.h"
#include "ui/text/offline_messages.h"

namespace sorbantilex::cli {
namespace {

namespace fs = std::filesystem;

// Raised by the survey's window system when a repair would end the program.
struct SurveyEnd {};

// The window system a repair sees in the survey: no window opens, messages
// are kept, the home-page dialog keeps its initial address.
class SurveyWindowSystem final : public WindowSystem {
 public:
  std::vector<std::string> messages;

  void ShowMessage(std::string_view text, std::string_view /*title*/) override {
    messages.emplace_back(text);
  }
  void YieldToMessages() override {}
  [[noreturn]] void EndProgram(EndReason) override { throw SurveyEnd{}; }
  bool PreviousInstance() override { return false; }
  void ShowWindow(WindowId) override {}
  void HideWindow(WindowId) override {}
  bool Visible(WindowId) override { return false; }
  WindowHandle Handle(WindowId window) override { return window == WindowId::kIniRem ? 2 : 1; }
  void SetWindowPos(WindowHandle, WindowHandle, int, int, int, int, std::uint32_t) override {}
  void SetTitle(WindowId, std::string_view) override {}
  int CheckState(CheckArray, int) override { return 0; }
  void SetCheckState(CheckArray, int, int) override {}
  void SetCheckEnabled(CheckArray, int, bool) override {}
  int UpperBound(CheckArray) override { return -1; }
  std::string TextBoxText(WindowId, std::string_view) override {
    return std::string(kInitialStartPage);
  }
};

// The bytes of a file of the installation as they are now; nullopt when it
// cannot be read (missing, no regular file inside the installation, or
// larger than any file a repair writes is worth reading).
std::optional<std::vector<std::uint8_t>> FileBytes(const fs::path& path, const fs::path& root) {
  constexpr std::uint64_t kLargestShown = std::uint64_t{64} << 20;
  const offline::OpenedFile opened = offline::OpenRegularFile(path, root);
  std::vector<std::uint8_t> bytes;
  if (!opened || !offline::ReadWhole(opened.fd.get(), kLargestShown, &bytes)) return std::nullopt;
  return bytes;
}

// The hive file that holds a key given as "HKLM\SOFTWARE\...".
fs::path HiveOf(const offline::Session& session, const std::string& key,
                const offline::Profile* profile) {
  const std::string upper = UpperName(key);
  if (upper.starts_with("HKCU")) return profile != nullptr ? profile->user_hive : fs::path();
  if (upper.starts_with("HKLM\\SYSTEM") || upper.starts_with("HKCC")) {
    return session.installation().system();
  }
  return session.installation().software();
}

Finding::Kind KindOf(JournalEntry::Kind kind) {
  switch (kind) {
    case JournalEntry::Kind::kKeyDeleted:
      return Finding::Kind::kKeyDeleted;
    case JournalEntry::Kind::kKeyCreated:
      return Finding::Kind::kKeyCreated;
    case JournalEntry::Kind::kValueWritten:
      return Finding::Kind::kValueWritten;
    case JournalEntry::Kind::kValueDeleted:
      break;
  }
  return Finding::Kind::kValueDeleted;
}

// Runs `step` once as a dry run over the session, with the profile
// selected now, and adds what it would change to `report`.
void SurveyStep(offline::Session& session, const Step& step, RepairReport& report) {
  const offline::Profile* profile =
      session.profiles().empty() ? nullptr : &session.profiles()[session.selected_profile()];
  Journal probe(session.registry());
  offline::OfflineWmi wmi(probe);
  SurveyWindowSystem ui;
  const std::size_t files_before = session.file_changes().size();
  try {
    text::AsFailure([&] {
      if (step.kind == StepKind::kStartPageDialog) {
        IniRem(ui, probe).OnOkClick();
      } else {
        Funciones funciones(TaskPlatform{probe, session.system(), session.files(), wmi, ui});
        (funciones.*step.task)();
      }
    });
  } catch (const Failure& failure) {
    report.errors.push_back((profile != nullptr && step.per_user ? profile->name + ": " : "") +
                            failure.description());
  } catch (const SurveyEnd&) {
    // The repair ended the run; what it changed until then is reported.
  }

  for (Journal::NetChange& change : probe.NetChanges()) {
    Finding finding;
    finding.kind = KindOf(change.kind);
    const bool user = UpperName(change.key).starts_with("HKCU");
    if (user && profile != nullptr) finding.profile = profile->name;
    finding.file = HiveOf(session, change.key, user ? profile : nullptr);
    finding.key = std::move(change.key);
    if (change.kind == JournalEntry::Kind::kValueWritten ||
        change.kind == JournalEntry::Kind::kValueDeleted) {
      finding.value = std::move(change.name);
    }
    finding.before = std::move(change.before);
    finding.after = std::move(change.after);
    finding.values = std::move(change.values);
    finding.subkeys = change.subkeys;
    report.findings.push_back(std::move(finding));
  }
  const auto& files = session.file_changes();
  for (std::size_t i = files_before; i < files.size(); ++i) {
    auto now = FileBytes(files[i].path, session.root());
    if (now && *now == files[i].content) continue;
    Finding finding;
    finding.kind = Finding::Kind::kFileWritten;
    finding.key = files[i].windows_path;
    finding.file = files[i].path;
    finding.file_before = std::move(now);
    finding.file_after = files[i].content;
    report.findings.push_back(std::move(finding));
  }
}

std::string Hex(std::span<const std::uint8_t> bytes) {
  std::string out;
  char pair[3];
  for (const std::uint8_t byte : bytes) {
    std::snprintf(pair, sizeof pair, "%02x", byte);
    out += pair;
  }
  return out;
}

std::string TypeName(std::uint32_t type) {
  switch (type) {
    case kRegNone:
      return "REG_NONE";
    case kRegSz:
      return "REG_SZ";
    case kRegExpandSz:
      return "REG_EXPAND_SZ";
    case kRegBinary:
      return "REG_BINARY";
    case kRegDword:
      return "REG_DWORD";
    case kRegDwordBigEndian:
      return "REG_DWORD_BIG_ENDIAN";
    case kRegLink:
      return "REG_LINK";
    case kRegMultiSz:
      return "REG_MULTI_SZ";
    case 11:
      return "REG_QWORD";
    default:
      return std::to_string(type);
  }
}

// A value's data in JSON: text for strings, a list of texts for
// REG_MULTI_SZ, a number for REG_DWORD and REG_QWORD, else the bytes in hex.
std::string JsonData(const RegFileValue& value) {
  const std::string_view text(reinterpret_cast<const char*>(value.data.data()), value.data.size());
  if (value.type == kRegSz || value.type == kRegExpandSz) {
    return JsonString(text.substr(0, text.find('\0')));
  }
  if (value.type == kRegMultiSz) {
    std::string out = "[";
    std::size_t start = 0;
    while (start < text.size()) {
      const std::size_t end = std::min(text.find('\0', start), text.size());
      if (end == start) break;  // the closing empty string
      if (out.size() > 1) out += ", ";
      out += JsonString(text.substr(start, end - start));
      start = end + 1;
    }
    return out + "]";
  }
  if ((value.type == kRegDword && value.data.size() == 4) ||
      (value.type == 11 && value.data.size() == 8)) {
    std::uint64_t number = 0;
    for (std::size_t i = value.data.size(); i-- > 0;) number = number << 8 | value.data[i];
    return std::to_string(number);
  }
  return JsonString(Hex(value.data));
}

std::string JsonValue(const std::optional<RegFileValue>& value, const char* type_field,
                      const char* data_field) {
  if (!value) return std::string("\"") + type_field + "\": null, \"" + data_field + "\": null";
  return std::string("\"") + type_field + "\": " + JsonString(TypeName(value->type)) + ", \"" +
         data_field + "\": " + JsonData(*value);
}

std::string JsonOptional(const std::optional<std::string>& text) {
  return text ? JsonString(*text) : std::string("null");
}

const char* ChangeName(Finding::Kind kind) {
  switch (kind) {
    case Finding::Kind::kKeyDeleted:
      return "delete-key";
    case Finding::Kind::kKeyCreated:
      return "create-key";
    case Finding::Kind::kValueWritten:
      return "set-value";
    case Finding::Kind::kValueDeleted:
      return "delete-value";
    case Finding::Kind::kFileWritten:
      break;
  }
  return "write-file";
}

std::string FileText(std::span<const std::uint8_t> bytes) {
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// A value as the report shows it: text without the zeros that end it.
std::string Shown(const RegFileValue& value) {
  std::vector<std::uint8_t> data = value.data;
  if (value.type == kRegSz || value.type == kRegExpandSz) {
    while (!data.empty() && data.back() == 0) data.pop_back();
  }
  return DescribeValue(value.type, data);
}

// The lines of the text report for a finding.
std::vector<std::string> Describe(const Finding& finding) {
  const std::string value =
      finding.value ? " \"" + Printable(*finding.value) + "\"" : std::string();
  switch (finding.kind) {
    case Finding::Kind::kKeyDeleted: {
      std::vector<std::string> lines{"clave " + finding.key + ": se borraría"};
      if (finding.subkeys > 0) {
        lines.front() += " (con " + std::to_string(finding.subkeys) +
                         (finding.subkeys == 1 ? " subclave)" : " subclaves)");
      }
      for (const RegFileValue& held : finding.values) {
        lines.push_back("  \"" + Printable(held.name) + "\" = " + Shown(held));
      }
      return lines;
    }
    case Finding::Kind::kKeyCreated:
      return {"clave " + finding.key + ": se crearía"};
    case Finding::Kind::kValueWritten:
      if (!finding.before) {
        return {"valor " + finding.key + value + ": se crearía = " + Shown(*finding.after)};
      }
      return {"valor " + finding.key + value + " = " + Shown(*finding.before) + ": se escribiría " +
              Shown(*finding.after)};
    case Finding::Kind::kValueDeleted:
      return {"valor " + finding.key + value + " = " + Shown(*finding.before) + ": se borraría"};
    case Finding::Kind::kFileWritten:
      return {"archivo " + finding.key +
              (finding.file_before ? " (" + std::to_string(finding.file_before->size()) + " bytes)"
                                   : std::string(" (no existe)")) +
              ": se escribiría con " + std::to_string(finding.file_after.size()) + " bytes: \"" +
              Printable(FileText(finding.file_after)) + "\""};
  }
  return {};
}

}  // namespace

bool InstallationReport::failed() const {
  if (error) return true;
  for (const RepairReport& repair : repairs) {
    if (!repair.errors.empty()) return true;
  }
  return false;
}

InstallationReport Survey(const fs::path& root, const std::vector<std::string>& users) {
  InstallationReport report;
  report.root = root;
  std::unique_ptr<offline::Session> session;
  try {
    text::AsFailure([&] {
      session = offline::Session::Open({.installation = root, .users = users, .report = true});
    });
  } catch (const Failure& failure) {
    report.error = failure.description();
    return report;
  }
  report.profiles = session->profiles();
  for (const Step& step : kSteps) {
    if (!step.HasBox()) continue;
    RepairReport repair{&step, {}, {}};
    if (step.per_user) {
      for (std::size_t i = 0; i < session->profiles().size(); ++i) {
        session->SelectProfile(i);
        SurveyStep(*session, step, repair);
      }
      if (!session->profiles().empty()) session->SelectProfile(0);
    } else {
      SurveyStep(*session, step, repair);
    }
    report.repairs.push_back(std::move(repair));
    if (const auto damage = session->Damage()) {
      // What cannot be read may only look absent: no finding stands.
      report.error = text::Describe(*damage);
      report.repairs.clear();
      return report;
    }
  }
  for (const auto& notice : session->notices()) {
    report.notices.push_back(text::DescribeNotice(notice));
  }
  return report;
}

void PrintReport(const std::vector<InstallationReport>& reports, std::ostream& out) {
  out << "Informe de Sorbantilex: lo que cada reparación cambiaría (no se ha modificado nada)\n";
  for (const InstallationReport& report : reports) {
    out << "\nInstalación: " << Terminal(report.root.string(), Breaks::kEscaped) << "\n";
    if (report.error) {
      out << Terminal(*report.error) << "\n";
      continue;
    }
    std::string profiles;
    for (const offline::Profile& profile : report.profiles) {
      if (!profiles.empty()) profiles += ", ";
      profiles += profile.name + (profile.sid.empty() ? "" : " (" + profile.sid + ")");
    }
    out << "Perfiles: "
        << Terminal(profiles.empty() ? "ninguno (no se examina HKEY_CURRENT_USER)" : profiles,
                    Breaks::kEscaped)
        << "\n";
    for (const std::string& notice : report.notices) {
      out << "Aviso: " << Terminal(notice) << "\n";
    }
    for (const RepairReport& repair : report.repairs) {
      out << "\n" << repair.step->caption << "  (--task " << repair.step->key << ")\n";
      auto lines_for = [&](const std::optional<std::string>& profile) {
        std::vector<std::string> lines;
        for (const Finding& finding : repair.findings) {
          if (finding.profile != profile) continue;
          for (std::string& line : Describe(finding)) lines.push_back(std::move(line));
        }
        return lines;
      };
      const auto machine = lines_for(std::nullopt);
      for (const std::string& error : repair.errors) {
        out << "  error: " << Terminal(error, Breaks::kEscaped) << "\n";
      }
      if (!repair.step->per_user || report.profiles.empty()) {
        if (machine.empty() && repair.errors.empty()) out << "  nada que reparar\n";
        for (const auto& line : machine) out << "  " << Terminal(line, Breaks::kEscaped) << "\n";
        continue;
      }
      if (!machine.empty()) {
        out << "  equipo:\n";
        for (const auto& line : machine) out << "    " << Terminal(line, Breaks::kEscaped) << "\n";
      }
      for (const offline::Profile& profile : report.profiles) {
        const auto lines = lines_for(profile.name);
        out << "  perfil " << Terminal(profile.name, Breaks::kEscaped) << ":"
            << (lines.empty() ? " nada que reparar" : "") << "\n";
        for (const auto& line : lines) out << "    " << Terminal(line, Breaks::kEscaped) << "\n";
      }
    }
  }
  out.flush();
}

void PrintReportJson(const std::vector<InstallationReport>& reports, std::ostream& out) {
  out << "{\n  \"report\": \"sorbantilex\",\n  \"installations\": [";
  for (std::size_t r = 0; r < reports.size(); ++r) {
    const InstallationReport& report = reports[r];
    out << (r ? ",\n" : "\n") << "    {\n      \"path\": " << JsonString(report.root.string())
        << ",\n      \"error\": "
        << (report.error ? JsonString(*report.error) : std::string("null"))
        << ",\n      \"profiles\": [";
    for (std::size_t p = 0; p < report.profiles.size(); ++p) {
      const offline::Profile& profile = report.profiles[p];
      out << (p ? ", " : "") << "{\"name\": " << JsonString(profile.name)
          << ", \"sid\": " << (profile.sid.empty() ? std::string("null") : JsonString(profile.sid))
          << ", \"hive\": " << JsonString(profile.user_hive.string()) << "}";
    }
    out << "],\n      \"notices\": [";
    for (std::size_t n = 0; n < report.notices.size(); ++n) {
      out << (n ? ", " : "") << JsonString(report.notices[n]);
    }
    out << "],\n      \"repairs\": [";
    for (std::size_t k = 0; k < report.repairs.size(); ++k) {
      const RepairReport& repair = report.repairs[k];
      out << (k ? "," : "") << "\n        {\"task\": " << JsonString(repair.step->key)
          << ", \"caption\": " << JsonString(repair.step->caption)
          << ", \"per_profile\": " << (repair.step->per_user ? "true" : "false")
          << ", \"findings\": " << repair.findings.size() << ", \"errors\": [";
      for (std::size_t e = 0; e < repair.errors.size(); ++e) {
        out << (e ? ", " : "") << JsonString(repair.errors[e]);
      }
      out << "]}";
    }
    out << (report.repairs.empty() ? "" : "\n      ") << "],\n      \"findings\": [";
    bool first = true;
    for (const RepairReport& repair : report.repairs) {
      for (const Finding& finding : repair.findings) {
        out << (first ? "\n" : ",\n") << "        {\"task\": " << JsonString(repair.step->key)
            << ", \"profile\": " << JsonOptional(finding.profile)
            << ", \"change\": " << JsonString(ChangeName(finding.kind));
        first = false;
        if (finding.kind == Finding::Kind::kFileWritten) {
          out << ", \"key\": null, \"value\": null, \"file\": " << JsonString(finding.key)
              << ", \"path\": " << JsonString(finding.file.string()) << ", \"data\": "
              << (finding.file_before ? JsonString(FileText(*finding.file_before))
                                      : std::string("null"))
              << ", \"new_data\": " << JsonString(FileText(finding.file_after)) << "}";
          continue;
        }
        out << ", \"key\": " << JsonString(finding.key)
            << ", \"value\": " << JsonOptional(finding.value) << ", "
            << JsonValue(finding.before, "type", "data") << ", "
            << JsonValue(finding.after, "new_type", "new_data")
            << ", \"hive\": " << JsonString(finding.file.string());
        if (finding.kind == Finding::Kind::kKeyDeleted) {
          out << ", \"subkeys\": " << finding.subkeys << ", \"values\": [";
          for (std::size_t v = 0; v < finding.values.size(); ++v) {
            out << (v ? ", " : "") << "{\"name\": " << JsonString(finding.values[v].name) << ", "
                << JsonValue(finding.values[v], "type", "data") << "}";
          }
          out << "]";
        }
        out << "}";
      }
    }
    out << (first ? "" : "\n      ") << "]\n    }";
  }
  out << (reports.empty() ? "" : "\n  ") << "]\n}\n";
  out.flush();
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  char escape[8];
  for (std::size_t at = 0; at < text.size();) {
    char32_t code = 0;
    const std::size_t length = DecodeUtf8(text, at, &code);
    if (length == 0 || (code >= 0xD800 && code <= 0xDFFF)) {
      out += "\\ufffd";
      at += length == 0 ? 1 : length;
      continue;
    }
    if (code == '"') {
      out += "\\\"";
    } else if (code == '\\') {
      out += "\\\\";
    } else if (code == '\n') {
      out += "\\n";
    } else if (code == '\r') {
      out += "\\r";
    } else if (code == '\t') {
      out += "\\t";
    } else if (code < 0x20 || code == 0x7F) {
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(code));
      out += escape;
    } else {
      out.append(text.substr(at, length));
    }
    at += length;
  }
  return out + "\"";
}

}  // namespace sorbantilex::cli
