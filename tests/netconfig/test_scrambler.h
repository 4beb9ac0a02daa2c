// A scrambler for tests: the exact inverse of the descrambler for key characters below 128,
// written from the scrambled-line rules so that it does not share code with the descrambler.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace lumora::testing {

struct ScrambleKeys {
  unsigned char first;
  unsigned char second;
};

// Keys below 128 that pick the given selector (0..7). Both are letters, never a line break or
// a terminator, so a scrambled line stays one line of a file.
inline ScrambleKeys keys_for_selector(int selector, unsigned char first = 'A') {
  const int wanted = ((selector % 8) - first % 8 + 16) % 8;
  return {first, static_cast<unsigned char>('P' + wanted)};  // 'P' is 80, a multiple of 8
}

// Scrambles plain (each byte from 32 to 123 scrambled, all others kept) behind "?#" and keys.
inline std::string scramble_line(std::string_view plain, ScrambleKeys keys) {
  // Where each place of a group of four goes under permutations A to F.
  static constexpr std::array<std::array<int, 4>, 6> kPlaceMaps = {{
      {0, 2, 1, 3},  // A
      {1, 0, 3, 2},  // B
      {0, 3, 2, 1},  // C
      {2, 3, 0, 1},  // D
      {3, 1, 2, 0},  // E
      {2, 1, 0, 3},  // F
  }};
  struct Row {
    int permutation;
    int constant;
    bool second_key;
  };
  static constexpr std::array<Row, 8> kRows = {{
      {0, 3, false}, {1, 20, true}, {2, 69, false}, {3, 7, true},
      {0, 53, false}, {3, 55, true}, {4, 32, false}, {5, 19, true},
  }};
  const Row& row = kRows[static_cast<std::size_t>((keys.first + keys.second) % 8)];
  const int key = row.second_key ? keys.second : keys.first;
  const auto& map = kPlaceMaps[static_cast<std::size_t>(row.permutation)];

  std::string out = "?#";
  out += static_cast<char>(keys.first);
  out += static_cast<char>(keys.second);
  for (const char byte : plain) {
    const int p = static_cast<unsigned char>(byte);
    if (p < 32 || p > 123) {
      out += byte;
      continue;
    }
    // Descrambling yields m - constant - key brought into 32..123 by steps of 92, with the
    // mirror m = 156 - P(c) in 33..124; so pick that m and undo the mirror and the permutation.
    const int m = 33 + (p + row.constant + key - 33) % 92;
    const int t = 156 - m;
    int source_place = 0;
    while (map[static_cast<std::size_t>(source_place)] != (t & 3)) ++source_place;
    out += static_cast<char>((t & ~3) + source_place);
  }
  return out;
}

}  // namespace lumora::testing
