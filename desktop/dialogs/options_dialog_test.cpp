#include "desktop/dialogs/options_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QtTest>

#include "desktop/dialogs/test_support/dialog_test_driver.h"
#include "platform/test_support/memory_settings_store.h"

namespace quarn::tools {
namespace {

using testing::Click;
using testing::OnNextModal;

constexpr std::string_view kDataDirectory = "/home/anna/.local/share/quarnexp";

// What the dialog's controls should be set to before OK or Cancel.
struct Choice {
  int file_filter = 0;
  int scan_action = 0;
  bool heuristics = false;
  bool network = false;
  bool monitor_disabled = false;
};

void SetControls(QWidget& dialog, const Choice& choice) {
  dialog.findChild<QComboBox*>("fileFilterList")->setCurrentIndex(choice.file_filter);
  dialog.findChild<QComboBox*>("scanActionList")->setCurrentIndex(choice.scan_action);
  dialog.findChild<QCheckBox*>("heuristicsCheck")->setChecked(choice.heuristics);
  dialog.findChild<QCheckBox*>("networkCheck")->setChecked(choice.network);
  dialog.findChild<QCheckBox*>("monitorDisabledCheck")->setChecked(choice.monitor_disabled);
}

std::vector<uint8_t> StoredBytes(MemorySettingsStore& store, std::string_view key,
                                 std::string_view name) {
  Result<RegistryDocument> settings = store.Load();
  if (!settings) return {};
  const RegistryValue* value = settings->FindValue(key, name);
  return value != nullptr ? value->data : std::vector<uint8_t>{};
}

std::optional<std::string> StoredText(MemorySettingsStore& store, std::string_view key,
                                      std::string_view name) {
  Result<RegistryDocument> settings = store.Load();
  if (!settings) return std::nullopt;
  return settings->ReadText(key, name);
}

void PrepareStore(MemorySettingsStore& store, uint32_t options) {
  QVERIFY(store.Update([options](RegistryDocument& settings) {
    settings.SetValue(kProgramKey, "DAT", RegistryValue::Text(kDataDirectory));
    settings.SetValue(kProgramKey, "Opzioni", RegistryValue::Number(options));
    settings.SetValue(kRunKey, "Other", RegistryValue::Text("/usr/bin/other"));
  }));
}

}  // namespace

class OptionsDialogTest : public QObject {
  Q_OBJECT

 private slots:

  void OkWithoutChangesKeepsTheSameBytes() {
    MemorySettingsStore store;
    const ScanOptions current = ScanOptions::Unpack(0x00010500);  // action 5, heuristics on
    PrepareStore(store, current.Pack());
    int shown_action = -1;
    bool heuristics_checked = false;
    OnNextModal([&](QWidget& dialog) {
      shown_action = dialog.findChild<QComboBox*>("scanActionList")->currentIndex();
      heuristics_checked = dialog.findChild<QCheckBox*>("heuristicsCheck")->isChecked();
      Click(dialog, "okButton");
    });
    const OptionsOutcome outcome = RunOptionsDialog(nullptr, Language::kItalian, store, current);
    QCOMPARE(shown_action, 5);
    QVERIFY(heuristics_checked);
    QVERIFY(outcome.accepted);
    QVERIFY(outcome.rebuild_tree);
    QVERIFY(outcome.stored.ok());
    QVERIFY(outcome.options == current);
    QCOMPARE(StoredBytes(store, kProgramKey, "Opzioni"), (std::vector<uint8_t>{0, 5, 1, 0}));
  }

