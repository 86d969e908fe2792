// SPDX-License-Identifier: Apache-2.0
#include "desktop/dialogs/floppy_fix_dialog.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "desktop/dialogs/dialog_parts.h"
#include "desktop/dialogs/message_box_interface.h"
#include "desktop/dialogs/tool_text.h"

namespace quarn::tools {
namespace {

constexpr int kFormatGroupText = 302;
constexpr uint8_t kFloppyDriveCount = 2;  // A: and B:

class FloppyFixDialog : public QDialog {
 public:
  FloppyFixDialog(Language language, const std::vector<uint8_t>& drives, QWidget* parent)
      : QDialog(parent) {
    setObjectName("floppyFixDialog");
    setWindowTitle(ProgramText(kFloppyBootFixCaption));

    drive_list_ = new QComboBox;
    drive_list_->setObjectName("driveList");
    for (const uint8_t drive : drives) {
      drive_list_->addItem(QString("%1:\\").arg(QChar('A' + drive)), drive);
    }
    drive_list_->setCurrentIndex(drives.empty() ? -1 : 0);
    auto* drive_group = new QGroupBox("Drive");
    drive_group->setObjectName("driveGroup");
    (new QVBoxLayout(drive_group))->addWidget(drive_list_);

    auto* format_group = new QGroupBox(TableText(language, kFormatGroupText));
    format_group->setObjectName("formatGroup");
    auto* format_layout = new QVBoxLayout(format_group);
    formats_ = new QButtonGroup(this);
    for (const FloppyFormat& format : kFloppyFormats) {
      auto* button = new QRadioButton(ProgramText(format.label));
      button->setObjectName(QString("format%1").arg(format.id));
      button->setChecked(format.id == kFloppyFormat1440K);
      formats_->addButton(button, format.id);
      format_layout->addWidget(button);
    }

    const auto [ok, cancel] = NewAcceptButtons(this);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addStretch();

    auto* left = new QVBoxLayout;
    left->addWidget(drive_group);
    left->addWidget(format_group);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left);
    layout->addLayout(buttons);
  }

  std::optional<uint8_t> ChosenDrive() const {
    if (drive_list_->currentIndex() < 0) return std::nullopt;
    return static_cast<uint8_t>(drive_list_->currentData().toUInt());
  }
  int ChosenFormat() const { return formats_->checkedId(); }

 private:
  QComboBox* drive_list_;
  QButtonGroup* formats_;
};

}  // namespace

std::vector<uint8_t> FloppyFixDrives(const DriveMap& drives) {
  std::vector<uint8_t> floppies;
  for (uint8_t drive = 0; drive < kFloppyDriveCount; ++drive) {
    const Drive* found = drives.Find(static_cast<char>('A' + drive));
    if (found != nullptr && found->type == DriveType::kRemovable) floppies.push_back(drive);
  }
  return floppies;
}

std::optional<FloppyBootFixResult> RunFloppyBootFixDialog(QWidget* parent, Language language,
                                                          const DriveMap& drives,
                                                          SystemAccess& system) {
  MessageBoxInterface message_boxes;
  return RunFloppyBootFixDialog(parent, language, drives, system, message_boxes);
}

std::optional<FloppyBootFixResult> RunFloppyBootFixDialog(QWidget* parent, Language language,
                                                          const DriveMap& drives,
                                                          SystemAccess& system, UserInterface& ui) {
  FloppyFixDialog dialog(language, FloppyFixDrives(drives), parent);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  // With no floppy drive there is nothing to write to, so nothing to ask either.
  const std::optional<uint8_t> drive = dialog.ChosenDrive();
  if (drive && !system.SectorsChangeable(*drive)) {
    ui.ShowError(std::string(ui.Text(kCannotChangeText)) + static_cast<char>('A' + *drive) + ":");
    return FloppyBootFixResult{FloppyBootFixOutcome::kNotChangeable};
  }
  if (!drive || !ui.Ask(kFloppyBootFixCaption, ui.Text(kWriteBootSectorQuestion)))
    return std::nullopt;

  const FloppyBootFixResult result =
      WriteFloppyBootSector(system, ui, *drive, dialog.ChosenFormat());
  if (result.outcome == FloppyBootFixOutcome::kWriteFailed) {
    ui.ShowError(ui.Text(kWriteProtectedText));
  } else if (result.outcome == FloppyBootFixOutcome::kRewritten) {
    ui.ShowMessage(kFloppyBootFixCaption, ui.Text(kBootSectorRewrittenText));
  }
  return result;
}

}  // namespace quarn::tools
