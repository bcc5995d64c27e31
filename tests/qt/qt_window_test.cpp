// The desktop windows on Qt's offscreen platform.
//
// Whatever does not end the program is tested in this process. A run ends
// the process at once, so each run is a scenario played by a child process
// (this same program with --scenario) over a generated installation: it
// clicks and types as a user would, answers every message box, and commits
// the hives on its way out; the test then reads what the run left in them.
// Screenshots go to the build folder's screenshots/.

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "test_rig.h"
#include "registry/failure.h"
#include "ui/qt/desktop.h"

using sorbantilex::CheckArray;
using sorbantilex::EndReason;
using sorbantilex::IniRem;
using sorbantilex::Menu;
using sorbantilex::WindowId;
using sorbantilex::testing::Rig;

namespace {

const QString kShots = QStringLiteral(SORBANTILEX_SCREENSHOT_DIR);

void Save(QWidget& widget, const QString& name) {
  QDir().mkpath(kShots);
  const QString path = kShots + "/" + name + ".png";
  if (!widget.grab().save(path)) std::fprintf(stderr, "cannot save %s\n", qPrintable(path));
}

// For tests that must not reach the end of the program: the process exits
// with a code ctest sees as a failure.
// A generated installation in a folder that goes with the object.
struct Installation {
  QTemporaryDir folder;
  sorbantilex::offline::HivePaths paths =
      sorbantilex::testing::MakeInstallation(folder.path().toStdString());
};

sorbantilex::QtWindowSystem::Options NeverEnds() {
  return {.on_end =
              [](EndReason reason) {
                std::fprintf(stderr, "the program ended (%d) in a test that does not end it\n",
                             static_cast<int>(reason));
                return 3;
              },
          .instance_lock = {}};
}

// Answers the next message box: records its title and text and presses OK.
struct MessageAnswer {
  QString title;
  QString text;
  void Arm() {
    QTimer::singleShot(50, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return Arm();
      title = box->windowTitle();
      text = box->text();
      box->button(QMessageBox::Ok)->click();
    });
  }
};

}  // namespace

// ---------------------------------------------------------------------------
// Scenarios played in a child process.

