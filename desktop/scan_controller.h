#pragma once

#include <QObject>
#include <QThread>
#include <string>

#include "platform/drive_map.h"
#include "platform/folder.h"
#include "platform/system_access.h"
#include "shell/scan_session.h"
#include "desktop/main_window.h"
#include "desktop/monitor_link.h"

namespace quarn::window {

// Runs the scans the Scan command asks for, one at a time, each on a thread of its own, and
// puts the window into the scanning state and back. Closing the window during a scan stops
// the scan, answers an open question with No, and closes the window once the thread ended.
class ScanController : public QObject {
  Q_OBJECT

 public:
  // Nothing is owned; everything outlives the controller. Installs the window's close guard.
  ScanController(MainWindow& window, ScanSession& session, FileSystem& files,
                 const DriveMap& drives, ImageDrives* image_drives, SystemAccess& system_access,
                 MonitorLink& monitor);
  // A scan still running is stopped and waited for.
  ~ScanController() override;

  // Scans what the tree has selected; nothing while a scan runs.
  void Start();
  // Sets the stop request, also while no scan runs (the next scan clears it).
  void RequestStop();
  bool scanning() const { return thread_ != nullptr; }

 signals:
  // A scan ended and the window is idle again.
  void scanFinished();

 private:
  bool AllowClose();
  void OnThreadFinished();

  MainWindow& window_;
  ScanSession& session_;
  FileSystem& files_;
  const DriveMap& drives_;
  ImageDrives* image_drives_;  // null: no drive is made of an image
  SystemAccess& system_access_;
  MonitorLink& monitor_;
  QThread* thread_ = nullptr;
  std::string remembered_path_;
  bool closing_ = false;
};

}  // namespace quarn::window
