// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace quarn {

// The string table's ids of the texts of the actions that follow a detection.
inline constexpr int kRemovedLine = 462;
inline constexpr int kContactSupportLine = 463;
inline constexpr int kDeletedLine = 464;
inline constexpr int kRenamedLine = 465;
inline constexpr int kCannotOpenText = 466;
inline constexpr int kCannotDeleteText = 467;
inline constexpr int kCannotRenameText = 468;
inline constexpr int kCleanQuestion = 469;
inline constexpr int kQuestionVirus = 470;
inline constexpr int kDeleteQuestion = 471;
inline constexpr int kRenameQuestion = 472;
inline constexpr int kCleanCaption = 473;
inline constexpr int kDeleteCaption = 474;
inline constexpr int kRenameCaption = 475;
inline constexpr int kFloppyCleanQuestion = 476;

}  // namespace quarn