  void OkStoresTheChoiceAndStartsTheMonitor() {
    MemorySettingsStore store;
    PrepareStore(store, kDefaultScanOptions);
    OnNextModal([](QWidget& dialog) {
      SetControls(dialog, {.file_filter = 1, .scan_action = 2, .network = true});
      Click(dialog, "okButton");
    });
    const OptionsOutcome outcome =
        RunOptionsDialog(nullptr, Language::kItalian, store, ScanOptions{});

    QCOMPARE(StoredBytes(store, kProgramKey, "Opzioni"), (std::vector<uint8_t>{1, 2, 0, 1}));
    QCOMPARE(StoredBytes(store, kProgramKey, "QSM"), (std::vector<uint8_t>{0, 0, 0, 0}));
    QVERIFY(outcome.options == ScanOptions::Unpack(0x01000201));
    const std::vector<StatusText> expected = {
        {OptionsStatusPart::kFileFilter, "FILES: TUTTI                 "},
        {OptionsStatusPart::kHeuristics, "EURI: OFF"},
        {OptionsStatusPart::kScanAction, "AZIONE: RICERCA CON RIMOZIONE VIRUS CON RICHIESTA"},
    };
    QVERIFY(outcome.status_texts == expected);
    // "DAT" has no final separator, and none is added.
    QCOMPARE(StoredText(store, kRunKey, kMonitorRunValue),
             std::optional<std::string>(std::string(kDataDirectory) + "MONITOR.EXE"));
    QCOMPARE(StoredText(store, kMonitorDriverKey, kMonitorDriverValue),
             std::optional<std::string>("QUARNMON.VXD"));
    QCOMPARE(StoredText(store, kRunKey, "Other"), std::optional<std::string>("/usr/bin/other"));
  }

  void MonitorSwitchOffAndOnAgain() {
    MemorySettingsStore store;
    PrepareStore(store, kDefaultScanOptions);
    OnNextModal([](QWidget& dialog) { Click(dialog, "okButton"); });
    RunOptionsDialog(nullptr, Language::kItalian, store, ScanOptions{});
    QVERIFY(StoredText(store, kRunKey, kMonitorRunValue).has_value());

    bool checked_at_open = true;
    OnNextModal([&](QWidget& dialog) {
      auto* monitor = dialog.findChild<QCheckBox*>("monitorDisabledCheck");
      checked_at_open = monitor->isChecked();
      monitor->setChecked(true);
      Click(dialog, "okButton");
    });
    RunOptionsDialog(nullptr, Language::kItalian, store, ScanOptions{});
    QVERIFY(!checked_at_open);
    QCOMPARE(StoredBytes(store, kProgramKey, "QSM"), (std::vector<uint8_t>{1, 0, 0, 0}));
    QVERIFY(!StoredText(store, kRunKey, kMonitorRunValue).has_value());
    QVERIFY(!store.Load()->HasKey(kMonitorDriverKey));
    QVERIFY(StoredText(store, kRunKey, "Other").has_value());

    OnNextModal([&](QWidget& dialog) {
      auto* monitor = dialog.findChild<QCheckBox*>("monitorDisabledCheck");
      checked_at_open = monitor->isChecked();
      monitor->setChecked(false);
      Click(dialog, "okButton");
    });
    RunOptionsDialog(nullptr, Language::kItalian, store, ScanOptions{});
    QVERIFY(checked_at_open);
    QCOMPARE(StoredBytes(store, kProgramKey, "QSM"), (std::vector<uint8_t>{0, 0, 0, 0}));
    QVERIFY(StoredText(store, kRunKey, kMonitorRunValue).has_value());
    QVERIFY(store.Load()->HasKey(kMonitorDriverKey));
  }

  void CancelAfterChangingEverythingChangesNothing() {
    MemorySettingsStore store;
    const ScanOptions current = ScanOptions::Unpack(kDefaultScanOptions);
    PrepareStore(store, current.Pack());
    const std::optional<std::string> before = store.Text();
    const int updates = store.update_count();
    OnNextModal([](QWidget& dialog) {
      SetControls(dialog, {.file_filter = 1,
                           .scan_action = 6,
                           .heuristics = false,
                           .network = true,
                           .monitor_disabled = true});
      Click(dialog, "cancelButton");
    });
    const OptionsOutcome outcome = RunOptionsDialog(nullptr, Language::kItalian, store, current);
    QVERIFY(!outcome.accepted);
    QVERIFY(!outcome.rebuild_tree);
    QVERIFY(outcome.status_texts.empty());
    QVERIFY(outcome.options == current);
    QCOMPARE(store.update_count(), updates);
    QCOMPARE(store.Text(), before);
  }
};

}  // namespace quarn::tools

QTEST_MAIN(quarn::tools::OptionsDialogTest)
#include "options_dialog_test.moc"
