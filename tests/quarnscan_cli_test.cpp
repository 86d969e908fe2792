// SPDX-License-Identifier: Apache-2.0
// quarnscan as a user runs it: on folders built here, with the database that ships, reading
// its exit status, its plain lines and JSON events, its messages, the files it acts on and
// the log it leaves.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "containers/test_support/fat_image_writer.h"
#include "containers/test_support/zip_writer.h"
#include "dbtool/database_codec.h"
#include "dbtool/database_files.h"
#include "platform/posix_folder.h"
#include "platform/test_support/scratch_folder.h"
#include "samplegen/sample_set.h"
#include "samplegen/system_area_samples.h"
#include "tests/quarnscan_runner.h"

namespace quarn {
namespace {

using namespace e2e;  // NOLINT(google-build-using-namespace): the runner is this file's vocabulary

// ---------------------------------------------------------------- exit status and lines

TEST_F(QuarnscanCli, ExitStatusSaysWhetherAnythingWasFound) {
  Put("SUSPECT/HEUR.EXE", "exe_heuristic.exe");
  Outcome suspect = Scan({"--json", "C:\\SUSPECT"});
  EXPECT_EQ(suspect.exit_code, 1) << suspect.err;
  ASSERT_EQ(suspect.EventsOf("suspicious").size(), 1u);
  EXPECT_EQ(suspect.EventsOf("suspicious")[0]["path"], "C:\\SUSPECT\\HEUR.EXE");
  // Heuristics off for this run: the same file is nothing, and nothing found is status 0.
  EXPECT_EQ(Scan({"--heuristics", "off", "C:\\SUSPECT"}).exit_code, 0);
}

// The plain lines exactly, the same lines as JSON events ending with the summary, and what the
// file filter and a file target change in them.
TEST_F(QuarnscanCli, PlainLinesAndTheirEventsEndWithTheTotals) {
  Put("EICAR.COM", "eicar.com");
  Put("EICAR.TXT", "eicar.com");
  Put("SUB/CLEAN.COM", "clean.com");
  Outcome plain = Scan({"C:"});
  EXPECT_EQ(plain.exit_code, 1);
  EXPECT_EQ(plain.err, "");
  EXPECT_EQ(plain.Lines(), Join({"[C:]", " ", "C:\\EICAR.COM Infetto da EICAR-Test-File", " "},
                                Join(Totals(1, 0, 2, 3), {" "})));
  Outcome english = Scan({"--lang", "en", "C:"});
  ASSERT_GE(english.Lines().size(), 5u);
  EXPECT_EQ(english.Lines()[2], "C:\\EICAR.COM Infect of EICAR-Test-File");
  EXPECT_EQ(english.Lines()[4], "Files infected: 1.");
  Outcome file = Scan({tree_ + "/EICAR.COM"});  // alone, without a boot check
  EXPECT_EQ(file.exit_code, 1);
  EXPECT_EQ(file.Lines(), Join({"C:\\EICAR.COM Infetto da EICAR-Test-File", " "},
                               Join(Totals(1, 0, 1, 1), {" "})));

  Outcome events = Scan({"--json", "C:"});
  EXPECT_EQ(events.exit_code, 1);
  std::vector<std::string> line_texts;
  for (const json& line : events.EventsOf("line")) line_texts.push_back(line["text"]);
  EXPECT_EQ(line_texts, plain.Lines());
  EXPECT_EQ(events.EventsOf("line")[0]["icon"], "harddisk");
  EXPECT_EQ(events.EventsOf("line")[2]["icon"], "virus");
  ASSERT_EQ(events.EventsOf("detection").size(), 1u);
  EXPECT_EQ(events.EventsOf("detection")[0], json({{"event", "detection"},
                                                   {"path", "C:\\EICAR.COM"},
                                                   {"host_path", tree_ + "/EICAR.COM"},
                                                   {"virus_id", 1},
                                                   {"name", "EICAR-Test-File"},
                                                   {"variant", false}}));
  // The detection follows the line that shows it.
  const std::vector<json> all = events.Events();
  for (size_t i = 0; i < all.size(); ++i) {
    if (all[i]["event"] != "detection") continue;
    ASSERT_GT(i, 0u);
    EXPECT_EQ(all[i - 1]["text"], "C:\\EICAR.COM Infetto da EICAR-Test-File");
  }
  EXPECT_EQ(all.back(), json::parse(R"({"event":"summary","infected":1,"suspicious":0,)"
                                    R"("scanned":2,"total":3,"cleaned":0,"deleted":0,)"
                                    R"("renamed":0,"incomplete":0})"));
  EXPECT_EQ(events.EventsOf("summary").size(), 1u);
  const json every_file = Scan({"--json", "--files", "all", "C:"}).Events().back();
  EXPECT_EQ(every_file["infected"], 2);
  EXPECT_EQ(every_file["scanned"], 3);
  EXPECT_EQ(every_file["total"], 3);
}

TEST_F(QuarnscanCli, MissingTargetIsNamedAndTheOthersAreStillScanned) {
  Put("A/EICAR.COM", "eicar.com");
  Outcome outcome = Scan({"--json", "C:\\NOPE", "C:\\A", "Q:", tree_ + "/none"});
  EXPECT_EQ(outcome.exit_code, 2);
  EXPECT_NE(outcome.err.find("Non trovato: C:\\NOPE\n"), std::string::npos) << outcome.err;
  EXPECT_NE(outcome.err.find("Non trovato: Q:\n"), std::string::npos) << outcome.err;
  EXPECT_NE(outcome.err.find("Non trovato: " + tree_ + "/none\n"), std::string::npos);
  ASSERT_EQ(outcome.EventsOf("detection").size(), 1u);
  EXPECT_EQ(outcome.Events().back()["event"], "summary");
  EXPECT_EQ(outcome.Events().back()["infected"], 1);

  Outcome nothing = Scan({"--json", "C:\\NOPE"});
  EXPECT_EQ(nothing.exit_code, 2);
  ASSERT_FALSE(nothing.Events().empty());
  EXPECT_EQ(nothing.Events().back(),
            json::parse(R"({"event":"summary","infected":0,"suspicious":0,"scanned":0,)"
                        R"("total":0,"cleaned":0,"deleted":0,"renamed":0,"incomplete":0})"));
}

// Another user's scan of root's files, as a shared machine has them: what it may not read
// was never looked at, and neither the output nor the exit status may call it clean.
TEST_F(QuarnscanCli, WhatCannotBeReadIsSaidSoAndNeverCountedAsScanned) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to scan as another user";
  // A user of no process of this machine, so that a limit on its processes counts ours only.
  constexpr uid_t kOutsider = 54321;
  Put("GAME.EXE", "eicar.com");
  Put("OK.COM", "clean.com");
  Put("LOCKED/INNER.COM", "eicar.com");
  ASSERT_EQ(chmod(scratch_.path().c_str(), 0755), 0);
  ASSERT_EQ(chmod((tree_ + "/GAME.EXE").c_str(), 0600), 0);
  ASSERT_EQ(chmod((tree_ + "/LOCKED").c_str(), 0700), 0);
  auto as_outsider = [&](std::vector<std::string> arguments) {
    return Quarnscan(WithFixture(std::move(arguments)), {}, Quarnscan::Terminal::kNone, {},
                     RunAs{kOutsider, std::nullopt})
        .Finish();
  };
  Outcome plain = as_outsider({"C:"});
  EXPECT_EQ(plain.exit_code, 2) << plain.err;
  EXPECT_NE(plain.out.find("Non leggibile: C:\\GAME.EXE (Permission denied)\n"), std::string::npos)
      << plain.out;
  EXPECT_NE(plain.out.find("Non leggibile: C:\\LOCKED (Permission denied)\n"), std::string::npos);
  EXPECT_NE(plain.out.find("Files Analizzati: 1."), std::string::npos) << plain.out;

