#include "catalogue/model_field.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lumora {
namespace {

constexpr std::int32_t kMissing = 0xFFFF;
constexpr std::int32_t kBefore = 77;  // what the target held before the field was read

struct NumberCase {
  const char* label;
  std::optional<std::string> rest;  // nullopt: no field left
  std::int32_t expected;
  std::optional<std::string> after;  // the rest returned; nullopt: none
};

class NumberField : public ::testing::TestWithParam<NumberCase> {};

TEST_P(NumberField, ScansOrKeepsOrDefaults) {
  const NumberCase& c = GetParam();
  std::vector<char> line;
  if (c.rest) {
    line.assign(c.rest->begin(), c.rest->end());
    line.push_back('\0');
  }
  std::int32_t target = kBefore;
  const char* after = next_field(c.rest ? line.data() : nullptr, target, kMissing);
  EXPECT_EQ(target, c.expected);
  ASSERT_EQ(after != nullptr, c.after.has_value());
  if (after != nullptr) {
    EXPECT_EQ(std::string(after), *c.after);
    EXPECT_EQ(after, line.data() + (c.rest->size() - c.after->size()));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Fields, NumberField,
    ::testing::Values(
        NumberCase{"missing", std::nullopt, kMissing, std::nullopt},
        NumberCase{"last_field", "12", 12, std::nullopt},
        NumberCase{"followed_by_more", "12,34,x", 12, "34,x"},
        NumberCase{"negative", "-205,", -205, ""},
        NumberCase{"plus_sign", "+3", 3, std::nullopt},
        NumberCase{"digits_then_text", "5abc,1", 5, "1"},
        NumberCase{"empty_and_more", ",1", kBefore, "1"},
        NumberCase{"empty_and_last", "", kBefore, std::nullopt},
        NumberCase{"not_a_number", "abc,1", kBefore, "1"},
        NumberCase{"sign_alone", "-,1", kBefore, "1"},
        NumberCase{"digits_after_the_comma_do_not_count", "x,5", kBefore, "5"},
        NumberCase{"overflow_saturates", "99999999999", INT32_MAX, std::nullopt},
        NumberCase{"underflow_saturates", "-99999999999", INT32_MIN, std::nullopt}),
    [](const ::testing::TestParamInfo<NumberCase>& param_info) {
      return std::string(param_info.param.label);
    });

struct TextCase {
  const char* label;
  std::optional<std::string> rest;
  std::string expected;
  std::optional<std::string> after;
};

class TextField : public ::testing::TestWithParam<TextCase> {};

TEST_P(TextField, CopiesCutsKeepsOrEmpties) {
  const TextCase& c = GetParam();
  std::vector<char> line;
  if (c.rest) {
    line.assign(c.rest->begin(), c.rest->end());
    line.push_back('\0');
  }
  // Six bytes of room and a guard behind them that must never change.
  char target[8] = {'o', 'l', 'd', '\0', '\0', '\0', '#', '#'};
  const char* after = next_field(c.rest ? line.data() : nullptr, target, 6);
  EXPECT_EQ(std::string(target), c.expected);
  EXPECT_EQ(target[6], '#');
  EXPECT_EQ(target[7], '#');
  ASSERT_EQ(after != nullptr, c.after.has_value());
  if (after != nullptr) {
    EXPECT_EQ(std::string(after), *c.after);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Fields, TextField,
    ::testing::Values(
        TextCase{"missing_empties", std::nullopt, "", std::nullopt},
        TextCase{"whole_text", "\"M1\",3", "\"M1\"", "3"},
        TextCase{"comma_inside_quotes_splits", "\"A,B\"", "\"A", "B\""},
        TextCase{"empty_keeps", ",x", "old", "x"},
        TextCase{"empty_last_keeps", "", "old", std::nullopt},
        TextCase{"long_text_is_cut", "abcdefghij,k", "abcde", "k"},
        TextCase{"trailing_comma", "x,", "x", ""}),
    [](const ::testing::TestParamInfo<TextCase>& param_info) {
      return std::string(param_info.param.label);
    });

}  // namespace
}  // namespace lumora
