#include "registry/config_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <vector>

#include "common/bounded_text.h"
#include "common/byte_io.h"
#include "common/paths.h"
#include "common/shell.h"
#include "common/unique_file.h"
#include "registry/file_replacement.h"

namespace lumora {

namespace {

off_t file_size(const char* path) {
  struct stat info {};
  return ::stat(path, &info) == 0 ? info.st_size : -1;
}

off_t file_size(int fd) {
  struct stat info {};
  return ::fstat(fd, &info) == 0 ? info.st_size : -1;
}

enum class CopyOutcome : std::uint8_t { kCopied, kCannotRead, kCannotWrite };

// Appends the configuration file to the scratch file; a missing file adds nothing.
CopyOutcome copy_config_into(const ScratchFile& scratch) {
  UniqueFd config;
  switch (open_regular_file(kConfigFile, config)) {
    case RegularOpen::kMissing: return CopyOutcome::kCopied;
    case RegularOpen::kRefused: return CopyOutcome::kCannotRead;
    case RegularOpen::kOpened: break;
  }
  char chunk[kCopyChunkSize];
  for (;;) {
    const ssize_t got = ::read(config.get(), chunk, sizeof chunk);
    if (got == 0) return CopyOutcome::kCopied;
    if (got < 0) {
      if (errno == EINTR) continue;
      return CopyOutcome::kCannotRead;
    }
    if (!write_all(scratch.fd(), std::string_view(chunk, static_cast<std::size_t>(got)))) {
      return CopyOutcome::kCannotWrite;
    }
  }
}

}  // namespace

void report_cannot_write(const char* path) { std::printf("Cannot write %s\n", path); }

bool format_scratch_pipeline(char* command, std::size_t size, const char* format,
                             const char* scratch_path, const char* output_path) {
  char scratch_word[PATH_MAX];
  char output_word[PATH_MAX];
  return shell_quote(scratch_path, scratch_word, sizeof scratch_word) &&
         shell_quote(output_path, output_word, sizeof output_word) &&
         format_bounded(command, size, format, scratch_word, output_word);
}

RewriteResult rewrite_file(const DirectoryLock& lock, const char* target, const char* scratch_path,
                           const CommandFormer& form_command) {
  PendingFile pending;
  if (!pending.create(target, lock)) {
    report_cannot_write(target);
    return RewriteResult::kFailed;
  }
  std::vector<char> command(kShellCommandSize);
  if (!form_command(pending.path(), command.data(), command.size())) {
    return RewriteResult::kCommandTooLong;
  }
  const bool ran = run_pipeline(command.data()) == 0;
  const bool lost_everything = file_size(scratch_path) > 0 && file_size(pending.fd()) == 0;
  if (!ran || lost_everything || !pending.commit()) {
    report_cannot_write(target);
    return RewriteResult::kFailed;
  }
  return RewriteResult::kDone;
}

ConfigRewriteResult rewrite_config(const ConfigRewrite& rewrite) {
  ScratchFile scratch;
  if (!scratch.create()) {
    report_cannot_write(kScratchTemplate);
    return ConfigRewriteResult::kScratchFailed;
  }
  // Held from the first read of the file (the add command's duplicate test included) until
  // the new file is in place, so that concurrent writers all land.
  DirectoryLock lock;
  const bool locked = lock_for_writing(lock, kConfigDir);
  char line[kFirstLineSize] = {};
  if (rewrite.first_line && !rewrite.first_line(line, sizeof line)) {
    return ConfigRewriteResult::kRefused;
  }
  if (!locked) {
    report_cannot_write(kConfigFile);
    return ConfigRewriteResult::kFailed;
  }
  if (!write_all(scratch.fd(), line)) {
    report_cannot_write(scratch.path());
    return ConfigRewriteResult::kScratchFailed;
  }
  switch (copy_config_into(scratch)) {
    case CopyOutcome::kCopied:
      break;
    case CopyOutcome::kCannotRead:
      // Taken for an empty file, it would be replaced by what the pipeline makes of nothing.
      report_cannot_write(kConfigFile);
      return ConfigRewriteResult::kFailed;
    case CopyOutcome::kCannotWrite:
      report_cannot_write(scratch.path());
      return ConfigRewriteResult::kScratchFailed;
  }
  switch (rewrite_file(lock, kConfigFile, scratch.path(),
                       [&](const char* output, char* command, std::size_t size) {
                         return rewrite.form_command(scratch.path(), output, command, size);
                       })) {
    case RewriteResult::kDone: return ConfigRewriteResult::kDone;
    case RewriteResult::kCommandTooLong: return ConfigRewriteResult::kCommandTooLong;
    case RewriteResult::kFailed: return ConfigRewriteResult::kFailed;
  }
  return ConfigRewriteResult::kFailed;
}

}  // namespace lumora
