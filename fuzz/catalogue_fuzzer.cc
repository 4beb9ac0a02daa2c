// The catalogue reader on an arbitrary file, read both from a models directory and as the
// default file, and parse_adv_model on the whole input as one line; then the dump (standard
// output goes to /dev/null), the lookups and the release.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/catalogue_file.h"
#include "catalogue/model_list.h"
#include "fuzz_support.h"

using lumora::fuzz::fail;

namespace {

std::unique_ptr<lumora::fuzz::MemFile> input_file;
std::string models_dir;

bool terminated(const char* text, std::size_t size) { return ::strnlen(text, size) < size; }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  input_file = std::make_unique<lumora::fuzz::MemFile>();
  models_dir = lumora::fuzz::scratch_dir() + "/models";
  if (::mkdir(models_dir.c_str(), 0700) != 0) fail("cannot make the models directory");
  // A catalogue entry, a hidden one and a non-catalogue name, all the same input.
  for (const char* name : {"/input.ini", "/.hidden.ini", "/input.txt"}) {
    if (::symlink(input_file->path().c_str(), (models_dir + name).c_str()) != 0) {
      fail("cannot link the input into the models directory");
    }
  }
  if (std::freopen("/dev/null", "w", stdout) == nullptr) fail("cannot send stdout to /dev/null");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  input_file->set(data, size);
  if (root_adv_model != nullptr) fail("the catalogue was not empty at the start");

  if (lumora::load_adv_models_from(models_dir.c_str(), input_file->path().c_str()) != 0) {
    fail("load_adv_models_from refused an empty catalogue");
  }
  std::size_t from_files = 0;
  for (const AdvModel* model = root_adv_model; model != nullptr; model = model->next) ++from_files;
  if (from_files % 2 != 0) fail("the file and its link in the models directory differ");
  if (root_adv_model != nullptr &&
      lumora::load_adv_models_from(models_dir.c_str(), input_file->path().c_str()) != -1) {
    fail("a second load did not refuse");
  }

  auto line = std::make_unique<char[]>(size + 1);
  std::memcpy(line.get(), data, size);
  line[size] = '\0';
  if (lumora::parse_adv_model(line.get()) != 0) fail("parse_adv_model failed");

  std::size_t records = 0;
  for (const AdvModel* model = root_adv_model; model != nullptr; model = model->next) {
    ++records;
    if (!terminated(model->name, sizeof model->name)) fail("model name unterminated");
    for (const auto& cm : model->cm) {
      if (!terminated(cm, sizeof cm)) fail("CM field unterminated");
    }
    if (model->next == nullptr && model != lumora::tail_adv_model) fail("tail is not the last record");
  }
  if (records != from_files + 1) fail("parse_adv_model did not append exactly one record");

  if (lumora::dump_adv_models() != 0) fail("dump_adv_models returned non-zero");

  std::vector<std::string> names = lumora::fuzz::words_of(data, size, " \t\n,", 16);
  for (const AdvModel* model = root_adv_model; model != nullptr; model = model->next) {
    names.emplace_back(model->name);
  }
  names.emplace_back();
  for (const std::string& name : names) {
    std::uint32_t vendor = 0x5a5a5a5a;
    std::uint32_t product = 0xa5a5a5a5;
    const int exists = lumora::adv_model_exists(name.c_str());
    const int found = lumora::get_adv_model_ids(name.c_str(), &vendor, &product);
    if (exists != found) fail("adv_model_exists and get_adv_model_ids disagree");
    const AdvModel* first = nullptr;
    for (const AdvModel* model = root_adv_model; model != nullptr; model = model->next) {
      if (name == model->name) {
        first = model;
        break;
      }
    }
    if ((first != nullptr) != (found == 1)) fail("lookup disagrees with the list");
    if (first == nullptr && (vendor != 0x5a5a5a5a || product != 0xa5a5a5a5)) {
      fail("a failed lookup changed its outputs");
    }
    if (first != nullptr && (vendor != first->vendor_id || product != first->product_id)) {
      fail("get_adv_model_ids gave another record's identifiers");
    }
  }
  (void)lumora::get_adv_model_ids(nullptr, nullptr, nullptr);

  if (lumora::free_adv_models() != 0) fail("free_adv_models returned non-zero");
  if (root_adv_model != nullptr || lumora::tail_adv_model != nullptr) fail("catalogue not empty");
  return 0;
}