namespace {

struct Step {
  std::function<bool(Rig&)> ready;  // polled until true
  std::function<void(Rig&)> act;
};

QWidget& Control(Rig& rig, WindowId window, std::string_view name, int index = -1) {
  QWidget* widget = rig.ui.Window(window).Find(name, index);
  if (widget == nullptr) throw std::logic_error("no control " + std::string(name));
  return *widget;
}

Step Now(std::function<void(Rig&)> act) {
  return {[](Rig&) { return true; }, std::move(act)};
}
Step Tick(CheckArray array, int index) {
  return Now([=](Rig& rig) {
    QTest::mouseClick(rig.ui.Window(WindowId::kMenu).Box(array, index), Qt::LeftButton);
  });
}
// On the frame's border, away from its boxes.
Step DoubleClickFrame(std::string_view frame) {
  return Now([=](Rig& rig) {
    QTest::mouseDClick(&Control(rig, WindowId::kMenu, frame), Qt::LeftButton, {}, QPoint(3, 60));
  });
}
Step ClickUnlock() {
  return Now([](Rig& rig) {
    QTest::mouseClick(&Control(rig, WindowId::kMenu, "cmdUnlock"), Qt::LeftButton);
  });
}
// Acts on the dialog once the run has shown it.
Step OnDialog(std::function<void(Rig&)> act) {
  return {[](Rig& rig) { return rig.ui.Visible(WindowId::kIniRem); }, std::move(act)};
}
Step TypeUrl(QString text) {
  return OnDialog([text](Rig& rig) {
    auto& box = static_cast<QLineEdit&>(Control(rig, WindowId::kIniRem, "txtURL"));
    box.selectAll();
    QTest::keyClick(&box, Qt::Key_Delete);
    QTest::keyClicks(&box, text);
    Save(rig.ui.Window(WindowId::kIniRem), "dialog");
  });
}
Step PressOnDialog(std::string_view button) {
  return OnDialog([button](Rig& rig) {
    QTest::mouseClick(&Control(rig, WindowId::kIniRem, button), Qt::LeftButton);
  });
}

struct Scenario {
  std::string_view name;
  std::vector<Step> steps;
};

std::vector<Scenario> Scenarios() {
  return {
      {"tick-and-run", {Tick(CheckArray::kPolicies, 0), ClickUnlock()}},
      {"vista-frame-run", {DoubleClickFrame("frmModern"), ClickUnlock()}},
      {"dialog-apply-text",
       {Tick(CheckArray::kInternet, 0), ClickUnlock(), TypeUrl("http://www.example.org/ "),
        PressOnDialog("cmdOk")}},
      {"dialog-apply-empty",
       {Tick(CheckArray::kInternet, 0), ClickUnlock(), TypeUrl(""), PressOnDialog("cmdOk")}},
      {"dialog-cancel",
       {Tick(CheckArray::kInternet, 0), ClickUnlock(), TypeUrl("http://www.example.org/"),
        PressOnDialog("cmdCancel")}},
      {"dialog-closed",
       {Tick(CheckArray::kInternet, 0), ClickUnlock(), TypeUrl("http://www.example.org/"),
        OnDialog([](Rig& rig) { rig.ui.Window(WindowId::kIniRem).close(); })}},
      {"main-closed-during-dialog",
       {Tick(CheckArray::kInternet, 0), Tick(CheckArray::kPolicies, 0), ClickUnlock(),
        TypeUrl("http://www.example.org/"),
        OnDialog([](Rig& rig) { rig.ui.Window(WindowId::kMenu).close(); })}},
  };
}

int PlayScenario(std::string_view name, const std::filesystem::path& folder) {
  std::vector<Scenario> all = Scenarios();
  const Scenario* scenario = nullptr;
  for (const Scenario& s : all) {
    if (s.name == name) scenario = &s;
  }
  if (scenario == nullptr) return 2;

  // The hives the generated installation left in `folder`.
  const sorbantilex::offline::HivePaths paths{folder / "SOFTWARE", folder / "SYSTEM",
                                              folder / "NTUSER.DAT",
                                              "S-1-5-21-1004336348-1177238915-682003330-1000"};
  Rig* rig_seen = nullptr;
  Rig rig(paths, {.on_end =
                      [&rig_seen](EndReason reason) {
                        std::printf("end %d\n", static_cast<int>(reason));
                        rig_seen->Commit();
                        return reason == EndReason::kFinished ? 0 : 1;
                      },
                  .instance_lock = {}});
  rig_seen = &rig;

  std::size_t next = 0;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      QString text = box->text();
      text.replace('\n', "\\n");
      std::printf("message %s|%s\n", qPrintable(box->windowTitle()), qPrintable(text));
      std::fflush(stdout);
      Save(*box, QString::fromUtf8(scenario->name.data(), scenario->name.size()) + "-message");
      box->button(QMessageBox::Ok)->click();
      return;
    }
    if (next < scenario->steps.size() && scenario->steps[next].ready(rig)) {
      // Acted on from the event loop, not from this timer, which has to keep
      // polling while the action's own loops run.
      QTimer::singleShot(0, [&rig, act = scenario->steps[next].act] {
        try {
          act(rig);
        } catch (const std::exception& e) {
          std::printf("step failed: %s\n", e.what());
          std::fflush(stdout);
          std::_Exit(4);
        }
      });
      ++next;
    }
  });
  poll.start(10);
  QTimer::singleShot(30000, [] {
    std::printf("timeout\n");
    std::fflush(stdout);
    std::_Exit(5);
  });
  rig.ui.Launch();
  QApplication::exec();
  return 6;  // the program never ended
}

struct Outcome {
  int exit_code = -1;
  QStringList messages;  // "title|text"
  QString end;
};

