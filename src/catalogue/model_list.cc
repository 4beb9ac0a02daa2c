#include "catalogue/model_list.h"

#include <dirent.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "catalogue/catalogue_file.h"
#include "common/bounded_text.h"
#include "common/build_config.h"
#include "common/paths.h"
#include "common/unique_file.h"

extern "C" {
AdvModel* root_adv_model = nullptr;
}

namespace lumora {

AdvModel* tail_adv_model = nullptr;

void append_adv_model(AdvModel* model) {
  if (root_adv_model == nullptr) {
    root_adv_model = model;
  } else {
    tail_adv_model->next = model;
  }
  tail_adv_model = model;
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
  auto* model = static_cast<AdvModel*>(std::calloc(1, sizeof(AdvModel)));
  if (model == nullptr) {
    remove_whitespace(line);
    return -1;
  }
  append_adv_model(model);
  fill_adv_model(line, *model);
  return 0;
}

void fill_adv_model(char* line, AdvModel& model) {
  remove_whitespace(line);
  // A present but empty RE or WE must read back as -1, not as the 0 of the zero fill.
  model.re = -1;
  model.we = -1;

  char id_text[kModelIdTextSize];
  id_text[0] = '\0';  // an empty ID field leaves it so
  char* rest = next_field(line, id_text);
  scan_ids(id_text, model);

  rest = next_field(rest, model.type, kMissingNumber);
  rest = next_field(rest, model.type2, kMissingNumber);
  rest = next_field(rest, model.name);
  rest = next_field(rest, model.re, kMissingNumber);
  rest = next_field(rest, model.we, kMissingNumber);
  for (auto& cm : model.cm) rest = next_field(rest, cm);

  // Truncating division: the remainder keeps the sign of the number (-205 gives -2 and -5).
  const std::int32_t first_type = model.type;
  model.type_hundreds = first_type / 100;
  model.type = first_type % 100;
}

namespace {

constexpr std::size_t kCataloguePathSize = 1024;

const AdvModel* find_adv_model(const char* name) {
  if (name == nullptr) return nullptr;
  for (const AdvModel* model = root_adv_model; model != nullptr; model = model->next) {
    if (std::strcmp(model->name, name) == 0) return model;
  }
  return nullptr;
}

void read_models_dir(const char* models_dir, ModelLineHandler on_model_line) {
  if (models_dir == nullptr) return;
  UniqueDir dir(opendir(models_dir));
  if (!dir) return;
  while (const dirent* entry = readdir(dir.get())) {
    if (is_ini_name(entry->d_name) != 0) continue;
    char path[kCataloguePathSize];
    // A path that does not fit would name another file; such an entry is passed over.
    if (!format_bounded(path, sizeof path, "%s/%s", models_dir, entry->d_name)) continue;
    for_each_model_line(path, on_model_line);
  }
}

}  // namespace

void read_adv_model_file(const char* path) { for_each_model_line(path, parse_adv_model); }

int load_adv_models() { return load_adv_models_from(kModelsDir, kDefaultCatalogue); }

int load_adv_models_from(const char* models_dir, const char* default_file) {
  return load_adv_models_from(models_dir, default_file, parse_adv_model);
}

int load_adv_models_from(const char* models_dir, const char* default_file,
                         ModelLineHandler on_model_line) {
  if (root_adv_model != nullptr) return -1;
  read_models_dir(models_dir, on_model_line);
  // The default file is read also when the models directory is missing.
  for_each_model_line(default_file, on_model_line);
  return 0;
}

int adv_model_exists(const char* name) { return find_adv_model(name) != nullptr ? 1 : 0; }

int get_adv_model_ids(const char* name, std::uint32_t* vendor_id, std::uint32_t* product_id) {
  const AdvModel* model = find_adv_model(name);
  if (model == nullptr) return 0;
  if (vendor_id != nullptr) *vendor_id = model->vendor_id;
  if (product_id != nullptr) *product_id = model->product_id;
  return 1;
}

int dump_adv_models() {
  for (const AdvModel* model = root_adv_model; model != nullptr; model = model->next) {
    // RE and WE are shown in hexadecimal, so -1 reads 0xffffffff.
    std::printf("MODEL:%s,ID:0x%x:0x%x,TYPE:%d,%d,RE:0x%x,WE:0x%x CM:%s,%s,%s\n", model->name,
                model->vendor_id, model->product_id, model->type, model->type2,
                static_cast<unsigned>(model->re), static_cast<unsigned>(model->we), model->cm[0],
                model->cm[1], model->cm[2]);
  }
  return 0;
}

int free_adv_models() {
  AdvModel* model = root_adv_model;
  while (model != nullptr) {
    AdvModel* next = model->next;
    std::free(model);
    model = next;
  }
  root_adv_model = nullptr;
  tail_adv_model = nullptr;
  return 0;
}

}  // namespace lumora
