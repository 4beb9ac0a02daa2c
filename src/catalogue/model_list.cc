#include "catalogue/model_list.h"

#include <dirent.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "catalogue/catalogue_file.h"
#include "common/bounded_text.h"
#include "common/paths.h"
#include "common/unique_file.h"

namespace lumora {

namespace {

constexpr std::size_t kCataloguePathSize = 1024;

const AdvModel* find_adv_model(const char* name) {
  if (name == nullptr) return nullptr;
  for (const AdvModel* model = root_adv_model; model != nullptr; model = model->next) {
    if (std::strcmp(model->name, name) == 0) return model;
  }
  return nullptr;
}

void read_models_dir(const char* models_dir) {
  if (models_dir == nullptr) return;
  UniqueDir dir(opendir(models_dir));
  if (!dir) return;
  while (const dirent* entry = readdir(dir.get())) {
    if (is_ini_name(entry->d_name) != 0) continue;
    char path[kCataloguePathSize];
    // A path that does not fit would name another file; such an entry is passed over.
    if (!format_bounded(path, sizeof path, "%s/%s", models_dir, entry->d_name)) continue;
    read_adv_model_file(path);
  }
}

}  // namespace

int load_adv_models() { return load_adv_models_from(kModelsDir, kDefaultCatalogue); }

int load_adv_models_from(const char* models_dir, const char* default_file) {
  if (root_adv_model != nullptr) return -1;
  read_models_dir(models_dir);
  // The default file is read also when the models directory is missing.
  read_adv_model_file(default_file);
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
