// The ScratchFile: where a rewrite assembles the new content before a shell pipeline turns it
// into the configuration file.
#pragma once

#include "common/paths.h"

namespace lumora {

// Made by mkstemp from kScratchTemplate and kept, under the same name, until the command is
// done: it is never unlinked and made again between passes, so nobody can slip a link in
// its place. The destructor removes it on every path.
class ScratchFile {
 public:
  ScratchFile() = default;
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  ~ScratchFile();

  const char* path() const { return path_; }

 private:
  friend bool make_scratch_file(ScratchFile& scratch);
  friend void remove_scratch_file(ScratchFile& scratch);

  char path_[sizeof kScratchTemplate] = {};
  bool made_ = false;
};

// Creates the file empty (readable and writable by its owner only). False when mkstemp fails.
bool make_scratch_file(ScratchFile& scratch);

// Unlinks the file if it was made.
void remove_scratch_file(ScratchFile& scratch);

// Writes text at the end of the scratch file. False on any write error.
bool append_to_scratch(const ScratchFile& scratch, const char* text);

}  // namespace lumora
