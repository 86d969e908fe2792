#pragma once

#include <string_view>

namespace quarn {

// The texts of the actions that follow a detection; the same in both languages.
inline constexpr std::string_view kRemovedLine = " * * *  RIMOSSO  * * *";
inline constexpr std::string_view kContactSupportLine = " Contattare il Supporto Tecnico Orvane";
inline constexpr std::string_view kDeletedLine = " * * *  CANCELLATO  * * *";
inline constexpr std::string_view kRenamedLine = " * * *  RINOMINATO  * * *";
inline constexpr std::string_view kCannotOpenText = "Non posso aprire il file ";
inline constexpr std::string_view kCannotDeleteText = "Impossibile CANCELLARE il file ";
inline constexpr std::string_view kCannotRenameText = "Impossibile RINOMINARE il file ";
inline constexpr std::string_view kCleanQuestion = "Rimuovere dal file ";
inline constexpr std::string_view kCleanQuestionVirus = " il virus ";
inline constexpr std::string_view kDeleteQuestion = "Cancellare il file ";
inline constexpr std::string_view kRenameQuestion = "Rinominare il file ";
inline constexpr std::string_view kInfectedBy = " Infetto da ";
inline constexpr std::string_view kCleanCaption = "Rimozione";
inline constexpr std::string_view kDeleteCaption = "Cancellazione";
inline constexpr std::string_view kRenameCaption = "Rinominazione";

}  // namespace quarn
