// The companion's answers: what the catalogue, the device configuration file and the
// configuration directory hold, read through the product's own readers and written in forms
// that programs can parse. Each answer reads its inputs once and changes nothing on disk.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/paths.h"

namespace lumora {

// Where the answers read from: the built-in paths, or a test's own files.
struct QuerySources {
  const char* config_file = kConfigFile;
  const char* config_dir = kConfigDir;
  const char* models_dir = kModelsDir;
  const char* default_catalogue = kDefaultCatalogue;
};

// How a list answer is written: each entry followed by terminator, and only the entries that
// begin with prefix (compared byte by byte; all of them when it is empty). The bash completion
// asks for the prefix typed so far on every Tab: the entries it does not want are passed over
// before they are collected.
struct ListForm {
  char terminator = '\n';
  std::string_view prefix;
};

// Every answer appends to out and returns true, or returns false with error set
// ("PATH: REASON") when an input exists but cannot be read. A missing input is an empty one.

// The model names that "-a model=NAME" finds in the catalogue, in catalogue order, each once,
// without their double quotes, in form. A catalogue name that is not
// enclosed in double quotes cannot be found by the add command and is left out.
bool query_models(const QuerySources& sources, const ListForm& form, std::string& out,
                  std::string& error);

// The same names as query_models, in the same order, as a list.
bool catalogue_model_names(const QuerySources& sources, std::vector<std::string>& names,
                           std::string& error);

// One JSON object per device entry, in file order: {"name":..,"model":..,"id":..,"ip":..,
// "nodename":..}, each field as the reader holds it (the model with its quotes, a field the
// line did not supply as ""), then a line feed.
bool query_devices(const QuerySources& sources, std::string& out, std::string& error);

// The names "-r NAME" removes, in file order, each once, in form: the
// name removal_name gives each line (the reader's name of the device on a line of up to 276
// bytes, a name over 63 bytes cut to the 63 the reader keeps). A name holds no white space.
bool query_names(const QuerySources& sources, const ListForm& form, std::string& out,
                 std::string& error);

// The labels of the saved copies (LABEL.lumoraconf regular files of the configuration
// directory, a link to one included), sorted bytewise, in form. With a line feed as
// terminator a label holding a line feed is left out: it cannot be told apart.
bool query_labels(const QuerySources& sources, const ListForm& form, std::string& out,
                  std::string& error);

// The log settings a backend starting now would apply: {"path":..,"level":N,"mode":..} and a
// line feed (mode null when no log line supplied it), or "null" and a line feed when no log
// line supplied any setting.
bool query_log(const QuerySources& sources, std::string& out, std::string& error);

}  // namespace lumora
