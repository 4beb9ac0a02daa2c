#include "registry/remove_devices.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

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

TEST(FormatRemoveCommand, IsTheRemovePipelineAndRefusesOverlongNames) {
  char command[512];
  ASSERT_TRUE(format_remove_command("/tmp/lumsane_tempfile5_AbC123", "office",
                                    "/etc/opt/kelvane/scanner/lumora//new", command, sizeof command));
  EXPECT_STREQ(command,
               "cat /tmp/lumsane_tempfile5_AbC123 | sed s/'DEVICE=office .*$'// | uniq > "
               "/etc/opt/kelvane/scanner/lumora//new");
  const std::string long_name(480, 'n');
  EXPECT_FALSE(format_remove_command("/tmp/s", long_name.c_str(), "/etc/opt/x", command,
                                     sizeof command));
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

}  // namespace
}  // namespace lumora
