#include "cli/terminal_interface.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace quarn {
namespace {

// A stream in memory whose text can be read back at any time.
class MemoryStream {
 public:
  MemoryStream() : stream_(open_memstream(&buffer_, &size_)) {}
  ~MemoryStream() {
    std::fclose(stream_);
    std::free(buffer_);
  }
  std::FILE* get() { return stream_; }
  std::string Text() {
    std::fflush(stream_);
    return std::string(buffer_, size_);
  }

 private:
  char* buffer_ = nullptr;
  size_t size_ = 0;
  std::FILE* stream_;
};

class RecordingOutput : public ScanOutput {
 public:
  void AddResultLine(const ResultLine& line) override { lines.push_back(line.text); }
  void AddMessage(std::string_view caption, std::string_view text) override {
    messages.push_back(std::string(caption) + "|" + std::string(text));
  }
  void AddSummary(const ScanCounters&) override {}
  std::vector<std::string> lines;
  std::vector<std::string> messages;
};

TEST(ReplyMeansYes, OnlyYesInEitherLanguage) {
  for (const char* yes : {"y", "Y", "yes", "YES", " y ", "s", "si", "S\xC3\xAC", "s\xC3\xAC\r"}) {
    EXPECT_TRUE(ReplyMeansYes(yes)) << yes;
  }
  for (const char* no : {"", " ", "n", "no", "yy", "yes please", "1", "oui"}) {
    EXPECT_FALSE(ReplyMeansYes(no)) << no;
  }
}

TEST(TerminalQuestions, FixedAnswerOrAStopAnswersWithoutAsking) {
  ControllingTerminal terminal;  // never opened by these questions
  TerminalQuestions yes(true, terminal, [] { return true; });
  TerminalQuestions no(false, terminal, [] { return false; });
  TerminalQuestions stopped(std::nullopt, terminal, [] { return true; });
  EXPECT_TRUE(yes.Ask("Cancellazione", "Cancellare il file C:\\A.COM"));
  EXPECT_FALSE(no.Ask("Cancellazione", "Cancellare il file C:\\A.COM"));
  EXPECT_FALSE(stopped.Ask("Cancellazione", "Cancellare il file C:\\A.COM"));
}

TEST(TerminalInterface, MessagesGoToStandardErrorSafelyAndToTheOutput) {
  MemoryStream err;
  RecordingOutput output;
  ControllingTerminal terminal;
  TerminalQuestions questions(false, terminal, {});
  ProgressLine progress(err.get(), /*enabled=*/false, 80);
  TerminalInterface ui(output, questions, progress, err.get());
  ui.ShowMessage("Errore", "Impossibile CANCELLARE il file C:\\A\x1b[2J.COM");
  EXPECT_EQ(err.Text(), "Errore: Impossibile CANCELLARE il file C:\\A?[2J.COM\n");
  // The output has the text as the core sent it: the JSON form escapes it on its own.
  EXPECT_EQ(output.messages,
            (std::vector<std::string>{"Errore|Impossibile CANCELLARE il file C:\\A\x1b[2J.COM"}));
  ResultLine line;
  line.text = "[C:]";
  ui.AddResultLine(line);
  EXPECT_EQ(output.lines, (std::vector<std::string>{"[C:]"}));
}

TEST(TerminalInterface, ProgressLineShowsCountAndFolderAndIsClearedBeforeOutput) {
  MemoryStream err;
  RecordingOutput output;
  ControllingTerminal terminal;
  TerminalQuestions questions(false, terminal, {});
  ProgressLine progress(err.get(), /*enabled=*/true, 40);
  TerminalInterface ui(output, questions, progress, err.get());
  ui.EnterFolder("C:\\DOS");
  ui.SetStatusText(StatusPart::kTotal, "File Totali: 1");
  EXPECT_EQ(err.Text(), "\r  C:\\DOS\x1b[K");  // drawn at once, before any count
  ui.ShowMessage("Errore", "x");
  EXPECT_EQ(err.Text(),
            "\r  C:\\DOS\x1b[K\r\x1b[K"
            "Errore: x\n");
  ui.SetStatusText(StatusPart::kTotal, "File Totali: 2");  // right after a clear: drawn
  EXPECT_EQ(err.Text().substr(err.Text().rfind('\r')), "\rFile Totali: 2  C:\\DOS\x1b[K");
  ui.ScanFinished(ScanCounters{});
  EXPECT_EQ(err.Text().substr(err.Text().size() - 4), "\r\x1b[K");
}

TEST(ProgressLine, ComposedTextIsSafeAndNeverWraps) {
  EXPECT_EQ(ProgressLine::Compose("File Totali: 12", "C:\\DOS", 80), "File Totali: 12  C:\\DOS");
  EXPECT_EQ(ProgressLine::Compose("File Totali: 12", "C:\\A\nB", 80), "File Totali: 12  C:\\A?B");
  EXPECT_EQ(ProgressLine::Compose("File Totali: 12", "C:\\DOS", 16), "File Totali: 12");
  EXPECT_EQ(ProgressLine::Compose("File Totali: 12", "C:\\DOS\\D1\\D2\\D3", 29),
            "File Totali: 12  ...D1\\D2\\D3");
  EXPECT_EQ(ProgressLine::Compose("File Totali: 1234567", "C:\\DOS", 10), "File Tota");
  // Wide characters take two columns each: the folder is cut by what the terminal draws.
  const std::string wide_folder =
      "C:\\\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\\\xE8\xB3\x87\xE6\x96\x99";
  EXPECT_EQ(ProgressLine::Compose("File Totali: 12", wide_folder, 29),
            "File Totali: 12  ..." + wide_folder.substr(9));
  EXPECT_EQ(ProgressLine::Compose("", "", 80), "");
}

}  // namespace
}  // namespace quarn