  Outcome events = as_outsider({"--json", "--lang", "en", "C:\\LOCKED", "C:\\GAME.EXE"});
  EXPECT_EQ(events.exit_code, 2);
  EXPECT_EQ(events.err.find("Non trovato"), std::string::npos) << events.err;
  const std::vector<json> unread = events.EventsOf("incomplete");
  ASSERT_EQ(unread.size(), 2u) << events.out;
  EXPECT_EQ(unread[0], json::parse(R"({"event":"incomplete","path":"C:\\LOCKED","host_path":")" +
                                   tree_ + R"(/LOCKED","reason":"unreadable"})"));
  EXPECT_EQ(unread[1]["path"], "C:\\GAME.EXE");
  EXPECT_EQ(events.Events().back()["scanned"], 0);
  EXPECT_EQ(events.Events().back()["incomplete"], 2);
  // A finding still says so: 1 wins over what could not be read.
  ASSERT_EQ(chmod((tree_ + "/OK.COM").c_str(), 0), 0);
  Put("OTHER.COM", "eicar.com");
  EXPECT_EQ(as_outsider({"C:"}).exit_code, 1);

  // No thread to be had: a message and status 2, not an abort.
  // (A sanitized build's leak check would need a thread of its own at exit.)
  Outcome threadless =
      Quarnscan(WithFixture({"--jobs", "1", "C:"}), {{"ASAN_OPTIONS", "detect_leaks=0"}},
                Quarnscan::Terminal::kNone, {}, RunAs{kOutsider, 1})
          .Finish();
  EXPECT_EQ(threadless.exit_code, 2);
  EXPECT_NE(threadless.err.find("quarnscan: cannot start a thread: "), std::string::npos)
      << threadless.err;
}

// Lines a shell can take: the host path, and "!" with the path inside a container.
TEST_F(QuarnscanCli, HostPathsNameFilesAsTheShellKnowsThem) {
  Put("SUB/EICAR.COM", "eicar.com");
  WriteFile(tree_ + "/PACK.ZIP",
            Text(testing::ZipWriter().Add("IN/X.COM", SampleNamed("eicar.com").bytes).Build()));
  Outcome host = Scan({"--paths", "host", "C:"});
  EXPECT_EQ(host.exit_code, 1) << host.err;
  EXPECT_NE(host.out.find("\n" + tree_ + "/PACK.ZIP!IN\\X.COM Infetto da EICAR-Test-File\n"),
            std::string::npos)
      << host.out;
  EXPECT_NE(host.out.find("\n" + tree_ + "/SUB/EICAR.COM Infetto da EICAR-Test-File\n"),
            std::string::npos);
  EXPECT_NE(Scan({"C:"}).out.find("\nC:\\SUB\\EICAR.COM Infetto da"), std::string::npos);
}

