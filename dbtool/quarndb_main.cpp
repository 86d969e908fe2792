// SPDX-License-Identifier: Apache-2.0
// quarndb: compiles signature sources into QUARN.DAT and NAMEVIR.DAT, dumps databases back
// into source, verifies them, describes them and writes their encyclopedia page.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "dbtool/database_codec.h"
#include "dbtool/database_files.h"
#include "dbtool/encyclopedia.h"
#include "dbtool/signature_source.h"
#include "engine/database_loader.h"
#include "engine/database_verifier.h"
#include "imported/clamav/clamav_import.h"
#include "imported/clamav/clamav_records.h"
#include "imported/quarnx/database_build.h"
#include "imported/quarnx/database_file.h"
#include "platform/build_month.h"
#include "platform/file_contents.h"
#include "platform/path_names.h"
#include "platform/posix_folder.h"

namespace quarn {
namespace {

constexpr int kExitProblem = 1;
constexpr int kExitFailure = 2;
constexpr char kDumpFileName[] = "database.qsig";

int Fail(const std::string& message) {
  std::fprintf(stderr, "quarndb: %s\n", message.c_str());
  return kExitFailure;
}

int Build(FileSystem& files, const std::vector<std::string>& sources, const std::string& output) {
  auto texts = ReadSourceTexts(files, sources);
  if (!texts) return Fail(texts.message());
  auto content = ParseSignatureSource(*texts);
  if (!content) return Fail(content.message());
  // An undated database is the build's own: dated the month it is made, it is current.
  if (content->month == 0 && content->year == 0) {
    const YearMonth built = BuildMonth();
    content->month = static_cast<uint8_t>(built.month);
    content->year = static_cast<uint16_t>(built.year);
  }
  auto database = CompileDatabase(*content);
  if (!database) return Fail(database.message());
  if (Status written = WriteDatabasePair(files, output, *database); !written) {
    return Fail(written.message());
  }
  return 0;
}

int Dump(FileSystem& files, const std::string& input, const std::string& output) {
  auto pair = ReadDatabasePair(files, input);
  if (!pair) return Fail(pair.message());
  std::vector<std::string> notes;
  DatabaseContent content = DecompileDatabase(pair->signatures, pair->names, &notes);
  for (const std::string& note : notes) std::fprintf(stderr, "quarndb: note: %s\n", note.c_str());
  std::string text = FormatSignatureSource(content);
  if (Status created = files.CreateFolders(output); !created) return Fail(created.message());
  auto folder = files.OpenFolder(output);
  if (!folder) return Fail(folder.message());
  Status written =
      WriteFileAtomically(**folder, kDumpFileName, std::vector<uint8_t>(text.begin(), text.end()));
  return written ? 0 : Fail(written.message());
}

// Whether `input` holds the two files of the program's own database.
bool HasDatabasePair(FileSystem& files, const std::string& input) {
  auto folder = files.OpenFolder(input);
  if (!folder) return false;
  auto info = (*folder)->Examine(std::string(kSignatureFileName));
  return info && info->has_value();
}

int Verify(FileSystem& files, const std::string& input) {
  std::vector<std::string> problems;
  auto imported = ReadImportedDatabaseFile(files, input);
  if (!imported) problems.push_back(imported.message());
  const bool imported_alone = imported && imported->has_value() && !HasDatabasePair(files, input);
  if (!imported_alone) {
    auto pair = ReadDatabasePair(files, input);
    if (!pair) {
      std::printf("%s\n", pair.message().c_str());
      return kExitProblem;
    }
    for (std::string& problem : VerifyDatabase(pair->signatures, pair->names)) {
      problems.push_back(std::move(problem));
    }
  }
  for (const std::string& problem : problems) std::printf("%s\n", problem.c_str());
  if (problems.empty()) std::printf("no problems found\n");
  return problems.empty() ? 0 : kExitProblem;
}

int Info(FileSystem& files, const std::string& input) {
  auto imported = ReadImportedDatabaseFile(files, input);
  if (!imported) return Fail(imported.message());
  if (!*imported || HasDatabasePair(files, input)) {
    auto pair = ReadDatabasePair(files, input);
    if (!pair) return Fail(pair.message());
    std::printf("%s", DescribeDatabase(pair->signatures, pair->names).c_str());
  }
  if (*imported) std::printf("%s", DescribeImportedDatabase(**imported).c_str());
  return 0;
}

// Reads the user's ClamAV databases and writes what this program can use of them as
// QUARNX.DAT in `output`. Exit 1 when nothing could be used.
int ImportClamav(FileSystem& files, const std::vector<std::string>& sources,
                 const std::string& output) {
  // Each signature goes into QUARNX.DAT's form as it is read: an import of millions of
  // hashes holds about the file's size, never the signatures as objects.
  ImportedDatabaseEncoder encoder;
  ClamavImport import(encoder);
  // Withdrawals first, from every source, as ClamAV reads them; that pass also refuses a
  // damaged database before any of its signatures is taken.
  for (const std::string& source : sources) {
    if (Status read = import.AddWithdrawals(files, source); !read) return Fail(read.message());
  }
  for (const std::string& source : sources) {
    if (Status added = import.AddSource(files, source); !added) return Fail(added.message());
  }
  ImportReport report = import.report();
  if (report.imported() > 0) {
    auto pieces = BuildImportedDatabase(encoder, report);
    if (!pieces) return Fail(pieces.message());
    if (Status written = WriteImportedDatabaseFile(files, output, *pieces); !written) {
      return Fail(written.message());
    }
  }
  const uint64_t imported = report.imported();
  const uint64_t skipped = report.skipped();
  std::printf("%llu signatures imported, %llu skipped%s\n%s",
              static_cast<unsigned long long>(imported), static_cast<unsigned long long>(skipped),
              imported > 0 ? (" into " + JoinPath(output, kImportedDatabaseFileName)).c_str()
                           : "; nothing written",
              report.Format().c_str());
  for (const std::string& note : report.notes()) std::printf("  %s\n", note.c_str());
  return imported > 0 ? 0 : kExitProblem;
}

// Writes the encyclopedia page to `output`, or to ENCI.HTM in the database's folder.
int Encyclopedia(FileSystem& files, const std::string& input, const std::string& output) {
  auto pair = ReadDatabasePair(files, input);
  if (!pair) return Fail(pair.message());
  const std::string page = FormatEncyclopedia(pair->signatures, pair->names);
  const auto [folder_path, name] =
      output.empty() ? std::pair(input, std::string(kEncyclopediaFileName)) : SplitHostPath(output);
  auto folder = files.OpenFolder(folder_path);
  if (!folder) return Fail(folder.message());
  Status written =
      WriteFileAtomically(**folder, name, std::vector<uint8_t>(page.begin(), page.end()));
  return written ? 0 : Fail(written.message());
}

// The message for a first word that names no command, which CLI11 would only call a missing
// subcommand: the word and the commands there are. Nothing when the word is a command or an
// option.
std::optional<std::string> UnknownCommand(const CLI::App& app, int argc, char** argv) {
  if (argc < 2 || argv[1][0] == '-') return std::nullopt;
  const std::string word = argv[1];
  std::string commands;
  bool known = false;
  for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; })) {
    known = known || command->get_name() == word;
    commands += (commands.empty() ? "" : ", ") + command->get_name();
  }
  if (known) return std::nullopt;
  return "unknown command '" + word + "'; the commands are " + commands;
}

