#include "registry/remove_devices.h"

#include <unistd.h>

#include <cstring>

#include "common/bounded_text.h"
#include "common/paths.h"
#include "common/shell_quote.h"
#include "registry/config_writer.h"
#include "registry/file_copy.h"
#include "registry/scratch_file.h"

namespace lumora {
namespace {

constexpr std::size_t kRemoveCommandSize = 512;

// One pass: the configuration file as it stands goes through sed and uniq into a new file,
// which then takes its place.
bool remove_one_name(const ScratchFile& scratch, const char* name) {
  const CopyResult copied = copy_file(kConfigFile, scratch.path(), "w");
  if (copied == kCopyIoError || (copied == kCopyNotOpened && ::truncate(scratch.path(), 0) != 0)) {
    report_cannot_write(scratch.path());
    return false;
  }
  // A name that does not fit the command is passed over.
  return rewrite_config(scratch, [&](const char* output, char* command, std::size_t size) {
           return format_remove_command(scratch.path(), name, output, command,
                                        size < kRemoveCommandSize ? size : kRemoveCommandSize);
         }) != RewriteResult::kFailed;
}

}  // namespace

bool escape_remove_word(std::string_view name, char* dest, std::size_t size) {
  if (size == 0) return false;
  dest[0] = '\0';
  // Names are single tokens: a word with white space names no device, and its blanks would
  // let the pattern reach into the next fields of another device's line.
  if (name.empty() || name.find_first_of(" \t\n\r\v\f") != std::string_view::npos) return false;
  std::size_t used = 0;
  auto put = [&](std::string_view piece) {
    if (piece.size() >= size - used) return false;
    std::memcpy(dest + used, piece.data(), piece.size());
    used += piece.size();
    return true;
  };
  for (char c : name) {
    bool ok = true;
    switch (c) {
      case '\\': case '/': case '.': case '*': case '[': case ']': case '^': case '$':
        ok = put("\\") && put(std::string_view(&c, 1));
        break;
      case '\'':
        ok = put("'\\''");
        break;
      default:
        ok = put(std::string_view(&c, 1));
    }
    if (!ok) {
      dest[0] = '\0';
      return false;
    }
  }
  dest[used] = '\0';
  return true;
}

bool format_remove_command(const char* scratch_path, const char* name, const char* output_path,
                           char* command, std::size_t size) {
  char word[kRemoveCommandSize];
  char scratch_word[kRemoveCommandSize];
  char output_word[kRemoveCommandSize];
  return escape_remove_word(name, word, sizeof word) &&
         shell_quote(scratch_path, scratch_word, sizeof scratch_word) &&
         shell_quote(output_path, output_word, sizeof output_word) &&
         format_bounded(command, size, "cat %s | sed s/'DEVICE=%s .*$'// | uniq > %s",
                        scratch_word, word, output_word);
}

std::int32_t remove_net_devices(int argc, char** argv) {
  ScratchFile scratch;
  if (!make_scratch_file(scratch)) return -1;
  if (argc < 3) return 0;  // no names: nothing to remove
  ConfigLock lock;
  if (!lock_config_for_rewrite(lock)) return 0;
  for (int i = 2; i < argc; ++i) {
    if (!remove_one_name(scratch, argv[i])) break;
  }
  return 0;
}

}  // namespace lumora