// A scan of evidence: whatever the settings ask and whatever a first run would set up, not a
// byte or a time changes on disk.
TEST_F(QuarnscanCli, ReadOnlyChangesNothingOnDisk) {
  Put("EICAR.COM", "eicar.com");
  WriteFile(tree_ + "/FLOPPY.IMG", Text(testing::FatImageWriter(testing::FloppyLayout(1440))
                                            .AddFile("VIRUS.COM", SampleNamed("eicar.com").bytes)
                                            .Build()));
  WriteFile(tree_ + "/.FLOPPY.IMG.quarn-AbC123", "a working copy a killed scan left");
  const std::string data = DataCopy("data");
  auto everything = [&] {
    std::map<std::string, std::pair<std::string, fs::file_time_type>> files;
    for (const auto& entry : fs::recursive_directory_iterator(scratch_.path())) {
      files[entry.path()] = {entry.is_regular_file() ? ReadFile(entry.path()) : "",
                             entry.last_write_time()};
    }
    return files;
  };
  auto read_only = [&](std::vector<std::string> more) {
    std::vector<std::string> arguments = {"--settings",  settings_,     "--drive", "C:=" + tree_,
                                          "--no-memory", "--read-only", "--files", "all"};
    arguments.insert(arguments.end(), more.begin(), more.end());
    return Quarnscan(arguments, {{"XDG_DATA_HOME", scratch_.Child("xdg")}}).Finish();
  };
  // Settings that delete every infected file and log beside the database.
  WriteFile(settings_,
            "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\QuarnExp]\r\n"
            "\"Opzioni\"=hex:01,03,01,00\r\n\"DAT\"=\"" +
                data + "\"\r\n");
  const auto before = everything();
  Outcome stored = read_only({"--json", "C:"});
  EXPECT_EQ(stored.exit_code, 1) << stored.err;
  EXPECT_EQ(stored.EventsOf("detection").size(), 2u) << stored.out;
  EXPECT_TRUE(stored.EventsOf("action").empty());
  EXPECT_EQ(everything(), before);
  // No settings at all: a first run, which would copy the database and write "DAT".
  fs::remove(settings_);
  const auto first = everything();
  EXPECT_EQ(read_only({"C:"}).exit_code, 1);
  EXPECT_EQ(everything(), first);

  for (const char* writer : {"--action=delete", "--log=/tmp/x.log"}) {
    Outcome refused = read_only({writer, "C:"});
    EXPECT_EQ(refused.exit_code, 2) << writer;
    EXPECT_NE(refused.err.find("--read-only excludes"), std::string::npos) << refused.err;
  }
  EXPECT_EQ(read_only({"--action", "scan", "C:"}).exit_code, 1);
}

// ---------------------------------------------------------------- actions

TEST_F(QuarnscanCli, DeleteFollowsTheAnswer) {
  Put("EICAR.COM", "eicar.com");
  Outcome kept = Scan({"--json", "--action", "delete-ask", "C:"});  // no terminal: No
  EXPECT_EQ(kept.exit_code, 1);
  EXPECT_TRUE(fs::exists(tree_ + "/EICAR.COM"));
  EXPECT_TRUE(kept.EventsOf("action").empty());
  EXPECT_EQ(kept.Events().back()["deleted"], 0);
  Outcome deleted = Scan({"--json", "--action", "delete-ask", "--yes", "C:"});
  EXPECT_EQ(deleted.exit_code, 1);
  EXPECT_FALSE(fs::exists(tree_ + "/EICAR.COM"));
  ASSERT_EQ(deleted.EventsOf("action").size(), 1u);
  EXPECT_EQ(deleted.EventsOf("action")[0], json({{"event", "action"},
                                                 {"path", "C:\\EICAR.COM"},
                                                 {"host_path", tree_ + "/EICAR.COM"},
                                                 {"action", "delete"},
                                                 {"ok", true}}));
  EXPECT_EQ(deleted.Events().back()["deleted"], 1);

  Put("EICAR.COM", "eicar.com");
  Outcome automatic = Scan({"--action", "delete", "C:"});
  EXPECT_FALSE(fs::exists(tree_ + "/EICAR.COM"));
  const std::vector<std::string> lines = automatic.Lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), " * * *  CANCELLATO  * * *"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Files Cancellati: 1."), lines.end());
}

