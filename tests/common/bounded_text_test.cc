#include "common/bounded_text.h"

#include <gtest/gtest.h>

#include <cstring>

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
}  // namespace lumora
