#include "common/bounded_text.h"

#include <gtest/gtest.h>

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/param_label.h"

namespace lumora {

namespace {

TEST(BoundedText, CopyCutsAndTerminates) {
  char field[4];
  std::memset(field, 'x', sizeof field);
  EXPECT_TRUE(copy_bounded(field, "abc"));
  EXPECT_STREQ(field, "abc");
  EXPECT_FALSE(copy_bounded(field, "abcd"));
  EXPECT_STREQ(field, "abc");
  EXPECT_TRUE(copy_bounded(field, ""));
  EXPECT_STREQ(field, "");
}

TEST(BoundedText, FormatReportsWhetherTheWholeTextFit) {
  char buffer[8];
  EXPECT_TRUE(format_bounded(buffer, sizeof buffer, "%s-%d", "ab", 1234));
  EXPECT_STREQ(buffer, "ab-1234");
  EXPECT_FALSE(format_bounded(buffer, sizeof buffer, "%s-%d", "ab", 12345));
  EXPECT_STREQ(buffer, "ab-1234");
}

TEST(BoundedText, LengthStopsAtTheFieldEnd) {
  const char field[4] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(bounded_length(field, sizeof field), 4u);
  EXPECT_EQ(bounded_length("ab\0cd", 5), 2u);
}

}  // namespace

namespace {

TEST(BoundedScan, MatchesLiteralsWhitespaceAndConversions) {
  char path[16] = "old";
  std::int32_t level = 7;
  char mode = 'z';
  EXPECT_EQ(bounded_scan("log=/tmp/x.log , 2 , a\n", "log=%s , %d , %c",
                         {scan_text(path), scan_int(level), scan_char(mode)}),
            3);
  EXPECT_STREQ(path, "/tmp/x.log");
  EXPECT_EQ(level, 2);
  EXPECT_EQ(mode, 'a');
}

TEST(BoundedScan, StopsAtTheFirstMismatchKeepingWhatWasStored) {
  char path[16] = "old";
  std::int32_t level = 7;
  char mode = 'z';
  EXPECT_EQ(bounded_scan("log=/var/x.log\n", "log=%s , %d , %c",
                         {scan_text(path), scan_int(level), scan_char(mode)}),
            1);
  EXPECT_STREQ(path, "/var/x.log");
  EXPECT_EQ(level, 7);
  EXPECT_EQ(mode, 'z');
  EXPECT_EQ(bounded_scan(" log=/a", "log=%s", {scan_text(path)}), 0);
  EXPECT_EQ(bounded_scan("log=", "log=%s", {scan_text(path)}), 0);
}

TEST(BoundedScan, CutsLongWordsToTheirFieldAndGoesOn) {
  char first[4] = {};
  char second[8] = {};
  EXPECT_EQ(bounded_scan("abcdefgh , xy", "%s , %s", {scan_text(first), scan_text(second)}), 2);
  EXPECT_STREQ(first, "abc");
  EXPECT_STREQ(second, "xy");
}

TEST(BoundedScan, NumbersTakeSignsPrefixesAndSaturate) {
  std::int32_t value = 0;
  EXPECT_EQ(bounded_scan("-205x", "%d", {scan_int(value)}), 1);
  EXPECT_EQ(value, -205);
  EXPECT_EQ(bounded_scan("99999999999", "%d", {scan_int(value)}), 1);
  EXPECT_EQ(value, INT_MAX);
  EXPECT_EQ(bounded_scan("-99999999999", "%d", {scan_int(value)}), 1);
  EXPECT_EQ(value, INT_MIN);
  value = 5;
  EXPECT_EQ(bounded_scan("x1", "%d", {scan_int(value)}), 0);
  EXPECT_EQ(value, 5);

  std::uint32_t vendor = 1;
  std::uint32_t product = 2;
  EXPECT_EQ(bounded_scan("0x04aB:0x0001", "0x%x:0x%x", {scan_hex(vendor), scan_hex(product)}), 2);
  EXPECT_EQ(vendor, 0x4abu);
  EXPECT_EQ(product, 1u);
  product = 0xFFFF;
  EXPECT_EQ(bounded_scan("0x12:0x", "0x%x:0x%x", {scan_hex(vendor), scan_hex(product)}), 1);
  EXPECT_EQ(vendor, 0x12u);
  EXPECT_EQ(product, 0xFFFFu);
  EXPECT_EQ(bounded_scan("0x123456789abc", "0x%x", {scan_hex(product)}), 1);
  EXPECT_EQ(product, 0xFFFFFFFFu);
}

TEST(BoundedScan, ReadsNoFurtherThanTheText) {
  const char text[] = {'D', 'E', 'V'};  // no terminator
  char word[8] = "keep";
  EXPECT_EQ(bounded_scan(std::string_view(text, sizeof text), "DEVICE=%s", {scan_text(word)}), 0);
  EXPECT_STREQ(word, "keep");
}

TEST(BoundedScan, ANulEndsTheTextWhereverItStands) {
  const std::string text("DEVICE=ab\0cd , x", 17);
  char name[8] = "keep";
  char model[8] = "keep";
  EXPECT_EQ(bounded_scan(text, "DEVICE=%s , %s", {scan_text(name), scan_text(model)}), 1);
  EXPECT_STREQ(name, "ab");
  EXPECT_STREQ(model, "keep");
  std::int32_t number = 7;
  EXPECT_FALSE(scan_decimal(std::string_view("-\0" "5", 3), number));
  EXPECT_EQ(number, 7);
  char word[8] = "keep";
  EXPECT_FALSE(scan_word(std::string_view(" \0x", 3), word, sizeof word));
  EXPECT_STREQ(word, "keep");
}

// The single-field forms read exactly what the pattern forms read.
TEST(BoundedScan, SingleFieldFormsAgreeWithThePatternForms) {
  for (const char* text : {"", " ", "  word rest", "\vword", "12ab", "-7", "+", "-x", " 2147483648",
                           "-99999999999", "\t+0042,", "%"}) {
    SCOPED_TRACE(text);
    char by_pattern[4] = "old";
    char single[4] = "old";
    EXPECT_EQ(bounded_scan(text, "%s", {scan_text(by_pattern)}) == 1,
              scan_word(text, single, sizeof single));
    EXPECT_STREQ(by_pattern, single);
    std::int32_t number_by_pattern = 5;
    std::int32_t single_number = 5;
    EXPECT_EQ(bounded_scan(text, "%d", {scan_int(number_by_pattern)}) == 1,
              scan_decimal(text, single_number));
    EXPECT_EQ(number_by_pattern, single_number);
  }
}

// Where the C library's sscanf is defined (every word fits its field, every number fits an
// int), the scanner must store what sscanf stores and report the same count. Random texts
// from the characters that matter to the line formats, against the patterns they use.
TEST(BoundedScan, AgreesWithSscanfWhereSscanfIsDefined) {
  constexpr char kAlphabet[] = "0123456789abcfxX+-:=,. \t\nDEVIC%";
  const char* const patterns[] = {"%s , %s", "%d", "%x", "0x%x:0x%x", "DEVICE=%s , %d , %c",
                                  "log=%s , %d , %c", "%d.%d.%d.%d", "%c%c%s", " %s=%d"};
  std::mt19937 random(20261210);
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kAlphabet - 2);
  std::uniform_int_distribution<int> length(0, 14);
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    for (int n = length(random); n > 0; --n) text += kAlphabet[pick(random)];
    // Seven hexadecimal digits in a row at most: no number can overflow.
    std::size_t run = 0;
    bool too_long = false;
    for (const char c : text) {
      run = std::isxdigit(static_cast<unsigned char>(c)) ? run + 1 : 0;
      too_long = too_long || run > 7;
    }
    if (too_long) continue;
    for (const char* pattern : patterns) {
      // Words of at most 14 characters fit 32 bytes.
      char s1[32] = "s1";
      char s2[32] = "s2";
      int d1 = -11;
      int d2 = -12;
      int d3 = -13;
      int d4 = -14;
      unsigned x1 = 11;
      unsigned x2 = 12;
      char c1 = '1';
      char c2 = '2';
      char t1[32] = "s1";
      char t2[32] = "s2";
      std::int32_t e1 = -11;
      std::int32_t e2 = -12;
      std::int32_t e3 = -13;
      std::int32_t e4 = -14;
      std::uint32_t y1 = 11;
      std::uint32_t y2 = 12;
      char k1 = '1';
      char k2 = '2';
      int expected = 0;
      int got = 0;
      const std::string_view p(pattern);
      if (p == "%s , %s") {
        expected = std::sscanf(text.c_str(), "%31s , %31s", s1, s2);
        got = bounded_scan(text, p, {scan_text(t1), scan_text(t2)});
      } else if (p == "%d") {
        expected = std::sscanf(text.c_str(), "%d", &d1);
        got = bounded_scan(text, p, {scan_int(e1)});
      } else if (p == "%x") {
        expected = std::sscanf(text.c_str(), "%x", &x1);
        got = bounded_scan(text, p, {scan_hex(y1)});
      } else if (p == "0x%x:0x%x") {
        expected = std::sscanf(text.c_str(), "0x%x:0x%x", &x1, &x2);
        got = bounded_scan(text, p, {scan_hex(y1), scan_hex(y2)});
      } else if (p == "DEVICE=%s , %d , %c" || p == "log=%s , %d , %c") {
        const std::string with_width = p == "log=%s , %d , %c" ? "log=%31s , %d , %c" : "DEVICE=%31s , %d , %c";
        expected = std::sscanf(text.c_str(), with_width.c_str(), s1, &d1, &c1);
        got = bounded_scan(text, p, {scan_text(t1), scan_int(e1), scan_char(k1)});
      } else if (p == "%d.%d.%d.%d") {
        expected = std::sscanf(text.c_str(), "%d.%d.%d.%d", &d1, &d2, &d3, &d4);
        got = bounded_scan(text, p, {scan_int(e1), scan_int(e2), scan_int(e3), scan_int(e4)});
      } else if (p == "%c%c%s") {
        expected = std::sscanf(text.c_str(), "%c%c%31s", &c1, &c2, s1);
        got = bounded_scan(text, p, {scan_char(k1), scan_char(k2), scan_text(t1)});
      } else {
        expected = std::sscanf(text.c_str(), " %31s=%d", s1, &d1);
        got = bounded_scan(text, p, {scan_text(t1), scan_int(e1)});
      }
      // sscanf reports EOF for input that ends before the first conversion; the scanner
      // reports that nothing was stored.
      if (expected == EOF) expected = 0;
      SCOPED_TRACE("text \"" + text + "\" pattern \"" + pattern + "\"");
      ASSERT_EQ(got, expected);
      ASSERT_STREQ(t1, s1);
      ASSERT_STREQ(t2, s2);
      ASSERT_EQ(e1, d1);
      ASSERT_EQ(e2, d2);
      ASSERT_EQ(e3, d3);
      ASSERT_EQ(e4, d4);
      ASSERT_EQ(y1, x1);
      ASSERT_EQ(y2, x2);
      ASSERT_EQ(k1, c1);
      ASSERT_EQ(k2, c2);
    }
  }
}

}  // namespace

