// The companion's inputs as the files of a fresh temporary directory, laid out as the
// backend's configuration directory: the device file, the models directory and the default
// catalogue file, none of them made yet.
#pragma once

#include <string>

#include "query/query_answers.h"
#include "support/temp_dir.h"

namespace lumora::testing {

struct TempSources {
  TempSources()
      : config_file(dir.path() + "/lumsanenetdevice.cfg"),
        config_dir(dir.path() + "/"),
        models_dir(dir.path() + "/models"),
        default_catalogue(dir.path() + "/Lumsane.ini") {
    sources.config_file = config_file.c_str();
    sources.config_dir = config_dir.c_str();
    sources.models_dir = models_dir.c_str();
    sources.default_catalogue = default_catalogue.c_str();
  }
  TempSources(const TempSources&) = delete;
  TempSources& operator=(const TempSources&) = delete;

  TempDir dir;
  std::string config_file;
  std::string config_dir;
  std::string models_dir;
  std::string default_catalogue;
  QuerySources sources;  // points into the strings above
};

}  // namespace lumora::testing
