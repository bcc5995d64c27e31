#include "ui/desktop/rescue_flow.h"

#include <exception>
#include <fstream>
#include <memory>
#include <system_error>

namespace sorbantilex::desktop {

namespace fs = std::filesystem;

namespace {

constexpr const char* kDone = "Reparación terminada";
constexpr const char* kNotDone = "La reparación no terminó: ";

// The last line of `text` that holds something.
std::string LastLine(const std::string& text) {
  std::size_t end = text.find_last_not_of(" \t\r\n");
  if (end == std::string::npos) return {};
  const std::size_t begin = text.rfind('\n', end);
  return text.substr(begin == std::string::npos ? 0 : begin + 1,
                     end + 1 - (begin == std::string::npos ? 0 : begin + 1));
}

}  // namespace

std::optional<fs::path> RescueLogFile() {
  const fs::path folder = "/run/sorbantilex";
  std::error_code error;
  if (!fs::is_directory(folder, error)) return std::nullopt;
  return folder / "registro.txt";
}

const std::vector<KeyboardLayout>& KeyboardLayouts() {
  static const std::vector<KeyboardLayout> layouts{
      {"Español", "es"},      {"Español (Latinoamérica)", "latam"},
      {"English (US)", "us"}, {"Français", "fr"},
      {"Deutsch", "de"},      {"Italiano", "it"},
      {"Português", "pt"},
  };
  return layouts;
}

bool RescueFlow::SetKeyboard(const std::string& code) {
  const rescue::CommandResult result = commands_.Run({"setxkbmap", code});
  if (result.status == 0) return true;
  questions_.Tell("No se pudo cambiar la distribución del teclado a «" + code +
                  "». El teclado sigue como estaba.");
  return false;
}

std::optional<RepairOutcome> RescueFlow::Repair(const rescue::Volume& volume) {
  using rescue::Mount;
  if (volume.state != rescue::VolumeState::kWindows) {
    questions_.Tell(text::ExplainVolume(volume));
    return std::nullopt;
  }
  if (volume.hibernation == rescue::Hibernation::kNone) {
    return RepairMounted(volume, Mount::Mode::kReadWrite);
  }
  const auto way =
      questions_.ChooseWay(text::ExplainVolume(volume), text::HibernationOptions(volume));
  if (!way) return std::nullopt;
  switch (*way) {
    case text::HibernationWay::kRestartWindows:
      for (const text::HibernationOption& option : text::HibernationOptions(volume)) {
        if (option.way == *way) questions_.Tell(option.explanation);
      }
      return std::nullopt;
    case text::HibernationWay::kRecoverJournal:
      try {
        rescue::RecoverJournal(commands_, volume.device.path);
      } catch (const std::exception& error) {
        questions_.Tell("No se pudo recuperar el diario de NTFS de " + volume.device.path +
                        ":\n\n" + error.what() + "\n\nNo se ha reparado nada.");
        return std::nullopt;
      }
      // The hibernation file describes the disk as it was before: Windows
      // would resume it over the repaired one.
      return RepairMounted(volume, Mount::Mode::kReadWriteDroppingHibernation);
    case text::HibernationWay::kDropHibernation:
      return RepairMounted(volume, Mount::Mode::kReadWriteDroppingHibernation);
  }
  return std::nullopt;
}

std::optional<RepairOutcome> RescueFlow::RepairMounted(const rescue::Volume& volume,
                                                       rescue::Mount::Mode mode) {
  std::unique_ptr<rescue::Mount> mount;
  try {
    mount = rescue::Mount::Open(commands_, places_, volume.device.path, mode);
  } catch (const std::exception& error) {
    questions_.Tell("No se pudo montar " + volume.device.path + " para repararlo:\n\n" +
                    error.what() + "\n\nNo se ha reparado nada.");
    return std::nullopt;
  }
  RepairOutcome outcome = Outcome(repair_.Run(mount->folder()));
  std::string error;
  while (!mount->Unmount(&error)) {
    const std::string problem =
        "No se pudo desmontar " + volume.device.path + (error.empty() ? "" : ":\n\n" + error) +
        "\n\nNo apague ni reinicie el equipo todavía: puede que los cambios no estén "
        "guardados en el disco. Espere unos segundos y vuelva a intentarlo.";
    if (!questions_.RetryUnmount(problem)) {
      outcome.unmount_problem = problem;
      break;
    }
    error.clear();
  }
  return outcome;
}

RepairOutcome RescueFlow::Outcome(const RepairProgram::Result& result) const {
  RepairOutcome outcome;
  outcome.report = result.output;
  if (!result.started) {
    outcome.status = kNotDone + std::string("no se pudo iniciar el programa de reparación") +
                     (result.errors.empty() ? "." : " (" + LastLine(result.errors) + ").");
  } else if (result.stopped) {
    outcome.status = kNotDone + std::string("se cerró la ventana de reparación.");
  } else if (result.crashed) {
    outcome.status =
        kNotDone + std::string("el programa de reparación se cerró de forma inesperada.");
  } else if (result.exit_code != 0) {
    const std::string why = LastLine(result.errors);
    outcome.status = kNotDone + (why.empty() ? "el programa de reparación terminó con el código " +
                                                   std::to_string(result.exit_code) + "."
                                             : why);
  } else {
    outcome.done = true;
    outcome.status = kDone;
  }
  return outcome;
}

}  // namespace sorbantilex::desktop
