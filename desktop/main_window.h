#pragma once

#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QToolBar>
#include <QTreeView>
#include <chrono>
#include <functional>
#include <vector>

#include "desktop/command_actions.h"
#include "desktop/drive_tree.h"
#include "desktop/parts_status_bar.h"
#include "desktop/result_list_model.h"
#include "desktop/scan_animation.h"
#include "res/message_table.h"

namespace quarn::window {

// What the main window is built from. Nothing is owned; all of it outlives the window.
struct WindowSetup {
  Language language = Language::kItalian;
  QString title;
  std::chrono::milliseconds splash_hold{3000};
  const DriveMap* drives = nullptr;
  const ImageDrives* image_drives = nullptr;  // null: no drive is made of an image
  FileSystem* files = nullptr;
  MonitorLink* monitor = nullptr;
  bool list_network = false;  // "Opzioni" says network resources are listed
  std::vector<NetworkShare> shares;
};

// The program's only top-level window: the toolbar with its logo, the drive tree, the result
// list, the progress bar, the path, options and counter status bars and the animation, laid
// out on every resize; the menus; and the message boxes and questions of the scan.
class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  // Shows the splash, then builds the children and fills the tree.
  explicit MainWindow(const WindowSetup& setup);

  QWidget* client() const { return client_; }
  QToolBar* toolbar() const { return toolbar_; }
  DriveTree* tree() const { return tree_; }
  QProgressBar* progress() const { return progress_; }
  PartsStatusBar* path_bar() const { return path_bar_; }
  PartsStatusBar* options_bar() const { return options_bar_; }
  PartsStatusBar* counter_bar() const { return counter_bar_; }
  QTreeView* result_view() const { return result_view_; }
  ResultListModel* results() const { return results_; }
  ScanAnimation* animation() const { return animation_; }
  CommandActions* actions() const { return actions_; }

  // The idle or the scanning state of the toolbar, the menus and the animation.
  void SetScanning(bool scanning);
  // Shows the result list's newest line.
  void ShowLastResult();

  // A message box with an OK button and no owner window.
  static void ShowMessage(const QString& caption, const QString& text);
  // A Yes/No question with the stop icon; true only for Yes. Once RefuseQuestions was
  // called, every question is answered No without being shown.
  bool Ask(const QString& caption, const QString& text);
  // Answers the open question, if any, with No, and every later one too.
  void RefuseQuestions();

  // Asked whenever the window is to close; returning false keeps it open for now.
  void SetCloseGuard(std::function<bool()> guard) { close_guard_ = std::move(guard); }

  void ApplyLayout();

 signals:
  void commandTriggered(int command_id);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  QWidget* client_ = nullptr;
  QToolBar* toolbar_ = nullptr;
  DriveTree* tree_ = nullptr;
  QProgressBar* progress_ = nullptr;
  PartsStatusBar* path_bar_ = nullptr;
  PartsStatusBar* options_bar_ = nullptr;
  PartsStatusBar* counter_bar_ = nullptr;
  QTreeView* result_view_ = nullptr;
  ResultListModel* results_ = nullptr;
  ScanAnimation* animation_ = nullptr;
  CommandActions* actions_ = nullptr;
  QPointer<QMessageBox> open_question_;
  bool refuse_questions_ = false;
  std::function<bool()> close_guard_;
};

}  // namespace quarn::window
