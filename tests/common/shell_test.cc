#include "common/shell.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "support/command_output.h"

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

}  // namespace

}  // namespace lumora
