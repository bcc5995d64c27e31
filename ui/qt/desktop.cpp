#include "ui/qt/desktop.h"

#include <cstdio>
#include <optional>

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QFontDatabase>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>

#include "app/menu.h"
#include "registry/failure.h"
#include "tasks/funciones.h"
#include "ui/qt/qt_window_system.h"

namespace sorbantilex {
namespace {

constexpr const char* kTitle = "Sorbantilex";

constexpr const char* kNothingFound =
    "No se encontró ninguna instalación de Windows.\n\n"
    "Conecte el disco del equipo que desea reparar y ábralo en el gestor de archivos "
    "(así queda montado); después vuelva a iniciar Sorbantilex.\n\n"
    "Desde una terminal:\n"
    "    lsblk -f                      (la partición NTFS de Windows, p. ej. sdb2)\n"
    "    udisksctl mount -b /dev/sdb2\n"
    "    sorbantilex --windows <carpeta de la partición montada>";

constexpr const char* kChooseText =
    "Se encontraron varias instalaciones de Windows o perfiles de usuario.\n"
    "Elija los que desea reparar:";

void Tell(const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, kTitle, text, QMessageBox::Ok);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

// The notices from `from` on, a paragraph each.
std::string Joined(const std::vector<std::string>& notices, std::size_t from) {
  std::string text;
  for (std::size_t k = from; k < notices.size(); ++k) {
    if (!text.empty()) text += "\n\n";
    text += notices[k];
  }
  return text;
}

QString Describe(const DesktopTarget& target) {
  return QString::fromStdString(target.installation) + QStringLiteral("  —  ") +
         (target.user.empty() ? QStringLiteral("Todos los perfiles")
                              : QString::fromStdString(target.user));
}

// The report in a window of its own, read-only text; the main window stays
// as it is.
void ShowReport(QWidget* parent, const std::string& report) {
  QDialog dialog(parent);
  dialog.setObjectName("report");
  dialog.setWindowTitle(QStringLiteral("Informe: lo que cada reparación cambiaría"));
  auto* layout = new QVBoxLayout(&dialog);
  auto* text = new QPlainTextEdit(QString::fromStdString(report), &dialog);
  text->setObjectName("reportText");
  text->setReadOnly(true);
  text->setLineWrapMode(QPlainTextEdit::NoWrap);
  text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  layout->addWidget(text);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
  buttons->button(QDialogButtonBox::Close)->setText("Cerrar");
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(buttons);
  dialog.resize(900, 600);
  dialog.exec();
}

// The chooser of installation and profile; nullopt when the user cancels.
std::optional<std::size_t> Choose(const std::vector<DesktopTarget>& found) {
  QDialog dialog;
  dialog.setObjectName("chooser");
  dialog.setWindowTitle(kTitle);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(new QLabel(kChooseText, &dialog));
  auto* list = new QListWidget(&dialog);
  for (const DesktopTarget& target : found) list->addItem(Describe(target));
  list->setCurrentRow(0);
  list->setMinimumWidth(list->sizeHintForColumn(0) + 40);
  layout->addWidget(list);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  buttons->button(QDialogButtonBox::Ok)->setText("Aceptar");
  buttons->button(QDialogButtonBox::Cancel)->setText("Cancelar");
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  QObject::connect(list, &QListWidget::itemDoubleClicked, &dialog, &QDialog::accept);
  layout->addWidget(buttons);
  if (dialog.exec() != QDialog::Accepted || list->currentRow() < 0) return std::nullopt;
  return static_cast<std::size_t>(list->currentRow());
}

int ExitCode(EndReason reason) {
  switch (reason) {
    case EndReason::kFinished:
    case EndReason::kClosed:
      return 0;
    case EndReason::kFailed:
    case EndReason::kRefused:
      break;
  }
  return 1;
}

QString InstanceLock() {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (folder.isEmpty()) folder = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
  return folder + QStringLiteral("/sorbantilex.lock");
}

}  // namespace

int RunDesktop(int& argc, char** argv, const DesktopOptions& options) {
  std::optional<QApplication> application;
  if (QApplication::instance() == nullptr) application.emplace(argc, argv);
  QApplication::setApplicationName(kTitle);

  if (options.found.empty()) {
    Tell(QString::fromUtf8(kNothingFound));
    return 1;
  }
  std::size_t chosen = 0;
  if (options.found.size() > 1) {
    const auto choice = Choose(options.found);
    if (!choice) return 0;
    chosen = *choice;
  }

  std::unique_ptr<DesktopPlatform> platform;
  try {
    platform = options.open(options.found[chosen]);
  } catch (const Failure& failure) {
    Tell(QString::fromStdString(failure.description()));
    return 1;
  }

  // What opening found (hives recovered from their logs) comes first.
  const std::size_t told = platform->Notices().size();
  if (told > 0) Tell(QString::fromStdString(Joined(platform->Notices(), 0)));

  QtWindowSystem* window_system = nullptr;
  QtWindowSystem ui({.on_end =
                         [&](EndReason reason) {
                           try {
                             platform->Finish(reason);
                           } catch (const Failure& failure) {
                             window_system->ShowMessage(failure.description(), "Error");
                             return 1;
                           }
                           const auto notices = platform->Notices();
                           if (notices.size() > told) {
                             window_system->ShowMessage(Joined(notices, told), "Aviso");
                           }
                           return ExitCode(reason);
                         },
                     .instance_lock = InstanceLock()});
  window_system = &ui;
  Funciones funciones(TaskPlatform{platform->registry(), platform->system(), platform->files(),
                                   platform->wmi(), ui});
  Menu menu(MenuPlatform{ui, funciones, platform->token(), platform->system(), platform->registry(),
                         /*offline=*/true});
  menu.set_step_hooks({.started = [&](const Step& step) { platform->StepStarted(step.caption); },
                       .finished =
                           [&](const Step& step) {
                             platform->StepFinished(step, [&] { menu.RepeatStep(step); });
                           }});
  ui.Attach(menu);
  // "Informe…" beside the title, clear of the frames: what the repairs would
  // change, before anything is.
  FormWindow& main_window = ui.Window(WindowId::kMenu);
  auto* report = new QPushButton(QStringLiteral("Informe…"), &main_window);
  report->setObjectName("cmdInforme");
  report->setToolTip(QStringLiteral("Muestra lo que cada reparación cambiaría, sin cambiar nada"));
  {
    const double dpi = main_window.logicalDpiX();
    report->setGeometry(TwipsToPixels(3300, dpi), TwipsToPixels(150, dpi), TwipsToPixels(1515, dpi),
                        TwipsToPixels(420, dpi));
  }
  QObject::connect(report, &QPushButton::clicked, &main_window,
                   [&] { ShowReport(&main_window, platform->Report()); });
  ui.Launch();
  QApplication::exec();
  // Only the end of the program leaves the event loop, and it exits the
  // process; a loop left some other way ends it here the same way.
  ui.EndProgram(EndReason::kClosed);
}

}  // namespace sorbantilex
