// The rescue window on Qt's offscreen platform, over fake disks: the volumes
// are given, every program it runs is recorded (and succeeds unless told),
// and the repair is a stand-in that says what it was run on.

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "rescue/volumes.h"
#include "ui/desktop/rescue_flow.h"
#include "ui/desktop/rescue_window.h"
#include "ui/text/rescue_messages.h"

namespace fs = std::filesystem;
using sorbantilex::desktop::ChildRepair;
using sorbantilex::desktop::RepairProgram;
using sorbantilex::desktop::RescueLog;
using sorbantilex::desktop::RescueWindow;
using sorbantilex::rescue::Hibernation;
using sorbantilex::rescue::Volume;
using sorbantilex::rescue::VolumeState;
using sorbantilex::text::HibernationWay;
using Argv = std::vector<std::string>;

Q_DECLARE_METATYPE(VolumeState)
Q_DECLARE_METATYPE(Hibernation)
Q_DECLARE_METATYPE(HibernationWay)

namespace {

std::string Program(const Argv& argv) {
  return argv.empty() ? std::string() : fs::path(argv.front()).filename().string();
}
bool Has(const Argv& argv, const std::string& part) {
  return std::any_of(argv.begin(), argv.end(),
                     [&](const std::string& arg) { return arg.find(part) != std::string::npos; });
}
bool IsUnmount(const Argv& argv) { return Program(argv) == "umount" || Has(argv, "fusermount"); }
bool IsMount(const Argv& argv) {
  return !IsUnmount(argv) && (Program(argv) == "mount" || Program(argv) == "ntfs-3g" ||
                              Program(argv).starts_with("mount.ntfs"));
}
// A mount option list that holds "ro".
bool ReadOnly(const Argv& argv) {
  for (const std::string& arg : argv) {
    std::size_t at = 0;
    while (at <= arg.size()) {
      const std::size_t end = std::min(arg.find(',', at), arg.size());
      if (arg.compare(at, end - at, "ro") == 0) return true;
      at = end + 1;
    }
  }
  return false;
}
// Whatever may change a disk.
bool Writes(const Argv& argv) {
  return (IsMount(argv) && !ReadOnly(argv)) || Program(argv) == "ntfsrecover";
}

class FakeCommands final : public sorbantilex::rescue::Commands {
 public:
  int failing_unmounts = 0;

  sorbantilex::rescue::CommandResult Run(const Argv& argv) override {
    const std::scoped_lock lock(mutex_);
    runs_.push_back(argv);
    if (IsUnmount(argv) && failing_unmounts > 0) {
      --failing_unmounts;
      return {32, "umount: target is busy."};
    }
    return {0, ""};
  }
  std::vector<Argv> Runs() {
    const std::scoped_lock lock(mutex_);
    return runs_;
  }
  // The index of the first run `test` accepts from `from` on; -1: none.
  int Find(const std::function<bool(const Argv&)>& test, int from = 0) {
    const auto runs = Runs();
    for (int i = from; i < int(runs.size()); ++i) {
      if (test(runs[std::size_t(i)])) return i;
    }
    return -1;
  }

 private:
  std::mutex mutex_;
  std::vector<Argv> runs_;
};

// The repair: says which folder it was run on; meanwhile the volume must be
// mounted (the commands seen so far).
class FakeRepair final : public RepairProgram {
 public:
  explicit FakeRepair(FakeCommands& commands) : commands_(commands) {}
  std::vector<fs::path> folders;
  int commands_before = -1;
  Result Run(const fs::path& installation) override {
    folders.push_back(installation);
    commands_before = int(commands_.Runs().size());
    return {.started = true,
            .crashed = false,
            .exit_code = 0,
            .output = "Eliminar restricciones del Sistema: 2 cambios\n",
            .errors = ""};
  }

