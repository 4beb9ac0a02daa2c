#include "registry/remove_devices.h"

#include <cstring>

#include "common/paths.h"
#include "common/shell.h"
#include "registry/config_writer.h"

namespace lumora {
namespace {

// What the remove command for one name is formed in; a name whose command does not fit is
// passed over.
constexpr std::size_t kRemoveCommandSize = 512;

// Appends pieces to a terminated text in a fixed buffer, refusing whatever would not fit.
class TextBuilder {
 public:
  TextBuilder(char* dest, std::size_t size) : dest_(dest), size_(size) {
    if (size_ > 0) dest_[0] = '\0';
  }
  bool append(std::string_view piece) {
    if (size_ == 0 || piece.size() >= size_ - used_) return false;
    std::memcpy(dest_ + used_, piece.data(), piece.size());
    used_ += piece.size();
    dest_[used_] = '\0';
    return true;
  }
  std::size_t length() const { return used_; }

 private:
  char* dest_;
  std::size_t size_;
  std::size_t used_ = 0;
};

constexpr std::string_view kSubstitutionStart = " -e s/'^DEVICE=";
constexpr std::string_view kSubstitutionEnd = " .*$'//";

}  // namespace

bool escape_remove_word(std::string_view name, char* dest, std::size_t size) {
  if (size == 0) return false;
  dest[0] = '\0';
  // Names are single tokens: a word with white space names no device, and its blanks would
  // let the pattern reach into the next fields of another device's line.
  if (name.empty() || name.find_first_of(" \t\n\r\v\f") != std::string_view::npos) return false;
  TextBuilder word(dest, size);
  for (char c : name) {
    bool ok = true;
    switch (c) {
      case '\\': case '/': case '.': case '*': case '[': case ']': case '^': case '$':
        ok = word.append("\\") && word.append(std::string_view(&c, 1));
        break;
      case '\'':
        ok = word.append("'\\''");
        break;
      default:
        ok = word.append(std::string_view(&c, 1));
    }
    if (!ok) {
      dest[0] = '\0';
      return false;
    }
  }
  return true;
}

bool format_remove_command(const char* scratch_path, std::span<const char* const> names,
                           const char* output_path, char* command, std::size_t size) {
  char scratch_word[kRemoveCommandSize];
  char output_word[kRemoveCommandSize];
  if (!shell_quote(scratch_path, scratch_word, sizeof scratch_word) ||
      !shell_quote(output_path, output_word, sizeof output_word)) {
    return false;
  }
  TextBuilder text(command, size);
  if (!text.append("cat ") || !text.append(scratch_word) || !text.append(" | sed")) return false;
  const std::string_view tail = " | uniq > ";
  // The pipeline of one name alone: the fixed parts and this name's substitution.
  const std::size_t one_name_fixed = text.length() + kSubstitutionStart.size() +
                                     kSubstitutionEnd.size() + tail.size() +
                                     std::strlen(output_word);
  bool any = false;
  for (const char* name : names) {
    char word[kRemoveCommandSize];
    if (!escape_remove_word(name, word, sizeof word)) continue;
    if (one_name_fixed + std::strlen(word) >= kRemoveCommandSize) continue;
    if (!text.append(kSubstitutionStart) || !text.append(word) || !text.append(kSubstitutionEnd)) {
      return false;
    }
    any = true;
  }
  return any && text.append(tail) && text.append(output_word);
}

bool format_remove_command(const char* scratch_path, const char* name, const char* output_path,
                           char* command, std::size_t size) {
  const char* const names[] = {name};
  return format_remove_command(scratch_path, names, output_path, command, size);
}

std::int32_t remove_net_devices(int argc, char** argv) {
  if (argc < 3) return 0;  // no names: nothing to remove
  const std::span<const char* const> names(argv + 2, static_cast<std::size_t>(argc - 2));
  // Names that cannot be put into the command are passed over; when none is left, nothing is
  // rewritten. Removable names that together do not fit one command are refused aloud: a
  // remove of only some of them would break the all-or-nothing promise, and silence would
  // tell the caller they were all removed.
  bool overlong = false;
  ConfigRewrite rewrite;
  rewrite.form_command = [&](const char* scratch, const char* output, char* command,
                             std::size_t size) {
    if (format_remove_command(scratch, names, output, command, size)) return true;
    for (const char* name : names) {
      if (format_remove_command(scratch, name, output, command, size)) {
        overlong = true;
        break;
      }
    }
    return false;
  };
  const ConfigRewriteResult result = rewrite_config(rewrite);
  if (result == ConfigRewriteResult::kCommandTooLong && overlong) report_cannot_write(kConfigFile);
  return result == ConfigRewriteResult::kScratchFailed ? -1 : 0;
}

}  // namespace lumora