Outcome RunScenario(const QString& name, const QString& folder) {
  QProcess child;
  child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  child.start(QCoreApplication::applicationFilePath(), {"--scenario", name, folder});
  Outcome outcome;
  if (!child.waitForFinished(60000)) {
    child.kill();
    child.waitForFinished();
    return outcome;
  }
  outcome.exit_code = child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
  for (const QString& line : QString::fromUtf8(child.readAllStandardOutput()).split('\n')) {
    const auto rest = [&](const char* prefix) { return line.mid(int(std::strlen(prefix))); };
    if (line.startsWith("message ")) outcome.messages << rest("message ");
    if (line.startsWith("end ")) outcome.end = rest("end ");
    if (line.startsWith("step failed") || line == "timeout") qWarning("%s", qPrintable(line));
  }
  return outcome;
}

}  // namespace

// ---------------------------------------------------------------------------

class QtWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void FontsDrawEveryCaption();
  void WindowsFollowTheirLayouts();
  void LaunchCentresTheWindowWithFocusOnUnlock();
  void DialogTabOrder();
  void FrameDoubleClickTicksItsWholeArray();
  void NothingTickedKeepsTheWindowOpen();
  void SecondInstanceIsSeen();
  void Runs_data();
  void Runs();
  void DesktopStart_data();
  void DesktopStart();
};

void QtWindowTest::FontsDrawEveryCaption() {
  // Without a usable face the captions come out as boxes while every other
  // check passes.
  QVERIFY(!QFontDatabase::families().isEmpty());
  Installation installation;
  Rig rig(installation.paths, NeverEnds());
  for (WindowId id : {WindowId::kMenu, WindowId::kIniRem}) {
    const auto& window = rig.ui.Window(id);
    for (const auto& control : window.layout().controls) {
      const QWidget* widget = window.Find(control.name, control.index);
      QVERIFY(widget != nullptr);
      const QFontMetrics metrics(widget->font());
      for (const char32_t ch :
           QString::fromUtf8(control.caption.data(), qsizetype(control.caption.size())).toUcs4()) {
        QVERIFY2(metrics.inFontUcs4(ch), qPrintable(QString("%1 in %2 (%3)")
                                                        .arg(QChar(ch))
                                                        .arg(widget->objectName())
                                                        .arg(QFontInfo(widget->font()).family())));
      }
    }
  }
}

void QtWindowTest::WindowsFollowTheirLayouts() {
  Installation installation;
  Rig rig(installation.paths, NeverEnds());
  QCOMPARE(QGuiApplication::primaryScreen()->logicalDotsPerInch(), 96.0);
  auto& menu = rig.ui.Window(WindowId::kMenu);
  auto& dialog = rig.ui.Window(WindowId::kIniRem);
  // The offline window: the Windows program's, with the fourth frame under
  // the other three.
  QCOMPARE(menu.size(), QSize(329, 601));
  QCOMPARE(dialog.size(), QSize(442, 152));
  QCOMPARE(dialog.windowTitle(), QString::fromUtf8("Página de Inicio de Internet Explorer"));

  // Placed by their twips (15 a pixel), boxes inside their frame.
  struct Placed {
    WindowId window;
    const char* name;
    int index;
    QRect in_window;
  };
  for (const Placed& p : {Placed{WindowId::kMenu, "cmdUnlock", -1, {64, 560, 185, 33}},
                          Placed{WindowId::kMenu, "checkFixes", 5, {16, 319, 275, 13}},
                          Placed{WindowId::kMenu, "checkInternet", 2, {16, 404, 241, 13}},
                          Placed{WindowId::kMenu, "frmModern", -1, {8, 464, 313, 89}},
                          Placed{WindowId::kMenu, "checkModern", 3, {16, 532, 297, 13}},
                          Placed{WindowId::kIniRem, "txtURL", -1, {72, 77, 361, 21}}}) {
    auto& window = rig.ui.Window(p.window);
    QWidget* widget = window.Find(p.name, p.index);
    QVERIFY(widget != nullptr);
    QCOMPARE(QRect(widget->mapTo(&window, QPoint(0, 0)), widget->size()), p.in_window);
  }

  struct Styled {
    WindowId window;
    const char* name;
    qreal points;
    bool bold;
    const char* tooltip;
  };
  const char* frame_tip = "Haga doble clic para habilitar todas las casillas de la sección";
  for (const Styled& s : {Styled{WindowId::kMenu, "Label3", 18, true, ""},
                          Styled{WindowId::kMenu, "Label2", 8.25, false, ""},
                          Styled{WindowId::kMenu, "cmdUnlock", 12, true,
                                 "Seleccione las acciones a realizar y luego presione aquí"},
                          Styled{WindowId::kMenu, "frmInternet", 8.25, false, frame_tip},
                          Styled{WindowId::kMenu, "frmModern", 8.25, false, frame_tip},
                          Styled{WindowId::kIniRem, "Label3", 9.75, false, ""},
                          Styled{WindowId::kIniRem, "Label2", 8.25, true, ""}}) {
    const QWidget* widget = rig.ui.Window(s.window).Find(s.name);
    QVERIFY(widget != nullptr);
    QCOMPARE(widget->font().pointSizeF(), s.points);
    QCOMPARE(widget->font().bold(), s.bold);
    QCOMPARE(widget->toolTip(), QString::fromUtf8(s.tooltip));
  }
  QCOMPARE(static_cast<QGroupBox*>(rig.ui.Window(WindowId::kMenu).Find("frmModern"))->title(),
           QString("Windows Vista a 11"));
  QVERIFY(!rig.ui.Window(WindowId::kMenu).Box(CheckArray::kFixes, 5)->isEnabled());
  QCOMPARE(rig.ui.TextBoxText(WindowId::kIniRem, "txtURL"),
           std::string(sorbantilex::kInitialStartPage));
}