 private:
  FakeCommands& commands_;
};

Volume MakeVolume(const std::string& path, VolumeState state,
                  Hibernation hibernation = Hibernation::kNone) {
  Volume volume;
  volume.device = {
      path,      "/dev/prueba-sda", state == VolumeState::kBitLocker ? "BitLocker" : "ntfs",
      "Sistema", 256'000'000'000,   ""};
  volume.state = state;
  volume.hibernation = hibernation;
  if (state == VolumeState::kWindows) volume.windows_version = "Windows 10 Pro 22H2";
  if (state == VolumeState::kUnreadable) volume.detail = "NTFS signature is missing.";
  return volume;
}

// Acts on the modal dialog when it is there: `act` returns false to wait
// for the next one.
void WhenModal(std::function<bool(QWidget&)> act) {
  QTimer::singleShot(20, [act = std::move(act)]() mutable {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible() || !act(*modal)) WhenModal(std::move(act));
  });
}

// Presses the message box's button with `caption` (any, when empty) and
// keeps its text.
void AnswerMessage(QString* text, const QString& caption = {}) {
  WhenModal([text, caption](QWidget& modal) {
    auto* box = qobject_cast<QMessageBox*>(&modal);
    if (box == nullptr) return false;
    if (text != nullptr) *text = box->text();
    for (QAbstractButton* button : box->buttons()) {
      if (caption.isEmpty() || button->text() == caption) {
        button->click();
        return true;
      }
    }
    return false;
  });
}

struct Rescue {
  QTemporaryDir dir;
  FakeCommands commands;
  FakeRepair repair{commands};
  RescueLog log;
  int searches = 0;
  RescueWindow window;

  explicit Rescue(std::vector<Volume> volumes)
      : window(commands, log, repair,
               {.places = {.mount_base = fs::path(dir.path().toStdString()) / "discos",
                           .mounts = fs::path(dir.path().toStdString()) / "mounts"},
                .find_volumes = [this, volumes](sorbantilex::rescue::Commands&,
                                                const sorbantilex::rescue::Places&) {
                  ++searches;
                  return volumes;
                }}) {
    std::ofstream(fs::path(dir.path().toStdString()) / "mounts");
    window.resize(1024, 768);
    window.show();
    window.Search();
  }
  template <typename T = QWidget>
  T& Get(const char* name) {
    auto* widget = window.findChild<T*>(name);
    if (widget == nullptr) qFatal("no widget %s", name);
    return *widget;
  }
  QListWidget& List() { return Get<QListWidget>("volumes"); }
  QString Page() { return Get<QStackedWidget>("pages").currentWidget()->objectName(); }
  bool Searched() { return Get<QPushButton>("searchAgain").isEnabled(); }
  void Repair(int row) {
    List().setCurrentRow(row);
    QTest::mouseClick(&Get<QPushButton>("repair"), Qt::LeftButton);
  }
};

}  // namespace

class RescueWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void ListsTheVolumesAndSetsTheKeyboard();
  void RepairsAWindowsVolumeReadWriteAndShowsWhatChanged();
  void VolumesThatCannotBeRepairedAreExplainedAndLeftAlone_data();
  void VolumesThatCannotBeRepairedAreExplainedAndLeftAlone();
  void AHibernatedVolumeIsLeftAloneByDefault();
  void TheWaysOutOfHibernation_data();
  void TheWaysOutOfHibernation();
  void AFailedUnmountSaysNotToPowerOff();
  void TheRepairProcessOutputGoesToTheLog();
  void StoppingTheRepairEndsItsProcess();
};

void RescueWindowTest::ListsTheVolumesAndSetsTheKeyboard() {
  const std::vector<Volume> volumes{
      MakeVolume("/dev/prueba-sda1", VolumeState::kBitLocker),
      MakeVolume("/dev/prueba-sda2", VolumeState::kWindows, Hibernation::kFastStartup),
      MakeVolume("/dev/prueba-sda3", VolumeState::kWindows)};
  Rescue rescue(volumes);
  QTRY_VERIFY(rescue.Searched());
  QCOMPARE(rescue.List().count(), 3);
  for (int row = 0; row < 3; ++row) {
    QCOMPARE(rescue.List().item(row)->text(),
             QString::fromStdString(sorbantilex::text::DescribeVolume(volumes[std::size_t(row)])));
  }
  // The one that can be repaired as it is comes chosen.
  QCOMPARE(rescue.List().currentRow(), 2);
  QVERIFY(rescue.commands.Runs().empty());

  auto& keyboard = rescue.Get<QComboBox>("keyboard");
  QCOMPARE(keyboard.currentText(), QString::fromUtf8("Español"));
  const int us = keyboard.findText("English (US)");
  keyboard.setCurrentIndex(us);
  emit keyboard.activated(us);
  QCOMPARE(rescue.commands.Runs(), (std::vector<Argv>{{"setxkbmap", "us"}}));
  QVERIFY(rescue.log.Text().find("$ setxkbmap us") != std::string::npos);
}

