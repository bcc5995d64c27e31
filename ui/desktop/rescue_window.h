#pragma once

// The rescue window (sorbantilex-desktop --rescate): the only window of the
// rescue USB's screen. It lists the PC's volumes, repairs the one chosen by
// running the desktop window on it, and shows what was changed. What it does
// on each choice is `RescueFlow`'s; this draws and asks.

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "rescue/volumes.h"
#include "ui/desktop/rescue_flow.h"

class QComboBox;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QProcess;
class QPushButton;
class QStackedWidget;
class QThread;

namespace sorbantilex::desktop {

/// The repair as a process of its own: `program --windows FOLDER`, waited
/// for with the event loop running; its standard output and error go to the
/// log.
class ChildRepair final : public RepairProgram {
 public:
  ChildRepair(RescueLog& log, QString program) : log_(log), program_(std::move(program)) {}
  Result Run(const std::filesystem::path& installation) override;
  void Stop() override;

 private:
  RescueLog& log_;
  QString program_;
  QProcess* running_ = nullptr;  // the child while it runs
  bool stopped_ = false;
};

class RescueWindow final : public QWidget, private RescueQuestions {
 public:
  struct Options {
    rescue::Places places;
    /// The PC's volumes; run on a thread of its own. Empty: rescue::FindVolumes.
    std::function<std::vector<rescue::Volume>(rescue::Commands&, const rescue::Places&)>
        find_volumes;
  };
  /// Every program runs through `commands`, and goes with its output to
  /// `log`; the repair runs through `repair`.
  RescueWindow(rescue::Commands& commands, RescueLog& log, RepairProgram& repair, Options options);
  ~RescueWindow() override;

  /// Looks for the volumes again ("Buscar de nuevo"); the list says so
  /// until they are there.
  void Search();

 private:
  void ShowVolumes();
  void RepairChosen();
  void ShowOutcome(const RepairOutcome& outcome);
  void ShowLog();
  void EndSystem(bool restart);

  // RescueQuestions
  void Tell(const std::string& text) override;
  std::optional<text::HibernationWay> ChooseWay(
      const std::string& explanation, const std::vector<text::HibernationOption>& options) override;
  bool RetryUnmount(const std::string& problem) override;

  // The repair, with the window showing that it runs.
  class Working final : public RepairProgram {
   public:
    Working(RescueWindow& window, RepairProgram& repair) : window_(window), repair_(repair) {}
    Result Run(const std::filesystem::path& installation) override;
    void Stop() override { repair_.Stop(); }

   private:
    RescueWindow& window_;
    RepairProgram& repair_;
  };

  LoggedCommands commands_;
  RescueLog& log_;
  Options options_;
  Working working_repair_;
  RescueFlow flow_;

  std::unique_ptr<QThread> search_;
  std::vector<rescue::Volume> volumes_;  // written by the search thread while it runs
  std::optional<std::string> search_error_;

  QStackedWidget* pages_ = nullptr;
  QLabel* list_state_ = nullptr;
  QListWidget* list_ = nullptr;
  QComboBox* keyboard_ = nullptr;
  QPushButton* search_again_ = nullptr;
  QPushButton* repair_ = nullptr;
  QPushButton* repair_another_ = nullptr;
  QLabel* working_ = nullptr;
  QLabel* status_ = nullptr;
  QLabel* unmount_problem_ = nullptr;
  QPlainTextEdit* report_ = nullptr;
};

/// sorbantilex-desktop --rescate: the rescue window, as administrator (else
/// a message says it needs those rights). Returns the exit code.
int RunRescue(int& argc, char** argv);

}  // namespace sorbantilex::desktop
