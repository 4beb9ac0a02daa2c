// The shell quoting and the remove pattern, checked by what the real /bin/sh and sed make of
// them: a quoted word printed by the shell's printf must give back exactly its bytes, the sed
// argument of the remove command must reach sed as one word, and that expression must empty
// exactly the lines the reader gives the word as name and no other line.
//
// The shell is one long-lived process fed through a pipe (printf and set are builtins, so an
// input costs no fork), and sed runs once per batch of words (see remove_batch.h); a fork and
// exec of sh, cat, sed and uniq per input would hold the run to a few dozen inputs a second.
// The scripts run it with the flags in shell_words.flags.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/shell.h"
#include "fuzz_support.h"
#include "registry/remove_devices.h"
#include "remove_batch.h"
#include "shell_coprocess.h"

using lumora::fuzz::fail;

namespace {

// Room for the remove command of one name: its fixed text, a name of 63 bytes escaped (at most
// four bytes each) and the two scratch paths quoted.
constexpr std::size_t kRemoveCommandSize = 1024;
constexpr char kWhiteSpace[] = " \t\n\r\v\f";
// Long enough for a shell starved of the processor by other work; a quote left open never
// finishes at all.
constexpr int kShellTimeoutMs = 10000;
// The remove's sed expression as sed must receive it: the anchored names, then the reader's
// window tested on the lines that hold one.
constexpr std::string_view kExpressionStart = "/^DEVICE=[[:space:]]*(";
constexpr std::string_view kExpressionEnd = "{s/.*//;h;};g;}";

lumora::fuzz::ShellCoprocess* shell = nullptr;
lumora::fuzz::RemoveBatch* batch = nullptr;

void flush_batch() { batch->flush(); }

std::string show(const std::string& word) { return "word: " + lumora::fuzz::escaped_bytes(word); }

// The word as the shell must be given it, after the checks that need no shell.
std::string quote(const std::string& word) {
  std::vector<char> quoted(word.size() * 4 + 3);
  if (!lumora::shell_quote(word, quoted.data(), quoted.size())) {
    fail("shell_quote refused room enough", show(word));
  }
  if (lumora::is_plain_shell_word(word) && word != quoted.data()) {
    fail("a plain word was changed", show(word));
  }
  // One byte short of the room the result needs must be refused, and leave dest empty.
  const std::size_t needed = std::strlen(quoted.data()) + 1;
  if (needed >= 2) {
    std::vector<char> tight(needed - 1, 'z');
    if (lumora::shell_quote(word, tight.data(), tight.size()) || tight[0] != '\0') {
      fail("shell_quote accepted a buffer too small", show(word));
    }
  }
  return quoted.data();
}

struct RemoveCommand {
  std::string text;
  std::string sed_argument;  // as it stands in text
};

// The remove command for word, or nothing when the word is one the command must refuse or
// cannot hold.
std::optional<RemoveCommand> remove_command(const std::string& word) {
  const bool has_space = word.find_first_of(kWhiteSpace) != std::string::npos;
  const bool has_comma = word != "," && word.find(',') != std::string::npos;
  std::vector<char> escaped(word.size() * 4 + 1);
  const bool escaped_ok = lumora::escape_remove_word(word, escaped.data(), escaped.size());
  if (word.empty() || has_space || has_comma || word.size() > lumora::kRemovableNameMax) {
    if (escaped_ok || escaped[0] != '\0') {
      fail("escape_remove_word took a word it must refuse", show(word));
    }
    return std::nullopt;
  }
  if (!escaped_ok) fail("escape_remove_word refused room enough", show(word));

  char command[kRemoveCommandSize];
  if (!lumora::format_remove_command(batch->scratch_path().c_str(), word.c_str(),
                                     batch->output_path().c_str(), command, sizeof command)) {
    fail("format_remove_command refused a word escape_remove_word took", show(word));
  }
  // The argument is the one word after "sed -E -e ", and " | uniq" follows it.
  constexpr std::string_view kSed = "sed -E -e ";
  const std::string_view text(command);
  const std::size_t start = text.find(kSed);
  const std::size_t end = start == std::string_view::npos ? start : text.find(" | uniq", start);
  if (end == std::string_view::npos) fail("the remove command has another form", text);
  return RemoveCommand{command,
                       std::string(text.substr(start + kSed.size(), end - start - kSed.size()))};
}

}  // namespace

// libFuzzer declares argc writable.
extern "C" int LLVMFuzzerInitialize(int* argc,  // NOLINT(readability-non-const-parameter)
                                    char*** argv) {
  std::string artifact_prefix = "./";  // libFuzzer's default
  constexpr std::string_view kFlag = "-artifact_prefix=";
  for (int i = 1; i < *argc; ++i) {
    const std::string_view arg((*argv)[i]);
    if (arg.substr(0, kFlag.size()) == kFlag) artifact_prefix = arg.substr(kFlag.size());
  }
  const std::string& dir = lumora::fuzz::scratch_dir();
  // Both live until the process ends: the last batch is run at exit, before the scratch
  // directory is removed (atexit handlers run in reverse order).
  static lumora::fuzz::ShellCoprocess the_shell(dir);
  static lumora::fuzz::RemoveBatch the_batch(the_shell, dir, artifact_prefix);
  shell = &the_shell;
  batch = &the_batch;
  if (std::atexit(flush_batch) != 0) fail("atexit failed");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string word(reinterpret_cast<const char*>(data), size);
  if (word.find('\0') != std::string::npos) return 0;
  if (word.find('\n') != std::string::npos) {
    char escaped[kRemoveCommandSize];
    if (lumora::escape_remove_word(word, escaped, sizeof escaped)) {
      fail("a line feed was escaped", show(word));
    }
    return 0;
  }

  const std::string quoted = quote(word);
  const std::optional<RemoveCommand> command = remove_command(word);

  // One round trip: the word printed back, then the sed argument split as the shell splits
  // the remove command. Neither holds a line feed, so the lines of the reply stay apart.
  std::string script = "printf '%s' " + quoted + "; printf '\\n%s\\n' \"$?\"";
  if (command) script += "\nset -- " + command->sed_argument + "; printf '%s\\n%s' \"$#\" \"$1\"";
  std::string why;
  const std::optional<std::string> reply = shell->run(script, kShellTimeoutMs, &why);
  // Built only for a failure: most inputs pass.
  const auto detail = [&] {
    std::string text = show(word) + "\nscript: " + lumora::fuzz::escaped_bytes(script);
    if (reply) text += "\nreply: " + lumora::fuzz::escaped_bytes(*reply);
    return text;
  };
  if (!reply) fail(why, detail());

  const std::string printed = word + "\n0\n";
  if (reply->compare(0, printed.size(), printed) != 0) {
    fail("the shell did not give back the word", detail());
  }
  if (!command) {
    if (reply->size() != printed.size()) fail("the shell printed more than the word", detail());
    return 0;
  }
  const std::string_view split = std::string_view(*reply).substr(printed.size());
  if (split.substr(0, 2) != "1\n") fail("the sed argument is not one word to the shell", detail());
  const std::string_view expression = split.substr(2);
  if (expression.size() < kExpressionStart.size() + kExpressionEnd.size() ||
      expression.substr(0, kExpressionStart.size()) != kExpressionStart ||
      expression.substr(expression.size() - kExpressionEnd.size()) != kExpressionEnd) {
    fail("the sed argument reaches sed in another form", detail());
  }
  batch->add(word, std::string(expression), command->text);
  return 0;
}
