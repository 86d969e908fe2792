#include <QDesktopServices>
#include <QUrl>

#include "desktop/dialogs/information_dialogs.h"

namespace quarn::tools {
namespace {

// xdg-open through Qt: the desktop picks the browser for a web address and the program for a
// file by its type. Its answer is not looked at: a program that does not start is not reported.
class QtDesktopLauncher final : public ExternalLauncher {
 public:
  void OpenUrl(const QString& url) override { QDesktopServices::openUrl(QUrl(url)); }
  void OpenFile(const QString& path) override {
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
  }
};

}  // namespace

ExternalLauncher& DesktopLauncher() {
  static QtDesktopLauncher launcher;
  return launcher;
}

}  // namespace quarn::tools
