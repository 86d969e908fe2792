#include "desktop/dialogs/options_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "desktop/dialogs/dialog_parts.h"

namespace quarn::tools {
namespace {

constexpr int kCaptionText = 101;
constexpr int kHeuristicsGroupText = 102;
constexpr int kActionGroupText = 103;
constexpr int kNetworkGroupText = 104;
constexpr int kFirstFileFilterText = 105;  // 105, 106: entry index = FileFilter
constexpr int kFileFilterCount = 2;
constexpr int kFirstScanActionText = 107;  // 107 to 113: entry index = ScanAction
constexpr int kScanActionCount = 7;
constexpr int kHeuristicsCheckText = 114;
constexpr int kMonitorCheckText = 115;

QGroupBox* NewGroup(const QString& title, const QString& object_name, QWidget* content,
                    QWidget* parent) {
  auto* group = new QGroupBox(title, parent);
  group->setObjectName(object_name);
  auto* layout = new QVBoxLayout(group);
  layout->addWidget(content);
  return group;
}

QComboBox* NewList(Language language, int first_text, int count, uint32_t selected,
                   const QString& object_name) {
  auto* list = new QComboBox;
  list->setObjectName(object_name);
  for (int i = 0; i < count; ++i) list->addItem(TableText(language, first_text + i));
  // A stored value the list does not offer leaves it without a selection.
  list->setCurrentIndex(selected < static_cast<uint32_t>(count) ? static_cast<int>(selected) : -1);
  return list;
}

QCheckBox* NewCheck(const QString& text, bool checked, const QString& object_name) {
  auto* check = new QCheckBox(text);
  check->setObjectName(object_name);
  check->setChecked(checked);
  return check;
}

class OptionsDialog : public QDialog {
 public:
  OptionsDialog(Language language, const ScanOptions& current, bool monitor_disabled,
                QWidget* parent)
      : QDialog(parent), current_(current) {
    setObjectName("optionsDialog");
    setWindowTitle(TableText(language, kCaptionText));
    file_filter_ = NewList(language, kFirstFileFilterText, kFileFilterCount, current.file_filter,
                           "fileFilterList");
    scan_action_ = NewList(language, kFirstScanActionText, kScanActionCount, current.scan_action,
                           "scanActionList");
    heuristics_ = NewCheck(TableText(language, kHeuristicsCheckText),
                           current.heuristics_enabled == 1, "heuristicsCheck");
    // The template's own texts, the same in both languages.
    network_ = NewCheck("Network", current.network_resources == 1, "networkCheck");
    monitor_disabled_ =
        NewCheck(TableText(language, kMonitorCheckText), monitor_disabled, "monitorDisabledCheck");

    auto* grid = new QGridLayout;
    grid->addWidget(NewGroup("Files", "fileFilterGroup", file_filter_, this), 0, 0);
    grid->addWidget(
        NewGroup(TableText(language, kHeuristicsGroupText), "heuristicsGroup", heuristics_, this),
        0, 1);
    grid->addWidget(
        NewGroup(TableText(language, kActionGroupText), "scanActionGroup", scan_action_, this), 1,
        0, 1, 2);
    grid->addWidget(
        NewGroup(TableText(language, kNetworkGroupText), "networkGroup", network_, this), 2, 0);
    grid->addWidget(NewGroup("Quarn Security Monitor", "monitorGroup", monitor_disabled_, this), 2,
                    1);

    const auto [ok, cancel] = NewAcceptButtons(this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addStretch();
    buttons->addWidget(cancel);
    buttons->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);
  }

  // The options as the controls show them. A list left without a selection keeps the
  // setting it was opened with, so OK never invents a value the user did not pick.
  ScanOptions ChosenOptions() const {
    ScanOptions chosen = current_;
    if (file_filter_->currentIndex() >= 0) chosen.file_filter = file_filter_->currentIndex();
    if (scan_action_->currentIndex() >= 0) chosen.scan_action = scan_action_->currentIndex();
    chosen.heuristics_enabled = heuristics_->isChecked() ? 1 : 0;
    chosen.network_resources = network_->isChecked() ? 1 : 0;
    return chosen;
  }
  bool MonitorDisabled() const { return monitor_disabled_->isChecked(); }

 private:
  ScanOptions current_;
  QComboBox* file_filter_;
  QComboBox* scan_action_;
  QCheckBox* heuristics_;
  QCheckBox* network_;
  QCheckBox* monitor_disabled_;
};

}  // namespace

OptionsOutcome RunOptionsDialog(QWidget* parent, Language language, SettingsStore& store,
                                const ScanOptions& current) {
  MonitorSettings monitor;
  if (Result<RegistryDocument> settings = store.Load()) monitor = ReadMonitorSettings(*settings);

  OptionsDialog dialog(language, current, monitor.monitor_disabled, parent);
  OptionsOutcome outcome;
  outcome.options = current;
  if (dialog.exec() != QDialog::Accepted) return outcome;

  outcome.accepted = true;
  outcome.options = dialog.ChosenOptions();
  const bool monitor_disabled = dialog.MonitorDisabled();
  outcome.stored = store.Update([&](RegistryDocument& settings) {
    StoreOptions(settings, outcome.options, monitor_disabled, monitor.data_directory);
  });
  outcome.status_texts = OptionsStatusTexts(language, outcome.options);
  outcome.rebuild_tree = true;
  return outcome;
}

}  // namespace quarn::tools
