#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "res/string_table.h"

namespace quarn {

// The BIOS disks whose sectors a `--disk` flag may supply.
inline constexpr uint32_t kFirstFloppyDisk = 0x00;
inline constexpr uint32_t kSecondFloppyDisk = 0x01;
inline constexpr uint32_t kFirstHardDisk = 0x80;

struct DiskGeometry {
  uint32_t cylinders = 0;
  uint32_t heads = 0;
  uint32_t sectors = 0;
  bool operator==(const DiskGeometry&) const = default;
};

// One `--disk N=IMAGE[,C/H/S]` flag.
struct DiskFlag {
  uint32_t bios_disk = 0;
  std::string image;
  std::optional<DiskGeometry> geometry;
  bool operator==(const DiskFlag&) const = default;
};

// Everything quarnscan's command line can say. An absent value means "as the settings say";
// none of it is ever written back to the settings store.
// The number of cores this process may run on, at least 1: --jobs without a value.
int DefaultJobs();

struct ScanArguments {
  std::optional<std::string> settings_path;
  std::optional<std::string> data_directory;
  std::optional<Language> language;
  std::optional<uint32_t> file_filter;         // FileFilter: 0 executables, 1 all files
  std::optional<uint32_t> scan_action;         // ScanAction 0 to 6
  std::optional<uint32_t> heuristics_enabled;  // 1 on, 0 off
  std::optional<bool> answer;                  // --yes / --no: the answer to every question
  bool json = false;
  // --log FILE, or "" for --no-log; absent: QUARNEXP.LOG in the data directory.
  std::optional<std::string> log_path;
  std::optional<std::string> memory_image;
  bool skip_memory_scan = false;
  // Threads for the detection stage; the output is the same for any number.
  int jobs = DefaultJobs();
  std::vector<std::string> drives;  // --drive values as given, each one ParseDriveArgument accepts
  std::vector<DiskFlag> disks;
  std::vector<std::string> targets;  // in the order given
  // --floppy-fix A: or B:: the BIOS disk (0 or 1) whose boot sector is rewritten instead of
  // a scan, in the format of --format (a format id of the boot fix).
  std::optional<uint8_t> floppy_fix;
  int floppy_format = 1033;
};

// How a command line ended: with arguments to scan with, or with text to print and an exit
// status (0 after --help and --version, kExitCannotRun after a mistake).
struct ArgumentsOutcome {
  std::optional<ScanArguments> arguments;
  int exit_code = 0;
  std::string standard_output;
  std::string standard_error;
};

// Parses quarnscan's command line (argv[0] is the program). Never prints and never exits.
ArgumentsOutcome ParseScanArguments(int argc, const char* const* argv);

// `N=IMAGE[,C/H/S]`: N is 0, 1 or 0x80 (decimal 128 too); a last comma followed by three
// slash-separated numbers gives the geometry (cylinders 1 to 65535, heads 1 to 255, sectors
// 1 to 63); otherwise the whole text after "=" is the image.
Result<DiskFlag> ParseDiskFlag(std::string_view value);

}  // namespace quarn
