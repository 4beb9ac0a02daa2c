#include "common/bounded_text.h"

#include <array>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace lumora {

bool copy_bounded(char* dest, std::size_t size, std::string_view text) {
  if (size == 0) return false;
  std::size_t length = 0;
  while (length < text.size() && text[length] != '\0') ++length;
  const bool fits = length < size;
  if (!fits) length = size - 1;
  std::memcpy(dest, text.data(), length);
  dest[length] = '\0';
  return fits && length == text.size();
}

bool format_bounded(char* dest, std::size_t size, const char* format, ...) {
  if (size == 0) return false;
  va_list args;
  va_start(args, format);
  const int written = std::vsnprintf(dest, size, format, args);
  va_end(args);
  if (written < 0) {
    dest[0] = '\0';
    return false;
  }
  return static_cast<std::size_t>(written) < size;
}

std::size_t bounded_length(const char* field, std::size_t size) {
  const void* end = std::memchr(field, '\0', size);
  return end ? static_cast<std::size_t>(static_cast<const char*>(end) - field) : size;
}

namespace {

// Every byte of every line read is classified, so by table rather than by comparisons. A NUL
// ends the text wherever it stands.
enum ByteClass : unsigned char { kEnd = 0, kSpace = 1, kOther = 2, kDigit = 3, kHexLetter = 4 };

constexpr std::array<unsigned char, 256> make_classes() {
  std::array<unsigned char, 256> classes{};
  for (unsigned c = 1; c < 256; ++c) classes[c] = kOther;
  for (const char c : {' ', '\t', '\n', '\v', '\f', '\r'}) {
    classes[static_cast<unsigned char>(c)] = kSpace;
  }
  for (unsigned c = '0'; c <= '9'; ++c) classes[c] = kDigit;
  for (unsigned c = 'a'; c <= 'f'; ++c) classes[c] = kHexLetter;
  for (unsigned c = 'A'; c <= 'F'; ++c) classes[c] = kHexLetter;
  return classes;
}
constexpr std::array<unsigned char, 256> kClasses = make_classes();

unsigned char class_of(char c) { return kClasses[static_cast<unsigned char>(c)]; }
bool is_space(char c) { return class_of(c) == kSpace; }
bool is_digit(char c) { return class_of(c) == kDigit; }
bool is_hex_digit(char c) { return class_of(c) >= kDigit; }

unsigned hex_value(char c) {
  if (is_digit(c)) return static_cast<unsigned>(c - '0');
  return static_cast<unsigned>((c | 0x20) - 'a' + 10);
}

// The text up to its end or its first NUL, walked by pointer. The NUL is found on the way
// (its class stops every loop) rather than searched for first.
struct Span {
  const char* at;
  const char* end;

  explicit Span(std::string_view text) : at(text.data()), end(text.data() + text.size()) {}
  bool at_end() const { return at == end || *at == '\0'; }
  // Past the end reads as a NUL. Callers look ahead only past bytes they have seen to be
  // signs, digits or the "0x" prefix, so a NUL before the byte looked at cannot be skipped.
  char peek(std::size_t ahead = 0) const {
    return static_cast<std::size_t>(end - at) > ahead ? at[ahead] : '\0';
  }
  void skip_space() {
    while (at != end && is_space(*at)) ++at;
  }

  bool read_text(char* field, std::size_t size) {
    skip_space();
    if (at_end() || size == 0) return false;
    // The whole word is consumed; what does not fit the field is cut.
    const char* word_end = at;
    while (word_end != end && class_of(*word_end) >= kOther) ++word_end;
    const auto length = static_cast<std::size_t>(word_end - at);
    const std::size_t stored = length < size - 1 ? length : size - 1;
    std::memcpy(field, at, stored);
    field[stored] = '\0';
    at = word_end;
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
    at += digits_at;
    long long magnitude = 0;
    for (; at != end && is_digit(*at); ++at) {
      if (magnitude <= static_cast<long long>(INT_MAX) + 1) magnitude = magnitude * 10 + (*at - '0');
    }
    const long long signed_value = negative ? -magnitude : magnitude;
    if (signed_value > INT_MAX) value = INT_MAX;
    else if (signed_value < INT_MIN) value = INT_MIN;
    else value = static_cast<std::int32_t>(signed_value);
    return true;
  }

  bool read_hex(std::uint32_t& value) {
    skip_space();
    std::size_t digits_at = 0;
    bool negative = false;
    if (peek() == '+' || peek() == '-') {
      negative = peek() == '-';
      digits_at = 1;
    }
    if (peek(digits_at) == '0' && (peek(digits_at + 1) | 0x20) == 'x' &&
        is_hex_digit(peek(digits_at + 2))) {
      digits_at += 2;
    }
    if (!is_hex_digit(peek(digits_at))) return false;
    at += digits_at;
    std::uint64_t magnitude = 0;
    for (; at != end && is_hex_digit(*at); ++at) {
      if (magnitude <= UINT32_MAX) magnitude = magnitude * 16 + hex_value(*at);
    }
    if (magnitude > UINT32_MAX) magnitude = UINT32_MAX;
    // Like strtoul, a minus sign negates in unsigned arithmetic.
    value = negative ? static_cast<std::uint32_t>(0u - static_cast<std::uint32_t>(magnitude))
                     : static_cast<std::uint32_t>(magnitude);
    return true;
  }

  bool read_char(char& value) {
    if (at_end()) return false;
    value = *at++;
    return true;
  }
};

}  // namespace

int bounded_scan(std::string_view text, std::string_view pattern,
                 std::initializer_list<ScanTarget> targets) {
  Span in(text);
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
      if (in.at_end() || *in.at != p) return stored;
      ++in.at;
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

bool scan_word(std::string_view text, char* field, std::size_t size) {
  return Span(text).read_text(field, size);
}

bool scan_decimal(std::string_view text, std::int32_t& value) { return Span(text).read_int(value); }

namespace {

// 1 for the bytes kept: all but blank, \t, \n, \r and \f (a vertical tab stays). Every
// catalogue line goes through here, so one table load per byte.
constexpr std::array<unsigned char, 256> make_kept() {
  std::array<unsigned char, 256> kept{};
  for (auto& k : kept) k = 1;
  for (const char c : {' ', '\t', '\n', '\r', '\f'}) kept[static_cast<unsigned char>(c)] = 0;
  return kept;
}
constexpr std::array<unsigned char, 256> kKept = make_kept();

}  // namespace

void remove_whitespace(char* text) {
  if (text == nullptr) return;
  // Every byte is stored and the output moves on only past a kept one: no branch to mispredict
  // on lines that mix words and blanks. out never passes in, so the store is always safe.
  char* out = text;
  for (const char* in = text; *in != '\0'; ++in) {
    *out = *in;
    out += kKept[static_cast<unsigned char>(*in)];
  }
  *out = '\0';
}

}  // namespace lumora
