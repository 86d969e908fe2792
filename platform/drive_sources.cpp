#include "platform/drive_sources.h"

#include <optional>

#include "platform/path_names.h"

namespace quarn {
namespace {

// A letter and a colon, "C:" or "c:"; the letter upper case, or nullopt.
std::optional<char> LetterOfName(std::string_view name) {
  if (name.size() != 2 || name[1] != ':') return std::nullopt;
  char c = name[0];
  if (c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
  if (c >= 'A' && c <= 'Z') return c;
  return std::nullopt;
}

std::string Quoted(std::string_view text) {
  return "\"" + std::string(text) + "\"";
}

std::string ValueContext(const std::string& name) {
  return std::string(kDrivesKey) + ", value " + Quoted(name);
}

Status MakeFolderAbsolute(Drive& drive, const std::string& working_directory,
                          const std::string& context) {
  if (drive.folder[0] != '/' && working_directory.empty()) {
    return Status::Error(context + ": the folder " + Quoted(drive.folder) +
                         " is relative, and the working folder cannot be named");
  }
  drive.folder = AbsoluteHostPath(drive.folder, working_directory);
  return Status::Ok();
}

}  // namespace

Result<Drive> ParseFolderAndType(std::string_view text, const std::string& context) {
  Drive drive;
  size_t comma = text.rfind(',');
  if (comma != std::string_view::npos) {
    if (std::optional<DriveType> type = DriveTypeFromName(text.substr(comma + 1))) {
      drive.type = *type;
      text = text.substr(0, comma);
    }
  }
  if (text.empty()) return Status::Error(context + ": no folder given");
  drive.folder = std::string(text);
  return drive;
}

Result<Drive> ParseDriveArgument(std::string_view argument) {
  const std::string context = "--drive " + Quoted(argument);
  size_t equals = argument.find('=');
  if (equals == std::string_view::npos) {
    return Status::Error(context + ": expected L:=FOLDER[,TYPE] (missing '=')");
  }
  std::optional<char> letter = LetterOfName(argument.substr(0, equals));
  if (!letter) {
    return Status::Error(context + ": " + Quoted(argument.substr(0, equals)) +
                         " is not a drive letter and a colon");
  }
  Result<Drive> drive = ParseFolderAndType(argument.substr(equals + 1), context);
  if (drive) drive->letter = *letter;
  return drive;
}

Result<DriveMap> DriveMapFromArguments(const std::vector<std::string>& arguments,
                                       const std::string& working_directory) {
  DriveMap map;
  for (const std::string& argument : arguments) {
    Result<Drive> drive = ParseDriveArgument(argument);
    if (!drive) return drive.status();
    if (Status absolute =
            MakeFolderAbsolute(*drive, working_directory, "--drive " + Quoted(argument));
        !absolute) {
      return absolute;
    }
    if (Status added = map.Add(std::move(drive.value())); !added) {
      return Status::Error("--drive " + Quoted(argument) + ": " + added.message());
    }
  }
  return map;
}

Result<DriveMap> DriveMapFromSettings(const RegistryDocument& settings,
                                      const std::string& working_directory) {
  DriveMap map;
  for (const std::string& name : settings.ValueNames(kDrivesKey)) {
    const std::string context = ValueContext(name);
    std::optional<char> letter = LetterOfName(name);
    if (!letter) return Status::Error(context + ": the name is not a drive letter and a colon");
    std::optional<std::string> text = settings.ReadText(kDrivesKey, name);
    if (!text) return Status::Error(context + ": not a text value (REG_SZ)");
    Result<Drive> drive = ParseFolderAndType(*text, context);
    if (!drive) return drive.status();
    if (Status absolute = MakeFolderAbsolute(*drive, working_directory, context); !absolute) {
      return absolute;
    }
    drive->letter = *letter;
    // Names compare without regard to case, so a letter cannot come twice; Add still checks.
    if (Status added = map.Add(std::move(drive.value())); !added) {
      return Status::Error(context + ": " + added.message());
    }
  }
  return map;
}

Result<DriveMap> ChooseDriveMap(const std::vector<std::string>& drive_arguments,
                                const RegistryDocument& settings,
                                const std::function<DriveMap()>& detect,
                                const std::string& working_directory) {
  if (!drive_arguments.empty()) return DriveMapFromArguments(drive_arguments, working_directory);
  if (!settings.ValueNames(kDrivesKey).empty()) {
    return DriveMapFromSettings(settings, working_directory);
  }
  return detect();
}

std::string FormatDriveValue(const Drive& drive) {
  // The type is always written, so a folder whose name ends in ",cdrom" reads back whole.
  return drive.folder + "," + std::string(DriveTypeName(drive.type));
}

}  // namespace quarn
