#include "desktop/window_menus.h"

#include <initializer_list>

namespace quarn::window {
namespace {

constexpr int kSeparator = 0;

struct MenuItem {
  int id;  // kSeparator for a separator
  const char* italian;
  const char* english;
};

void AddMenu(QMenuBar* bar, const QString& title, Language language, CommandActions& actions,
             std::initializer_list<MenuItem> items) {
  QMenu* menu = bar->addMenu(title);
  for (const MenuItem& item : items) {
    if (item.id == kSeparator) {
      menu->addSeparator();
      continue;
    }
    QAction* action = actions.Get(item.id);
    action->setText(
        QString::fromUtf8(language == Language::kEnglish ? item.english : item.italian));
    menu->addAction(action);
  }
}

}  // namespace

void BuildMenus(QMenuBar* bar, Language language, CommandActions& actions) {
  const bool english = language == Language::kEnglish;
  AddMenu(bar, "Scan", language, actions,
          {{kCommandScan, "Ricerca", "Scan"},
           {kCommandStop, "Stop", "Stop"},
           {kSeparator, "", ""},
           {kCommandOptions, "Opzioni", "Options"},
           {kSeparator, "", ""},
           {kCommandViewLog, "Visualizza file Log", "View file Log"},
           {kSeparator, "", ""},
           {kCommandPrint, "Stampa", "Print"},
           {kSeparator, "", ""},
           {kCommandExit, "Esci", "Exit"}});
  AddMenu(bar, "Tools", language, actions,
          {{kCommandFloppyBootFix, "Floppy Disk Boot Fix", "Floppy Disk Boot Fix"},
           {kSeparator, "", ""},
           {kCommandScheduler, "Scheduler", "Scheduler"},
           {kSeparator, "", ""},
           {kCommandOnlineUpdate, "Aggiornamenti OnLine", "Upgrade OnLine"}});
  AddMenu(bar, english ? "Information" : "Informazioni", language, actions,
          {{kCommandEncyclopedia, "Enciclopedia Virus", "Enciclopedia Virus"},
           {kSeparator, "", ""},
           {kCommandHelp, "Help", "Help"},
           {kSeparator, "", ""},
           {kCommandAbout, "About", "About"}});
}

}  // namespace quarn::window
