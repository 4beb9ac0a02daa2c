#include "registry/config_copy.h"

#include <cstring>

#include "common/bounded_text.h"
#include "common/paths.h"
#include "registry/config_writer.h"
#include "registry/file_copy.h"
#include "registry/pending_file.h"

namespace lumora {
namespace {

constexpr std::size_t kCopyPathSize = 512;

enum class CopyDirection : std::uint8_t { kSave = 0, kLoad = 1 };

// Copies the configuration file to the labelled copy or back, through a new file renamed
// over the destination once it is complete.
std::int32_t copy_step(const char* label_path, CopyDirection direction) {
  const char* source = direction == CopyDirection::kSave ? kConfigFile : label_path;
  const char* destination = direction == CopyDirection::kSave ? label_path : kConfigFile;
  DirectoryLock lock;
  if (!lock_for_writing(lock, kConfigDir) || !file_exists(source)) return 0;
  PendingFile pending;
  if (!pending.create(destination, lock)) return 0;
  if (copy_file_to_fd(source, pending.fd()) != kCopyDone) return 0;
  return pending.commit() ? 1 : 0;
}

}  // namespace

std::int32_t config_copy_path(const char* option_word, char* buffer, std::size_t size) {
  if (size < 48) return -1;
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
