#include "desktop/dialogs/message_box_interface.h"

#include <QMessageBox>

#include "desktop/dialogs/tool_text.h"

namespace quarn::tools {

void MessageBoxInterface::ShowMessage(std::string_view caption, std::string_view text) {
  QMessageBox box(QMessageBox::Critical, ProgramText(caption), ProgramText(text), QMessageBox::Ok);
  box.exec();
}

bool MessageBoxInterface::Ask(std::string_view caption, std::string_view text) {
  QMessageBox box(QMessageBox::Critical, ProgramText(caption), ProgramText(text),
                  QMessageBox::Yes | QMessageBox::No);
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

}  // namespace quarn::tools