void QtWindowTest::LaunchCentresTheWindowWithFocusOnUnlock() {
  Installation installation;
  Rig rig(installation.paths, NeverEnds());
  rig.ui.Launch();
  auto& menu = rig.ui.Window(WindowId::kMenu);
  QVERIFY(QTest::qWaitForWindowActive(&menu));
  QCOMPARE(menu.windowTitle(), QString("Sorbantilex 1.9.2"));
  QCOMPARE(QApplication::focusWidget(), menu.Find("cmdUnlock"));
  const QPoint off = menu.frameGeometry().center() -
                     QGuiApplication::primaryScreen()->availableGeometry().center();
  QVERIFY2(off.manhattanLength() <= 2, "not centred");
  // The System Restore box is enabled on this system (version 5.1).
  QVERIFY(menu.Box(CheckArray::kFixes, 5)->isEnabled());
  Save(menu, "main-window");

  rig.ui.ShowWindow(WindowId::kIniRem);
  QVERIFY(QTest::qWaitForWindowExposed(&rig.ui.Window(WindowId::kIniRem)));
  Save(rig.ui.Window(WindowId::kIniRem), "dialog-initial");
  // Activating the main window hands the front back to the dialog.
  menu.activateWindow();
  QTRY_VERIFY(QApplication::activeWindow() == &rig.ui.Window(WindowId::kIniRem));
}

void QtWindowTest::DialogTabOrder() {
  Installation installation;
  Rig rig(installation.paths, NeverEnds());
  auto& dialog = rig.ui.Window(WindowId::kIniRem);
  rig.ui.ShowWindow(WindowId::kIniRem);
  QVERIFY(QTest::qWaitForWindowActive(&dialog));
  QCOMPARE(QApplication::focusWidget(), dialog.Find("cmdOk"));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  QCOMPARE(QApplication::focusWidget(), dialog.Find("cmdCancel"));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  QCOMPARE(QApplication::focusWidget(), dialog.Find("txtURL"));
}

