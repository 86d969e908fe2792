#include "desktop/dialogs/scheduler_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <array>

#include "engine/scan_log.h"
#include "platform/executable_location.h"
#include "desktop/dialogs/crontab_installer.h"
#include "desktop/dialogs/crontab_line.h"
#include "desktop/dialogs/dialog_parts.h"
#include "desktop/dialogs/tool_text.h"

namespace quarn::tools {
namespace {

constexpr int kRunGroupText = 402;
constexpr int kDaysGroupText = 403;
constexpr int kWeekdayGroupText = 404;
constexpr int kMonthDayGroupText = 405;
constexpr int kTimeGroupText = 406;
constexpr int kCommandGroupText = 407;
constexpr int kFirstModeText = 408;  // 408 to 411: at start-up, daily, weekly, monthly
constexpr int kMondayText = 412;     // 412 to 418: Monday to Sunday
constexpr int kSundayText = 418;
constexpr int kMonthDayLabelText = 419;
constexpr int kHourLabelText = 420;
constexpr int kNoCrontabText = 421;
constexpr int kCrontabFailedText = 422;
constexpr std::string_view kSchedulerCaption = "Scheduler";

constexpr int kModeCount = 4;
constexpr std::array<const char*, kModeCount> kModeNames = {"atStartUpButton", "dailyButton",
                                                            "weeklyButton", "monthlyButton"};
constexpr std::array<const char*, kWeekDays> kDayNames = {
    "mondayCheck", "tuesdayCheck",  "wednesdayCheck", "thursdayCheck",
    "fridayCheck", "saturdayCheck", "sundayCheck"};

QSpinBox* NewNumber(int minimum, int maximum, uint32_t value, const QString& object_name) {
  auto* spin = new QSpinBox;
  spin->setObjectName(object_name);
  spin->setRange(minimum, maximum);
  spin->setValue(value > static_cast<uint32_t>(maximum) ? maximum : static_cast<int>(value));
  return spin;
}

QGroupBox* NewGroup(const QString& title, const QString& object_name) {
  auto* group = new QGroupBox(title);
  group->setObjectName(object_name);
  return group;
}

class SchedulerDialog : public QDialog {
 public:
  SchedulerDialog(Language language, const Schedule& schedule, QWidget* parent)
      : QDialog(parent), loaded_(schedule) {
    setObjectName("schedulerDialog");
    setWindowTitle(ProgramText(kSchedulerCaption));
    const bool scheduled = schedule.mode >= kScheduleAtStartUp && schedule.mode <= kScheduleMonthly;
    // A mode the dialog does not know is shown as no schedule at all.
    current_mode_ = scheduled ? schedule.mode : kScheduleAtStartUp;

    scheduler_ = new QCheckBox(ProgramText(kSchedulerCaption));
    scheduler_->setObjectName("schedulerCheck");
    scheduler_->setChecked(scheduled);
    connect(scheduler_, &QCheckBox::toggled, this, [this] { ApplyEnablingRule(); });

    QGroupBox* run = NewGroup(TableText(language, kRunGroupText), "runGroup");
    auto* run_layout = new QVBoxLayout(run);
    for (int i = 0; i < kModeCount; ++i) {
      const uint32_t mode = kScheduleAtStartUp + i;
      modes_[i] = new QRadioButton(TableText(language, kFirstModeText + i));
      modes_[i]->setObjectName(kModeNames[i]);
      modes_[i]->setChecked(mode == current_mode_);
      connect(modes_[i], &QRadioButton::clicked, this, [this, mode] {
        current_mode_ = mode;
        ApplyEnablingRule();
      });
      run_layout->addWidget(modes_[i]);
    }

    days_ = NewGroup(TableText(language, kDaysGroupText), "daysGroup");
    auto* days_layout = new QGridLayout(days_);
    for (int day = 0; day < kWeekDays; ++day) {
      day_checks_[day] = new QCheckBox(TableText(language, kMondayText + day));
      day_checks_[day]->setObjectName(kDayNames[day]);
      day_checks_[day]->setChecked(schedule.days & (kMondayBit << day));
      days_layout->addWidget(day_checks_[day], day % 4, day / 4);
    }

    weekday_ = NewGroup(TableText(language, kWeekdayGroupText), "weekdayGroup");
    weekday_list_ = new QComboBox;
    weekday_list_->setObjectName("weekdayList");
    weekday_list_->addItem(TableText(language, kSundayText));
    for (int text = kMondayText; text < kSundayText; ++text) {
      weekday_list_->addItem(TableText(language, text));
    }
    weekday_list_->setCurrentIndex(schedule.weekday < kWeekDays ? static_cast<int>(schedule.weekday)
                                                                : -1);
    (new QVBoxLayout(weekday_))->addWidget(weekday_list_);

    month_day_ = NewGroup(TableText(language, kMonthDayGroupText), "monthDayGroup");
    month_day_spin_ = NewNumber(1, 31, schedule.month_day, "monthDaySpin");
    auto* month_day_layout = new QHBoxLayout(month_day_);
    month_day_layout->addWidget(month_day_spin_);
    month_day_layout->addWidget(new QLabel(TableText(language, kMonthDayLabelText)));

    time_ = NewGroup(TableText(language, kTimeGroupText), "timeGroup");
    hour_spin_ = NewNumber(0, 23, schedule.hour, "hourSpin");
    minute_spin_ = NewNumber(0, 59, schedule.minute, "minuteSpin");
    auto* time_layout = new QHBoxLayout(time_);
    time_layout->addWidget(hour_spin_);
    time_layout->addWidget(new QLabel(":"));
    time_layout->addWidget(minute_spin_);
    // The hour label is never greyed, so it stands outside the group that is.
    auto* hour_label = new QLabel(TableText(language, kHourLabelText));
    hour_label->setObjectName("hourLabel");
    auto* time_row = new QHBoxLayout;
    time_row->addWidget(hour_label);
    time_row->addWidget(time_);

    command_ = NewGroup(TableText(language, kCommandGroupText), "commandGroup");
    command_edit_ = new QLineEdit(QString::fromStdString(schedule.command_line));
    command_edit_->setObjectName("commandLineEdit");
    command_edit_->setMaxLength(kCommandLineLimit);
    (new QVBoxLayout(command_))->addWidget(command_edit_);

    const auto [ok, cancel] = NewAcceptButtons(this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto* grid = new QGridLayout;
    grid->addWidget(scheduler_, 0, 0);
    grid->addWidget(run, 1, 0, 2, 1);
    grid->addWidget(days_, 1, 1, 2, 1);
    grid->addWidget(weekday_, 3, 0);
    grid->addWidget(month_day_, 3, 1);
    grid->addLayout(time_row, 4, 0, 1, 2);
    grid->addWidget(command_, 5, 0, 1, 2);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);

    ApplyEnablingRule();
  }

