#include "common/bounded_scan.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

namespace lumora {
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

}  // namespace
}  // namespace lumora
