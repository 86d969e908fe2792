#pragma once

#include <QString>
#include <QWidget>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "res/message_table.h"

// The small modal dialogs around the scanner: splash, About, the memory alert, the two
// update reminders and the online update. None of them changes settings or files.
namespace quarn::tools {

// The maker's web address, opened by the Internet buttons.
inline constexpr const char* kMakerWebAddress = "https://quarn.example.org/";

// Starts the desktop's default application for a web address or a file. Tests give their
// own to see what would have been started.
class ExternalLauncher {
 public:
  virtual ~ExternalLauncher() = default;
  virtual void OpenUrl(const QString& url) = 0;
  virtual void OpenFile(const QString& path) = 0;
};

// The real one, through the desktop's default applications; failures are not reported.
ExternalLauncher& DesktopLauncher();

// Shows the splash picture and closes it by itself `hold` after its first paint.
void ShowSplash(QWidget* parent, std::chrono::milliseconds hold = std::chrono::seconds(3));

// "Quarn Explorer 2.0." followed by the database version.
void ShowAbout(QWidget* parent, Language language, uint32_t database_version);

// The alert for a virus active in memory; the caller ends the program when it closes.
void ShowMemoryAlert(QWidget* parent, Language language, std::string_view virus_name);

// The reminder that the program is out of date, with its browser and bulletin-board buttons.
void ShowProgramOutdated(QWidget* parent, Language language, ExternalLauncher& launcher,
                         const std::string& data_directory);

// The reminder that the virus database is out of date.
void ShowDatabaseOutdated(QWidget* parent, Language language);

// The online-update dialog.
void ShowOnlineUpdate(QWidget* parent, Language language, ExternalLauncher& launcher,
                      const std::string& data_directory);

}  // namespace quarn::tools
