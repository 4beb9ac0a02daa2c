#include "catalogue/whitespace.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumora {
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
    [](const ::testing::TestParamInfo<WhitespaceCase>& param_info) {
      return std::string(param_info.param.label);
    });

}  // namespace
}  // namespace lumora
