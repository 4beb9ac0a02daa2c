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

// Everything about a line's descrambling that does not depend on the byte, worked out once.
// Only the low eight bits of the result are written, so all of it is kept as bytes.
struct LineKey {
  unsigned char place_offsets[4];  // the permutation's offset at each place, modulo 256
  unsigned char base;       // 156 - constant - key, plus the wraps every byte needs, modulo 256
  unsigned char last_wrap;  // 92 when some bytes may need one wrap more than the rest, else 0
};

LineKey make_line_key(const Selection& selection, int key) {
  LineKey line_key{};
  for (std::size_t place = 0; place < 4; ++place) {
    line_key.place_offsets[place] = static_cast<unsigned char>((*selection.permutation)[place]);
  }
  // A permuted byte lies in 32..123, so before any wrap v spans the 92 values from base - 123
  // to base - 32, less than one wrap wide: the bytes of a line need either w or w + 1 wraps,
  // where w is what the largest v (that of 32) needs. Never more than kMaxWraps in all: with a
  // key of 128 and above, v may still be below 32 after the last one, and the backend writes
  // the low eight bits of whatever is left, so we do too.
  int base = kMirrorSum - selection.constant - key;
  int wraps = 0;
  while (wraps < kMaxWraps && base - kFirstScrambled < kFirstScrambled) {
    base += kRangeWidth;
    ++wraps;
  }
  line_key.base = static_cast<unsigned char>(base);
  line_key.last_wrap = static_cast<unsigned char>(wraps < kMaxWraps ? kRangeWidth : 0);
  return line_key;
}

// The one comparison, whether v still needs its last wrap, only matters while last_wrap is
// 92; v then lies in -59..123, where its low byte read as signed is v itself.
unsigned char descramble(unsigned char c, const LineKey& line_key) {
  // Picking the place's offset by comparisons rather than by indexing keeps the step free of
  // loads, so that it runs on many bytes at once.
  const unsigned place = c & 3u;
  const auto offset = static_cast<unsigned char>((place == 0 ? line_key.place_offsets[0] : 0) |
                                                 (place == 1 ? line_key.place_offsets[1] : 0) |
                                                 (place == 2 ? line_key.place_offsets[2] : 0) |
                                                 (place == 3 ? line_key.place_offsets[3] : 0));
  const auto v = static_cast<unsigned char>(line_key.base - c - offset);
  const auto wrapped = static_cast<unsigned char>(
      v + (static_cast<signed char>(v) < kFirstScrambled ? line_key.last_wrap : 0));
  const bool scrambled = static_cast<unsigned char>(c - kFirstScrambled) <=
                         kLastScrambled - kFirstScrambled;
  return scrambled ? wrapped : c;
}

// Descrambles length bytes. Whole blocks of a fixed size let the compiler work on many bytes
// at once, which is most of the time spent reading a large catalogue.
void descramble_text(const unsigned char* __restrict in, std::size_t length,
                     const LineKey& line_key, unsigned char* __restrict out) {
  constexpr std::size_t kBlock = 16;
  std::size_t done = 0;
  for (; done + kBlock <= length; done += kBlock) {
    for (std::size_t i = 0; i < kBlock; ++i) out[done + i] = descramble(in[done + i], line_key);
  }
  for (; done < length; ++done) out[done] = descramble(in[done], line_key);
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
  const LineKey line_key =
      make_line_key(selection, selection.uses_second_key ? second_key : first_key);
  const std::size_t length = std::strlen(source + 4);
  descramble_text(in + 4, length, line_key, reinterpret_cast<unsigned char*>(destination));
  destination[length] = '\0';
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