namespace {

struct WhitespaceCase {
  const char* label;
  std::string text;
  std::string expected;
};

class RemoveWhitespace : public ::testing::TestWithParam<WhitespaceCase> {};

TEST_P(RemoveWhitespace, KeepsTheOtherBytesInOrder) {
  std::vector<char> text(GetParam().text.begin(), GetParam().text.end());
  text.push_back('\0');
  remove_whitespace(text.data());
  EXPECT_EQ(std::string(text.data()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Whitespace, RemoveWhitespace,
    ::testing::Values(
        WhitespaceCase{"each_kind", "a b\tc\nd\re\ff", "abcdef"},
        WhitespaceCase{"vertical_tab_stays", "a\vb \v", "a\vb\v"},
        WhitespaceCase{"runs_at_both_ends", " \t\r\n\"M 1\" \r\n", "\"M1\""},
        WhitespaceCase{"only_whitespace", " \t\n\r\f", ""},
        WhitespaceCase{"empty", "", ""},
        WhitespaceCase{"nothing_to_remove", "0x1,2,\"A\"", "0x1,2,\"A\""},
        WhitespaceCase{"high_bytes_stay", "\xa0 \xff", "\xa0\xff"}),
    lumora::testing::ParamLabel());

}  // namespace

}  // namespace lumora