// Questions go to the controlling terminal, never to standard error; a Ctrl-C at one answers
// No and stops the walk, and the totals are still sent ahead of the summary.
TEST_F(QuarnscanCli, QuestionsAreAskedOnTheControllingTerminalAndCtrlCAtOneStops) {
  Put("A.COM", "eicar.com");
  Put("B.COM", "eicar.com");
  const std::vector<std::string> asking = WithFixture({"--json", "--action", "delete-ask", "C:"});
  Quarnscan answered(asking, {}, Quarnscan::Terminal::kPseudo);
  EXPECT_NE(answered.WaitForTerminal("[y/N] ").find(
                "Cancellazione: Cancellare il file C:\\A.COM Infetto da EICAR-Test-File "
                "[y/N] "),
            std::string::npos);
  answered.Type("y\n");
  EXPECT_NE(answered.WaitForTerminal("[y/N] ").find("C:\\B.COM"), std::string::npos);
  answered.Type("\n");  // an empty reply is No
  Outcome outcome = answered.Finish();
  EXPECT_EQ(outcome.exit_code, 1) << outcome.err;
  EXPECT_FALSE(fs::exists(tree_ + "/A.COM"));
  EXPECT_TRUE(fs::exists(tree_ + "/B.COM"));
  ASSERT_FALSE(outcome.Events().empty());
  EXPECT_EQ(outcome.Events().back()["deleted"], 1);
  EXPECT_EQ(outcome.err, "");

  Put("A.COM", "eicar.com");
  Quarnscan interrupted(asking, {}, Quarnscan::Terminal::kPseudo);
  ASSERT_NE(interrupted.WaitForTerminal("[y/N] "), "");
  interrupted.Interrupt();
  outcome = interrupted.Finish();
  EXPECT_EQ(outcome.exit_code, 130);
  EXPECT_TRUE(fs::exists(tree_ + "/A.COM"));
  const std::vector<json> events = outcome.Events();
  ASSERT_GE(events.size(), 7u);
  EXPECT_EQ(events.back()["event"], "summary");
  EXPECT_EQ(events.back()["deleted"], 0);
  EXPECT_EQ(events.back()["total"], 1);  // the walk stopped before B.COM
  EXPECT_EQ(events[events.size() - 4]["text"], "Files Totali: 1.");
  EXPECT_EQ(events[events.size() - 3]["text"], "Files Cancellati: 0.");
}

// A name already taken stops the rename with a message box: an event, and a captioned line
// on standard error.
TEST_F(QuarnscanCli, RenameTurnsTheThirdCharacterFromTheEndIntoVUnlessThatNameIsTaken) {
  Put("A.COM", "eicar.com");
  Put("B.COM", "eicar.com");
  WriteFile(tree_ + "/B.VOM", "already here");
  Outcome outcome = Scan({"--json", "--action", "rename", "C:"});
  EXPECT_EQ(outcome.exit_code, 1);
  EXPECT_FALSE(fs::exists(tree_ + "/A.COM"));
  EXPECT_EQ(ReadFile(tree_ + "/A.VOM"), Text(SampleNamed("eicar.com").bytes));
  ASSERT_EQ(outcome.EventsOf("action").size(), 2u);
  const json action = outcome.EventsOf("action")[0];
  EXPECT_EQ(action["action"], "rename");
  EXPECT_EQ(action["ok"], true);
  EXPECT_EQ(action["path"], "C:\\A.COM");
  EXPECT_EQ(action["new_path"], "C:\\A.VOM");
  EXPECT_EQ(outcome.Events().back()["renamed"], 1);

  ASSERT_EQ(outcome.EventsOf("message").size(), 1u);
  EXPECT_EQ(outcome.EventsOf("message")[0],
            json({{"event", "message"},
                  {"caption", "Errore"},
                  {"text", "Impossibile RINOMINARE il file C:\\B.COM"}}));
  EXPECT_NE(outcome.err.find("Errore: Impossibile RINOMINARE il file C:\\B.COM\n"),
            std::string::npos)
      << outcome.err;
  EXPECT_EQ(ReadFile(tree_ + "/B.VOM"), "already here");
  EXPECT_TRUE(fs::exists(tree_ + "/B.COM"));
}

// ---------------------------------------------------------------- settings, data, log

TEST_F(QuarnscanCli, OptionsOfTheRunAreNeverWrittenBackButStoredOnesApply) {
  Put("EICAR.COM", "eicar.com");
  // The numbers as the program writes them, and as a person types them.
  for (const char* lingua : {"hex:01,00,00,00", "dword:00000001"}) {
    const std::string stored =
        "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\QuarnExp]\r\n"
        "\"Opzioni\"=hex:00,00,01,00\r\n\"Lingua\"=" +
        std::string(lingua) + "\r\n";
    WriteFile(settings_, stored);
    Outcome english = Scan({"C:"});
    ASSERT_GE(english.Lines().size(), 3u) << lingua;
    EXPECT_EQ(english.Lines()[2], "C:\\EICAR.COM Infect of EICAR-Test-File") << lingua;
    Outcome italian = Scan({"--lang", "it", "--files", "all", "--action", "rename-ask",
                            "--heuristics", "off", "--no", "C:"});
    ASSERT_GE(italian.Lines().size(), 3u) << lingua;
    EXPECT_EQ(italian.Lines()[2], "C:\\EICAR.COM Infetto da EICAR-Test-File") << lingua;
    EXPECT_EQ(ReadFile(settings_), stored) << lingua;
  }
}