int Run(int argc, char** argv) {
  CLI::App app{"quarndb: the Quarn Explorer signature database compiler"};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("quarndb ") + QUARN_VERSION +
                                        "\nimport-clamav reads ClamAV functionality level " +
                                        std::to_string(kClamavFunctionalityLevel));

  std::vector<std::string> sources;
  std::string build_output;
  CLI::App* build = app.add_subcommand(
      "build",
      "Compile signature sources (files, or folders of *.qsig) into QUARN.DAT and NAMEVIR.DAT; "
      "sources without a date are dated this month (SOURCE_DATE_EPOCH's when set)");
  build->add_option("SOURCE", sources, "source files or folders, read in the order given")
      ->required();
  build->add_option("-o,--output", build_output, "folder that receives the two files")->required();

  std::string dump_input, dump_output;
  CLI::App* dump = app.add_subcommand("dump", "Write a database back as source (database.qsig)");
  dump->add_option("DIR", dump_input, "folder holding QUARN.DAT and NAMEVIR.DAT")->required();
  dump->add_option("-o,--output", dump_output, "folder that receives database.qsig")->required();

  std::string verify_input;
  CLI::App* verify = app.add_subcommand(
      "verify",
      "List every structural problem of a database (and of its QUARNX.DAT); exit 1 when there "
      "is one");
  verify->add_option("DIR", verify_input, "folder holding QUARN.DAT and NAMEVIR.DAT")->required();

  std::string info_input;
  CLI::App* info = app.add_subcommand(
      "info", "Print version, date and record counts (and QUARNX.DAT's counts when present)");
  info->add_option("DIR", info_input, "folder holding QUARN.DAT and NAMEVIR.DAT")->required();

  std::vector<std::string> clamav_sources;
  std::string clamav_output;
  CLI::App* import_clamav = app.add_subcommand(
      "import-clamav",
      "Turn your own ClamAV databases (.cvd, .cld, or unpacked .ndb .hdb .hsb .mdb .msb files "
      "and folders) into QUARNX.DAT; the data stays yours, under ClamAV's licence");
  import_clamav->add_option("SOURCE", clamav_sources, "database files or folders, in order")
      ->required();
  import_clamav->add_option("-o,--output", clamav_output, "folder that receives QUARNX.DAT")
      ->required();

  std::string encyclopedia_input, encyclopedia_output;
  CLI::App* encyclopedia = app.add_subcommand(
      "encyclopedia", "Write the virus encyclopedia (ENCI.HTM): every name, sorted, as HTML");
  encyclopedia->add_option("DIR", encyclopedia_input, "folder holding QUARN.DAT and NAMEVIR.DAT")
      ->required();
  encyclopedia->add_option("-o,--output", encyclopedia_output,
                           "the page to write (default: ENCI.HTM in DIR)");

  if (std::optional<std::string> unknown = UnknownCommand(app, argc, argv)) return Fail(*unknown);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return app.exit(error) == 0 ? 0 : kExitFailure;
  }
  std::unique_ptr<FileSystem> files = OpenPosixFileSystem();
  if (build->parsed()) return Build(*files, sources, build_output);
  if (dump->parsed()) return Dump(*files, dump_input, dump_output);
  if (verify->parsed()) return Verify(*files, verify_input);
  if (import_clamav->parsed()) return ImportClamav(*files, clamav_sources, clamav_output);
  if (encyclopedia->parsed()) {
    return Encyclopedia(*files, encyclopedia_input, encyclopedia_output);
  }
  return Info(*files, info_input);
}

}  // namespace
}  // namespace quarn

int main(int argc, char** argv) {
  return quarn::Run(argc, argv);
}
