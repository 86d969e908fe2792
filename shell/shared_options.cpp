#include "shell/shared_options.h"

#include <CLI/CLI.hpp>

#include "platform/disk_argument.h"
#include "platform/drive_sources.h"
#include "platform/status.h"

namespace quarn {
namespace {

// A check that gives the parser's own message, which names the value and the fault.
CLI::Validator StatusValidator(Status (*check)(std::string_view)) {
  return CLI::Validator(
      [check](std::string& value) {
        Status checked = check(value);
        return checked ? std::string() : checked.message();
      },
      "");
}

Status CheckDrive(std::string_view value) {
  Result<Drive> drive = ParseDriveArgument(value);
  return drive ? Status::Ok() : drive.status();
}

Status CheckDisk(std::string_view value) {
  Result<DiskMapping> disk = ParseDiskArgument(value);
  return disk ? Status::Ok() : disk.status();
}

}  // namespace

void SharedOptionDeclarations::DeclarePlaces(CLI::App& app) {
  settings_option_ = app.add_option(
      "--settings", settings_,
      "the settings store (default: $QUARN_SETTINGS, else ~/.config/quarnexp/settings.reg)");
  settings_option_->type_name("FILE");
  data_option_ = app.add_option("--data-dir", data_directory_,
                                "the folder holding QUARN.DAT and NAMEVIR.DAT (default: \"DAT\")");
  data_option_->type_name("DIR");
}

void SharedOptionDeclarations::DeclareMachine(CLI::App& app) {
  memory_option_ =
      app.add_option("--memory-image", memory_image_,
                     "the file low DOS memory reads from (default: \"MemoryImage\", else zeros)")
          ->check(CLI::Validator(CLI::ExistingFile).description(""));
  memory_option_->type_name("FILE");
  app.add_flag("--no-memory", skip_memory_scan_, "skip the start-up memory scan");
  app.add_option("--drive", drives_,
                 "map drive L to a host folder, or to the first FAT volume of a disk image; "
                 "TYPE is fixed (default), removable, cdrom, remote or ramdisk; repeatable, "
                 "and then the whole drive map of this run")
      ->type_name("L:=DIR|IMAGE[,TYPE]")
      ->expected(1)
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->check(StatusValidator(&CheckDrive));
  app.add_option("--disk", disks_,
                 "raw sectors of BIOS disk N (0 = A:, 1 = B:, 0x80 = first hard disk) from an "
                 "image or block device, whose FAT volumes are then drives with files (A:, B:, "
                 "or the partitions of disk 0x80 as C:, D:...); repeatable")
      ->type_name("N=IMAGE[,C/H/S]")
      ->expected(1)
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->check(StatusValidator(&CheckDisk));
}

void SharedOptionDeclarations::Fill(SharedOptions& options) const {
  if (settings_option_ != nullptr && settings_option_->count() > 0) {
    options.settings_path = settings_;
  }
  if (data_option_ != nullptr && data_option_->count() > 0)
    options.data_directory = data_directory_;
  if (memory_option_ != nullptr && memory_option_->count() > 0) {
    options.memory_image = memory_image_;
  }
  options.skip_memory_scan = skip_memory_scan_;
  options.drives = drives_;
  // The values passed the same parser's check while the app parsed them.
  for (const std::string& disk : disks_) options.disks.push_back(ParseDiskArgument(disk).value());
}

}  // namespace quarn