TEST_F(QuarnscanCli, WhatKeepsTheScanFromRunningEndsWithStatusTwo) {
  Put("EICAR.COM", "eicar.com");
  const std::string empty_data = scratch_.Child("empty");
  fs::create_directories(empty_data);
  Outcome no_database = Scan({"--json", "--data-dir", empty_data, "C:"});
  EXPECT_EQ(no_database.exit_code, 2);
  EXPECT_NE(no_database.err.find("Errore: QUARN.DAT non trovato"), std::string::npos)
      << no_database.err;
  ASSERT_EQ(no_database.Events().size(), 1u);  // the message, and no summary
  EXPECT_EQ(no_database.Events()[0]["event"], "message");

  WriteFile(settings_, "not a settings store\n");
  Outcome bad_settings = Scan({"C:"});
  EXPECT_EQ(bad_settings.exit_code, 2);
  EXPECT_NE(bad_settings.err.find(settings_), std::string::npos) << bad_settings.err;
  EXPECT_EQ(bad_settings.out, "");
}

// Writes the shipped database into `folder` with its version or its year moved by `change`.
void WriteShippedDatabaseChanged(const std::string& folder, int version_change, int year_change) {
  std::unique_ptr<FileSystem> files = OpenPosixFileSystem();
  Result<DatabasePair> shipped = ReadDatabasePair(*files, QUARN_DATA_DIR);
  ASSERT_TRUE(shipped.ok()) << shipped.message();
  std::vector<std::string> notes;
  DatabaseContent content = DecompileDatabase(shipped->signatures, shipped->names, &notes);
  content.version = static_cast<uint8_t>(content.version + version_change);
  content.year = static_cast<uint16_t>(content.year + year_change);
  Result<DatabaseFiles> changed = CompileDatabase(content);
  ASSERT_TRUE(changed.ok()) << changed.message();
  ASSERT_TRUE(WriteDatabasePair(*files, folder, *changed).ok());
}

TEST_F(QuarnscanCli, ANewerBundledDatabaseReplacesTheUserCopyAtStart) {
  Put("EICAR.COM", "eicar.com");
  const std::string xdg = scratch_.Child("xdg");
  const std::string user_data = xdg + "/quarnexp";
  const std::string bundled = ReadFile(std::string(QUARN_DATA_DIR) + "/QUARN.DAT");
  const std::map<std::string, std::string> environment = {{"XDG_DATA_HOME", xdg},
                                                          {"QUARN_SETTINGS", settings_}};
  auto scan = [&] { return Quarnscan({"--drive", "C:=" + tree_, "C:"}, environment).Finish(); };
  auto version = [&] { return Quarnscan({"--version"}, environment).Finish().out; };
  ASSERT_EQ(scan().exit_code, 1);

  // The copy a year older: --version names it and the bundle that replaces it, the next scan
  // replaces it and keeps the log beside it.
  WriteShippedDatabaseChanged(user_data, 0, -1);
  const std::string pending = version();
  EXPECT_NE(pending.find("(" + user_data + "); replaced at the next start by database"),
            std::string::npos)
      << pending;
  EXPECT_EQ(scan().exit_code, 1);
  EXPECT_TRUE(ReadFile(user_data + "/QUARN.DAT") == bundled);
  const std::string log = ReadFile(user_data + "/QUARNEXP.LOG");
  EXPECT_NE(log.find("EICAR-Test-File"), log.rfind("EICAR-Test-File")) << "both scans logged";
  const std::string done = version();
  EXPECT_NE(done.find("(" + user_data + ")\n"), std::string::npos) << done;

  // A copy of a higher version is the user's newer database: it stays.
  WriteShippedDatabaseChanged(user_data, 1, -1);
  const std::string newer = ReadFile(user_data + "/QUARN.DAT");
  EXPECT_EQ(scan().exit_code, 1);
  EXPECT_TRUE(ReadFile(user_data + "/QUARN.DAT") == newer);
}

TEST_F(QuarnscanCli, TheLogIsAppendedInTheDataFolderUnlessNamedElsewhereOrTurnedOff) {
  Put("EICAR.COM", "eicar.com");
  const std::string data = DataCopy("data");
  ASSERT_EQ(Scan({"--data-dir", data, "--log=" + data + "/QUARNEXP.LOG", "C:"}).exit_code, 1);
  ASSERT_EQ(
      Quarnscan({"--settings", settings_, "--drive", "C:=" + tree_, "--data-dir", data, "C:"}, {})
          .Finish()
          .exit_code,
      1);
  const std::string log = ReadFile(data + "/QUARNEXP.LOG");
  EXPECT_EQ(log.rfind("Quarn Explorer 98 Professional Log\r\n\r\n", 0), 0u);
  // Both runs appended to the one in the data folder; the format is the scan log's own test.
  EXPECT_EQ(CountOf(log, std::string("\r\n") + kSeparator + "\r\n"), 2u);
  EXPECT_EQ(CountOf(log, "\r\nC:\\EICAR.COM Infetto da EICAR-Test-File\r\n"), 2u);

  const std::string quiet = DataCopy("quiet");
  EXPECT_EQ(Scan({"--data-dir", quiet, "C:"}).exit_code, 1);  // Scan adds --no-log
  EXPECT_FALSE(fs::exists(quiet + "/QUARNEXP.LOG"));
  const std::string elsewhere = scratch_.Child("elsewhere.log");
  EXPECT_EQ(Scan({"--data-dir", quiet, "--log", elsewhere, "C:"}).exit_code, 1);
  EXPECT_NE(ReadFile(elsewhere).find(kSeparator), std::string::npos);
  EXPECT_FALSE(fs::exists(quiet + "/QUARNEXP.LOG"));
}

