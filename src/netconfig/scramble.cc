#include "netconfig/scramble.h"

#include <array>
#include <cstring>

namespace lumora {
namespace {

// Scrambled characters are the bytes 32 to 123: 23 whole groups of four values. A permutation
// swaps places inside a group, so it is told by the offset it adds at each place (value & 3).
using Permutation = std::array<int, 4>;

constexpr Permutation kPermA = {0, +1, -1, 0};
constexpr Permutation kPermB = {+1, -1, +1, -1};
constexpr Permutation kPermC = {0, +2, 0, -2};
constexpr Permutation kPermD = {+2, +2, -2, -2};
constexpr Permutation kPermE = {+3, 0, 0, -3};
constexpr Permutation kPermF = {+2, 0, -2, 0};

struct Selection {
  const Permutation* permutation;
  int constant;
  bool uses_second_key;
};

// Indexed by (K1 + K2) modulo 8.
constexpr std::array<Selection, 8> kSelections = {{
    {&kPermA, 3, false},
    {&kPermB, 20, true},
    {&kPermC, 69, false},
    {&kPermD, 7, true},
    {&kPermA, 53, false},
    {&kPermD, 55, true},
    {&kPermE, 32, false},
    {&kPermF, 19, true},
}};

constexpr int kFirstScrambled = 32;
constexpr int kLastScrambled = 123;
constexpr int kMirrorSum = 156;  // maps 32 onto 124: the mirror of the scrambled range
constexpr int kRangeWidth = 92;
constexpr int kMaxWraps = 3;

unsigned char descramble(unsigned char c, const Selection& selection, int key) {
  const int value = c;
  if (value < kFirstScrambled || value > kLastScrambled) return c;
  const int permuted = value + (*selection.permutation)[static_cast<unsigned>(value) & 3u];
  int v = kMirrorSum - permuted - selection.constant - key;
  // A key of 128 and above can leave v below 32 or negative even after the last wrap; the
  // backend writes the low eight bits of whatever is left, so we do too.
  for (int wraps = 0; wraps < kMaxWraps && v < kFirstScrambled; ++wraps) v += kRangeWidth;
  return static_cast<unsigned char>(v & 0xFF);
}

}  // namespace

int decode_sub(const char* source, char* destination) {
  const auto* in = reinterpret_cast<const unsigned char*>(source);
  if (in[0] != '?' || in[1] != '#') {
    std::memcpy(destination, source, std::strlen(source) + 1);
    return 0;
  }
  // "?#" that ends before its second key character carries no text at all, so it yields the
  // empty line, the same as "?#", a key and a line break standing where K2 belongs. Checking
  // K1 first keeps us from looking past the terminator.
  if (in[2] == '\0' || in[3] == '\0') {
    destination[0] = '\0';
    return 0;
  }
  const int first_key = in[2];
  const int second_key = in[3];
  const Selection& selection =
      kSelections[static_cast<unsigned>(first_key + second_key) % kSelections.size()];
  const int key = selection.uses_second_key ? second_key : first_key;
  std::size_t out = 0;
  for (const unsigned char* c = in + 4; *c != '\0'; ++c) {
    destination[out++] = static_cast<char>(descramble(*c, selection, key));
  }
  destination[out] = '\0';
  return 0;
}

int decode_line(char* line) {
  // strnlen stops one past the limit, so an over-long line costs no full scan.
  if (strnlen(line, kDecodeLineLimit + 1) > kDecodeLineLimit) return -1;
  char work[kDecodeWorkSize];
  decode_sub(line, work);
  // A key of 128 and above may have put a 0 into the text: the line ends there.
  std::memcpy(line, work, std::strlen(work) + 1);
  return 0;
}

}  // namespace lumora
