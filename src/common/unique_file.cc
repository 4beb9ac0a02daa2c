#include "common/unique_file.h"

namespace lumora {

int file_exists(const char* path) {
  UniqueFile file(std::fopen(path, "r"));
  return file ? 1 : 0;
}

}  // namespace lumora
