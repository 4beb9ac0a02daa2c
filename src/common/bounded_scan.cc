#include "common/bounded_scan.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace lumora {
namespace {

// Blank, \t, \n, \v, \f and \r, as bits of the byte values below 64. Tested once per byte of
// every line read, so a mask rather than six comparisons.
constexpr std::uint64_t kSpaceBits = (std::uint64_t{1} << ' ') | (std::uint64_t{1} << '\t') |
                                     (std::uint64_t{1} << '\n') | (std::uint64_t{1} << '\v') |
                                     (std::uint64_t{1} << '\f') | (std::uint64_t{1} << '\r');

bool is_space(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte <= ' ' && ((kSpaceBits >> byte) & 1u) != 0;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

class Cursor {
 public:
  explicit Cursor(std::string_view text) : text_(text.substr(0, text.find('\0'))) {}
  bool at_end() const { return pos_ >= text_.size(); }
  char peek(std::size_t ahead = 0) const {
    return pos_ + ahead < text_.size() ? text_[pos_ + ahead] : '\0';
  }
  void advance(std::size_t count = 1) { pos_ += count; }
  void skip_space() {
    while (!at_end() && is_space(peek())) advance();
  }

  bool read_text(char* field, std::size_t size) {
    skip_space();
    if (at_end() || size == 0) return false;
    // The whole word is consumed; what does not fit the field is cut.
    std::size_t end = pos_;
    while (end < text_.size() && !is_space(text_[end])) ++end;
    const std::size_t stored = std::min(end - pos_, size - 1);
    std::memcpy(field, text_.data() + pos_, stored);
    field[stored] = '\0';
    pos_ = end;
    return true;
  }

  bool read_int(std::int32_t& value) {
    skip_space();
    std::size_t digits_at = 0;
    bool negative = false;
    if (peek() == '+' || peek() == '-') {
      negative = peek() == '-';
      digits_at = 1;
    }
    if (!is_digit(peek(digits_at))) return false;
    advance(digits_at);
    long long magnitude = 0;
    while (!at_end() && is_digit(peek())) {
      if (magnitude <= static_cast<long long>(INT_MAX) + 1) magnitude = magnitude * 10 + (peek() - '0');
      advance();
    }
    const long long signed_value = negative ? -magnitude : magnitude;
    if (signed_value > INT_MAX) value = INT_MAX;
    else if (signed_value < INT_MIN) value = INT_MIN;
    else value = static_cast<std::int32_t>(signed_value);
    return true;
  }

  bool read_hex(std::uint32_t& value) {
    skip_space();
    std::size_t at = 0;
    bool negative = false;
    if (peek() == '+' || peek() == '-') {
      negative = peek() == '-';
      at = 1;
    }
    if (peek(at) == '0' && (peek(at + 1) == 'x' || peek(at + 1) == 'X') && hex_digit(peek(at + 2)) >= 0) {
      at += 2;
    }
    if (hex_digit(peek(at)) < 0) return false;
    advance(at);
    std::uint64_t magnitude = 0;
    while (!at_end() && hex_digit(peek()) >= 0) {
      if (magnitude <= UINT32_MAX) magnitude = magnitude * 16 + static_cast<std::uint64_t>(hex_digit(peek()));
      advance();
    }
    if (magnitude > UINT32_MAX) magnitude = UINT32_MAX;
    // Like strtoul, a minus sign negates in unsigned arithmetic.
    value = negative ? static_cast<std::uint32_t>(0u - static_cast<std::uint32_t>(magnitude))
                     : static_cast<std::uint32_t>(magnitude);
    return true;
  }

  bool read_char(char& value) {
    if (at_end()) return false;
    value = peek();
    advance();
    return true;
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

int bounded_scan(std::string_view text, std::string_view pattern,
                 std::initializer_list<ScanTarget> targets) {
  Cursor in(text);
  const ScanTarget* next_target = targets.begin();
  int stored = 0;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char p = pattern[i];
    if (is_space(p)) {
      in.skip_space();
      continue;
    }
    if (p != '%' || i + 1 >= pattern.size() || pattern[i + 1] == '%') {
      if (p == '%') ++i;
      if (in.at_end() || in.peek() != p) return stored;
      in.advance();
      continue;
    }
    const char conversion = pattern[++i];
    if (next_target == targets.end()) return stored;
    const ScanTarget& target = *next_target++;
    bool ok = false;
    switch (conversion) {
      case 's':
        ok = target.kind == ScanTarget::Kind::kText &&
             in.read_text(static_cast<char*>(target.place), target.size);
        break;
      case 'd':
        ok = target.kind == ScanTarget::Kind::kInt &&
             in.read_int(*static_cast<std::int32_t*>(target.place));
        break;
      case 'x':
        ok = target.kind == ScanTarget::Kind::kHex &&
             in.read_hex(*static_cast<std::uint32_t*>(target.place));
        break;
      case 'c':
        ok = target.kind == ScanTarget::Kind::kChar && in.read_char(*static_cast<char*>(target.place));
        break;
      default:
        break;
    }
    if (!ok) return stored;
    ++stored;
  }
  return stored;
}

}  // namespace lumora
