#include "catalogue/model_line.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "catalogue/adv_model.h"
#include "common/bounded_text.h"
#include "common/build_config.h"

namespace lumora {

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

namespace {

// Terminates the field at its comma; returns the field and sets rest to what follows the
// comma, or to null for the last field.
std::string_view split_field(char*& rest) {
  char* const field = rest;
  char* comma = std::strchr(field, ',');
  if (comma == nullptr) {
    rest = nullptr;
    return field;
  }
  *comma = '\0';
  rest = comma + 1;
  return {field, static_cast<std::size_t>(comma - field)};
}

}  // namespace

char* next_field(char* rest, std::int32_t& target, std::int32_t missing_value) {
  if (rest == nullptr) {
    target = missing_value;
    return nullptr;
  }
  scan_decimal(split_field(rest), target);
  return rest;
}

char* next_field(char* rest, char* target, std::size_t size) {
  if (rest == nullptr) {
    if (size != 0) target[0] = '\0';
    return nullptr;
  }
  const std::string_view field = split_field(rest);
  if (size != 0) scan_word(field, target, size);
  return rest;
}

namespace {

// One value stands for every number a line leaves out, and for an unknown product.
constexpr std::int32_t kMissingNumber = 0xFFFF;
constexpr std::uint32_t kUnknownProduct = 0xFFFF;

// The ID is "0x<vendor>:0x<product>" or "0x<product>". Scanning stops at the first mismatch,
// so whatever the text does not supply keeps its default.
void scan_ids(const char* id_text, AdvModel& model) {
  model.product_id = kUnknownProduct;
  model.vendor_id = kMakerVendorId;
  if (std::strstr(id_text, ":0x") != nullptr) {
    bounded_scan(id_text, "0x%x:0x%x", {scan_hex(model.vendor_id), scan_hex(model.product_id)});
  } else {
    bounded_scan(id_text, "0x%x", {scan_hex(model.product_id)});
  }
}

}  // namespace

int parse_adv_model(char* line) {
  remove_whitespace(line);
  auto* model = static_cast<AdvModel*>(std::calloc(1, sizeof(AdvModel)));
  if (model == nullptr) return -1;
  append_adv_model(model);
  // A present but empty RE or WE must read back as -1, not as the 0 of the zero fill.
  model->re = -1;
  model->we = -1;

  char id_text[kModelIdTextSize];
  id_text[0] = '\0';  // an empty ID field leaves it so
  char* rest = next_field(line, id_text);
  scan_ids(id_text, *model);

  rest = next_field(rest, model->type, kMissingNumber);
  rest = next_field(rest, model->type2, kMissingNumber);
  rest = next_field(rest, model->name);
  rest = next_field(rest, model->re, kMissingNumber);
  rest = next_field(rest, model->we, kMissingNumber);
  for (auto& cm : model->cm) rest = next_field(rest, cm);

  // Truncating division: the remainder keeps the sign of the number (-205 gives -2 and -5).
  const std::int32_t first_type = model->type;
  model->type_hundreds = first_type / 100;
  model->type = first_type % 100;
  return 0;
}

}  // namespace lumora
