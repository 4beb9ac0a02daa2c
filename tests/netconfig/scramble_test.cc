#include "netconfig/scramble.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "netconfig/test_scrambler.h"
#include "support/param_label.h"

namespace lumora {
namespace {

using lumora::testing::keys_for_selector;
using lumora::testing::scramble_line;
using lumora::testing::ScrambleKeys;

// Runs decode_line on a copy of text held in a heap block of exactly its size, so that a read
// past the terminator is caught by the address sanitizer.
std::string decoded(const std::string& text, int* result = nullptr) {
  auto line = std::make_unique<char[]>(text.size() + 1);
  std::memcpy(line.get(), text.c_str(), text.size() + 1);
  const int r = decode_line(line.get());
  if (result != nullptr) *result = r;
  return std::string(line.get());
}

// decode_sub into an exactly sized destination; returns every byte written before the final
// terminator, embedded zeros included.
std::string decoded_sub(const std::string& text, std::size_t written) {
  auto source = std::make_unique<char[]>(text.size() + 1);
  std::memcpy(source.get(), text.c_str(), text.size() + 1);
  auto destination = std::make_unique<char[]>(text.size() + 1);
  EXPECT_EQ(decode_sub(source.get(), destination.get()), 0);
  return std::string(destination.get(), written);
}

struct DecodeCase {
  const char* label;
  std::string line;
  std::string expected;
};

class DecodeLineCases : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeLineCases, YieldsTheExpectedLine) {
  int result = -2;
  EXPECT_EQ(decoded(GetParam().line, &result), GetParam().expected);
  EXPECT_EQ(result, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Scramble, DecodeLineCases,
    ::testing::Values(
        // S = 3: permutation D, constant 7, key K2 'B'.
        DecodeCase{"keys_AB", "?#ABabc", "LON"},
        // S = 0: permutation A, constant 3, key K1 'A'.
        DecodeCase{"keys_AG", "?#AGabc", "RSQ"},
        DecodeCase{"bar_and_line_break_stand_for_themselves", "?#AB0x1,|\n", "!5 %|\n"},
        DecodeCase{"bytes_outside_32_to_123", "?#AB}~\x7f\x80\xff\t\n", "}~\x7f\x80\xff\t\n"},
        DecodeCase{"marker_only_at_the_start", " ?#ABabc\n", " ?#ABabc\n"},
        DecodeCase{"marker_in_the_wrong_order", "#?ABabc\n", "#?ABabc\n"},
        DecodeCase{"plain_line", "[Support Model]\n", "[Support Model]\n"},
        DecodeCase{"empty_line", "", ""},
        DecodeCase{"lone_question_mark", "?", "?"},
        DecodeCase{"question_mark_and_line_break", "?\n", "?\n"},
        DecodeCase{"only_a_line_break_after_the_keys", "?#AB\n", "\n"},
        DecodeCase{"line_break_as_second_key", "?#A\n", ""},
        DecodeCase{"nothing_after_the_keys", "?#AB", ""},
        // Lines that end before their second key character yield the empty line.
        DecodeCase{"marker_alone", "?#", ""},
        DecodeCase{"marker_and_line_break", "?#\n", ""},
        DecodeCase{"marker_and_one_key", "?#A", ""}),
    lumora::testing::ParamLabel());

// Keys of 128 and above leave v outside 32..123 after the three additions of 92; the low
// eight bits are written as they are. S = 2 in each: permutation C, constant 69, key K1.
struct HighKeyCase {
  const char* label;
  std::string line;
  std::string expected;
};

class HighKeyCases : public ::testing::TestWithParam<HighKeyCase> {};

TEST_P(HighKeyCases, GiveTheRawLowByte) { EXPECT_EQ(decoded(GetParam().line), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Scramble, HighKeyCases,
    ::testing::Values(
        // 'm' (109, place 1) -> 111, m = 45, v = 45 - 69 - 247 = -271, + 276 = 5.
        HighKeyCase{"control_byte", "?#\xf7\x03m\n", "\x05\n"},
        // 'z' (122, place 2) stays, m = 34, v = 34 - 69 - 255 = -290, + 276 = -14 -> 242.
        HighKeyCase{"byte_above_127", "?#\xff\x03z\n", "\xf2\n"},
        // 'A' (65) -> 67, m = 89, v = -227 + 276 = 49 ('1'); 't' (116, place 0) stays,
        // m = 40, v = 40 - 69 - 247 = -276, + 276 = 0: the line ends there.
        HighKeyCase{"zero_ends_the_line", "?#\xf7\x03" "AtB\n", "1"}),
    lumora::testing::ParamLabel());

TEST(DecodeSub, WritesEveryByteOfTheTextEvenAfterAZero) {
  // As in zero_ends_the_line; 'B' (66, place 2) stays, m = 90, v = -226 + 276 = 50 ('2').
  EXPECT_EQ(decoded_sub("?#\xf7\x03" "AtB\n", 5), std::string("1\0" "2\n\0", 5));
}

// The descrambling rules step by step, one byte at a time, as the reference for every key
// pair: high keys included, where v may still be below 32 after the third wrap.
unsigned char reference_descramble(unsigned char c, unsigned char k1, unsigned char k2) {
  if (c < 32 || c > 123) return c;
  static constexpr int kOffsets[6][4] = {
      {0, 1, -1, 0}, {1, -1, 1, -1}, {0, 2, 0, -2}, {2, 2, -2, -2}, {3, 0, 0, -3}, {2, 0, -2, 0},
  };
  static constexpr int kPermutation[8] = {0, 1, 2, 3, 0, 3, 4, 5};
  static constexpr int kConstant[8] = {3, 20, 69, 7, 53, 55, 32, 19};
  static constexpr bool kSecondKey[8] = {false, true, false, true, false, true, false, true};
  const int s = (k1 + k2) % 8;
  const int t = c + kOffsets[kPermutation[s]][c & 3];
  int v = (156 - t) - kConstant[s] - (kSecondKey[s] ? k2 : k1);
  for (int wraps = 0; wraps < 3 && v < 32; ++wraps) v += 92;
  return static_cast<unsigned char>(v & 0xFF);
}

TEST(DecodeSub, MatchesTheRulesForEveryKeyPairAndByte) {
  // Every byte from 1 to 255 once, behind every pair of non-zero keys.
  std::string source = "?#AA";
  for (int c = 1; c < 256; ++c) source += static_cast<char>(c);
  std::string destination(source.size() + 1, '\0');
  int mismatches = 0;
  for (int k1 = 1; k1 < 256; ++k1) {
    for (int k2 = 1; k2 < 256; ++k2) {
      source[2] = static_cast<char>(k1);
      source[3] = static_cast<char>(k2);
      decode_sub(source.c_str(), destination.data());
      for (int c = 1; c < 256; ++c) {
        const auto got = static_cast<unsigned char>(destination[static_cast<std::size_t>(c - 1)]);
        const unsigned char want = reference_descramble(static_cast<unsigned char>(c),
                                                        static_cast<unsigned char>(k1),
                                                        static_cast<unsigned char>(k2));
        if (got != want && ++mismatches <= 5) {
          ADD_FAILURE() << "keys " << k1 << "," << k2 << " byte " << c << ": got " << int{got}
                        << ", want " << int{want};
        }
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(DecodeSub, CopiesAPlainSourceWithItsTerminator) {
  EXPECT_EQ(decoded_sub("0x1234,1,2\n", 12), std::string("0x1234,1,2\n\0", 12));
}

TEST(DecodeLine, DescramblesUpTo496CharactersAndRefusesLongerLines) {
  for (const std::size_t length : {std::size_t{495}, std::size_t{496}, std::size_t{497},
                                   std::size_t{498}, std::size_t{1023}}) {
    SCOPED_TRACE(length);
    // "?#AB" (as in keys_AB, where 'a' gives 'L'), then 'a's, then a line break.
    const std::string line = "?#AB" + std::string(length - 5, 'a') + "\n";
    ASSERT_EQ(line.size(), length);
    int result = -2;
    const std::string out = decoded(line, &result);
    if (length <= kDecodeLineLimit) {
      EXPECT_EQ(result, 0);
      EXPECT_EQ(out, std::string(length - 5, 'L') + "\n");
    } else {
      EXPECT_EQ(result, -1);
      EXPECT_EQ(out, line);
    }
  }
}

TEST(DecodeLine, LongPlainLinesAreLeftAsTheyAre) {
  const std::string line(600, 'x');
  int result = 0;
  EXPECT_EQ(decoded(line, &result), line);
  EXPECT_EQ(result, -1);
}

class RoundTrip : public ::testing::TestWithParam<int> {};

TEST_P(RoundTrip, RandomPlainLinesSurviveScramblingAndDescrambling) {
  const int selector = GetParam();
  std::mt19937 random(static_cast<std::mt19937::result_type>(20240 + selector));
  std::uniform_int_distribution<int> any_byte(1, 255);
  std::uniform_int_distribution<int> low_key(1, 127);
  std::uniform_int_distribution<std::size_t> any_length(0, kDecodeLineLimit - 4);
  for (int round = 0; round < 300; ++round) {
    std::string plain(any_length(random), '\0');
    for (char& c : plain) c = static_cast<char>(any_byte(random));
    ScrambleKeys used = keys_for_selector(selector);
    if (round != 0) {
      // Random keys below 128, never 0, that pick the selector.
      used.first = static_cast<unsigned char>(low_key(random));
      const int wanted = (selector - used.first % 8 + 16) % 8;
      used.second = static_cast<unsigned char>(8 * (1 + low_key(random) % 15) + wanted);
    }
    ASSERT_EQ((used.first + used.second) % 8, selector);
    const std::string scrambled = scramble_line(plain, used);
    ASSERT_LE(scrambled.size(), kDecodeLineLimit);
    int result = -2;
    ASSERT_EQ(decoded(scrambled, &result), plain) << "keys " << int{used.first} << ","
                                                  << int{used.second};
    EXPECT_EQ(result, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Scramble, RoundTrip, ::testing::Range(0, 8));

TEST(TestScrambler, ScramblesTheWorkedExamplesBack) {
  EXPECT_EQ(scramble_line("LON", {'A', 'B'}), "?#ABabc");
  EXPECT_EQ(scramble_line("RSQ", {'A', 'G'}), "?#AGabc");
}

}  // namespace
}  // namespace lumora
