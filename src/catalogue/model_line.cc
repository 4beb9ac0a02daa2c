#include "catalogue/model_line.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "catalogue/adv_model.h"
#include "catalogue/model_field.h"
#include "catalogue/whitespace.h"
#include "common/bounded_scan.h"
#include "common/build_config.h"

namespace lumora {
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
