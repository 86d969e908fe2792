#include "desktop/dialogs/floppy_fix_dialog.h"

#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>

#include "platform/image_system_access.h"
#include "platform/test_support/in_memory_system_access.h"
#include "engine/test_support/recording_interface.h"
#include "desktop/dialogs/test_support/dialog_test_driver.h"

namespace quarn::tools {
namespace {

using testing::Click;
using testing::OnNextModal;

constexpr qint64 kFloppy1440Size = 1474560;
constexpr uint32_t kOldSerial = 0x12345678;

DriveMap MapOf(std::initializer_list<std::pair<char, DriveType>> drives) {
  DriveMap map;
  for (const auto& [letter, type] : drives) map.AddDriveWithoutFiles(letter, type);
  return map;
}

// A 1.44 MB image whose boot sector holds kOldSerial and ones everywhere else.
QString FloppyImage(const QTemporaryDir& folder) {
  QByteArray bytes(kFloppy1440Size, '\0');
  bytes.fill('\x01', kSectorSize);
  for (int i = 0; i < 4; ++i) bytes[0x27 + i] = static_cast<char>(kOldSerial >> (8 * i));
  const QString path = folder.filePath("floppy.img");
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) return {};
  return path;
}

QByteArray BootSectorOf(const QString& image) {
  QFile file(image);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.read(kSectorSize);
}

QByteArray Bytes(std::initializer_list<uint8_t> bytes) {
  QByteArray array;
  for (const uint8_t byte : bytes) array.append(static_cast<char>(byte));
  return array;
}

// Opens the dialog over `drives`, notes its drive list and format title, and presses OK
// after choosing `format` (a radio button's name); the question is answered `answer`.
struct Run {
  QStringList drive_list;
  QString format_title;
  std::optional<FloppyBootFixResult> result;
};
Run RunDialog(const DriveMap& drives, SystemAccess& system, quarn::testing::RecordingInterface& ui,
              const char* format = "format1033") {
  Run run;
  OnNextModal([&](QWidget& dialog) {
    auto* list = dialog.findChild<QComboBox*>("driveList");
    for (int i = 0; i < list->count(); ++i) run.drive_list << list->itemText(i);
    run.format_title = dialog.findChild<QGroupBox*>("formatGroup")->title();
    Click(dialog, format);
    Click(dialog, "okButton");
  });
  run.result = RunFloppyBootFixDialog(nullptr, Language::kEnglish, drives, system, ui);
  return run;
}

}  // namespace

class FloppyFixDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void OffersTheRemovableFloppyDrivesOnly() {
    InMemorySystemAccess system;
    quarn::testing::RecordingInterface ui;
    Run none =
        RunDialog(MapOf({{'A', DriveType::kFixed}, {'C', DriveType::kRemovable}}), system, ui);
    QCOMPARE(none.drive_list, QStringList());
    QVERIFY(!none.result.has_value());
    QVERIFY(ui.questions.empty());
    QVERIFY(system.sector_writes().empty());

    Run one = RunDialog(MapOf({{'B', DriveType::kRemovable}}), system, ui);
    QCOMPARE(one.drive_list, QStringList{"B:\\"});
    QCOMPARE(one.format_title, QString("Disk Format"));

    Run two =
        RunDialog(MapOf({{'A', DriveType::kRemovable}, {'B', DriveType::kRemovable}}), system, ui);
    QCOMPARE(two.drive_list, (QStringList{"A:\\", "B:\\"}));
  }

  void RewritesTheBootSectorOfTheMappedImage() {
    QTemporaryDir folder;
    const QString image = FloppyImage(folder);
    QVERIFY(!image.isEmpty());
    ImageSystemAccess system({{1, image.toStdString(), std::nullopt}}, std::nullopt);
    quarn::testing::RecordingInterface ui;
    ui.answers = {true};

    const Run run = RunDialog(MapOf({{'B', DriveType::kRemovable}}), system, ui);
    QVERIFY(run.result && run.result->outcome == FloppyBootFixOutcome::kRewritten);
    QCOMPARE(ui.questions,
             std::vector<std::string>{"Floppy Disk Boot Fix: Scrivere il nuovo Boot Sector?"});
    QCOMPARE(ui.messages,
             std::vector<std::string>{"Floppy Disk Boot Fix: Il Boot Sector e' stato riscritto."});
    const QByteArray sector = BootSectorOf(image);
    QCOMPARE(sector.mid(0x0B, 13),
             Bytes({0x00, 0x02, 0x01, 0x01, 0x00, 0x02, 0xE0, 0x00, 0x40, 0x0B, 0xF0, 0x09, 0x00}));
    QCOMPARE(sector.mid(0x18, 4), Bytes({0x12, 0x00, 0x02, 0x00}));
    QCOMPARE(sector.mid(0x26, 5), Bytes({0x29, 0x78, 0x56, 0x34, 0x12}));
    QCOMPARE(sector.mid(0x1FE, 2), Bytes({0x55, 0xAA}));
  }

  void ChosenFormatAndAnswerNo() {
    QTemporaryDir folder;
    const QString image = FloppyImage(folder);
    ImageSystemAccess system({{0, image.toStdString(), std::nullopt}}, std::nullopt);
    quarn::testing::RecordingInterface ui;
    const QByteArray before = BootSectorOf(image);

    ui.answers = {false};
    QVERIFY(!RunDialog(MapOf({{'A', DriveType::kRemovable}}), system, ui).result);
    QCOMPARE(BootSectorOf(image), before);
    QVERIFY(ui.messages.empty());

    ui.answers = {true};
    RunDialog(MapOf({{'A', DriveType::kRemovable}}), system, ui, "format1034");
    QCOMPARE(BootSectorOf(image).mid(0x13, 2), Bytes({0xA0, 0x05}));  // 1440 sectors: 720 KB
  }

  void WriteProtectedDiskIsReported() {
    InMemorySystemAccess system;
    system.AddDrive(0);
    system.ForceWriteResult(0, SectorWriteResult::kRefused);
    quarn::testing::RecordingInterface ui;
    ui.answers = {true};
    const Run run = RunDialog(MapOf({{'A', DriveType::kRemovable}}), system, ui);
    QVERIFY(run.result && run.result->outcome == FloppyBootFixOutcome::kWriteFailed);
    QCOMPARE(ui.messages, std::vector<std::string>{"Errore: Disco Protetto dalla Scrittura!"});
  }
};

}  // namespace quarn::tools

QTEST_MAIN(quarn::tools::FloppyFixDialogTest)
#include "floppy_fix_dialog_test.moc"
