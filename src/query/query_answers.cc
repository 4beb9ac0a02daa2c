#include "query/query_answers.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "catalogue/catalogue_file.h"
#include "catalogue/model_list.h"
#include "common/bounded_text.h"
#include "common/unique_file.h"
#include "query/json_text.h"
#include "query/query_input.h"
#include "registry/device_registry.h"
#include "registry/remove_devices.h"

namespace lumora {
namespace {

// Reads the device file into the registry: false when it exists but cannot be read.
bool load_devices(const char* config_file, std::string& error) {
  switch (probe_input(config_file, InputKind::kFile, error)) {
    case InputState::kMissing: return true;
    case InputState::kUnreadable: return false;
    case InputState::kReadable: break;
  }
  errno = 0;
  // -1 with entries loaded is an entry that could not be allocated; with none, the file
  // vanished or became unreadable since the probe.
  if (load_net_devices_from(config_file) < 0) {
    error = std::string(config_file) + ": " + std::strerror(errno != 0 ? errno : EIO);
    return false;
  }
  return true;
}

std::string_view field_text(const char (&field)[kDeviceTextSize]) {
  return {field, bounded_length(field, kDeviceTextSize)};
}

void append_member(std::string& out, const char* key, std::string_view value) {
  out += out.back() == '{' ? "\"" : ",\"";
  out += key;
  out += "\":";
  append_json_string(out, value);
}

// The label a directory entry stands for, or empty when it is no labelled copy.
std::string_view label_of(std::string_view entry_name) {
  const std::string_view suffix = kLabelSuffix;
  if (entry_name.size() <= suffix.size()) return {};
  if (entry_name.substr(entry_name.size() - suffix.size()) != suffix) return {};
  return entry_name.substr(0, entry_name.size() - suffix.size());
}

// The model-name prefix of the listing being loaded: the catalogue reader calls a plain
// function for each line, so the one it calls finds the prefix here. Set only while a
// listing loads.
std::string_view g_listed_prefix;

// A model line's fields before the name: the ID and the two TYPE numbers.
constexpr int kFieldsBeforeName = 3;

// The unquoted model name of a catalogue name, or an empty view when "-a model=NAME" could
// not find it (not enclosed in double quotes).
std::string_view findable_name(const AdvModel& model) {
  const std::string_view name(model.name, bounded_length(model.name, kAdvModelNameSize));
  if (name.size() < 3 || name.front() != '"' || name.back() != '"') return {};
  return name.substr(1, name.size() - 2);
}

// Keeps the line's model only when its name begins with the prefix. A catalogue of ten
// thousand models costs most in the records it allocates; the others never get one. The name
// is read from a copy as parse_adv_model reads it: blanks removed, the fourth comma field.
int parse_prefixed_model(char* line) {
  char copy[kCatalogueLineSize];
  if (!copy_bounded(copy, sizeof copy, line)) return parse_adv_model(line);
  remove_whitespace(copy);
  char* rest = copy;
  for (int field = 0; field < kFieldsBeforeName; ++field) rest = next_field(rest, nullptr, 0);
  AdvModel probe{};
  next_field(rest, probe.name);
  const std::string_view name = findable_name(probe);
  if (name.empty() || !name.starts_with(g_listed_prefix)) return 0;
  return parse_adv_model(line);
}

}  // namespace

bool catalogue_model_names(const QuerySources& sources, std::vector<std::string>& names,
                           std::string& error) {
  if (!catalogue_readable(sources.models_dir, sources.default_catalogue, error)) return false;
  const ScopedCatalogue catalogue;
  load_adv_models_from(sources.models_dir, sources.default_catalogue);
  // The names stay in the list until the list is released, so the set holds views of them.
  std::unordered_set<std::string_view> seen;
  for (const AdvModel* model = root_adv_model; model != nullptr; model = model->next) {
    const std::string_view inner = findable_name(*model);
    if (inner.empty() || !seen.insert(inner).second) continue;
    names.emplace_back(inner);
  }
  return true;
}

bool query_models(const QuerySources& sources, const ListForm& form, std::string& out,
                  std::string& error) {
  if (!catalogue_readable(sources.models_dir, sources.default_catalogue, error)) return false;
  const ScopedCatalogue catalogue;
  if (form.prefix.empty()) {
    load_adv_models_from(sources.models_dir, sources.default_catalogue);
  } else {
    g_listed_prefix = form.prefix;
    load_adv_models_from(sources.models_dir, sources.default_catalogue, parse_prefixed_model);
    g_listed_prefix = {};
  }
  // The names stay in the list until the answer is written, so the set holds views of them.
  std::unordered_set<std::string_view> seen;
  for (const AdvModel* model = root_adv_model; model != nullptr; model = model->next) {
    const std::string_view inner = findable_name(*model);
    if (inner.empty() || !inner.starts_with(form.prefix) || !seen.insert(inner).second) continue;
    out.append(inner);
    out += form.terminator;
  }
  return true;
}

bool query_devices(const QuerySources& sources, std::string& out, std::string& error) {
  const ScopedDeviceList devices;
  if (!load_devices(sources.config_file, error)) return false;
  for (const DeviceEntry* entry = first_net_device(); entry != nullptr; entry = entry->next) {
    out += '{';
    append_member(out, "name", field_text(entry->name));
    append_member(out, "model", field_text(entry->model));
    append_member(out, "id", field_text(entry->id));
    append_member(out, "ip", field_text(entry->ip));
    append_member(out, "nodename", field_text(entry->nodename));
    out += "}\n";
  }
  return true;
}

bool query_names(const QuerySources& sources, const ListForm& form, std::string& out,
                 std::string& error) {
  switch (probe_input(sources.config_file, InputKind::kFile, error)) {
    case InputState::kMissing: return true;
    case InputState::kUnreadable: return false;
    case InputState::kReadable: break;
  }
  // Read by whole lines, as the remove command's sed reads them, and named by the same rule.
  std::ifstream file(sources.config_file, std::ios::binary);
  if (!file) {
    error = std::string(sources.config_file) + ": " + std::strerror(errno != 0 ? errno : EIO);
    return false;
  }
  std::unordered_set<std::string> seen;
  std::string line;
  while (std::getline(file, line)) {
    const std::string_view name = removal_name(line);
    if (name.empty() || !name.starts_with(form.prefix) || !seen.emplace(name).second) continue;
    out.append(name);
    out += form.terminator;
  }
  if (file.bad()) {
    error = std::string(sources.config_file) + ": " + std::strerror(EIO);
    return false;
  }
  return true;
}

bool query_labels(const QuerySources& sources, const ListForm& form, std::string& out,
                  std::string& error) {
  switch (probe_input(sources.config_dir, InputKind::kDirectory, error)) {
    case InputState::kMissing: return true;
    case InputState::kUnreadable: return false;
    case InputState::kReadable: break;
  }
  const UniqueDir dir(::opendir(sources.config_dir));
  if (!dir) {
    error = std::string(sources.config_dir) + ": " + std::strerror(errno);
    return false;
  }
  std::string dir_path = sources.config_dir;
  if (dir_path.empty() || dir_path.back() != '/') dir_path += '/';
  std::vector<std::string> labels;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string_view label = label_of(entry->d_name);
    if (label.empty() || !label.starts_with(form.prefix)) continue;
    if (form.terminator == '\n' && label.find('\n') != std::string_view::npos) continue;
    // Loading a copy reads through a link, so a link to a regular file is a copy too.
    const std::string path = dir_path + entry->d_name;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
    labels.emplace_back(label);
  }
  std::sort(labels.begin(), labels.end());
  for (const std::string& label : labels) {
    out += label;
    out += form.terminator;
  }
  return true;
}

bool query_log(const QuerySources& sources, std::string& out, std::string& error) {
  // The settings start from the values a fresh backend has; only log lines change them.
  g_logfile[0] = '\0';
  g_loglevel = 0;
  g_logmode = '\0';
  const ScopedDeviceList devices;
  if (!load_devices(sources.config_file, error)) return false;
  if (g_logfile[0] == '\0' && g_loglevel == 0 && g_logmode == '\0') {
    out += "null\n";
    return true;
  }
  out += '{';
  append_member(out, "path", {g_logfile, bounded_length(g_logfile, kLogFileSize)});
  out += ",\"level\":" + std::to_string(g_loglevel) + ",\"mode\":";
  if (g_logmode == '\0') {
    out += "null";
  } else {
    append_json_string(out, std::string_view(&g_logmode, 1));
  }
  out += "}\n";
  return true;
}

}  // namespace lumora
