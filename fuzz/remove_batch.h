// The remove pattern checked with the real sed, many words to one sed run: each word's fixture
// (the line of a device so named among lines of other names) goes into one file, and one sed
// script applies each word's pattern to its own lines only, by line-number range.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "shell_coprocess.h"

namespace lumora::fuzz {

class RemoveBatch {
 public:
  // Files go into dir; a word that fails is also written to artifact_prefix + "sed-culprit".
  RemoveBatch(ShellCoprocess& shell, std::string dir, std::string artifact_prefix);

  // Where the remove commands given to add() read and write: a failing word is run again
  // alone through its command, which must name these files.
  const std::string& scratch_path() const { return scratch_path_; }
  const std::string& output_path() const { return output_path_; }

  // expression is the sed expression as the shell handed it to sed; command is the remove
  // command formed for word. Runs the batch when it is full.
  void add(const std::string& word, const std::string& expression, const std::string& command);

  // Runs sed over the words gathered so far and stops the fuzzer, naming the word, when the
  // output differs from what removing exactly each word's line gives. Also run by add() when
  // the batch is full, in words or in bytes.
  void flush();

 private:
  // Where an entry's word and command stand in texts_.
  struct Entry {
    std::size_t word_at;
    std::size_t word_size;
    std::size_t command_at;
    std::size_t command_size;
  };

  bool room_for(std::size_t fixture_size, std::size_t script_size, std::size_t text_size) const;
  [[noreturn]] void blame(const std::string& batch_why);

  ShellCoprocess& shell_;
  std::string dir_;
  std::string artifact_prefix_;
  std::string scratch_path_;
  std::string output_path_;
  // All reserved once: libFuzzer takes a run that leaves more blocks allocated than it freed
  // for a possible leak, runs it again and scans the heap, which would cost more than the
  // checks themselves. add() only ever writes into this room.
  std::vector<Entry> entries_;
  std::string texts_;
  std::string fixture_;
  std::string script_;
  std::string expected_;
  std::size_t lines_ = 0;
};

}  // namespace lumora::fuzz