// A log that cannot be written is told once and the scan goes on. Something of the log's
// name that is no file is named by what it is, never by the "File exists" of the create that
// follows the failed open.
TEST_F(QuarnscanCli, ALogThatCannotBeWrittenIsToldOnceByWhatItIsAndTheScanGoesOn) {
  Put("EICAR.COM", "eicar.com");
  Put("SUB/EICAR.COM", "eicar.com");
  const std::string fifo = scratch_.Child("log.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string folder = scratch_.Child("logs");
  fs::create_directories(folder);
  const std::string missing = scratch_.Child("no/such/folder");
  const struct {
    std::string log;
    std::string says;
  } cases[] = {
      {missing + "/scan.log", "quarnscan: cannot open folder " + missing + ": No such file"},
      {fifo, "quarnscan: cannot open " + fifo + ": is a FIFO, not a regular file"},
      {"/dev/full", "quarnscan: cannot open /dev/full: is a character device, not a regular file"},
      {folder + "/", "quarnscan: cannot open " + folder + ": is a folder, not a regular file"},
  };
  for (const auto& c : cases) {
    Outcome outcome = Scan({"--log", c.log, "C:"});
    EXPECT_EQ(outcome.exit_code, 1) << c.log;
    EXPECT_EQ(CountOf(outcome.err, "\n"), 1u) << outcome.err;
    EXPECT_NE(outcome.err.find(c.says), std::string::npos) << outcome.err;
    EXPECT_EQ(outcome.err.find("exists"), std::string::npos) << outcome.err;
    EXPECT_EQ(CountOf(outcome.out, "Infetto da EICAR-Test-File"), 2u) << c.log;
    EXPECT_NE(outcome.out.find("\nFiles Totali: 2.\n"), std::string::npos) << c.log;
  }
}

// ---------------------------------------------------------------- standard output

TEST_F(QuarnscanCli, StandardOutputThatCannotBeWrittenEndsTheRunWithStatusTwo) {
  Put("EICAR.COM", "eicar.com");
  const struct {
    const char* what;
    StandardOutput output;
    std::string cause;
  } cases[] = {
      {"a full disk", {.file = "/dev/full"}, "No space left on device"},
      {"a pipe whose reader has gone", {.reader_gone = true, .file = ""}, "Broken pipe"},
  };
  for (const auto& c : cases) {
    Outcome outcome = Scan({"--json", "C:"}, {}, c.output);
    EXPECT_EQ(outcome.exit_code, 2) << c.what << "\n" << outcome.err;
    EXPECT_EQ(CountOf(outcome.err, "quarnscan: cannot write standard output: " + c.cause + "\n"),
              1u)
        << c.what << "\n"
        << outcome.err;
  }
}

// A Ctrl-C that lands while a full pipe holds up a write interrupts that write; the event
// must still go out whole, and so must every one after it.
TEST_F(QuarnscanCli, CtrlCWhileStandardOutputIsFullLosesNoEvent) {
  constexpr int kFiles = 1500;
  const std::string eicar = Text(SampleNamed("eicar.com").bytes);
  for (int file = 0; file < kFiles; ++file) {
    WriteFile(tree_ + "/" + std::string(60, 'N') + std::to_string(file) + ".COM", eicar);
  }
  Quarnscan scan(WithFixture({"--json", "C:"}), {});
  ASSERT_TRUE(scan.WaitUntilOutputIsFull());
  scan.InterruptMainThread();
  // Nothing is read until the signal has landed: room made at once would let the system
  // finish the write before it looked at the signal, and the write would not be interrupted.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  Outcome outcome = scan.Finish();
  EXPECT_EQ(outcome.exit_code, 130) << outcome.err;
  const std::vector<json> events = outcome.Events();
  ASSERT_FALSE(events.empty());
  ASSERT_EQ(events.back()["event"], "summary");
  const size_t infected = events.back()["infected"].get<size_t>();
  EXPECT_GT(infected, 0u);
  EXPECT_EQ(outcome.EventsOf("detection").size(), infected);
  size_t infected_lines = 0;
  for (const json& line : outcome.EventsOf("line")) {
    if (line["text"].get<std::string>().find(" Infetto da ") != std::string::npos) {
      ++infected_lines;
    }
  }
  EXPECT_EQ(infected_lines, infected);
}

// A 1.44 MB floppy image whose boot sector is a plain jump, blanks and the signature.
std::string CleanFloppyImage() {
  std::string image(1474560, '\0');
  image[0] = '\xEB';
  image[1] = '\x3C';
  image[2] = '\x90';
  image[510] = '\x55';
  image[511] = '\xAA';
  return image;
}

// An image that cannot be used is said so, with status 2, and the other targets are still
// scanned; a FIFO in place of an image is refused without waiting for a writer, and a floppy
// drive without a disk is not told as a write-protected one.
TEST_F(QuarnscanCli, ImagesThatCannotBeReadAreSaidSo) {
  Put("EICAR.COM", "eicar.com");
  const std::string fifo = scratch_.Child("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string tiny = scratch_.Child("tiny.img");
  WriteFile(tiny, std::string(100, '\xF6'));
  const std::string missing = scratch_.Child("none.img");
  const struct {
    const char* what;
    std::vector<std::string> arguments;
    std::string says;
  } cases[] = {
      {"a missing disk image", {"--disk", "0=" + missing}, "Non trovato: " + missing + "\n"},
      {"a disk image shorter than a sector",
       {"--disk", "0=" + tiny},
       "quarnscan: cannot use " + tiny + ": holds 100 bytes, less than one sector of 512\n"},
      {"a FIFO as a disk image",
       {"--disk", "0=" + fifo},
       "quarnscan: cannot open " + fifo + ": is a FIFO, not a disk image or a block device\n"},
      {"a FIFO as the memory image",
       {"--memory-image", fifo},
       "quarnscan: cannot open " + fifo + ": is a FIFO, not a memory image (a regular file)\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> arguments = c.arguments;
    arguments.insert(arguments.end(), {"A:", "C:"});
    Outcome outcome = Scan(arguments);
    EXPECT_EQ(outcome.exit_code, 2) << c.what << "\n" << outcome.err;
    EXPECT_NE(outcome.err.find(c.says), std::string::npos) << c.what << "\n" << outcome.err;
    EXPECT_EQ(outcome.out.find("BOOT SECTOR: OK"), std::string::npos) << c.what;
    EXPECT_NE(outcome.out.find("C:\\EICAR.COM Infetto da"), std::string::npos) << c.what;
  }
  // The boot check of the short image cannot read its sector, rather than find it clean.
  Outcome short_image = Scan({"--disk", "0=" + tiny, "A:"});
  EXPECT_NE(short_image.err.find("Attenzione: Impossibile leggere il Boot Sector."),
            std::string::npos)
      << short_image.err;

  Outcome no_disk = Quarnscan({"--settings", settings_, "--floppy-fix", "b:"}, {}).Finish();
  EXPECT_EQ(no_disk.exit_code, 2);
  EXPECT_EQ(no_disk.err, "Errore: Nessun disco \xC3\xA8 associato all'unit\xC3\xA0 B:\n");
}

TEST_F(QuarnscanCli, FloppyFixWritesANewBootSectorKeepingTheSerialNumber) {
  std::string old_sector = CleanFloppyImage();
  old_sector[0x26] = '\x29';
  old_sector.replace(0x27, 4, "\x11\x22\x33\x44");
  const std::string image = scratch_.Child("fix.img");
  WriteFile(image, old_sector);
  Outcome fixed = Quarnscan({"--settings", settings_, "--disk", "0=" + image, "--floppy-fix",
                             "a:", "--format", "720K"},
                            {})
                      .Finish();
  EXPECT_EQ(fixed.exit_code, 0) << fixed.err;
  EXPECT_NE(fixed.err.find("Il Boot Sector e' stato riscritto."), std::string::npos) << fixed.err;
  const std::string written = ReadFile(image);
  ASSERT_EQ(written.size(), 1474560u) << "the image keeps its size";
  EXPECT_EQ(written.substr(0x0B, 2), std::string("\x00\x02", 2)) << "512 bytes per sector";
  EXPECT_EQ(static_cast<uint8_t>(written[0x15]), 0xF9) << "the 720K media byte";
  EXPECT_EQ(written.substr(0x27, 4), "\x11\x22\x33\x44") << "the serial number is kept";
  EXPECT_EQ(written.substr(0x1FE, 2), "\x55\xAA");

  Outcome nothing = Quarnscan({"--settings", settings_}, {}).Finish();
  EXPECT_EQ(nothing.exit_code, 2) << "without --floppy-fix a target is needed";
}

// The shipped system-area families, end to end: the images samplegen writes, the default
// database, and quarnscan's --disk and --memory-image.
class QuarnscanSystemAreas : public QuarnscanCli {
 protected:
  std::string PutImage(const std::string& name) {
    for (const samples::SystemAreaSample& sample : samples::BuildSystemAreaSamples()) {
      if (sample.name != name) continue;
      const std::string path = scratch_.Child(name);
      WriteFile(path, Text(sample.bytes));
      return path;
    }
    ADD_FAILURE() << "no image " << name;
    return {};
  }
  static std::string CleanedImage(const std::string& name) {
    for (const samples::SystemAreaSample& sample : samples::BuildSystemAreaSamples()) {
      if (sample.name == name && sample.cleaned) return Text(*sample.cleaned);
    }
    return {};
  }
};

TEST_F(QuarnscanSystemAreas, ABootVirusOnAFloppyIsReportedThenRemoved) {
  const std::string image = PutImage("floppy-boot-infected.img");
  const std::string infected = ReadFile(image);

  Outcome reported = Scan({"--disk", "0=" + image, "A:"});
  EXPECT_EQ(reported.exit_code, 1) << reported.err;
  std::vector<std::string> lines = reported.Lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "[A:]");
  EXPECT_EQ(lines[1], "BOOT SECTOR:  Infetto da QTF.Boot");
  EXPECT_EQ(lines[2], " ");
  EXPECT_EQ(ReadFile(image), infected) << "reporting writes nothing";

  // Answering No to the removal question keeps the disk as it is.
  Outcome declined = Scan({"--action", "clean-ask", "--no", "--disk", "0=" + image, "A:"});
  EXPECT_EQ(CountOf(declined.out, "RIMOSSO"), 0u) << declined.out;
  EXPECT_EQ(ReadFile(image), infected);

  Outcome removed = Scan({"--action", "clean", "--disk", "0=" + image, "A:"});
  EXPECT_EQ(removed.exit_code, 1) << removed.err;
  lines = removed.Lines();
  ASSERT_GE(lines.size(), 7u);
  EXPECT_EQ(
      std::vector<std::string>(lines.begin(), lines.begin() + 7),
      (std::vector<std::string>{"[A:]", "BOOT SECTOR:  Infetto da QTF.Boot",
                                " * * *  RIMOSSO  * * *", "[A:]", "BOOT SECTOR: OK", " ", " "}))
      << "the check runs once more after the removal";
  EXPECT_EQ(ReadFile(image), CleanedImage("floppy-boot-infected.img"))
      << "the original boot sector is back and nothing else changed";
}

// The floppy family's boot sector as the first partition's boot sector of a hard disk, where
// the removal is tried and cannot work: each verdict one event, the removal's with its outcome.
TEST_F(QuarnscanSystemAreas, EachBootAreaVerdictIsOneEventCarryingTheRemovalTried) {
  std::string disk(2 * 63 * 512, '\0');
  disk.replace(63 * 512, 512, ReadFile(PutImage("floppy-boot-infected.img")).substr(0, 512));
  const std::string hard_disk = scratch_.Child("hard-disk-boot-infected.img");
  WriteFile(hard_disk, disk);
  Outcome outcome = Scan({"--json", "--action", "clean", "--disk", "0x80=" + hard_disk, "C:"});
  EXPECT_EQ(outcome.exit_code, 1) << outcome.err;
  std::vector<json> verdicts;
  for (const json& boot : outcome.EventsOf("boot")) {
    json verdict = {{"area", boot["area"]}, {"virus_id", boot["virus_id"]}};
    if (boot.contains("removed")) verdict["removed"] = boot["removed"];
    verdicts.push_back(verdict);
  }
  EXPECT_EQ(verdicts,
            (std::vector<json>{{{"area", "mbr"}, {"virus_id", 0}},
                               {{"area", "boot"}, {"virus_id", 970}, {"removed", false}}}))
      << outcome.out;
}

TEST_F(QuarnscanSystemAreas, MasterBootRecordFamiliesAreFoundOnAMappedHardDisk) {
  for (const auto& [name, virus] :
       {std::pair<std::string, std::string>{"hard-disk-mbr-pattern.img", "QTF.Mbr"},
        std::pair<std::string, std::string>{"hard-disk-mbr-sequence.img", "QTF.MbrSequence"}}) {
    const std::string image = PutImage(name);
    const std::string before = ReadFile(image);
    Outcome outcome = Scan({"--action", "clean", "--disk", "0x80=" + image, "C:"});
    EXPECT_EQ(outcome.exit_code, 1) << name << outcome.err;
    const std::vector<std::string> lines = outcome.Lines();
    ASSERT_GE(lines.size(), 4u) << name;
    EXPECT_EQ(lines[0], "[C:]");
    EXPECT_EQ(lines[1], "MASTER BOOT RECORD:  Infetto da " + virus) << name;
    EXPECT_EQ(lines[2], "BOOT SECTOR: OK") << "cylinder 0, head 1 holds a clean boot sector";
    EXPECT_EQ(lines[3], " ");
    EXPECT_EQ(ReadFile(image), before) << "a hard disk is never written";
  }
}

TEST_F(QuarnscanSystemAreas, AVirusActiveInMemoryEndsTheRunAfterTheAlert) {
  const std::string memory = PutImage("memory-infected.img");
  Outcome plain = Scan({"--memory-image", memory, "C:"});
  EXPECT_EQ(plain.exit_code, 1);
  EXPECT_EQ(plain.Lines(), (std::vector<std::string>{"SCANSIONE DELLA MEMORIA",
                                                     "VIRUS ATTIVO IN MEMORIA: QTF.Memory"}))
      << "nothing is scanned after the alert";
  EXPECT_NE(plain.err.find("IL VIRUS QTF.Memory E' STATO INDIVIDUATO ATTIVO IN MEMORIA."),
            std::string::npos)
      << plain.err;

  Outcome events = Scan({"--json", "--memory-image", memory, "C:"});
  const std::vector<json> verdicts = events.EventsOf("memory");
  ASSERT_EQ(verdicts.size(), 1u);
  EXPECT_EQ(verdicts[0]["virus_id"], 973);
  EXPECT_EQ(verdicts[0]["name"], "QTF.Memory");
  const json summary = events.Events().back();
  EXPECT_EQ(summary["event"], "summary");
  EXPECT_EQ(summary["scanned"], 0);
  EXPECT_EQ(summary["infected"], 0);
}

}  // namespace
}  // namespace quarn
