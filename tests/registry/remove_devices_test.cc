#include "registry/remove_devices.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "registry/config_writer.h"
#include "support/command_output.h"
#include "support/temp_dir.h"

namespace lumora {
namespace {

using lumora::testing::TempDir;

std::string escaped(std::string_view name) {
  char out[512];
  return escape_remove_word(name, out, sizeof out) ? std::string(out) : "<refused>";
}

TEST(EscapeRemoveWord, EscapesForSedAndTheQuotedShellWord) {
  const std::pair<const char*, const char*> cases[] = {
      {"office", "office"},
      {"\"MODEL-X\"", "\"MODEL-X\""},
      {"a/b", "a\\/b"},
      {".*", "\\.\\*"},
      {"[x]", "\\[x\\]"},
      {"^a$", "\\^a\\$"},
      {"back\\slash", "back\\\\slash"},
      {"it's", "it'\\''s"},
      {"$(id)", "\\$(id)"},
      {"", "<refused>"},
      {"a b", "<refused>"},
      {"a\tb", "<refused>"},
      {"a\nb", "<refused>"},
  };
  for (const auto& [name, expected] : cases) EXPECT_EQ(escaped(name), expected) << name;
}

TEST(EscapeRemoveWord, RefusesWhatDoesNotFit) {
  char out[8];
  EXPECT_TRUE(escape_remove_word("abcdefg", out, sizeof out));
  EXPECT_FALSE(escape_remove_word("abcdef.", out, sizeof out));
  EXPECT_STREQ(out, "");
}

TEST(FormatRemoveCommand, IsOnePipelineWithASubstitutionPerName) {
  char command[1024];
  ASSERT_TRUE(format_remove_command("/tmp/lumsane_tempfile5_AbC123", "office",
                                    "/etc/opt/kelvane/scanner/lumora//new", command, sizeof command));
  EXPECT_STREQ(command,
               "cat /tmp/lumsane_tempfile5_AbC123 | sed -e s/'^DEVICE=office .*$'// | uniq > "
               "/etc/opt/kelvane/scanner/lumora//new");
  const char* const names[] = {"a", "", "it's", "b c", "x.y"};
  ASSERT_TRUE(format_remove_command("/tmp/s", names, "/etc/opt/new", command, sizeof command));
  EXPECT_STREQ(command,
               "cat /tmp/s | sed -e s/'^DEVICE=a .*$'// -e s/'^DEVICE=it'\\''s .*$'// "
               "-e s/'^DEVICE=x\\.y .*$'// | uniq > /etc/opt/new");
}

TEST(FormatRemoveCommand, PassesOverNamesTooLongForACommandOfTheirOwn) {
  char command[4096];
  // The pipeline of one name must fit 512 bytes with its terminator: 58 of them go to the
  // fixed parts and the two paths here.
  const std::string fits(453, 'n');
  const std::string too_long(454, 'n');
  EXPECT_TRUE(format_remove_command("/tmp/s", fits.c_str(), "/etc/opt/x", command, sizeof command));
  EXPECT_EQ(std::strlen(command), 511u);
  EXPECT_FALSE(format_remove_command("/tmp/s", too_long.c_str(), "/etc/opt/x", command, sizeof command));
  const char* const names[] = {too_long.c_str(), "b"};
  ASSERT_TRUE(format_remove_command("/tmp/s", names, "/etc/opt/x", command, sizeof command));
  EXPECT_STREQ(command, "cat /tmp/s | sed -e s/'^DEVICE=b .*$'// | uniq > /etc/opt/x");
  const char* const nothing_left[] = {"", "a b", too_long.c_str()};
  EXPECT_FALSE(format_remove_command("/tmp/s", nothing_left, "/etc/opt/x", command, sizeof command));
}

TEST(FormatRemoveCommand, ManyNamesThatDoNotFitTogetherFormNoCommand) {
  std::vector<std::string> words;
  for (int i = 0; i < 10; ++i) words.push_back("name" + std::to_string(i));
  std::vector<const char*> names;
  for (const auto& word : words) names.push_back(word.c_str());
  char command[256];
  EXPECT_FALSE(format_remove_command("/tmp/s", names, "/etc/opt/x", command, sizeof command));
  names.resize(4);
  EXPECT_TRUE(format_remove_command("/tmp/s", names, "/etc/opt/x", command, sizeof command));
}

// Runs the remove pipeline's sed, as the shell receives it, over lines and returns the output.
std::string run_sed(const TempDir& dir, const std::string& name, const std::string& input) {
  const std::string in = dir.write("in.cfg", input);
  char command[512];
  if (!format_remove_command(in.c_str(), name.c_str(), (dir.path() + "/out.cfg").c_str(), command,
                             sizeof command)) {
    return "<refused>";
  }
  return lumora::testing::command_output("LC_ALL=C; export LC_ALL; " + std::string(command) +
                                         " && cat " + dir.path() + "/out.cfg");
}

std::string device(const std::string& name) {
  return "DEVICE=" + name + " , \"M\" , Unknown , IP-ADDRESS=10.0.0.1 \n";
}

TEST(EscapeRemoveWord, TheShellAndSedEmptyExactlyTheNamedLine) {
  TempDir dir;
  const std::vector<std::string> others = {"office", "scan", "scanner", "a", "\"MODEL-X\"",
                                           "x.y", "x-y", "log"};
  std::mt19937 random(91);
  std::uniform_int_distribution<int> byte(1, 255);
  std::uniform_int_distribution<int> length(1, 24);
  for (int round = 0; round < 120; ++round) {
    std::string name;
    for (int n = length(random); n > 0; --n) {
      const char c = static_cast<char>(byte(random));
      if (std::string_view(" \t\n\r\v\f").find(c) == std::string_view::npos) name += c;
    }
    if (name.empty()) continue;
    std::string input;
    std::string expected;
    for (std::size_t i = 0; i < others.size(); ++i) {
      if (i == 3) {
        input += device(name);
        expected += "\n";
      }
      input += device(others[i]);
      expected += others[i] == name ? "\n" : device(others[i]);
    }
    EXPECT_EQ(run_sed(dir, name, input), expected) << "round " << round << " name " << name;
  }
}

TEST(EscapeRemoveWord, OnlyLinesThatBeginWithTheDeviceAreEmptied) {
  TempDir dir;
  const std::string kept =
      "DEVICE=victim , \"LX-500\" , Unknown , NODENAME=DEVICE=dev001 \n"
      "# DEVICE=dev001 , \"M\" , Unknown , IP-ADDRESS=10.0.0.1 \n"
      " DEVICE=dev001 , \"M\" , Unknown , IP-ADDRESS=10.0.0.1 \n"
      "DEVICE=other , \"DEVICE=dev001\" , Unknown , IP-ADDRESS=10.0.0.2 \n";
  EXPECT_EQ(run_sed(dir, "dev001", kept + device("dev001")), kept + "\n");
}

// The remove as it used to run, one pass per name, each pass copying the file as the previous
// one left it: a name that cannot be put into a command changes nothing, not even the
// collapsing of repeated lines.
std::string passes_one_after_another(const TempDir& dir, const std::vector<std::string>& names,
                                     const std::string& input) {
  const std::string work = dir.write("work.cfg", input);
  for (const auto& name : names) {
    char command[512];  // the buffer each pass formed its command in
    const std::string scratch = dir.path() + "/scratch.cfg";
    if (!format_remove_command(scratch.c_str(), name.c_str(), (dir.path() + "/out.cfg").c_str(),
                               command, sizeof command)) {
      continue;
    }
    lumora::testing::command_output("cp " + work + " " + scratch + " && LC_ALL=C; export LC_ALL; " +
                                    command + " && mv " + dir.path() + "/out.cfg " + work);
  }
  return lumora::testing::command_output("cat " + work);
}

std::string one_combined_pass(const TempDir& dir, const std::vector<std::string>& names,
                              const std::string& input) {
  const std::string scratch = dir.write("scratch.cfg", input);
  std::vector<const char*> words;
  for (const auto& name : names) words.push_back(name.c_str());
  std::vector<char> command(kShellCommandSize);
  if (!format_remove_command(scratch.c_str(), words, (dir.path() + "/out.cfg").c_str(),
                             command.data(), command.size())) {
    return input;
  }
  return lumora::testing::command_output("LC_ALL=C; export LC_ALL; " + std::string(command.data()) +
                                         " && cat " + dir.path() + "/out.cfg");
}

// Collapsing runs of equal lines before a per-line edit changes nothing that collapsing after
// it would not, so one sed with every substitution followed by one uniq gives what a uniq
// after each name gave, byte for byte: checked with the real sh, sed and uniq.
TEST(FormatRemoveCommand, OneCombinedPassEqualsThePassesOneAfterAnother) {
  TempDir dir;
  const std::vector<std::string> pool = {"a", "b", "office", "scan", "scanner", "x.y", "x-y",
                                         "it's", "a/b", "^a$", "\"MODEL-X\"", "dev001"};
  std::mt19937 random(1414);
  auto pick = [&](std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
  };
  for (int round = 0; round < 80; ++round) {
    std::string input;
    const std::size_t lines = pick(30);
    for (std::size_t i = 0; i < lines; ++i) {
      const std::string& name = pool[pick(pool.size())];
      std::string line;
      switch (pick(9)) {
        case 0: line = ""; break;
        case 1: line = "# DEVICE=" + name + " note"; break;
        case 2: line = "DEVICE=v , \"M\" , Unknown , NODENAME=DEVICE=" + name + " "; break;
        case 3: line = "log=/tmp/lum_sane.log , 1 , w"; break;
        case 4:
          for (std::size_t n = pick(12); n > 0; --n) line += static_cast<char>(1 + pick(255));
          if (line.find('\n') != std::string::npos) line.clear();
          break;
        default: line = device(name).substr(0, device(name).size() - 1);
      }
      // Runs of equal lines, which uniq collapses.
      for (std::size_t copies = 1 + (pick(4) == 0 ? pick(3) : 0); copies > 0; --copies) {
        input += line + "\n";
      }
    }
    if (!input.empty() && pick(4) == 0) input.pop_back();  // no line feed at the end
    std::vector<std::string> names;
    for (std::size_t n = pick(6); n > 0; --n) {
      switch (pick(8)) {
        case 0: names.emplace_back(""); break;
        case 1: names.emplace_back("a b"); break;
        case 2: names.emplace_back(600, 'n'); break;
        default: names.push_back(pool[pick(pool.size())]);
      }
    }
    EXPECT_EQ(one_combined_pass(dir, names, input), passes_one_after_another(dir, names, input))
        << "round " << round;
  }
}

}  // namespace
}  // namespace lumora
