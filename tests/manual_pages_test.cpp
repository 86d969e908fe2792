// The manual pages and the bash completion against the programs they describe: the long
// options of each page's entries and those the completion offers are exactly the ones the
// program's --help lists (a new option without an entry fails, and so does an entry for a
// removed one); the completion offers the fixed values --help lists for an option; and
// quarnd.conf(5) names exactly the options the daemon's parser applies.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "daemon/daemon_config.h"
#include "platform/child_process.h"

namespace quarn {
namespace {

namespace fs = std::filesystem;
using Words = std::set<std::string>;

const fs::path kBinFolder = QUARN_BIN_DIR;
const fs::path kManualFolder = fs::path(QUARN_SOURCE_DIR) / "res" / "man";
const fs::path kCompletionFolder = fs::path(QUARN_SOURCE_DIR) / "res" / "completion";
constexpr char kBash[] = "/bin/bash";

struct Program {
  const char* name;
  const char* page;
};

void PrintTo(const Program& program, std::ostream* out) {
  *out << program.name;
}

// Every program has a page; quarnexp, which takes no file or value a shell could offer
// better than its own dialogs, has no completion.
constexpr Program kPaged[] = {{"quarnscan", "quarnscan.1"},
                              {"quarndb", "quarndb.1"},
                              {"quarnd", "quarnd.8"},
                              {"quarnexp", "quarnexp.1"}};
constexpr Program kCompleted[] = {
    {"quarnscan", "quarnscan.1"}, {"quarndb", "quarndb.1"}, {"quarnd", "quarnd.8"}};

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << "cannot read " << path;
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

// What `program` writes on standard output, run without a shell; it must end with status 0.
std::string OutputOf(const std::string& program, const std::vector<std::string>& arguments) {
  ChildLimits limits;
  // The sanitizers' runtime reserves far more address space than the default limit.
  limits.memory_bytes = std::numeric_limits<uint64_t>::max();
  auto child = ChildProcess::Start(program, arguments, nullptr, limits);
  if (!child) {
    ADD_FAILURE() << child.message();
    return "";
  }
  std::string out;
  const Status read = (*child)->ReadAll(out);
  EXPECT_TRUE(read) << read.message();
  EXPECT_EQ((*child)->Wait(), 0) << program << " failed; it wrote:\n" << out;
  return out;
}

// What --help tells, in CLI11's layout: options in the "Options:" block, their fixed values
// as "TEXT:{a,b}" beside them, and the names of the "Subcommands:" block.
struct Help {
  Words long_options;
  std::map<std::string, Words> choices;
  Words subcommands;
};

Words SplitAt(const std::string& text, char separator) {
  Words parts;
  std::istringstream stream(text);
  for (std::string part; std::getline(stream, part, separator);) parts.insert(part);
  return parts;
}

Help ParseHelp(const std::string& text) {
  enum class Block { kOther, kOptions, kSubcommands } block = Block::kOther;
  const std::regex choice_list(R"(:\{([^}]*)\})");
  Help help;
  for (const std::string& line : LinesOf(text)) {
    if (line == "Options:" || line == "Subcommands:") {
      block = line == "Options:" ? Block::kOptions : Block::kSubcommands;
      continue;
    }
    if (line.empty() || line.front() != ' ') {
      block = Block::kOther;
      continue;
    }
    std::istringstream words(line);
    std::string names, type;
    words >> names >> type;
    if (block == Block::kSubcommands) help.subcommands.insert(names);
    // Continuation lines of a description start with a word, not a dash.
    if (block != Block::kOptions || !names.starts_with('-')) continue;
    std::string long_name;
    for (const std::string& name : SplitAt(names, ',')) {
      if (name.starts_with("--")) long_name = name;
    }
    if (long_name.empty()) continue;
    help.long_options.insert(long_name);
    std::smatch values;
    if (std::regex_search(type, values, choice_list)) {
      help.choices[long_name] = SplitAt(values[1], ',');
    }
  }
  return help;
}

// The program's --help, and each subcommand's under its name ("" is the program's own).
std::map<std::string, Help> HelpOf(const std::string& program) {
  const std::string path = (kBinFolder / program).string();
  std::map<std::string, Help> helps;
  helps[""] = ParseHelp(OutputOf(path, {"--help"}));
  for (const std::string& command : helps[""].subcommands) {
    helps[command] = ParseHelp(OutputOf(path, {command, "--help"}));
  }
  return helps;
}

std::string Unquoted(std::string text) {
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
    text = text.substr(1, text.size() - 2);
  }
  return text;
}

// The tag lines (the line after .TP) of a page's `section`, under the name of the subsection
// (.SS) that holds them, "" before the first.
std::map<std::string, std::vector<std::string>> EntryTags(const std::string& roff,
                                                          const std::string& section) {
  std::map<std::string, std::vector<std::string>> tags;
  std::string current_section, subsection;
  bool tag_follows = false;
  for (const std::string& line : LinesOf(roff)) {
    if (line.starts_with(".SH ")) {
      current_section = Unquoted(line.substr(4));
      subsection.clear();
    } else if (line.starts_with(".SS ")) {
      subsection = Unquoted(line.substr(4));
    } else if (tag_follows && current_section == section) {
      tags[subsection].push_back(line);
    }
    tag_follows = line == ".TP";
  }
  return tags;
}

// Roff text with its escaped hyphens (\-) as the hyphens they print.
std::string Hyphenated(const std::string& roff_text) {
  return std::regex_replace(roff_text, std::regex(R"(\\-)"), "-");
}

Words LongOptionsIn(const std::string& roff_text) {
  const std::string text = Hyphenated(roff_text);
  const std::regex long_option("--[a-z0-9][a-z0-9-]*");
  Words options;
  for (std::sregex_iterator it(text.begin(), text.end(), long_option), end; it != end; ++it) {
    options.insert(it->str());
  }
  return options;
}

// The long options a page's entries name, by scope as HelpOf has them: OPTIONS are the
// program's own, and a subsection of COMMANDS ("build -o DIR SOURCE...") its command's.
// Prose that mentions an option, or another program's (as EXAMPLES do), is no entry.
std::map<std::string, Words> PageOptions(const std::string& roff) {
  std::map<std::string, Words> scopes;
  for (const auto& [subsection, tags] : EntryTags(roff, "OPTIONS")) {
    for (const std::string& tag : tags) scopes[""].merge(LongOptionsIn(tag));
  }
  for (const auto& [subsection, tags] : EntryTags(roff, "COMMANDS")) {
    const std::string command = Hyphenated(subsection.substr(0, subsection.find(' ')));
    for (const std::string& tag : tags) scopes[command].merge(LongOptionsIn(tag));
  }
  return scopes;
}

// The words the completion `script` registers for `words[0]` offers when the cursor ends
// `words` (the last being the word under completion), called as bash calls it.
Words Offered(const std::string& script, const std::vector<std::string>& words) {
  static constexpr char kComplete[] = R"(source "$1" || exit 1; shift
registration=$(complete -p "$1") || exit 1
function=${registration#*-F }; function=${function%% *}
COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
"$function" "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
printf '%s\n' "${COMPREPLY[@]}")";
  std::vector<std::string> arguments = {"-c", kComplete, "bash",
                                        (kCompletionFolder / script).string()};
  arguments.insert(arguments.end(), words.begin(), words.end());
  Words offered;
  for (const std::string& word : LinesOf(OutputOf(kBash, arguments))) {
    if (!word.empty()) offered.insert(word);
  }
  return offered;
}

class ManualPage : public testing::TestWithParam<Program> {};
class Completion : public testing::TestWithParam<Program> {};

std::string ProgramName(const testing::TestParamInfo<Program>& info) {
  return info.param.name;
}

TEST_P(ManualPage, EntriesNameTheOptionsOfHelp) {
  const Program& program = GetParam();
  if (!fs::exists(kBinFolder / program.name)) {
    GTEST_SKIP() << program.name << " is not built in this tree";
  }
  std::map<std::string, Words> expected;
  for (const auto& [scope, help] : HelpOf(program.name)) expected[scope] = help.long_options;
  EXPECT_EQ(PageOptions(ReadText(kManualFolder / program.page)), expected)
      << "scopes: \"\" is the program's OPTIONS, others its COMMANDS";
}

TEST_P(Completion, OffersTheOptionsCommandsAndFixedValuesOfHelp) {
  const Program& program = GetParam();
  const std::map<std::string, Help> helps = HelpOf(program.name);
  if (std::string(program.name) == "quarnscan") {
    // So that a help layout this test no longer reads cannot pass for "no fixed values".
    ASSERT_TRUE(helps.at("").choices.contains("--action"));
  }
  for (const auto& [scope, help] : helps) {
    SCOPED_TRACE("after \"" + std::string(program.name) + " " + scope + "\"");
    std::vector<std::string> words = {program.name};
    if (!scope.empty()) words.push_back(scope);
    std::vector<std::string> option_words = words;
    option_words.push_back("--");
    EXPECT_EQ(Offered(program.name, option_words), help.long_options);
    for (const auto& [option, values] : help.choices) {
      std::vector<std::string> value_words = words;
      value_words.insert(value_words.end(), {option, ""});
      EXPECT_EQ(Offered(program.name, value_words), values) << option;
    }
  }
  if (!helps.at("").subcommands.empty()) {
    EXPECT_EQ(Offered(program.name, {program.name, ""}), helps.at("").subcommands);
  }
}

INSTANTIATE_TEST_SUITE_P(Programs, ManualPage, testing::ValuesIn(kPaged), ProgramName);
INSTANTIATE_TEST_SUITE_P(Programs, Completion, testing::ValuesIn(kCompleted), ProgramName);

TEST(ConfigurationPage, NamesTheOptionsTheParserApplies) {
  Words named;
  for (const auto& [subsection, tags] :
       EntryTags(ReadText(kManualFolder / "quarnd.conf.5"), "OPTIONS")) {
    for (const std::string& tag : tags) {
      // ".BI LocalSocket \" PATH\"": the option is the macro's first word.
      std::istringstream words(tag);
      std::string macro, name;
      words >> macro >> name;
      named.insert(name);
    }
  }
  const std::vector<std::string_view> applied = DaemonConfigOptionNames();
  EXPECT_EQ(named, Words(applied.begin(), applied.end()));
}

}  // namespace
}  // namespace quarn
