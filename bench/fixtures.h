// Generated inputs for the benchmarks: model catalogues (every other line scrambled) and
// device configuration files. Nothing generated here is kept in the repository.
#pragma once

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "netconfig/test_scrambler.h"

namespace lumora::bench {

// The catalogue is spread over this many model files, plus the default file.
inline constexpr int kModelFiles = 10;

// The plain text of model line n; the model is named "LX-<n>Series" once blanks are gone.
inline std::string model_line(int n) {
  char line[256];
  std::snprintf(line, sizeof line,
                "0x2e5a:0x%04x, %d, %d, \"LX-%d Series\", %d, %d, A4, ADF, DUPLEX%d\n",
                0x1000 + n % 0xE000, 1200 + n % 7, n % 3, n, 300 + n % 5, 600, n % 11);
  return line;
}

// Device line n of a generated configuration file, in the form the add command writes.
inline std::string device_line(int n) {
  char line[256];
  std::snprintf(line, sizeof line,
                "DEVICE=office-%d , \"LX-%dSeries\" , 0x2e5a:0x%x , IP-ADDRESS=10.%d.%d.%d \n", n,
                n % 500, 0x1000 + n % 500, n / 65536 % 256, n / 256 % 256, n % 256);
  return line;
}

inline void write_file(const std::string& path, const std::string& text) {
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) throw std::runtime_error("cannot write " + path);
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (std::fclose(file) != 0 || !written) throw std::runtime_error("cannot write " + path);
}

// Writes `lines` model lines, every other one scrambled with the keys cycling through all
// eight selectors, evenly over dir/models/series<k>.ini and dir/Lumsane.ini.
inline void write_catalogue(const std::string& dir, int lines) {
  std::filesystem::create_directories(dir + "/models");
  const int files = kModelFiles + 1;
  int written = 0;
  for (int f = 0; f < files; ++f) {
    const std::string path = f < kModelFiles
                                 ? dir + "/models/series" + std::to_string(f) + ".ini"
                                 : dir + "/Lumsane.ini";
    const int count = lines / files + (f < lines % files ? 1 : 0);
    std::string text = "; model list\n[General]\nversion=3\n\n[Support Model]\n";
    for (int i = 0; i < count; ++i, ++written) {
      const std::string plain = model_line(written);
      text += written % 2 == 0
                  ? plain
                  : testing::scramble_line(plain, testing::keys_for_selector(written % 8));
    }
    text += "\n[Options]\nkeep=1\n";
    write_file(path, text);
  }
}

// A configuration file of a log line and `lines` device lines.
inline void write_devices(const std::string& path, int lines) {
  std::string text = "log=/tmp/lum_sane.log , 1 , w\n";
  for (int i = 0; i < lines; ++i) text += device_line(i);
  write_file(path, text);
}

}  // namespace lumora::bench
