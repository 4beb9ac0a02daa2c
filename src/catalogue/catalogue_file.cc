#include "catalogue/catalogue_file.h"

#include <cstdio>
#include <cstring>

#include "common/byte_io.h"
#include "common/unique_file.h"
#include "netconfig/scramble.h"

namespace lumora {
namespace {

constexpr char kSectionHeader[] = "[Support Model]";
constexpr std::size_t kSectionHeaderLength = sizeof kSectionHeader - 1;
constexpr char kIniSuffix[] = ".ini";
constexpr std::size_t kIniSuffixLength = sizeof kIniSuffix - 1;

// Reads one line into line and descrambles it; false at the end of the file.
bool read_line(std::FILE* file, char (&line)[kCatalogueLineSize]) {
  if (std::fgets(line, static_cast<int>(sizeof line), file) == nullptr) return false;
  decode_line(line);
  return true;
}

}  // namespace

int is_ini_name(const char* name) {
  if (name == nullptr || name[0] == '.') return -1;
  const std::size_t length = std::strlen(name);
  if (length < kIniSuffixLength) return -1;
  return std::strcmp(name + length - kIniSuffixLength, kIniSuffix) == 0 ? 0 : -1;
}

void for_each_model_line(const char* path, ModelLineHandler on_model_line) {
  if (path == nullptr) return;
  // A FIFO or a device in the catalogue's place is passed over, never waited on.
  UniqueFd fd;
  if (open_regular_file(path, fd) != RegularOpen::kOpened) return;
  UniqueFile file(::fdopen(fd.get(), "r"));
  if (!file) return;
  fd.release();  // the stream owns it now
  char line[kCatalogueLineSize];

  // The header counts only at the very first character; what follows it is ignored.
  bool in_section = false;
  while (!in_section && read_line(file.get(), line)) {
    in_section = std::strncmp(line, kSectionHeader, kSectionHeaderLength) == 0;
  }

  while (in_section && read_line(file.get(), line)) {
    char* start = line + std::strspn(line, " \t");
    if (*start == '\n' || *start == '#') continue;
    // Any other section ends the reading, even a second "[Support Model]".
    if (*start == '[') break;
    // A carriage return, or nothing at all, is a model line like any other.
    on_model_line(start);
  }
}

}  // namespace lumora
