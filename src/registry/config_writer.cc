#include "registry/config_writer.h"

#include <sys/stat.h>

#include <climits>
#include <cstdio>
#include <vector>

#include "common/bounded_text.h"
#include "common/paths.h"
#include "common/run_shell.h"
#include "common/shell_quote.h"
#include "registry/pending_file.h"

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

}  // namespace

bool lock_for_writing(DirectoryLock& lock, const char* dir) {
  if (!lock.acquire(dir)) return false;
  remove_stale_pending_files(lock.fd());
  return true;
}

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
  const bool ran = run_shell(command.data()) == 0;
  const bool lost_everything = file_size(scratch_path) > 0 && file_size(pending.fd()) == 0;
  if (!ran || lost_everything || !pending.commit()) {
    report_cannot_write(target);
    return RewriteResult::kFailed;
  }
  return RewriteResult::kDone;
}

bool merge_into_config(const DirectoryLock& lock, const ScratchFile& scratch) {
  return rewrite_file(lock, kConfigFile, scratch.path(),
                      [&](const char* output, char* command, std::size_t size) {
                        return format_scratch_pipeline(command, size, "uniq %s > %s",
                                                       scratch.path(), output);
                      }) == RewriteResult::kDone;
}

}  // namespace lumora
