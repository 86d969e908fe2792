#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/drive_map.h"
#include "platform/registry_document.h"
#include "platform/status.h"

namespace quarn {

// The key whose values map drive letters: value "C:" = REG_SZ "FOLDER,TYPE".
inline constexpr std::string_view kDrivesKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\QuarnExp\\Drives";

// "FOLDER,TYPE" or "FOLDER": TYPE is what follows the last comma when it is one of the five
// type words (any case); otherwise the whole text is the folder and the type is fixed, so a
// folder may hold commas. The letter of the result is left as 'C'. Fails when no folder is
// left; `context` begins the message ("--drive \"C:=\"").
Result<Drive> ParseFolderAndType(std::string_view text, const std::string& context);

// One --drive argument, "L:=FOLDER[,TYPE]" with the letter in either case (kept upper case).
// A failure names the argument and what is wrong with it.
Result<Drive> ParseDriveArgument(std::string_view argument);

// Each builder below makes every drive folder absolute and normalised in the text
// (AbsoluteHostPath), relative ones against `working_directory`: a path under the folder
// must compare as being under it. With `working_directory` empty (the working folder cannot
// be named, deleted for instance), a relative folder fails the map.

// The drive map that a run's --drive arguments make; the first bad argument or a letter given
// twice fails it.
Result<DriveMap> DriveMapFromArguments(const std::vector<std::string>& arguments,
                                       const std::string& working_directory);

// The drive map that the settings' Drives key describes; empty when the key has no values.
// A value whose name is not a letter and a colon, or which is not text or names no folder,
// fails it, naming the key and the value.
Result<DriveMap> DriveMapFromSettings(const RegistryDocument& settings,
                                      const std::string& working_directory);

// The drive map of a run, whole and without merging: the --drive arguments when there are
// any, else the settings' Drives key when it has values, else what `detect` finds. `detect`
// is called only when both others are absent.
Result<DriveMap> ChooseDriveMap(const std::vector<std::string>& drive_arguments,
                                const RegistryDocument& settings,
                                const std::function<DriveMap()>& detect,
                                const std::string& working_directory);

// The Drives value text of a drive with files: "FOLDER,TYPE", which ParseFolderAndType reads
// back as the same folder and type.
std::string FormatDriveValue(const Drive& drive);

}  // namespace quarn