void RescueWindowTest::RepairsAWindowsVolumeReadWriteAndShowsWhatChanged() {
  Rescue rescue({MakeVolume("/dev/prueba-sdb1", VolumeState::kNoWindows),
                 MakeVolume("/dev/prueba-sda3", VolumeState::kWindows)});
  QTRY_VERIFY(rescue.Searched());
  rescue.Repair(1);

  auto& commands = rescue.commands;
  const auto runs = commands.Runs();
  const int mount = commands.Find(IsMount);
  QVERIFY(mount >= 0);
  QVERIFY(Has(runs[std::size_t(mount)], "/dev/prueba-sda3"));
  QVERIFY(!ReadOnly(runs[std::size_t(mount)]));
  QCOMPARE(commands.Find([](const Argv& argv) { return Program(argv) == "ntfsrecover"; }), -1);
  // Repaired while mounted, at the folder mounted, and unmounted after.
  QCOMPARE(rescue.repair.folders.size(), std::size_t(1));
  QVERIFY(Has(runs[std::size_t(mount)], rescue.repair.folders.front().string()));
  QVERIFY(rescue.repair.commands_before > mount);
  QVERIFY(commands.Find(IsUnmount, rescue.repair.commands_before) >= 0);

  QCOMPARE(rescue.Page(), QString("resultsPage"));
  QCOMPARE(rescue.Get<QLabel>("status").text(), QString::fromUtf8("Reparación terminada"));
  QVERIFY(!rescue.Get<QLabel>("unmountProblem").isVisible());
  QCOMPARE(rescue.Get<QPlainTextEdit>("report").toPlainText(),
           QString("Eliminar restricciones del Sistema: 2 cambios\n"));
  QVERIFY(rescue.Get<QPlainTextEdit>("report").isReadOnly());
  // From the keyboard alone: the page starts on a button, and Tab leaves the
  // report.
  QCOMPARE(rescue.window.focusWidget(), &rescue.Get<QPushButton>("repairAnother"));
  auto& report = rescue.Get<QPlainTextEdit>("report");
  report.setFocus();
  QTest::keyClick(&report, Qt::Key_Tab);
  QVERIFY(rescue.window.focusWidget() != &report);

  // Back to the list, searched again.
  QTest::mouseClick(&rescue.Get<QPushButton>("repairAnother"), Qt::LeftButton);
  QCOMPARE(rescue.Page(), QString("volumesPage"));
  QTRY_VERIFY(rescue.Searched());
  QCOMPARE(rescue.searches, 2);
}

void RescueWindowTest::VolumesThatCannotBeRepairedAreExplainedAndLeftAlone_data() {
  QTest::addColumn<VolumeState>("state");
  QTest::newRow("BitLocker") << VolumeState::kBitLocker;
  QTest::newRow("unreadable") << VolumeState::kUnreadable;
  QTest::newRow("no Windows") << VolumeState::kNoWindows;
}

void RescueWindowTest::VolumesThatCannotBeRepairedAreExplainedAndLeftAlone() {
  QFETCH(VolumeState, state);
  const Volume volume = MakeVolume("/dev/prueba-sda2", state);
  Rescue rescue({volume});
  QTRY_VERIFY(rescue.Searched());
  QString told;
  AnswerMessage(&told);
  rescue.Repair(0);
  QCOMPARE(told, QString::fromStdString(sorbantilex::text::ExplainVolume(volume)));
  QVERIFY(!told.isEmpty());
  QVERIFY(rescue.commands.Runs().empty());
  QVERIFY(rescue.repair.folders.empty());
  QCOMPARE(rescue.Page(), QString("volumesPage"));
}

