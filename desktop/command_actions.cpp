#include "desktop/command_actions.h"

#include "res/pictures/pictures.h"

namespace quarn::window {
namespace {

constexpr std::array<int, 6> kIdleOnlyCommands = {kCommandScan,  kCommandOptions,
                                                  kCommandPrint, kCommandFloppyBootFix,
                                                  kCommandExit,  kCommandViewLog};

QString Text(Language language, int id) {
  const std::string_view text = LoadText(language, id);
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

CommandActions::CommandActions(Language language, QObject* parent) : QObject(parent) {
  auto add = [&](int id) {
    auto* action = new QAction(this);
    action->setToolTip(Text(language, id));
    action->setIconVisibleInMenu(false);
    connect(action, &QAction::triggered, this, [this, id] { emit triggered(id); });
    actions_[id] = action;
    return action;
  };
  for (size_t image = 0; image < kToolbarCommands.size(); ++image) {
    add(kToolbarCommands[image])->setIcon(QIcon(pictures::ToolbarImage(static_cast<int>(image))));
  }
  add(kCommandHelp);
  SetScanning(false);
}

QAction* CommandActions::Get(int id) const {
  auto found = actions_.find(id);
  return found == actions_.end() ? nullptr : found->second;
}

void CommandActions::SetScanning(bool scanning) {
  Get(kCommandStop)->setEnabled(scanning);
  for (int id : kIdleOnlyCommands) Get(id)->setEnabled(!scanning);
}

}  // namespace quarn::window
