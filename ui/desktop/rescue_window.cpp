#include "ui/desktop/rescue_window.h"

#include <unistd.h>

#include <exception>
#include <iostream>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QStyle>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include "ui/text/rescue_messages.h"

namespace sorbantilex::desktop {

namespace {

constexpr const char* kTitle = "Sorbantilex — rescate";

constexpr const char* kNeedsRoot =
    "La ventana de rescate de Sorbantilex necesita permisos de administrador (root) para "
    "buscar y montar los discos del equipo.\n\n"
    "Iníciela como administrador: sudo sorbantilex-desktop --rescate";

QString Q(const std::string& text) { return QString::fromStdString(text); }

// There may be no window manager: a dialog is activated by the program itself
// (QDialog centres itself over its parent when shown).
int Present(QDialog& dialog) {
  // Nor a frame to tell it from the window under it.
  dialog.setStyleSheet("QDialog { border: 1px solid palette(shadow); }");
  QTimer::singleShot(0, &dialog, [&dialog] {
    dialog.raise();
    dialog.activateWindow();
  });
  return dialog.exec();
}

QPushButton* Button(const char* text, const char* name, QWidget* parent) {
  auto* button = new QPushButton(QString::fromUtf8(text), parent);
  button->setObjectName(name);
  button->setAutoDefault(false);
  button->setMinimumHeight(36);
  button->setMinimumWidth(button->sizeHint().width() + 24);
  return button;
}

// The icon of a volume in the list (its description says its state).
QStyle::StandardPixmap StateIcon(const rescue::Volume& volume) {
  if (volume.state == rescue::VolumeState::kWindows) {
    return volume.hibernation == rescue::Hibernation::kNone ? QStyle::SP_DriveHDIcon
                                                            : QStyle::SP_MessageBoxWarning;
  }
  return volume.state == rescue::VolumeState::kNoWindows ? QStyle::SP_DriveHDIcon
                                                         : QStyle::SP_MessageBoxCritical;
}

bool Repairable(const rescue::Volume& volume) {
  return volume.state == rescue::VolumeState::kWindows &&
         volume.hibernation == rescue::Hibernation::kNone;
}

}  // namespace

RepairProgram::Result ChildRepair::Run(const std::filesystem::path& installation) {
  const QStringList arguments{"--windows", QString::fromStdString(installation.string())};
  log_.Add("$ " + program_.toStdString() + " --windows " + installation.string());
  QProcess child;
  child.setProgram(program_);
  child.setArguments(arguments);
  QEventLoop loop;
  QObject::connect(&child, &QProcess::finished, &loop, &QEventLoop::quit);
  child.start();
  Result result;
  if (!child.waitForStarted(-1)) {
    result.errors = child.errorString().toStdString();
    log_.Add("(no se pudo iniciar: " + result.errors + ")");
    return result;
  }
  result.started = true;
  running_ = &child;
  stopped_ = false;
  if (child.state() != QProcess::NotRunning) loop.exec();
  running_ = nullptr;
  result.stopped = stopped_;
  result.output = child.readAllStandardOutput().toStdString();
  result.errors = child.readAllStandardError().toStdString();
  result.crashed = child.exitStatus() != QProcess::NormalExit;
  result.exit_code = result.crashed ? -1 : child.exitCode();
  log_.Add(result.output + result.errors +
           (result.crashed ? "(terminó de forma anormal)"
                           : "(estado " + std::to_string(result.exit_code) + ")"));
  return result;
}

RepairProgram::Result RescueWindow::Working::Run(const std::filesystem::path& installation) {
  // Only the repair's window can be used meanwhile.
  const int page = window_.pages_->currentIndex();
  window_.pages_->setCurrentIndex(1);
  window_.keyboard_->setEnabled(false);
  Result result = repair_.Run(installation);
  window_.keyboard_->setEnabled(true);
  window_.pages_->setCurrentIndex(page);
  return result;
}

void ChildRepair::Stop() {
  if (running_ == nullptr) return;
  stopped_ = true;
  log_.Add("(la ventana de reparación se cierra a petición del usuario)");
  running_->terminate();
  // One that does not end at once is made to.
  QTimer::singleShot(5000, running_, [child = running_] { child->kill(); });
}

RescueWindow::RescueWindow(rescue::Commands& commands, RescueLog& log, RepairProgram& repair,
                           Options options)
    : commands_(commands, log),
      log_(log),
      options_(std::move(options)),
      working_repair_(*this, repair),
      flow_(commands_, options_.places, working_repair_, *this) {
  setObjectName("rescue");
  setWindowTitle(QString::fromUtf8(kTitle));
  QFont larger = font();
  larger.setPointSizeF(larger.pointSizeF() * 1.2);
  setFont(larger);

  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(24, 16, 24, 16);
  auto* header = new QHBoxLayout;
  auto* title = new QLabel(QString::fromUtf8("Sorbantilex: reparar Windows"), this);
  QFont big = title->font();
  big.setPointSizeF(big.pointSizeF() * 1.6);
  big.setBold(true);
  title->setFont(big);
  header->addWidget(title);
  header->addStretch();
  auto* keyboard_label = new QLabel(QString::fromUtf8("Teclado:"), this);
  keyboard_ = new QComboBox(this);
  keyboard_->setObjectName("keyboard");
  for (const KeyboardLayout& layout : KeyboardLayouts()) {
    keyboard_->addItem(QString::fromUtf8(layout.name), QString::fromUtf8(layout.code));
  }
  keyboard_label->setBuddy(keyboard_);
  header->addWidget(keyboard_label);
  header->addWidget(keyboard_);
  outer->addLayout(header);

  pages_ = new QStackedWidget(this);
  pages_->setObjectName("pages");
  outer->addWidget(pages_, 1);

  // The volumes.
  auto* list_page = new QWidget(pages_);
  list_page->setObjectName("volumesPage");
  auto* list_layout = new QVBoxLayout(list_page);
  list_layout->setContentsMargins(0, 8, 0, 0);
  list_state_ = new QLabel(list_page);
  list_state_->setObjectName("volumesState");
  list_state_->setWordWrap(true);
  list_layout->addWidget(list_state_);
  list_ = new QListWidget(list_page);
  list_->setObjectName("volumes");
  list_->setIconSize(QSize(32, 32));
  list_->setSpacing(4);
  list_layout->addWidget(list_, 1);
  auto* list_buttons = new QHBoxLayout;
  search_again_ = Button("Buscar de nuevo", "searchAgain", list_page);
  repair_ = Button("Reparar…", "repair", list_page);
  list_buttons->addWidget(search_again_);
  list_buttons->addWidget(repair_);
  list_buttons->addStretch();
  auto* restart = Button("Reiniciar", "restart", list_page);
  auto* power_off = Button("Apagar", "powerOff", list_page);
  list_buttons->addWidget(restart);
  list_buttons->addWidget(power_off);
  list_layout->addLayout(list_buttons);
  pages_->addWidget(list_page);

  // While the repair runs.
  auto* working_page = new QWidget(pages_);
  working_page->setObjectName("workingPage");
  auto* working_layout = new QVBoxLayout(working_page);
  working_ = new QLabel(working_page);
  working_->setObjectName("working");
  // At the top: the repair's window opens in the middle of the screen.
  working_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  working_->setWordWrap(true);
  working_layout->addWidget(working_);
  working_layout->addStretch();
  auto* stop_row = new QHBoxLayout;
  auto* stop = Button("Cerrar la ventana de reparación sin reparar", "stopRepair", working_page);
  stop_row->addStretch();
  stop_row->addWidget(stop);
  working_layout->addLayout(stop_row);
  pages_->addWidget(working_page);

  // What the repair did.
  auto* results_page = new QWidget(pages_);
  results_page->setObjectName("resultsPage");
  auto* results_layout = new QVBoxLayout(results_page);
  results_layout->setContentsMargins(0, 8, 0, 0);
  status_ = new QLabel(results_page);
  status_->setObjectName("status");
  status_->setWordWrap(true);
  QFont bold = status_->font();
  bold.setBold(true);
  bold.setPointSizeF(bold.pointSizeF() * 1.2);
  status_->setFont(bold);
  results_layout->addWidget(status_);
  unmount_problem_ = new QLabel(results_page);
  unmount_problem_->setObjectName("unmountProblem");
  unmount_problem_->setWordWrap(true);
  unmount_problem_->setStyleSheet("color: #b00000; font-weight: bold;");
  results_layout->addWidget(unmount_problem_);
  results_layout->addWidget(new QLabel(QString::fromUtf8("Cambios realizados:"), results_page));
  report_ = new QPlainTextEdit(results_page);
  report_->setObjectName("report");
  report_->setReadOnly(true);
  // Tab leaves the report: a PC without a working mouse is run from the
  // keyboard alone.
  report_->setTabChangesFocus(true);
  report_->setLineWrapMode(QPlainTextEdit::NoWrap);
  report_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  results_layout->addWidget(report_, 1);
  auto* results_buttons = new QHBoxLayout;
  auto* again = Button("Reparar otra instalación", "repairAnother", results_page);
  repair_another_ = again;
  auto* show_log = Button("Ver el registro", "showLog", results_page);
  results_buttons->addWidget(again);
  results_buttons->addWidget(show_log);
  results_buttons->addStretch();
  auto* restart_after = Button("Reiniciar", "restart", results_page);
  auto* power_off_after = Button("Apagar", "powerOff", results_page);
  results_buttons->addWidget(restart_after);
  results_buttons->addWidget(power_off_after);
  results_layout->addLayout(results_buttons);
  pages_->addWidget(results_page);

  connect(keyboard_, &QComboBox::activated, this, [this](int index) {
    flow_.SetKeyboard(keyboard_->itemData(index).toString().toStdString());
  });
  connect(search_again_, &QPushButton::clicked, this, &RescueWindow::Search);
  connect(repair_, &QPushButton::clicked, this, &RescueWindow::RepairChosen);
  connect(list_, &QListWidget::itemActivated, this, &RescueWindow::RepairChosen);
  connect(again, &QPushButton::clicked, this, &RescueWindow::Search);
  connect(show_log, &QPushButton::clicked, this, &RescueWindow::ShowLog);
  connect(stop, &QPushButton::clicked, this, [this] { working_repair_.Stop(); });
  for (QPushButton* button : {restart, restart_after}) {
    connect(button, &QPushButton::clicked, this, [this] { EndSystem(true); });
  }
  for (QPushButton* button : {power_off, power_off_after}) {
    connect(button, &QPushButton::clicked, this, [this] { EndSystem(false); });
  }
}

RescueWindow::~RescueWindow() {
  if (search_) search_->wait();
}

void RescueWindow::Search() {
  if (search_) return;
  pages_->setCurrentIndex(0);
  list_->clear();
  list_->setEnabled(false);
  repair_->setEnabled(false);
  search_again_->setEnabled(false);
  list_state_->setText(QString::fromUtf8("Buscando instalaciones de Windows…"));
  QApplication::setOverrideCursor(Qt::BusyCursor);
  search_.reset(QThread::create([this] {
    try {
      volumes_ = options_.find_volumes ? options_.find_volumes(commands_, options_.places)
                                       : rescue::FindVolumes(commands_, options_.places);
      search_error_.reset();
    } catch (const std::exception& error) {
      volumes_.clear();
      search_error_ = error.what();
    }
  }));
  connect(search_.get(), &QThread::finished, this, [this] {
    search_->wait();
    search_.release()->deleteLater();
    QApplication::restoreOverrideCursor();
    ShowVolumes();
  });
  search_->start();
}

void RescueWindow::ShowVolumes() {
  search_again_->setEnabled(true);
  list_->setEnabled(true);
  int first_repairable = -1;
  for (const rescue::Volume& volume : volumes_) {
    auto* item = new QListWidgetItem(style()->standardIcon(StateIcon(volume)),
                                     Q(text::DescribeVolume(volume)), list_);
    item->setToolTip(Q(text::ExplainVolume(volume)));
    if (first_repairable < 0 && Repairable(volume)) first_repairable = list_->count() - 1;
  }
  if (search_error_) {
    list_state_->setText(QString::fromUtf8("No se pudieron examinar los discos del equipo: ") +
                         Q(*search_error_));
  } else if (volumes_.empty()) {
    list_state_->setText(QString::fromUtf8(
        "No se encontró ninguna partición de Windows en los discos de este equipo. Conecte el "
        "disco y pulse «Buscar de nuevo»."));
  } else if (first_repairable < 0) {
    list_state_->setText(QString::fromUtf8(
        "Ninguna de estas particiones se puede reparar tal como está. Elija una y pulse "
        "«Reparar…» para saber por qué y qué puede hacer:"));
  } else {
    list_state_->setText(
        QString::fromUtf8("Elija la instalación de Windows que desea reparar y pulse «Reparar…»:"));
  }
  repair_->setEnabled(!volumes_.empty());
  if (!volumes_.empty()) list_->setCurrentRow(first_repairable < 0 ? 0 : first_repairable);
  list_->setFocus();
}

void RescueWindow::RepairChosen() {
  const int row = list_->currentRow();
  if (search_ || row < 0 || row >= static_cast<int>(volumes_.size())) return;
  const rescue::Volume volume = volumes_[static_cast<std::size_t>(row)];
  // One line: the repair's window covers the middle of the screen.
  working_->setText(QString::fromUtf8("Reparando ") + Q(volume.device.path) +
                    QString::fromUtf8(" en la ventana de Sorbantilex…"));
  if (const auto outcome = flow_.Repair(volume)) ShowOutcome(*outcome);
}

void RescueWindow::ShowOutcome(const RepairOutcome& outcome) {
  status_->setText(Q(outcome.status));
  status_->setStyleSheet(outcome.done ? "color: #006000;" : "color: #b00000;");
  unmount_problem_->setText(Q(outcome.unmount_problem));
  unmount_problem_->setVisible(!outcome.unmount_problem.empty());
  report_->setPlainText(outcome.report.empty()
                            ? QString::fromUtf8("(la reparación no ha informado de ningún cambio)")
                            : Q(outcome.report));
  pages_->setCurrentIndex(2);
  // The repair window has closed and, without a window manager, nothing
  // gives the keyboard back to this one.
  raise();
  activateWindow();
  repair_another_->setFocus();
}

void RescueWindow::ShowLog() {
  QDialog dialog(this);
  dialog.setObjectName("log");
  dialog.setWindowTitle(QString::fromUtf8("Registro"));
  auto* layout = new QVBoxLayout(&dialog);
  auto* text = new QPlainTextEdit(Q(log_.Text()), &dialog);
  text->setObjectName("logText");
  text->setReadOnly(true);
  text->setTabChangesFocus(true);
  text->setLineWrapMode(QPlainTextEdit::NoWrap);
  text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  layout->addWidget(text);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
  buttons->button(QDialogButtonBox::Close)->setText("Cerrar");
  connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(buttons);
  dialog.setMinimumSize(QSize(900, 600).boundedTo(size() * 9 / 10));
  Present(dialog);
}

void RescueWindow::EndSystem(bool restart) {
  QMessageBox box(
      QMessageBox::Question, QString::fromUtf8(kTitle),
      QString::fromUtf8(restart ? "¿Reiniciar el equipo ahora?" : "¿Apagar el equipo ahora?"),
      QMessageBox::NoButton, this);
  box.setObjectName("confirmEnd");
  QPushButton* yes = box.addButton(QString::fromUtf8("Sí"), QMessageBox::YesRole);
  QPushButton* no = box.addButton(QString::fromUtf8("No"), QMessageBox::NoRole);
  box.setDefaultButton(no);
  box.setEscapeButton(no);
  Present(box);
  if (box.clickedButton() != yes) return;
  try {
    restart ? rescue::Restart(commands_) : rescue::PowerOff(commands_);
  } catch (const std::exception& error) {
    Tell(std::string(restart ? "No se pudo reiniciar el equipo:\n\n"
                             : "No se pudo apagar el equipo:\n\n") +
         error.what());
  }
}

void RescueWindow::Tell(const std::string& text) {
  QMessageBox box(QMessageBox::Information, QString::fromUtf8(kTitle), Q(text), QMessageBox::Ok,
                  this);
  box.setTextFormat(Qt::PlainText);
  box.button(QMessageBox::Ok)->setText("Aceptar");
  Present(box);
}

std::optional<text::HibernationWay> RescueWindow::ChooseWay(
    const std::string& explanation, const std::vector<text::HibernationOption>& options) {
  QDialog dialog(this);
  dialog.setObjectName("hibernation");
  dialog.setWindowTitle(QString::fromUtf8(kTitle));
  dialog.setMinimumWidth(std::min(720, width() * 9 / 10));
  auto* layout = new QVBoxLayout(&dialog);
  auto* intro = new QLabel(Q(explanation), &dialog);
  intro->setWordWrap(true);
  intro->setTextFormat(Qt::PlainText);
  layout->addWidget(intro);
  std::optional<text::HibernationWay> chosen;
  for (const text::HibernationOption& option : options) {
    auto* button = Button(option.title.c_str(), "way", &dialog);
    layout->addSpacing(8);
    layout->addWidget(button);
    auto* what = new QLabel(Q(option.explanation), &dialog);
    what->setWordWrap(true);
    what->setTextFormat(Qt::PlainText);
    what->setIndent(16);
    layout->addWidget(what);
    connect(button, &QPushButton::clicked, &dialog, [&dialog, &chosen, way = option.way] {
      chosen = way;
      dialog.accept();
    });
  }
  layout->addSpacing(8);
  auto* cancel = Button(std::string(text::kCancelCaption).c_str(), "cancel", &dialog);
  cancel->setDefault(true);
  connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(cancel);
  layout->addLayout(row);
  cancel->setFocus();
  if (Present(dialog) != QDialog::Accepted) return std::nullopt;
  return chosen;
}

bool RescueWindow::RetryUnmount(const std::string& problem) {
  QMessageBox box(QMessageBox::Warning, QString::fromUtf8(kTitle), Q(problem),
                  QMessageBox::NoButton, this);
  box.setObjectName("unmountFailed");
  box.setTextFormat(Qt::PlainText);
  QPushButton* retry = box.addButton(QString::fromUtf8("Reintentar"), QMessageBox::AcceptRole);
  QPushButton* leave = box.addButton(QString::fromUtf8("Dejarlo así"), QMessageBox::RejectRole);
  box.setDefaultButton(retry);
  box.setEscapeButton(leave);
  Present(box);
  return box.clickedButton() == retry;
}

int RunRescue(int& argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName("Sorbantilex");
  if (::geteuid() != 0) {
    std::cerr << "sorbantilex-desktop: " << kNeedsRoot << "\n";
    QMessageBox box(QMessageBox::Warning, QString::fromUtf8(kTitle), QString::fromUtf8(kNeedsRoot),
                    QMessageBox::Ok);
    box.button(QMessageBox::Ok)->setText("Aceptar");
    box.setTextFormat(Qt::PlainText);
    Present(box);
    return 1;
  }
  const std::unique_ptr<rescue::Commands> system = rescue::SystemCommands();
  RescueLog log(RescueLogFile());
  ChildRepair repair(log, QCoreApplication::applicationFilePath());
  RescueWindow window(*system, log, repair, {});
  // Maximized by the program itself: a window manager may not be there to.
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    window.setGeometry(screen->availableGeometry());
  }
  window.showMaximized();
  window.activateWindow();
  QTimer::singleShot(0, &window, &RescueWindow::Search);
  return QApplication::exec();
}

}  // namespace sorbantilex::desktop