void QtWindowTest::FrameDoubleClickTicksItsWholeArray() {
  Installation installation;
  Rig rig(installation.paths, NeverEnds());
  auto& menu = rig.ui.Window(WindowId::kMenu);
  menu.show();
  QVERIFY(QTest::qWaitForWindowExposed(&menu));
  rig.ui.SetCheckState(CheckArray::kFixes, 2, 1);
  // On the frame's border, away from its boxes.
  QTest::mouseDClick(menu.Find("frmFixes"), Qt::LeftButton, {}, QPoint(3, 60));
  for (int i = 0; i <= 5; ++i) QCOMPARE(rig.ui.CheckState(CheckArray::kFixes, i), 1);
  QVERIFY(!menu.Box(CheckArray::kFixes, 5)->isEnabled());  // ticked, still disabled
  for (CheckArray other : {CheckArray::kPolicies, CheckArray::kInternet}) {
    for (int i = 0; i <= rig.ui.UpperBound(other); ++i) QCOMPARE(rig.ui.CheckState(other, i), 0);
  }
  for (int i = 0; i <= 3; ++i) QCOMPARE(rig.ui.CheckState(CheckArray::kModern, i), 0);
  // A double-click on a box is the box's own, not its frame's.
  QTest::mouseDClick(menu.Box(CheckArray::kPolicies, 1), Qt::LeftButton);
  QCOMPARE(rig.ui.CheckState(CheckArray::kPolicies, 0), 0);

  // The fourth frame follows the same rule.
  QTest::mouseDClick(menu.Find("frmModern"), Qt::LeftButton, {}, QPoint(3, 60));
  QCOMPARE(rig.ui.UpperBound(CheckArray::kModern), 3);
  for (int i = 0; i <= 3; ++i) QCOMPARE(rig.ui.CheckState(CheckArray::kModern, i), 1);
  for (int i = 0; i <= rig.ui.UpperBound(CheckArray::kInternet); ++i) {
    QCOMPARE(rig.ui.CheckState(CheckArray::kInternet, i), 0);
  }
  Save(menu, "main-window-vista-a-11-ticked");
}

void QtWindowTest::NothingTickedKeepsTheWindowOpen() {
  Installation installation;
  Rig rig(installation.paths, NeverEnds());
  rig.ui.Launch();
  auto& menu = rig.ui.Window(WindowId::kMenu);
  QVERIFY(QTest::qWaitForWindowExposed(&menu));
  MessageAnswer answer;
  answer.Arm();
  QTest::mouseClick(menu.Find("cmdUnlock"), Qt::LeftButton);
  QCOMPARE(answer.title, QString("Sorbantilex"));
  QCOMPARE(answer.text, QString::fromUtf8("Seleccione como mínimo una tarea a realizar."));
  QVERIFY(menu.isVisible());
  rig.Commit();
  QVERIFY(sorbantilex::testing::Left::In(installation.paths).machine_policies);
}

void QtWindowTest::SecondInstanceIsSeen() {
  QTemporaryDir dir;
  const QString lock = dir.filePath("sorbantilex.lock");
  Installation installation;
  Rig first(installation.paths, {.on_end = {}, .instance_lock = lock});
  QVERIFY(!first.ui.PreviousInstance());
  Rig second(installation.paths, {.on_end = {}, .instance_lock = lock});
  QVERIFY(second.ui.PreviousInstance());
}

void QtWindowTest::Runs_data() {
  QTest::addColumn<int>("end");
  QTest::addColumn<bool>("final_message");
  QTest::addColumn<QString>("start_page");
  QTest::addColumn<QString>("system_policies");  // machine, user: 1 present
  QTest::addColumn<bool>("proxy");
  const QString infected = QString::fromUtf8(sorbantilex::testing::kInfectedStartPage.data());
  const int finished = int(EndReason::kFinished);
  QTest::newRow("tick-and-run") << finished << true << infected << "00" << true;
  // The fourth frame's repairs run from the window too.
  QTest::newRow("vista-frame-run") << finished << true << infected << "11" << false;
  QTest::newRow("dialog-apply-text") << finished << true << "http://www.example.org/ "
                                     << "11" << true;
  QTest::newRow("dialog-apply-empty") << finished << true << "about:blank"
                                      << "11" << true;
  QTest::newRow("dialog-cancel") << finished << true << infected << "11" << true;
  QTest::newRow("dialog-closed") << finished << true << infected << "11" << true;
  // The task before the dialog stays done.
  QTest::newRow("main-closed-during-dialog")
      << int(EndReason::kClosed) << false << infected << "00" << true;
}

