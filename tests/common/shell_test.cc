#include "common/shell.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "support/command_output.h"
#include "support/file_text.h"
#include "support/temp_dir.h"

namespace lumora {

namespace {

std::string quote(std::string_view word) {
  char out[1024];
  EXPECT_TRUE(shell_quote(word, out, sizeof out));
  return out;
}

// What /bin/sh makes of `printf '%s' WORD`.
std::string shell_echo(const std::string& quoted) {
  return lumora::testing::command_output("printf '%s' " + quoted);
}

TEST(ShellQuote, PlainWordsStayAsTheyAre) {
  for (const char* word : {"", "abc", "10.0.0.5", "A-Z_0-9", "k=v,w:x/y+z@h%"}) {
    EXPECT_TRUE(is_plain_shell_word(word)) << word;
    EXPECT_EQ(quote(word), word);
  }
}

TEST(ShellQuote, EverythingElseIsSingleQuoted) {
  EXPECT_EQ(quote("a b"), "'a b'");
  EXPECT_EQ(quote("'"), "''\\'''");
  EXPECT_EQ(quote("$(reboot)"), "'$(reboot)'");
  EXPECT_EQ(quote("\xc3\xa9"), "'\xc3\xa9'");
}

TEST(ShellQuote, RefusesWhatDoesNotFit) {
  char out[8];
  EXPECT_TRUE(shell_quote("abcdefg", out, sizeof out));
  EXPECT_FALSE(shell_quote("abcdefgh", out, sizeof out));
  EXPECT_STREQ(out, "");
  EXPECT_FALSE(shell_quote("a b c d", out, sizeof out));  // 9 bytes quoted
  EXPECT_STREQ(out, "");
}

TEST(ShellQuote, TheShellGetsBackTheExactBytes) {
  std::mt19937 random(20261209);
  std::uniform_int_distribution<int> byte(1, 255);
  std::uniform_int_distribution<int> length(0, 40);
  for (int round = 0; round < 150; ++round) {
    std::string word;
    for (int n = length(random); n > 0; --n) {
      const char c = static_cast<char>(byte(random));
      if (c != '\n') word += c;
    }
    EXPECT_EQ(shell_echo(quote(word)), word) << "round " << round;
  }
  for (const char* word : {"'", "''", "a'b", "\\", "$HOME", "`id`", "*", "-n", "!x", "\t"}) {
    EXPECT_EQ(shell_echo(quote(word)), word) << word;
  }
}

// The pipelines see every byte as a character whatever the caller's locale: a line with a
// byte that is no UTF-8 is matched by "." under a UTF-8 LC_ALL as under C.
TEST(RunPipeline, RunsWithTheCLocaleWhateverTheCallers) {
  testing::TempDir dir;
  const std::string input = dir.write("input", "log=/tmp/\xff.log , 1 , w\n");
  const std::string output = dir.path() + "/output";
  const char* const saved = std::getenv("LC_ALL");
  const std::string restore = saved != nullptr ? saved : "";
  ASSERT_EQ(::setenv("LC_ALL", "C.UTF-8", 1), 0);
  const std::string command = "sed 's/^log=.*//' " + input + " > " + output +
                              " && test \"$LC_ALL\" = C";
  const int status = run_pipeline(command.c_str());
  if (saved != nullptr) {
    ::setenv("LC_ALL", restore.c_str(), 1);
  } else {
    ::unsetenv("LC_ALL");
  }
  EXPECT_EQ(status, 0);
  EXPECT_EQ(testing::read_whole_file(output), "\n");
  EXPECT_EQ(run_pipeline("exit 3"), 3);
  EXPECT_EQ(run_pipeline("kill -9 $$"), -1);
}

}  // namespace

}  // namespace lumora
