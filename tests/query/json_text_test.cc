#include "query/json_text.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace lumora {
namespace {

std::string json(std::string_view text) {
  std::string out;
  append_json_string(out, text);
  return out;
}

struct EncodingCase {
  const char* what;
  std::string_view bytes;
  const char* expected;
};

TEST(JsonTextTest, EscapesWhatJsonNeedsAndKeepsTheRest) {
  const EncodingCase cases[] = {
      {"plain", "office", R"("office")"},
      {"empty", "", R"("")"},
      {"quotes of a model", "\"LX-500\"", R"("\"LX-500\"")"},
      {"backslash", "a\\b", R"("a\\b")"},
      {"short escapes", "\b\f\n\r\t", R"("\b\f\n\r\t")"},
      {"other controls", "\x01\x1b\x1f", R"("\u0001\u001b\u001f")"},
      {"delete", "\x7f", R"("\u007f")"},
      {"shell characters stay", "$(touch /x);`id`|&<>*?[", R"("$(touch /x);`id`|&<>*?[")"},
      {"slash stays", "/tmp/lum_sane.log", R"("/tmp/lum_sane.log")"},
      {"two-byte UTF-8", "caf\xc3\xa9", "\"caf\xc3\xa9\""},
      {"three-byte UTF-8", "\xe2\x82\xac", "\"\xe2\x82\xac\""},
      {"four-byte UTF-8", "\xf0\x9f\x96\xa8", "\"\xf0\x9f\x96\xa8\""},
      {"highest code point", "\xf4\x8f\xbf\xbf", "\"\xf4\x8f\xbf\xbf\""},
      {"Latin-1 byte", "caf\xe9", R"("caf\udce9")"},
      {"lone continuation", "\x80", R"("\udc80")"},
      {"0xff", "\xff", R"("\udcff")"},
      {"overlong slash", "\xc0\xaf", R"("\udcc0\udcaf")"},
      {"overlong three-byte", "\xe0\x80\xaf", R"("\udce0\udc80\udcaf")"},
      {"encoded surrogate", "\xed\xb2\x80", R"("\udced\udcb2\udc80")"},
      {"beyond U+10FFFF", "\xf4\x90\x80\x80", R"("\udcf4\udc90\udc80\udc80")"},
      {"truncated at the end", "a\xe2\x82", R"("a\udce2\udc82")"},
      {"truncated before ASCII", "\xe2\x82x", R"("\udce2\udc82x")"},
      {"valid after invalid", "\xff\xc3\xa9", "\"\\udcff\xc3\xa9\""},
  };
  for (const auto& c : cases) EXPECT_EQ(json(c.bytes), c.expected) << c.what;
}

TEST(JsonTextTest, AppendsToWhatIsThere) {
  std::string out = "{\"name\":";
  append_json_string(out, "x");
  EXPECT_EQ(out, R"({"name":"x")");
}

TEST(JsonTextTest, SequenceLengthsFollowTheWellFormedTable) {
  const std::pair<std::string_view, std::size_t> cases[] = {
      {"", 0},           {"a", 1},              {"\x7f", 1},           {"\xc1\xbf", 0},
      {"\xc2\x80", 2},   {"\xdf\xbf", 2},       {"\xc2", 0},           {"\xe0\x9f\x80", 0},
      {"\xe0\xa0\x80", 3}, {"\xed\x9f\xbf", 3}, {"\xed\xa0\x80", 0},   {"\xef\xbf\xbf", 3},
      {"\xf0\x8f\xbf\xbf", 0}, {"\xf0\x90\x80\x80", 4}, {"\xf4\x8f\xbf\xbf", 4},
      {"\xf5\x80\x80\x80", 0}, {"\xe2\x28\xa1", 0}, {"\x80", 0},
  };
  for (const auto& [bytes, length] : cases) {
    EXPECT_EQ(utf8_sequence_length(bytes), length) << ::testing::PrintToString(std::string(bytes));
  }
}

// Every byte value, alone and after each lead byte: the output is valid UTF-8 with no raw
// control character, so any JSON reader takes it.
TEST(JsonTextTest, OutputIsAlwaysValidUtf8WithoutRawControls) {
  for (int lead = 0; lead < 256; ++lead) {
    for (int next = 0; next < 256; ++next) {
      const std::string bytes = {static_cast<char>(lead), static_cast<char>(next)};
      const std::string out = json(bytes);
      std::string_view rest = out;
      while (!rest.empty()) {
        const std::size_t length = utf8_sequence_length(rest);
        ASSERT_NE(length, 0U) << lead << " " << next;
        ASSERT_FALSE(length == 1 && static_cast<unsigned char>(rest[0]) < 0x20) << lead << " " << next;
        rest.remove_prefix(length);
      }
    }
  }
}

}  // namespace
}  // namespace lumora
