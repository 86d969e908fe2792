#pragma once

// For the window's tests: a machine of files made for one test (a drive folder, a data
// directory with a database, a settings file), the desktop program over it, and a watcher
// that answers the modal dialogs the program opens.

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "engine/database_builder.h"
#include "platform/executable_location.h"
#include "platform/posix_folder.h"
#include "platform/test_support/scratch_folder.h"
#include "samplegen/sample_set.h"
#include "desktop/desktop_program.h"

namespace quarn::window::testing {

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline std::vector<uint8_t> SampleBytes(const std::string& name) {
  for (const samples::Sample& sample : samples::BuildSampleSet()) {
    if (sample.name == name) return sample.bytes;
  }
  return {};
}

// Settings as a test writes them before the program starts.
inline void WriteSettings(const std::string& path, const std::string& values) {
  std::ofstream(path) << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\QuarnExp]\r\n" << values;
}

// A scratch machine: `drive` for C:, `data` holding the default database, `settings`.
struct TestMachine {
  ScratchFolder scratch;
  std::string drive = scratch.Child("drive");
  std::string data = scratch.Child("data");
  std::string settings = scratch.Child("settings.reg");

  TestMachine() {
    std::filesystem::create_directories(drive);
    std::filesystem::create_directories(data);
    for (const char* name : {"QUARN.DAT", "NAMEVIR.DAT"}) {
      std::filesystem::copy_file(BundledDataDirectory() + "/" + name, data + "/" + name);
    }
  }
  void Put(const std::string& relative, const std::vector<uint8_t>& bytes) const {
    WriteBytes(drive + "/" + relative, bytes);
  }
  std::string Log() const { return ReadText(data + "/QUARNEXP.LOG"); }
};

// Records a launcher's requests instead of starting programs.
class RecordingLauncher : public tools::ExternalLauncher {
 public:
  void OpenUrl(const QString& url) override { opened.push_back(url); }
  void OpenFile(const QString& path) override { opened.push_back(path); }
  std::vector<QString> opened;
};

// The desktop program over a TestMachine, with C: mapped to its drive folder, no splash to
// wait for, and a date before every reminder unless the test sets one. `adjust`, when given,
// changes the arguments and the machine's answers before the program is made.
struct TestProgram {
  using Adjust = std::function<void(WindowArguments&, DesktopEnvironment&)>;

  TestProgram(const TestMachine& machine, std::string command_line = "",
              CalendarMonth today = {1999, 1}, bool scan_memory = false,
              std::optional<std::string> data_directory = std::nullopt, const Adjust& adjust = {})
      : files(OpenPosixFileSystem()), settings(OpenFileSettingsStore(machine.settings)) {
    WindowArguments arguments;
    arguments.data_directory = data_directory.value_or(machine.data);
    arguments.drives = {"C:=" + machine.drive};
    arguments.skip_memory_scan = !scan_memory;
    arguments.command_line = std::move(command_line);
    DesktopEnvironment environment;
    environment.files = files.get();
    environment.settings = settings.get();
    environment.launcher = &launcher;
    environment.bundled_data_directory = BundledDataDirectory();
    environment.today = today;
    environment.splash_hold = std::chrono::milliseconds(1);
    if (adjust) adjust(arguments, environment);
    program = std::make_unique<DesktopProgram>(std::move(arguments), std::move(environment));
  }
  TestProgram(const TestMachine& machine, const Adjust& adjust)
      : TestProgram(machine, "", {1999, 1}, false, std::nullopt, adjust) {}
  MainWindow& window() const { return *program->window(); }
  // Waits for the running scan, if any, to end.
  bool WaitForScan() const {
    if (!program->scans()->scanning()) return true;
    QSignalSpy finished(program->scans(), &ScanController::scanFinished);
    return finished.wait(20000);
  }
  std::vector<std::string> Lines() const { return program->session()->result_list(); }

  std::unique_ptr<FileSystem> files;
  std::unique_ptr<SettingsStore> settings;
  RecordingLauncher launcher;
  std::unique_ptr<DesktopProgram> program;
};

// Answers every modal dialog shortly after it opens: records its title and text, lets the
// test act on it, then closes it (a question closed is answered No).
class ModalWatcher {
 public:
  struct Seen {
    QString title;
    QString text;
    bool window_shown = false;  // the main window was on screen (not so for the splash)
  };
  using Action = std::function<void(QWidget* dialog, const Seen& seen)>;

  explicit ModalWatcher(Action action = {}) : action_(std::move(action)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start(5);
  }
  std::vector<Seen> seen;

 private:
  void Poll() {
    QWidget* dialog = QApplication::activeModalWidget();
    if (dialog == nullptr || dialog == last_.data()) return;
    last_ = dialog;
    Seen what{dialog->windowTitle(), {}, false};
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (qobject_cast<MainWindow*>(widget) != nullptr && widget->isVisible())
        what.window_shown = true;
    }
    if (auto* box = qobject_cast<QMessageBox*>(dialog)) what.text = box->text();
    seen.push_back(what);
    if (action_) action_(dialog, what);
    QTimer::singleShot(0, dialog, [dialog] { dialog->close(); });
  }

  Action action_;
  QTimer timer_;
  QPointer<QWidget> last_;
};

}  // namespace quarn::window::testing
