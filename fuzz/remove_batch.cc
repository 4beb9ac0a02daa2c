#include "remove_batch.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <utility>

#include "fuzz_support.h"
#include "registry/remove_devices.h"

namespace lumora::fuzz {
namespace {

// sed tries every range of the script on every line, so a batch costs it the square of its
// words; at 250 words that stays below the cost of starting sed and compiling the patterns,
// which a batch spreads over its words. The byte bounds keep the files to a few megabytes: a
// word's fixture is 25 lines of up to twice its length, and a word the remove command takes
// is under 512 bytes.
constexpr std::size_t kBatchWords = 250;
constexpr std::size_t kFixtureBytes = std::size_t{4} << 20;
constexpr std::size_t kScriptBytes = std::size_t{1} << 20;
constexpr std::size_t kTextBytes = std::size_t{1} << 20;
constexpr int kSedTimeoutMs = 120000;
const char* const kOtherNames[] = {"office", "Office", "lab-1", "lab_2",
                                   "a",      "A1",     "scan.room", "x*"};

struct Fixture {
  std::string input;
  std::string expected;  // input with the lines the word names emptied
  std::size_t lines = 0;
};

std::string device_line(const std::string& name, int host) {
  return "DEVICE=" + name + " , \"M\" , Unknown , IP-ADDRESS=10.0.0." + std::to_string(host) +
         " \n";
}

// The word's line among the other names alone and with the word before and after them, so
// that a pattern matching too much (a prefix, a suffix, any character) empties a line it must
// keep. A line is to be emptied when the reader gives its device the word as name: the word's
// own line, and the line of a longer name the word's 63 bytes begin.
Fixture fixture_for(const std::string& word) {
  Fixture fixture;
  int host = 2;
  for (std::size_t i = 0; i < std::size(kOtherNames); ++i) {
    if (i == std::size(kOtherNames) / 2) {
      fixture.input += device_line(word, 1);
      fixture.expected += "\n";
      ++fixture.lines;
    }
    for (const std::string& name : {std::string(kOtherNames[i]), word + kOtherNames[i],
                                     kOtherNames[i] + word}) {
      if (name == word) continue;
      const std::string line = device_line(name, host++);
      fixture.input += line;
      fixture.expected += removal_name(line.substr(0, line.size() - 1)) == word ? "\n" : line;
      ++fixture.lines;
    }
  }
  return fixture;
}

std::optional<std::string> read_if_there(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string quoted_path(const std::string& path) {
  if (path.find('\'') != std::string::npos) fail("a scratch path holds a quote", path);
  return "'" + path + "'";
}

}  // namespace

RemoveBatch::RemoveBatch(ShellCoprocess& shell, std::string dir, std::string artifact_prefix)
    : shell_(shell),
      dir_(std::move(dir)),
      artifact_prefix_(std::move(artifact_prefix)),
      scratch_path_(dir_ + "/remove.in"),
      output_path_(dir_ + "/remove.out") {
  entries_.reserve(kBatchWords);
  texts_.reserve(kTextBytes);
  fixture_.reserve(kFixtureBytes);
  expected_.reserve(kFixtureBytes);
  script_.reserve(kScriptBytes);
}

bool RemoveBatch::room_for(std::size_t fixture_size, std::size_t script_size,
                           std::size_t text_size) const {
  return entries_.size() < entries_.capacity() &&
         fixture_size <= fixture_.capacity() - fixture_.size() &&
         fixture_size <= expected_.capacity() - expected_.size() &&
         script_size <= script_.capacity() - script_.size() &&
         text_size <= texts_.capacity() - texts_.size();
}

void RemoveBatch::add(const std::string& word, const std::string& expression,
                      const std::string& command) {
  const Fixture fixture = fixture_for(word);
  // The expression exactly as the shell passed it: sed reads a command from a script file as it
  // reads it from its argument, and the range keeps it to this word's lines.
  const std::string tail = "{\n" + expression + "\n}\n";
  std::string range = std::to_string(lines_ + 1) + "," + std::to_string(lines_ + fixture.lines);
  if (!room_for(fixture.input.size(), range.size() + tail.size(), word.size() + command.size())) {
    flush();
    range = "1," + std::to_string(fixture.lines);
  }
  if (!room_for(fixture.input.size(), range.size() + tail.size(), word.size() + command.size())) {
    fail("one word does not fit an empty sed batch", escaped_bytes(word));
  }
  lines_ += fixture.lines;
  script_ += range;
  script_ += tail;
  fixture_ += fixture.input;
  expected_ += fixture.expected;
  entries_.push_back({texts_.size(), word.size(), texts_.size() + word.size(), command.size()});
  texts_ += word;
  texts_ += command;
  if (entries_.size() == kBatchWords) flush();
}

void RemoveBatch::flush() {
  if (entries_.empty()) return;
  const std::string input = dir_ + "/batch.in";
  const std::string script = dir_ + "/batch.sed";
  const std::string output = dir_ + "/batch.out";
  write_file(input, fixture_);
  write_file(script, script_);
  std::remove(output.c_str());
  std::string why;
  const std::optional<std::string> status =
      shell_.run("sed -E -f " + quoted_path(script) + " " + quoted_path(input) + " > " +
                     quoted_path(output) + " 2> " + quoted_path(dir_ + "/batch.err") +
                     "; printf '%s' \"$?\"",
                 kSedTimeoutMs, &why);
  if (!status) blame(why);
  if (*status != "0") blame("sed exited with status " + *status);
  if (read_if_there(output) != expected_) blame("sed's output differs from the expected one");
  entries_.clear();
  texts_.clear();
  fixture_.clear();
  script_.clear();
  expected_.clear();
  lines_ = 0;
}

// The batch only says that some word went wrong; each word's own remove command, run alone by a
// fresh shell as the tool runs it, tells which. libFuzzer's crash file is the input it was
// running when the batch filled up (or nothing useful when the batch ran at exit), not
// necessarily the culprit, so the culprit is printed and written out here.
void RemoveBatch::blame(const std::string& batch_why) {
  for (const Entry& entry : entries_) {
    const std::string word = texts_.substr(entry.word_at, entry.word_size);
    const std::string command = texts_.substr(entry.command_at, entry.command_size);
    const Fixture fixture = fixture_for(word);
    write_file(scratch_path_, fixture.input);
    std::remove(output_path_.c_str());
    const int status = run_sh(command);
    if (status == 0 && read_if_there(output_path_) == fixture.expected) continue;

    const std::string culprit = artifact_prefix_ + "sed-culprit";
    std::ofstream out(culprit, std::ios::binary | std::ios::trunc);
    out.write(word.data(), static_cast<std::streamsize>(word.size()));
    out.close();
    fail(status == 0 ? "the remove command did not empty exactly the word's own line"
                     : "the remove command failed",
         "word: " + escaped_bytes(word) + "\ncommand: " + escaped_bytes(command) +
             "\nshell exit status: " + std::to_string(status) + "\nword written to " +
             (out ? culprit : "nowhere (cannot write " + culprit + ")") +
             "; run the fuzzer on that file to see it again");
  }
  fail("the batched sed run went wrong, but every word's remove command passes alone",
       batch_why + "; the batch files are in " + dir_);
}

}  // namespace lumora::fuzz
