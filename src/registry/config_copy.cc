#include "registry/config_copy.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "common/bounded_text.h"
#include "common/byte_io.h"
#include "common/paths.h"
#include "common/unique_file.h"
#include "registry/config_writer.h"
#include "registry/file_replacement.h"

namespace lumora {
namespace {

// The path of a labelled copy: the backend's directory, the label and ".lumoraconf".
constexpr std::size_t kCopyPathSize = 512;
// The smallest path buffer config_copy_path accepts, part of its interface: the directory and
// the suffix alone take 43 characters and the terminator, so a smaller one holds no label.
constexpr std::size_t kMinCopyPathSize = 48;

enum class CopyDirection : std::uint8_t { kSave = 0, kLoad = 1 };

// Copies the configuration file to the labelled copy or back, through a new file renamed
// over the destination once it is complete. Both ends must be regular files (a missing
// destination aside): a FIFO, a directory or a device is refused before anything is read.
// A saved copy takes the configuration file's permission bits (and owner, as root), so a
// private configuration never lies open in a copy, and what -l: installs later is only what
// could change the configuration itself.
std::int32_t copy_step(const char* label_path, CopyDirection direction) {
  const char* source = direction == CopyDirection::kSave ? kConfigFile : label_path;
  const char* destination = direction == CopyDirection::kSave ? label_path : kConfigFile;
  DirectoryLock lock;
  if (!lock_for_writing(lock, kConfigDir)) return 0;
  UniqueFd in;
  if (open_regular_file(source, in) != RegularOpen::kOpened) return 0;
  struct stat source_info {};
  if (::fstat(in.get(), &source_info) != 0) return 0;
  struct stat old {};
  if (::stat(destination, &old) == 0 ? !S_ISREG(old.st_mode) : errno != ENOENT) return 0;
  PendingFile pending;
  if (!pending.create(destination, lock)) return 0;
  if (!copy_all(in.get(), pending.fd())) return 0;
  const bool committed =
      direction == CopyDirection::kSave ? pending.commit_like(source_info) : pending.commit();
  return committed ? 1 : 0;
}

}  // namespace

std::int32_t config_copy_path(const char* option_word, char* buffer, std::size_t size) {
  if (size < kMinCopyPathSize) return -1;
  const char* word = option_word;
  while (*word == ' ' || *word == '\t') ++word;
  for (int skipped = 0; skipped < 3 && *word != '\0'; ++skipped) ++word;
  // A labelled copy always lies in the configuration directory.
  if (std::strchr(word, '/') != nullptr) return -1;
  if (!format_bounded(buffer, size, "%s%s%s", kConfigDir, word, kLabelSuffix)) return -1;
  return 1;
}

std::int32_t save_config_copy(const char* option_word) {
  char path[kCopyPathSize];
  if (config_copy_path(option_word, path, sizeof path) != 1) return 0;
  return copy_step(path, CopyDirection::kSave);
}

std::int32_t load_config_copy(const char* option_word) {
  char path[kCopyPathSize];
  if (config_copy_path(option_word, path, sizeof path) != 1) return 0;
  return copy_step(path, CopyDirection::kLoad);
}

}  // namespace lumora
