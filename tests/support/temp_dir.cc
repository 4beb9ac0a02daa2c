#include "support/temp_dir.h"

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>

#include "support/file_text.h"

namespace lumora::testing {

TempDir::TempDir() {
  std::string pattern = "/var/tmp/lumora-unit-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::write(std::string_view name, std::string_view content) const {
  const std::string full = (std::filesystem::path(path_) / name).string();
  write_whole_file(full, content);
  return full;
}

}  // namespace lumora::testing
