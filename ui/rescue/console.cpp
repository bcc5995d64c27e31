#include "ui/rescue/console.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <vector>

#include "rescue/command_log.h"
#include "ui/text/rescue_messages.h"

namespace sorbantilex::rescue_console {
namespace {

namespace fs = std::filesystem;
using rescue::CommandResult;
using rescue::Commands;
using rescue::Hibernation;
using rescue::Mount;
using rescue::RunOptions;
using rescue::Volume;
using rescue::VolumeState;

// An unattended repair that takes longer than this has hung.
constexpr std::chrono::minutes kAutoRepairLimit{30};

constexpr std::string_view kLayouts[] = {"es", "us", "fr", "de", "it", "pt", "latam"};

// The log file's folder made where it is missing; the log kept in memory
// too.
rescue::CommandLog OpenLog(const fs::path& file) {
  const fs::path folder = file.parent_path();
  std::error_code error;
  if (!folder.empty() && !fs::exists(folder, error)) ::mkdir(folder.c_str(), 0700);
  return rescue::CommandLog(file);
}

std::string Trimmed(std::string text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
  std::size_t start = 0;
  while (start < text.size() && std::isspace(static_cast<unsigned char>(text[start]))) ++start;
  return text.substr(start);
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::optional<std::size_t> Number(const std::string& answer) {
  if (answer.empty() || answer.size() > 4 ||
      answer.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  return static_cast<std::size_t>(std::stoul(answer));
}

// The command line with `argv`, its output shown as it comes.
int RunCommandLine(Commands& commands, const std::vector<std::string>& argv, std::ostream& out,
                   bool interactive) {
  RunOptions options;
  options.time_limit = interactive ? std::chrono::seconds(0) : kAutoRepairLimit;
  options.keep_input = interactive;
  options.shown = &out;
  options.plain_locale = false;
  out.flush();
  return commands.RunWith(argv, options).status;
}

class Menu {
 public:
  Menu(Commands& commands, const Settings& settings, std::istream& in, std::ostream& out)
      : log_(OpenLog(settings.log)),
        commands_(commands, log_),
        settings_(settings),
        in_(in),
        out_(out) {}

  int Run();

 private:
  enum class Outcome { kBack, kDone, kEnd };

  std::optional<std::string> Ask(std::string_view prompt) {
    out_ << prompt << std::flush;
    std::string line;
    if (!std::getline(in_, line)) {
      out_ << "\n";
      return std::nullopt;
    }
    return Trimmed(line);
  }
  void Search();
  void List();
  Outcome Volume(const rescue::Volume& volume);
  Outcome Repair(const rescue::Volume& volume, Mount::Mode mode);
  std::optional<std::vector<std::string>> ChooseRepairs();
  void Keyboard();
  void ShowLog();
  // Restarts or powers off; false (after saying why) when systemctl refused.
  bool Shutdown(bool restart);
  Outcome Afterwards();

  rescue::CommandLog log_;
  rescue::LoggedCommands commands_;
  const Settings& settings_;
  std::istream& in_;
  std::ostream& out_;
  std::vector<rescue::Volume> volumes_;
};

void Menu::Search() {
  out_ << "Buscando los discos (solo se leen)...\n" << std::flush;
  try {
    volumes_ = rescue::FindVolumes(commands_, settings_.places);
  } catch (const std::exception& error) {
    volumes_.clear();
    out_ << "No se han podido buscar los discos: " << error.what() << "\n";
  }
}

void Menu::List() {
  out_ << "\n";
  if (volumes_.empty()) {
    out_ << "No se ha encontrado ningún volumen NTFS ni BitLocker.\n";
  } else {
    out_ << "Volúmenes del PC:\n";
    for (std::size_t i = 0; i < volumes_.size(); ++i) {
      out_ << "  " << i + 1 << ") " << text::DescribeVolume(volumes_[i]) << "\n";
    }
  }
  out_ << "  b) Buscar de nuevo   t) Teclado   r) Reiniciar   a) Apagar\n";
}

int Menu::Run() {
  out_ << "Sorbantilex: rescate de Windows\n";
  Search();
  while (true) {
    List();
    const auto answer = Ask("Elija una opción: ");
    if (!answer) return 0;
    const std::string choice = Lower(*answer);
    Outcome outcome = Outcome::kBack;
    if (choice == "b") {
      Search();
      continue;
    } else if (choice == "t") {
      Keyboard();
      continue;
    } else if (choice == "r" || choice == "a") {
      if (Shutdown(choice == "r")) return 0;
      continue;
    } else if (const auto number = Number(choice);
               number && *number >= 1 && *number <= volumes_.size()) {
      outcome = Volume(volumes_[*number - 1]);
    } else {
      out_ << "No entiendo «" << *answer << "».\n";
      continue;
    }
    if (outcome == Outcome::kDone) outcome = Afterwards();
    if (outcome == Outcome::kEnd) return 0;
    if (outcome == Outcome::kDone) Search();
  }
}

Menu::Outcome Menu::Volume(const rescue::Volume& volume) {
  out_ << "\n" << text::VolumeHeading(volume) << "\n";
  if (volume.state != VolumeState::kWindows) {
    out_ << text::ExplainVolume(volume) << "\n";
    return Ask("Pulse Intro para volver a la lista. ") ? Outcome::kBack : Outcome::kEnd;
  }
  if (volume.hibernation == Hibernation::kNone) return Repair(volume, Mount::Mode::kReadWrite);

  out_ << text::ExplainVolume(volume) << "\n\nQué puede hacer:\n";
  const auto options = text::HibernationOptions(volume);
  for (std::size_t i = 0; i < options.size(); ++i) {
    out_ << "  " << i + 1 << ") " << options[i].title << "\n     " << options[i].explanation
         << "\n";
  }
  out_ << "  0) " << text::kCancelCaption << "\n";
  const auto answer = Ask("Elija una opción (Intro: cancelar): ");
  if (!answer) return Outcome::kEnd;
  const auto number = Number(*answer);
  if (!number || *number < 1 || *number > options.size()) {
    out_ << "Cancelado: no se ha cambiado nada.\n";
    return Outcome::kBack;
  }
  switch (options[*number - 1].way) {
    case text::HibernationWay::kRestartWindows: {
      const auto now = Ask(
          "Quite el USB y escriba r para reiniciar ahora, o pulse Intro para volver a la lista: ");
      if (!now) return Outcome::kEnd;
      if (Lower(*now) == "r" && Shutdown(true)) return Outcome::kEnd;
      return Outcome::kBack;
    }
    case text::HibernationWay::kRecoverJournal:
      out_ << "Recuperando el diario de NTFS de " << volume.device.path << " (puede tardar)...\n"
           << std::flush;
      try {
        rescue::RecoverJournal(commands_, volume.device.path);
      } catch (const std::exception& error) {
        out_ << "No se ha podido recuperar el diario; no se ha reparado nada. El programa de "
                "recuperación dice:\n"
             << error.what() << "\n";
        return Outcome::kDone;
      }
      return Repair(volume, Mount::Mode::kReadWriteDroppingHibernation);
    case text::HibernationWay::kDropHibernation:
      return Repair(volume, Mount::Mode::kReadWriteDroppingHibernation);
  }
  return Outcome::kBack;
}

Menu::Outcome Menu::Repair(const rescue::Volume& volume, Mount::Mode mode) {
  // What to do first: the volume is mounted for writing only for a repair,
  // for reading for the report, and not at all to go back.
  out_ << "  1) Reparar todo\n"
       << "  2) Elegir reparaciones\n"
       << "  3) Informe (sin cambiar nada)\n"
       << "  0) Volver sin hacer nada\n";
  std::optional<std::vector<std::string>> what;  // the command line's options after --windows
  while (!what) {
    const auto answer = Ask("Elija una opción: ");
    if (!answer || *answer == "0" || answer->empty()) break;
    if (*answer == "1") {
      what = std::vector<std::string>{"--all"};
    } else if (*answer == "2") {
      const auto tasks = ChooseRepairs();
      if (!tasks) break;
      what.emplace();
      for (const std::string& task : *tasks) {
        what->push_back("--task");
        what->push_back(task);
      }
    } else if (*answer == "3") {
      what = std::vector<std::string>{"--informe"};
      mode = Mount::Mode::kReadOnly;
    } else {
      out_ << "No entiendo «" << *answer << "».\n";
    }
  }
  if (!what) return Outcome::kBack;

  std::unique_ptr<Mount> mount;
  try {
    mount = Mount::Open(commands_, settings_.places, volume.device.path, mode);
  } catch (const std::exception& error) {
    out_ << "No se ha podido montar " << volume.device.path
         << (mode == Mount::Mode::kReadOnly ? " para leerlo" : " para repararlo")
         << "; no se ha modificado nada. ntfs-3g dice:\n"
         << error.what() << "\n";
    return Outcome::kDone;
  }
  const std::string folder = mount->folder().string();
  std::vector<std::string> argv{settings_.command_line, "--windows", folder};
  argv.insert(argv.end(), what->begin(), what->end());
  out_ << "\n";
  const int status = RunCommandLine(commands_, argv, out_, /*interactive=*/true);
  out_ << "\n"
       << (status == 0 ? "Terminado."
                       : "La orden terminó con errores (estado " + std::to_string(status) + ").")
       << "\n";
  std::string error;
  if (!mount->Unmount(&error)) {
    out_ << "No se ha podido desmontar " << folder << ": " << error
         << "\nApague el PC desde este menú para que se desmonte antes de apagarse.\n";
  }
  return Outcome::kDone;
}

std::optional<std::vector<std::string>> Menu::ChooseRepairs() {
  const CommandResult listed = commands_.Run({settings_.command_line, "--list"});
  std::vector<std::pair<std::string, std::string>> repairs;  // key, caption
  std::istringstream lines(listed.output);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string key;
    if (!(fields >> key)) continue;
    std::string caption;
    std::getline(fields, caption);
    repairs.emplace_back(key, Trimmed(caption));
  }
  if (listed.status != 0 || repairs.empty()) {
    out_ << "No se ha podido obtener la lista de reparaciones:\n" << listed.output << "\n";
    return std::nullopt;
  }
  for (std::size_t i = 0; i < repairs.size(); ++i) {
    out_ << "  " << i + 1 << ") " << repairs[i].second << " (" << repairs[i].first << ")\n";
  }
  while (true) {
    const auto answer =
        Ask("Escriba los números de las reparaciones, separados por espacios (Intro: ninguna): ");
    if (!answer || answer->empty()) return std::nullopt;
    std::vector<std::string> chosen;
    std::istringstream words(*answer);
    std::string word;
    bool understood = true;
    while (words >> word) {
      const auto number = Number(word);
      std::optional<std::string> key;
      if (number && *number >= 1 && *number <= repairs.size()) key = repairs[*number - 1].first;
      for (const auto& repair : repairs) {
        if (repair.first == word) key = word;
      }
      if (!key) {
        out_ << "No entiendo «" << word << "».\n";
        understood = false;
        break;
      }
      if (std::find(chosen.begin(), chosen.end(), *key) == chosen.end()) chosen.push_back(*key);
    }
    if (understood) return chosen;
  }
}

void Menu::Keyboard() {
  out_ << "Distribuciones de teclado:";
  for (std::size_t i = 0; i < std::size(kLayouts); ++i) {
    out_ << "  " << i + 1 << ") " << kLayouts[i];
  }
  out_ << "\n";
  const auto answer = Ask("Elija una (Intro: no cambiar): ");
  if (!answer) return;
  const auto number = Number(*answer);
  std::string layout;
  if (number && *number >= 1 && *number <= std::size(kLayouts)) layout = kLayouts[*number - 1];
  for (const std::string_view known : kLayouts) {
    if (Lower(*answer) == known) layout = known;
  }
  if (layout.empty()) return;
  const CommandResult result = commands_.Run({"loadkeys", layout});
  if (result.status == 0) {
    out_ << "Teclado cambiado a «" << layout << "».\n";
  } else {
    out_ << "No se ha podido cambiar el teclado:\n" << Trimmed(result.output) << "\n";
  }
}

void Menu::ShowLog() {
  std::ifstream log(settings_.log);
  if (!log) {
    out_ << "El registro (" << settings_.log.string() << ") está vacío.\n";
    return;
  }
  out_ << "Registro de lo hecho (" << settings_.log.string() << "):\n" << log.rdbuf() << "\n";
}

bool Menu::Shutdown(bool restart) {
  out_ << (restart ? "Reiniciando el PC...\n" : "Apagando el PC...\n") << std::flush;
  try {
    if (restart) {
      rescue::Restart(commands_);
    } else {
      rescue::PowerOff(commands_);
    }
    return true;
  } catch (const std::exception& error) {
    out_ << "No se ha podido: " << error.what() << "\n";
    return false;
  }
}

Menu::Outcome Menu::Afterwards() {
  while (true) {
    out_ << "\n  o) Otra instalación   v) Ver el registro   r) Reiniciar   a) Apagar\n";
    const auto answer = Ask("Elija una opción: ");
    if (!answer) return Outcome::kEnd;
    const std::string choice = Lower(*answer);
    if (choice == "o") return Outcome::kDone;
    if (choice == "v") {
      ShowLog();
    } else if (choice == "r" || choice == "a") {
      if (Shutdown(choice == "r")) return Outcome::kEnd;
    } else {
      out_ << "No entiendo «" << *answer << "».\n";
    }
  }
}

}  // namespace

std::string FindCommandLine() {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  if (!error) {
    const fs::path beside = self.parent_path() / "sorbantilex";
    if (::access(beside.c_str(), X_OK) == 0) return beside.string();
  }
  return "sorbantilex";
}

int RunAuto(Commands& commands, const Settings& settings, std::ostream& out) {
  rescue::CommandLog log = OpenLog(settings.log);
  log.Add("# sorbantilex-rescate --auto");
  rescue::LoggedCommands logged(commands, log);
  std::vector<Volume> volumes;
  bool failed = false;
  int repaired = 0;
  try {
    volumes = rescue::FindVolumes(logged, settings.places);
  } catch (const std::exception& error) {
    out << "No se han podido buscar los discos: " << error.what() << "\n";
    failed = true;
  }
  for (const Volume& volume : volumes) {
    out << "== " << text::VolumeHeading(volume) << " ==\n" << std::flush;
    if (volume.state == VolumeState::kNoWindows) {
      out << text::ExplainVolume(volume) << "\n";
      continue;
    }
    if (volume.state != VolumeState::kWindows || volume.hibernation != Hibernation::kNone) {
      out << text::ExplainVolume(volume) << "\nNo se ha tocado este volumen.\n";
      failed = true;
      continue;
    }
    std::unique_ptr<Mount> mount;
    try {
      mount = Mount::Open(logged, settings.places, volume.device.path, Mount::Mode::kReadWrite);
    } catch (const std::exception& error) {
      out << "No se ha podido montar para repararlo; no se ha modificado nada. ntfs-3g dice:\n"
          << error.what() << "\n";
      failed = true;
      continue;
    }
    const int status = RunCommandLine(
        logged, {settings.command_line, "--windows", mount->folder().string(), "--all"}, out,
        /*interactive=*/false);
    std::string error;
    const bool unmounted = mount->Unmount(&error);
    if (!unmounted) out << "No se ha podido desmontar: " << error << "\n";
    if (status == 0 && unmounted) {
      ++repaired;
    } else {
      out << "La reparación de " << volume.device.path << " no ha terminado bien (estado " << status
          << ").\n";
      failed = true;
    }
  }
  if (repaired == 0 && !failed) {
    out << "No se ha encontrado ninguna instalación de Windows que reparar.\n";
    failed = true;
  }
  const int status = failed ? 1 : 0;
  out << "sorbantilex.auto: estado " << status << "\n" << std::flush;
  return status;
}

int RunMenu(Commands& commands, const Settings& settings, std::istream& in, std::ostream& out) {
  return Menu(commands, settings, in, out).Run();
}

}  // namespace sorbantilex::rescue_console