  Schedule Chosen() const {
    Schedule chosen = loaded_;
    chosen.mode = scheduler_->isChecked() ? current_mode_ : kScheduleOff;
    chosen.days = 0;
    for (int day = 0; day < kWeekDays; ++day) {
      if (day_checks_[day]->isChecked()) chosen.days |= kMondayBit << day;
    }
    if (weekday_list_->currentIndex() >= 0) chosen.weekday = weekday_list_->currentIndex();
    chosen.month_day = month_day_spin_->value();
    chosen.hour = hour_spin_->value();
    chosen.minute = minute_spin_->value();
    chosen.command_line = command_edit_->text().toStdString();
    return chosen;
  }

 private:
  // The switch enables the mode buttons and the command line; the mode then enables the
  // groups it uses.
  void ApplyEnablingRule() {
    const bool on = scheduler_->isChecked();
    for (QRadioButton* mode : modes_) mode->setEnabled(on);
    command_->setEnabled(on);
    const ScheduleGroups groups = on ? EnabledGroups(current_mode_) : ScheduleGroups{};
    days_->setEnabled(groups.days);
    weekday_->setEnabled(groups.weekday);
    month_day_->setEnabled(groups.month_day);
    time_->setEnabled(groups.time);
  }

  Schedule loaded_;
  uint32_t current_mode_ = kScheduleAtStartUp;
  QCheckBox* scheduler_;
  std::array<QRadioButton*, kModeCount> modes_{};
  QGroupBox* days_;
  std::array<QCheckBox*, kWeekDays> day_checks_{};
  QGroupBox* weekday_;
  QComboBox* weekday_list_;
  QGroupBox* month_day_;
  QSpinBox* month_day_spin_;
  QGroupBox* time_;
  QSpinBox* hour_spin_;
  QSpinBox* minute_spin_;
  QGroupBox* command_;
  QLineEdit* command_edit_;
};

QString DefaultScanner() {
  QString folder = QString::fromStdString(ExecutableDirectory());
  if (folder.isEmpty()) folder = QCoreApplication::applicationDirPath();
  return folder + "/quarnscan";
}

// QUARNEXP.LOG in the data directory "DAT" names; empty when it names none.
std::string LogPathIn(const std::string& data_directory) {
  if (data_directory.empty()) return {};
  QString folder = QFileInfo(QString::fromStdString(data_directory)).absoluteFilePath();
  while (folder.size() > 1 && folder.endsWith('/')) folder.chop(1);
  if (!folder.endsWith('/')) folder += '/';
  return (folder + ProgramText(kScanLogName)).toStdString();
}

void ShowSchedulerProblem(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Warning, ProgramText(kSchedulerCaption), text, QMessageBox::Ok,
                  parent);
  box.setObjectName("schedulerProblemBox");
  box.exec();
}

Status InstallSchedule(QWidget* parent, Language language, const Schedule& schedule,
                       const SchedulerSetup& setup, const std::string& settings_path,
                       const std::string& data_directory) {
  ScheduledCommand command;
  command.scanner = (setup.scanner.isEmpty() ? DefaultScanner() : setup.scanner).toStdString();
  command.settings_path =
      QFileInfo(QString::fromStdString(settings_path)).absoluteFilePath().toStdString();
  command.log_path = LogPathIn(data_directory);
  const QString program =
      setup.crontab_program.isEmpty() ? FindCrontabProgram() : setup.crontab_program;
  if (program.isEmpty()) {
    ShowSchedulerProblem(parent, TableText(language, kNoCrontabText));
    return Status::Error("no crontab program on the PATH");
  }
  Status installed = InstallScheduleLine(program, ScheduleCrontabLine(schedule, command));
  if (!installed) {
    ShowSchedulerProblem(parent, TableText(language, kCrontabFailedText) +
                                     QString::fromStdString(installed.message()));
  }
  return installed;
}

}  // namespace

SchedulerOutcome RunSchedulerDialog(QWidget* parent, Language language, SettingsStore& store,
                                    const SchedulerSetup& setup) {
  Schedule stored;
  if (Result<RegistryDocument> settings = store.Load()) stored = LoadSchedule(*settings);

  SchedulerDialog dialog(language, stored, parent);
  SchedulerOutcome outcome;
  const bool accepted = dialog.exec() == QDialog::Accepted;
  outcome.schedule = dialog.Chosen();
  if (!accepted) return outcome;

  outcome.accepted = true;
  std::string data_directory;
  outcome.stored = store.Update([&](RegistryDocument& settings) {
    StoreSchedule(settings, outcome.schedule);
    data_directory = settings.ReadText(kProgramKey, "DAT").value_or("");
  });
  outcome.installed =
      InstallSchedule(parent, language, outcome.schedule, setup, store.Location(), data_directory);
  return outcome;
}

}  // namespace quarn::tools
