// SPDX-License-Identifier: Apache-2.0
#include "desktop/main_window.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QMenuBar>

#include "engine/user_interface.h"
#include "res/pictures/pictures.h"
#include "desktop/command_toolbar.h"
#include "desktop/window_geometry.h"
#include "desktop/window_menus.h"
#include "desktop/dialogs/information_dialogs.h"

namespace quarn::window {
namespace {

constexpr int kPathBarStartText = 430;
constexpr int kCounterStartTexts[] = {431, 432, 433};

QString Text(Language language, int id) {
  const std::string_view text = LoadText(language, id);
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

MainWindow::MainWindow(const WindowSetup& setup) {
  setWindowTitle(setup.title);
  setWindowIcon(pictures::ApplicationIcon());
  tools::ShowSplash(this, setup.splash_hold);

  actions_ = new CommandActions(setup.language, this);
  connect(actions_, &CommandActions::triggered, this, &MainWindow::commandTriggered);
  BuildMenus(menuBar(), setup.language, *actions_);

  client_ = new QWidget(this);
  client_->setAutoFillBackground(true);
  client_->setBackgroundRole(QPalette::Base);
  setCentralWidget(client_);
  client_->installEventFilter(this);

  toolbar_ = BuildCommandToolbar(client_, *actions_);

  tree_ = new DriveTree(*setup.drives, setup.image_drives, *setup.files, *setup.monitor, client_);
  tree_->Fill(setup.language, setup.list_network, setup.shares);

  progress_ = new QProgressBar(client_);
  progress_->setRange(0, kProgressSteps);
  progress_->setValue(0);
  progress_->setTextVisible(false);

  path_bar_ = new PartsStatusBar(2, client_);
  options_bar_ = new PartsStatusBar(3, client_);
  counter_bar_ = new PartsStatusBar(3, client_);
  path_bar_->SetText(0, Text(setup.language, kPathBarStartText));
  for (int part = 0; part < 3; ++part)
    counter_bar_->SetText(part, Text(setup.language, kCounterStartTexts[part]));
  connect(tree_, &DriveTree::pathChanged, this,
          [this](const QString& path) { path_bar_->SetText(0, path); });

  results_ = new ResultListModel(setup.language, this);
  result_view_ = new QTreeView(client_);
  result_view_->setModel(results_);
  result_view_->setRootIsDecorated(false);
  result_view_->setUniformRowHeights(true);
  result_view_->setIconSize(QSize(16, 16));
  result_view_->setEditTriggers(QAbstractItemView::EditKeyPressed |
                                QAbstractItemView::SelectedClicked);
  // The one column takes the list's whole width, and a line longer still loses its middle, so
  // the line of a file deep in containers keeps its drive, its inner name and its virus name;
  // the tooltip holds the whole line.
  result_view_->header()->setStretchLastSection(true);
  result_view_->setTextElideMode(Qt::ElideMiddle);
  result_view_->header()->setSectionsClickable(false);

  animation_ = new ScanAnimation(client_);

  SetScanning(false);
  ApplyLayout();
}

void MainWindow::SetScanning(bool scanning) {
  actions_->SetScanning(scanning);
  if (scanning) {
    animation_->Play();
  } else {
    animation_->Stop();
  }
}

void MainWindow::ShowLastResult() {
  const int rows = results_->rowCount();
  if (rows > 0) result_view_->scrollTo(results_->index(rows - 1));
}

void MainWindow::ShowMessage(const QString& caption, const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok);
  box.exec();
}

bool MainWindow::Ask(const QString& caption, const QString& text) {
  if (refuse_questions_) return false;
  QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Yes | QMessageBox::No);
  box.setDefaultButton(QMessageBox::No);
  open_question_ = &box;
  const int answer = box.exec();
  open_question_ = nullptr;
  return answer == QMessageBox::Yes && !refuse_questions_;
}

void MainWindow::RefuseQuestions() {
  refuse_questions_ = true;
  if (open_question_ != nullptr) open_question_->done(QMessageBox::No);
}

void MainWindow::ApplyLayout() {
  const QSize client = client_->size();
  const int toolbar_height = toolbar_->sizeHint().height();
  const int bar_height = path_bar_->sizeHint().height();
  toolbar_->setGeometry(0, 0, client.width(), toolbar_height);
  const WindowLayout layout = ComputeWindowLayout(client, toolbar_height, bar_height);
  tree_->setGeometry(layout.tree);
  result_view_->setGeometry(layout.list);
  animation_->setGeometry(layout.animation);
  progress_->setGeometry(layout.progress);
  counter_bar_->setGeometry(layout.counter_bar);
  path_bar_->setGeometry(layout.path_bar);
  options_bar_->setGeometry(layout.options_bar);
  path_bar_->SetEdges(PathBarEdges(client.width(), bar_height));
  options_bar_->SetEdges(OptionsBarEdges(client.width()));
  counter_bar_->SetEdges(CounterBarEdges(client.width(), bar_height));
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == client_ && event->type() == QEvent::Resize) ApplyLayout();
  return QMainWindow::eventFilter(watched, event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (close_guard_ && !close_guard_()) {
    event->ignore();
    return;
  }
  event->accept();
}

}  // namespace quarn::window
