#include "desktop/scan_controller.h"

#include <QCoreApplication>

#include "shell/boot_scan.h"
#include "shell/drive_setup.h"
#include "desktop/scan_roots.h"

namespace quarn::window {
namespace {

constexpr int kCounterStartTexts[] = {431, 432, 433};

}  // namespace

ScanController::ScanController(MainWindow& window, ScanSession& session, FileSystem& files,
                               const DriveMap& drives, ImageDrives* image_drives,
                               SystemAccess& system_access, MonitorLink& monitor)
    : QObject(&window),
      window_(window),
      session_(session),
      files_(files),
      drives_(drives),
      image_drives_(image_drives),
      system_access_(system_access),
      monitor_(monitor) {
  window_.SetCloseGuard([this] { return AllowClose(); });
}

ScanController::~ScanController() {
  window_.SetCloseGuard({});
  if (thread_ == nullptr) return;
  session_.stop_requested() = true;
  window_.RefuseQuestions();
  // The scan thread may be waiting for this thread: keep serving it until it ends.
  while (!thread_->wait(10)) QCoreApplication::processEvents();
  delete thread_;
}

void ScanController::Start() {
  if (thread_ != nullptr) return;
  for (int part = 0; part < 3; ++part) {
    const std::string_view text = LoadText(session_.language(), kCounterStartTexts[part]);
    window_.counter_bar()->SetText(
        part, QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
  }
  // An earlier scan may have changed files inside an image drive, putting a new file in the
  // image's place: this one reads that.
  if (image_drives_ != nullptr) {
    image_drives_->ReopenReplaced();
    session_.set_drive_images(image_drives_->identities());
  }
  DriveTree& tree = *window_.tree();
  tree.setFocus();
  const std::vector<ScanRoot> roots = ScanRootsOf(tree, tree.current_tree_item());
  remembered_path_ = tree.current_path();

  // No thread writes the list now: empty it here, so the view never reads a line that goes.
  session_.Reset();
  window_.results()->Reset();
  window_.SetScanning(true);
  tree.SetScanRunning(true);
  monitor_.Pause();
  BootAreaCheck boot_check =
      MakeBootAreaCheck(system_access_, BootTargetsOf(drives_, image_drives_));
  thread_ =
      QThread::create([this, roots, boot_check] { RunScan(session_, files_, roots, boot_check); });
  connect(thread_, &QThread::finished, this, &ScanController::OnThreadFinished);
  thread_->start();
}

void ScanController::RequestStop() {
  session_.stop_requested() = true;
}

bool ScanController::AllowClose() {
  if (thread_ == nullptr) return true;
  closing_ = true;
  session_.stop_requested() = true;
  window_.RefuseQuestions();
  return false;
}

void ScanController::OnThreadFinished() {
  thread_->wait();
  delete thread_;
  thread_ = nullptr;
  monitor_.Resume();
  DriveTree& tree = *window_.tree();
  tree.SetScanRunning(false);
  if (remembered_path_.empty()) {
    tree.setCurrentItem(tree.computer_item());
  } else {
    tree.SelectPath(remembered_path_);
  }
  window_.SetScanning(false);
  window_.progress()->setValue(0);
  emit scanFinished();
  if (closing_) window_.close();
}

}  // namespace quarn::window
