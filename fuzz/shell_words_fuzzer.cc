// The shell quoting and the remove pattern, checked by what /bin/sh and sed make of them: a
// quoted word printed by the shell's printf must give back exactly its bytes, and the real
// remove command must empty exactly the line of the device so named and no other line.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "common/shell_quote.h"
#include "fuzz_support.h"
#include "registry/remove_devices.h"

using lumora::fuzz::fail;

namespace {

constexpr std::size_t kRemoveCommandSize = 512;  // what the remove command is formed in
constexpr char kWhiteSpace[] = " \t\n\r\v\f";
const char* const kOtherNames[] = {"office", "Office", "lab-1", "lab_2", "a", "A1", "scan.room", "x*"};

std::string device_line(const std::string& name, int host) {
  return "DEVICE=" + name + " , \"M\" , Unknown , IP-ADDRESS=10.0.0." + std::to_string(host) + " \n";
}

void check_printf(const std::string& word) {
  std::vector<char> quoted(word.size() * 4 + 3);
  if (!lumora::shell_quote(word, quoted.data(), quoted.size())) fail("shell_quote refused room enough");
  if (lumora::is_plain_shell_word(word) && word != quoted.data()) fail("a plain word was changed");
  // One byte short of the room the result needs must be refused, and leave dest empty.
  const std::size_t needed = std::strlen(quoted.data()) + 1;
  if (needed >= 2) {
    std::vector<char> tight(needed - 1, 'z');
    if (lumora::shell_quote(word, tight.data(), tight.size()) || tight[0] != '\0') {
      fail("shell_quote accepted a buffer too small");
    }
  }

  const std::string out = lumora::fuzz::scratch_dir() + "/printf.out";
  std::remove(out.c_str());
  const int status = lumora::fuzz::run_sh("printf '%s' " + std::string(quoted.data()) + " > " + out);
  if (status != 0) fail("the shell failed on a quoted word", quoted.data());
  if (lumora::fuzz::read_file(out) != word) fail("the shell did not give back the word", quoted.data());
}

void check_remove(const std::string& word) {
  const bool has_space = word.find_first_of(kWhiteSpace) != std::string::npos;
  std::vector<char> escaped(word.size() * 4 + 1);
  const bool escaped_ok = lumora::escape_remove_word(word, escaped.data(), escaped.size());
  if (word.empty() || has_space) {
    if (escaped_ok || escaped[0] != '\0') fail("escape_remove_word took a word it must refuse", word);
    return;
  }
  if (!escaped_ok) fail("escape_remove_word refused room enough", word);

  const std::string& dir = lumora::fuzz::scratch_dir();
  const std::string scratch = dir + "/remove.in";
  const std::string output = dir + "/remove.out";
  char command[kRemoveCommandSize];
  if (!lumora::format_remove_command(scratch.c_str(), word.c_str(), output.c_str(), command,
                                     sizeof command)) {
    // Only a word whose pattern leaves the command too long may be passed over.
    if (std::strlen(escaped.data()) + scratch.size() + output.size() < kRemoveCommandSize - 64) {
      fail("format_remove_command refused a short word", word);
    }
    return;
  }

  std::string before;
  std::string expected;
  int host = 2;
  const std::string target = device_line(word, 1);
  for (std::size_t i = 0; i < std::size(kOtherNames); ++i) {
    if (i == std::size(kOtherNames) / 2) {
      before += target;
      expected += "\n";
    }
    for (const std::string& name : {std::string(kOtherNames[i]), word + kOtherNames[i],
                                     kOtherNames[i] + word}) {
      if (name == word) continue;
      const std::string line = device_line(name, host++);
      before += line;
      expected += line;
    }
  }
  lumora::fuzz::write_file(scratch, before);
  std::remove(output.c_str());
  const int status = lumora::fuzz::run_sh(command);
  if (status != 0) fail("the remove command failed", command);
  if (lumora::fuzz::read_file(output) != expected) fail("the remove command changed other lines", command);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string word(reinterpret_cast<const char*>(data), size);
  if (word.find('\0') != std::string::npos) return 0;
  if (word.find('\n') != std::string::npos) {
    char escaped[kRemoveCommandSize];
    if (lumora::escape_remove_word(word, escaped, sizeof escaped)) fail("a line feed was escaped");
    return 0;
  }
  check_printf(word);
  check_remove(word);
  return 0;
}
