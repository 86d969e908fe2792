// SPDX-License-Identifier: Apache-2.0
#include "desktop/desktop_program.h"

#include "desktop/command_line_lookup.h"
#include "desktop/language_setting.h"
#include "engine/database_version.h"
#include "imported/imported_detector.h"
#include "platform/drive_sources.h"
#include "shell/container_limits.h"
#include "shell/data_folder.h"
#include "shell/drive_setup.h"
#include "shell/memory_check.h"

namespace quarn::window {
namespace {

constexpr int kLoadFailedText = 487;
constexpr int kNotFoundCaption = 488;
constexpr char kOptionsValue[] = "Opzioni";
constexpr uint32_t kNetworkListed = 1;

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString TableText(Language language, int id) {
  return FromUtf8(LoadText(language, id));
}

void ShowError(Language language, const std::string& text) {
  MainWindow::ShowMessage(TableText(language, kErrorCaption), FromUtf8(text));
}

// The network branch is listed when "Opzioni" can be read and its most significant byte,
// NetworkResources, is 1.
bool NetworkListed(const RegistryDocument& settings) {
  const std::optional<uint32_t> options = settings.ReadNumber(kProgramKey, kOptionsValue);
  return options && (*options >> 24) == kNetworkListed;
}

}  // namespace

DesktopProgram::DesktopProgram(WindowArguments arguments, DesktopEnvironment environment)
    : arguments_(std::move(arguments)), environment_(std::move(environment)) {}

DesktopProgram::~DesktopProgram() {
  // The scan thread (which the controller stops and waits for) uses the session and the
  // window: it must end before either goes.
  delete scans_;
  scans_ = nullptr;
}

bool DesktopProgram::PrepareDrives(const RegistryDocument& settings) {
  Result<DriveMap> drives = ChooseDriveMap(arguments_.drives, settings, environment_.detect_drives,
                                           environment_.working_directory);
  if (!drives) {
    ShowError(language_, drives.message());
    return false;
  }
  drives_ = std::move(*drives);
  Result<std::vector<DiskMapping>> disks = arguments_.disks.empty()
                                               ? DiskMappingsFromSettings(settings)
                                               : Result<std::vector<DiskMapping>>(arguments_.disks);
  if (!disks) {
    ShowError(language_, disks.message());
    return false;
  }
  // Drives made of disk images: their volumes' folders are listed and walked as any drive's.
  // An image that cannot be used leaves its drive without files; the program goes on.
  const bool detected = arguments_.drives.empty() && settings.ValueNames(kDrivesKey).empty();
  const std::vector<std::string> problems = image_drives_.Open(
      *disks, containers_, detected, &drives_, DriveLettersNamed({arguments_.command_line}));
  if (!problems.empty()) {
    std::string text;
    for (const std::string& problem : problems) text += (text.empty() ? "" : "\n") + problem;
    ShowError(language_, text);
  }
  std::optional<std::string> memory_image = arguments_.memory_image;
  if (!memory_image) memory_image = settings.ReadText(kProgramKey, kMemoryImageValue);
  system_access_ = std::make_unique<ImageSystemAccess>(std::move(*disks), memory_image);
  image_drives_.ShareWrappedSectors(*system_access_);
  return true;
}

std::optional<std::string> DesktopProgram::DataDirectoryOverride() {
  if (arguments_.data_directory) return arguments_.data_directory;
  Result<std::string> ensured = PrepareDataDirectory(
      *environment_.settings, *environment_.files, environment_.bundled_data_directory,
      environment_.user_data_directory, BundleRefresh::kRefresh);
  if (ensured) return std::nullopt;
  // A first run that could not set up the user's folder still runs on the bundled files.
  ShowError(language_, ensured.message());
  if (environment_.bundled_data_directory.empty()) return std::nullopt;
  return environment_.bundled_data_directory;
}

std::optional<int> DesktopProgram::Start() {
  Result<RegistryDocument> settings = environment_.settings->Load();
  if (!settings) {
    ShowError(language_, settings.message());
    return 1;
  }
  Result<Language> language = EnsureLanguageSetting(*environment_.settings);
  if (!language) ShowError(language_, language.message());
  language_ = language ? *language : Language::kItalian;
  if (!PrepareDrives(*settings)) return 1;

  WindowSetup setup;
  setup.language = language_;
  setup.title = kLoadingTitle;
  setup.splash_hold = environment_.splash_hold;
  setup.drives = &drives_;
  setup.image_drives = &image_drives_;
  setup.files = environment_.files;
  setup.monitor = &monitor_;
  setup.list_network = NetworkListed(*settings);
  if (setup.list_network && environment_.network_shares) {
    setup.shares = environment_.network_shares();
  }
  window_ = std::make_unique<MainWindow>(setup);
  interface_ = std::make_unique<WindowInterface>(*window_);
  interface_->set_language(language_);
  monitor_.Open();

  LoadRequest request;
  request.settings = environment_.settings;
  request.files = environment_.files;
  request.ui = interface_.get();
  request.language = language_;
  request.data_directory_override = DataDirectoryOverride();
  if (LoadDatabases(request, &engine_) != 1) {
    MainWindow::ShowMessage(TableText(language_, kWarningCaption),
                            TableText(language_, kLoadFailedText));
    return 0;
  }
  // QUARNX.DAT is optional: a damaged one is told, and the scan runs on the other two.
  auto imported = LoadImportedSignatures(
      *environment_.files, engine_.data_directory.empty() ? "." : engine_.data_directory);
  if (imported) {
    imported_ = std::move(*imported);
  } else {
    interface_->ShowError(imported.message());
  }
  const DatabaseVersion version = ReadDatabaseVersion(engine_.signatures);
  window_->setWindowTitle(QString("Quarn Explorer PROFESSIONAL 2.0.%1").arg(version.version));
  window_->showMaximized();

  session_ = std::make_unique<ScanSession>(engine_.signatures, engine_.names, engine_.log,
                                           *interface_, language_, engine_.options);
  session_->set_containers(&containers_, ReadContainerLimits(*settings));
  session_->set_drive_images(image_drives_.identities());
  session_->set_imported(imported_.get());
  window_->results()->Attach(&session_->result_list());
  scans_ = new ScanController(*window_, *session_, *environment_.files, drives_, &image_drives_,
                              *system_access_, monitor_);
  CommandContext context;
  context.window = window_.get();
  context.scans = scans_;
  context.launcher = environment_.launcher;
  context.files = environment_.files;
  context.language = language_;
  context.data_directory = engine_.data_directory;
  context.bundled_directory = environment_.bundled_data_directory;
  context.database_version = version.version;
  context.settings = environment_.settings;
  context.session = session_.get();
  context.drives = &drives_;
  context.system_access = system_access_.get();
  context.network_shares = environment_.network_shares;
  commands_ = new ProgramCommands(std::move(context), window_.get());
  QObject::connect(window_.get(), &MainWindow::commandTriggered, commands_, &ProgramCommands::Run);

  ShowDueReminders();

  if (!arguments_.skip_memory_scan) {
    const MemoryScanResult memory = CheckMemoryAtStartUp(*session_, *system_access_);
    if (memory.virus_id != 0) {
      tools::ShowMemoryAlert(window_.get(), language_, memory.name);
      return 0;
    }
  }
  LookUpCommandLine();
  window_->tree()->setFocus();
  if (!scans_->scanning()) window_->progress()->setValue(0);
  return std::nullopt;
}

void DesktopProgram::ShowDueReminders() {
  if (UpdateReminderDue(environment_.today, kProgramUpdateDate)) {
    tools::ShowProgramOutdated(window_.get(), language_, *environment_.launcher,
                               engine_.data_directory);
  }
  const DatabaseVersion version = ReadDatabaseVersion(engine_.signatures);
  if (DatabaseReminderDue(environment_.today, CalendarMonth{version.year, version.month})) {
    tools::ShowDatabaseOutdated(window_.get(), language_);
  }
}

void DesktopProgram::LookUpCommandLine() {
  DriveTree& tree = *window_->tree();
  QTreeWidgetItem* computer = tree.computer_item();
  const std::string& path = arguments_.command_line;
  if (path.empty()) {
    tree.expandItem(computer);
    tree.SetCurrentWithoutSelecting(computer);
    return;
  }
  if (LookUpCommandLinePath(tree, path)) {
    scans_->Start();
    return;
  }
  MainWindow::ShowMessage(TableText(language_, kNotFoundCaption), FromUtf8(path));
  tree.setCurrentItem(computer);
}

}  // namespace quarn::window
