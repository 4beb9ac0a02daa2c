#include "registry/scratch_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include "common/bounded_text.h"
#include "common/byte_io.h"
#include "common/unique_file.h"

namespace lumora {

ScratchFile::~ScratchFile() { remove_scratch_file(*this); }

bool make_scratch_file(ScratchFile& scratch) {
  remove_scratch_file(scratch);
  copy_bounded(scratch.path_, kScratchTemplate);
  const int fd = ::mkstemp(scratch.path_);
  if (fd < 0) {
    scratch.path_[0] = '\0';
    return false;
  }
  ::close(fd);
  scratch.made_ = true;
  return true;
}

void remove_scratch_file(ScratchFile& scratch) {
  if (!scratch.made_) return;
  ::unlink(scratch.path_);
  scratch.made_ = false;
}

bool append_to_scratch(const ScratchFile& scratch, const char* text) {
  UniqueFd fd(::open(scratch.path(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) return false;
  if (!write_all(fd.get(), text)) return false;
  return ::close(fd.release()) == 0;
}

}  // namespace lumora