void QtWindowTest::Runs() {
  QFETCH(int, end);
  QFETCH(bool, final_message);
  QFETCH(QString, start_page);
  QFETCH(QString, system_policies);
  QFETCH(bool, proxy);
  Installation installation;
  const Outcome outcome = RunScenario(QTest::currentDataTag(), installation.folder.path());
  QCOMPARE(outcome.end, QString::number(end));
  QCOMPARE(outcome.exit_code, end == int(EndReason::kFinished) ? 0 : 1);
  QStringList expected_messages;
  if (final_message) {
    expected_messages << QString::fromUtf8(
        "Finalizado|Sorbantilex ha finalizado las tareas seleccionadas. Reinicie el equipo para "
        "que los cambios surtan efectos. Recuerde que para que el programa funcione "
        "satisfactoriamente, el sistema debe estar libre de malwares.");
  }
  QCOMPARE(outcome.messages, expected_messages);
  const auto left = sorbantilex::testing::Left::In(installation.paths);
  QCOMPARE(QString::fromStdString(left.start_page), start_page);
  QCOMPARE(QString("%1%2").arg(int(left.machine_policies)).arg(int(left.user_policies)),
           system_policies);
  QCOMPARE(left.proxy, proxy);
}

void QtWindowTest::DesktopStart_data() {
  QTest::addColumn<int>("targets");
  QTest::addColumn<int>("pick");  // the chooser's row; -1 cancels it
  QTest::addColumn<int>("result");
  QTest::addColumn<QString>("opened");
  QTest::addColumn<QString>("message");
  QTest::newRow("none found") << 0 << 0 << 1 << ""
                              << "udisksctl mount";
  QTest::newRow("one found") << 1 << 0 << 1 << "/mnt/a Ana"
                             << "no se puede abrir";
  QTest::newRow("several: chooser") << 3 << 2 << 1 << "/mnt/c Carla"
                                    << "no se puede abrir";
  QTest::newRow("several: cancelled") << 3 << -1 << 0 << ""
                                      << "";
}

void QtWindowTest::DesktopStart() {
  QFETCH(int, targets);
  QFETCH(int, pick);
  QFETCH(int, result);
  QFETCH(QString, opened);
  QFETCH(QString, message);
  sorbantilex::DesktopOptions options;
  const char* names[] = {"Ana", "Bruno", "Carla"};
  for (int i = 0; i < targets; ++i) {
    options.found.push_back({"/mnt/" + std::string(1, char('a' + i)), names[i]});
  }
  QString opened_seen;
  // Opening fails here, so that the program ends before its window opens.
  options.open = [&](const sorbantilex::DesktopTarget& target)
      -> std::unique_ptr<sorbantilex::DesktopPlatform> {
    opened_seen = QString::fromStdString(target.installation + " " + target.user);
    throw sorbantilex::Failure(2, "La instalación no se puede abrir.");
  };
  QString message_seen;
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      message_seen = box->text();
      box->button(QMessageBox::Ok)->click();
    } else if (auto* chooser = qobject_cast<QDialog*>(modal)) {
      auto* list = chooser->findChild<QListWidget*>();
      if (list->count() != targets) return chooser->reject();
      if (pick < 0) return chooser->reject();
      list->setCurrentRow(pick);
      chooser->accept();
    }
  });
  answer.start(20);
  int argc = 1;
  char name[] = "sorbantilex";
  char* argv[] = {name, nullptr};
  QCOMPARE(sorbantilex::RunDesktop(argc, argv, options), result);
  QCOMPARE(opened_seen, opened);
  QVERIFY2(message_seen.contains(message), qPrintable(message_seen));
}

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc == 4 && std::string_view(argv[1]) == "--scenario") {
    return PlayScenario(argv[2], argv[3]);
  }
  QtWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "qt_window_test.moc"
