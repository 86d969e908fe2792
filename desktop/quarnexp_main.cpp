// SPDX-License-Identifier: Apache-2.0
// quarnexp: the desktop program. Its options are quarnexp --help.
#include <QApplication>
#include <QDate>
#include <QTimer>
#include <cstdio>
#include <string_view>
#include <vector>

#include "platform/drive_detection.h"
#include "platform/executable_location.h"
#include "platform/first_run.h"
#include "platform/path_names.h"
#include "platform/posix_folder.h"
#include "platform/time_zone.h"
#include "res/pictures/pictures.h"
#include "shell/data_folder.h"
#include "desktop/desktop_program.h"

namespace {

// --screenshot: the window's picture once the command line's scan has ended (or at once,
// when it started none), then the program quits.
void SaveScreenshotWhenIdle(quarn::window::DesktopProgram& program, const QString& file) {
  auto save = [&program, file] {
    if (!program.window()->grab().save(file)) {
      std::fprintf(stderr, "quarnexp: cannot write %s\n", file.toLocal8Bit().constData());
    }
    QApplication::exit(0);
  };
  if (program.scans()->scanning()) {
    QObject::connect(program.scans(), &quarn::window::ScanController::scanFinished,
                     program.window(), [save] { QTimer::singleShot(200, save); });
  } else {
    QTimer::singleShot(200, save);
  }
}

// --screenshot runs unattended: every modal dialog (the reminders, a message) is closed
// shortly after it opens, its title going to standard error.
void CloseDialogsUnattended(QApplication& application) {
  auto* timer = new QTimer(&application);
  QObject::connect(timer, &QTimer::timeout, [] {
    QWidget* dialog = QApplication::activeModalWidget();
    if (dialog == nullptr) return;
    std::fprintf(stderr, "quarnexp: closing \"%s\"\n",
                 dialog->windowTitle().toLocal8Bit().constData());
    dialog->close();
  });
  timer->start(300);
}

// --help and --version are answered before Qt starts, so they need no display.
bool AsksForTextOnly(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--help" || argument == "-h" || argument == "--version") return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  quarn::PinLocalTimeZone();
  if (AsksForTextOnly(argc, argv)) {
    quarn::window::WindowArgumentsOutcome parsed = quarn::window::ParseWindowArguments(argc, argv);
    std::fputs(parsed.standard_output.c_str(), stdout);
    std::fputs(parsed.standard_error.c_str(), stderr);
    if (parsed.version_requested) {
      std::printf("%s\n", quarn::InstalledDatabaseVersionLine().c_str());
    }
    return parsed.exit_code;
  }
  QApplication application(argc, argv);
  QApplication::setApplicationName("quarnexp");
  QApplication::setWindowIcon(quarn::pictures::ApplicationIcon());

  // Qt has taken its own options out of argv by now.
  quarn::window::WindowArgumentsOutcome parsed = quarn::window::ParseWindowArguments(argc, argv);
  std::fputs(parsed.standard_output.c_str(), stdout);
  std::fputs(parsed.standard_error.c_str(), stderr);
  if (!parsed.arguments) return parsed.exit_code;
  const std::optional<std::string> screenshot = parsed.arguments->screenshot;

  std::unique_ptr<quarn::FileSystem> files = quarn::OpenPosixFileSystem();
  std::unique_ptr<quarn::SettingsStore> settings = quarn::OpenFileSettingsStore(
      parsed.arguments->settings_path.value_or(quarn::DefaultSettingsPath()));
  const QDate today = QDate::currentDate();

  quarn::window::DesktopEnvironment environment;
  environment.files = files.get();
  environment.settings = settings.get();
  environment.detect_drives = &quarn::DetectMountedDrives;
  environment.network_shares = &quarn::window::MountedNetworkShares;
  environment.bundled_data_directory = quarn::BundledDataDirectory();
  environment.user_data_directory = quarn::DefaultUserDataDirectory();
  environment.working_directory = quarn::WorkingFolderPath();
  environment.launcher = &quarn::tools::DesktopLauncher();
  environment.today = {today.year(), today.month()};
  if (screenshot) {
    environment.splash_hold = std::chrono::milliseconds(0);
    CloseDialogsUnattended(application);
  }

  quarn::window::DesktopProgram program(std::move(*parsed.arguments), std::move(environment));
  if (std::optional<int> ended = program.Start()) return *ended;
  if (screenshot) SaveScreenshotWhenIdle(program, QString::fromStdString(*screenshot));
  return QApplication::exec();
}