void RescueWindowTest::AHibernatedVolumeIsLeftAloneByDefault() {
  const Volume volume =
      MakeVolume("/dev/prueba-sda3", VolumeState::kWindows, Hibernation::kHibernated);
  Rescue rescue({volume});
  QTRY_VERIFY(rescue.Searched());
  const auto options = sorbantilex::text::HibernationOptions(volume);
  QVERIFY(!options.empty());
  for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
    QStringList captions;
    QString default_caption;
    WhenModal([&](QWidget& modal) {
      auto* dialog = qobject_cast<QDialog*>(&modal);
      if (dialog == nullptr || dialog->objectName() != "hibernation") return false;
      for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
        captions << button->text();
        if (button->isDefault()) default_caption = button->text();
      }
      QTest::keyClick(dialog, key);
      return true;
    });
    rescue.Repair(0);
    QStringList expected;
    for (const auto& option : options) expected << QString::fromStdString(option.title);
    expected << QString::fromUtf8(sorbantilex::text::kCancelCaption.data(),
                                  qsizetype(sorbantilex::text::kCancelCaption.size()));
    QCOMPARE(captions, expected);
    QCOMPARE(default_caption, expected.back());
  }
  QCOMPARE(rescue.commands.Find(Writes), -1);
  QVERIFY(rescue.repair.folders.empty());
  QCOMPARE(rescue.Page(), QString("volumesPage"));
}

void RescueWindowTest::TheWaysOutOfHibernation_data() {
  QTest::addColumn<Hibernation>("hibernation");
  QTest::addColumn<HibernationWay>("way");
  QTest::newRow("restart Windows") << Hibernation::kFastStartup << HibernationWay::kRestartWindows;
  QTest::newRow("journal") << Hibernation::kFastStartup << HibernationWay::kRecoverJournal;
  QTest::newRow("drop hibernation") << Hibernation::kHibernated << HibernationWay::kDropHibernation;
}

void RescueWindowTest::TheWaysOutOfHibernation() {
  QFETCH(Hibernation, hibernation);
  QFETCH(HibernationWay, way);
  const Volume volume = MakeVolume("/dev/prueba-sda3", VolumeState::kWindows, hibernation);
  Rescue rescue({volume});
  QTRY_VERIFY(rescue.Searched());
  QString title;
  QString explanation;
  for (const auto& option : sorbantilex::text::HibernationOptions(volume)) {
    if (option.way == way) title = QString::fromStdString(option.title);
    if (option.way == way) explanation = QString::fromStdString(option.explanation);
  }
  QVERIFY(!title.isEmpty());
  WhenModal([&](QWidget& modal) {
    if (modal.objectName() != "hibernation") return false;
    for (QPushButton* button : modal.findChildren<QPushButton*>()) {
      if (button->text() == title) button->click();
    }
    return true;
  });
  QString told;
  if (way == HibernationWay::kRestartWindows) AnswerMessage(&told);
  rescue.Repair(0);

  auto& commands = rescue.commands;
  if (way == HibernationWay::kRestartWindows) {
    // The instructions, nothing changed.
    QCOMPARE(told, explanation);
    QCOMPARE(commands.Find(Writes), -1);
    QVERIFY(rescue.repair.folders.empty());
    return;
  }
  const int mount = commands.Find(IsMount);
  QVERIFY(mount >= 0);
  const Argv mounted = commands.Runs()[std::size_t(mount)];
  QVERIFY(!ReadOnly(mounted));
  // The hibernation file goes after the journal's replay too: Windows would
  // resume it over the repaired disk.
  QVERIFY(Has(mounted, "remove_hiberfile"));
  const int replay = commands.Find([](const Argv& argv) {
    return Program(argv) == "ntfsrecover" && !Has(argv, "-k") && Has(argv, "/dev/prueba-sda3");
  });
  const int drop_state = commands.Find([](const Argv& argv) {
    return Program(argv) == "ntfsrecover" && Has(argv, "-k") && Has(argv, "/dev/prueba-sda3");
  });
  if (way == HibernationWay::kRecoverJournal) {
    QVERIFY(replay >= 0);
    QVERIFY(replay < drop_state);
    QVERIFY(drop_state < mount);
  } else {
    QCOMPARE(replay, -1);
    QCOMPARE(drop_state, -1);
  }
  QCOMPARE(rescue.repair.folders.size(), std::size_t(1));
  QVERIFY(commands.Find(IsUnmount, rescue.repair.commands_before) >= 0);
  QCOMPARE(rescue.Page(), QString("resultsPage"));
}

void RescueWindowTest::AFailedUnmountSaysNotToPowerOff() {
  Rescue rescue({MakeVolume("/dev/prueba-sda3", VolumeState::kWindows)});
  QTRY_VERIFY(rescue.Searched());
  rescue.commands.failing_unmounts = 1;
  QString first;
  QString second;
  AnswerMessage(&first, "Reintentar");
  rescue.Repair(0);
  QCOMPARE(rescue.Page(), QString("resultsPage"));
  QVERIFY(first.contains("No apague"));
  QVERIFY(first.contains("target is busy"));
  QCOMPARE(rescue.Get<QLabel>("status").text(), QString::fromUtf8("Reparación terminada"));
  QVERIFY(!rescue.Get<QLabel>("unmountProblem").isVisible());

  // Given up: the results say it.
  rescue.commands.failing_unmounts = 100;
  QTest::mouseClick(&rescue.Get<QPushButton>("repairAnother"), Qt::LeftButton);
  QTRY_VERIFY(rescue.Searched());
  AnswerMessage(&second, QString::fromUtf8("Dejarlo así"));
  rescue.Repair(0);
  QVERIFY(rescue.Get<QLabel>("unmountProblem").isVisible());
  QVERIFY(rescue.Get<QLabel>("unmountProblem").text().contains("No apague"));
}

void RescueWindowTest::TheRepairProcessOutputGoesToTheLog() {
  QTemporaryDir dir;
  const QString script = dir.filePath("reparar");
  std::ofstream(script.toStdString()) << "#!/bin/sh\n"
                                         "echo \"informe de $1 $2\"\n"
                                         "echo 'no se pudo algo' >&2\n"
                                         "exit 3\n";
  fs::permissions(script.toStdString(), fs::perms::owner_all);
  RescueLog log;
  ChildRepair repair(log, script);
  const auto result = repair.Run("/run/sorbantilex/discos/sda 3");
  QVERIFY(result.started);
  QVERIFY(!result.crashed);
  QCOMPARE(result.exit_code, 3);
  QCOMPARE(result.output, std::string("informe de --windows /run/sorbantilex/discos/sda 3\n"));
  QCOMPARE(result.errors, std::string("no se pudo algo\n"));
  for (const char* part : {"--windows /run/sorbantilex/discos/sda 3", "informe de --windows",
                           "no se pudo algo", "(estado 3)"}) {
    QVERIFY2(log.Text().find(part) != std::string::npos, part);
  }

  ChildRepair missing(log, dir.filePath("no-existe"));
  QVERIFY(!missing.Run("/x").started);
}

void RescueWindowTest::StoppingTheRepairEndsItsProcess() {
  QTemporaryDir dir;
  const QString script = dir.filePath("reparar");
  std::ofstream(script.toStdString()) << "#!/bin/sh\nexec sleep 60\n";
  fs::permissions(script.toStdString(), fs::perms::owner_all);
  RescueLog log;
  ChildRepair repair(log, script);
  QTimer::singleShot(200, [&] { repair.Stop(); });
  QElapsedTimer took;
  took.start();
  const auto result = repair.Run("/x");
  QVERIFY(took.elapsed() < 10000);
  QVERIFY(result.stopped);
  QVERIFY(result.crashed);
}

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  RescueWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "rescue_window_test.moc"
