#include "registry/remove_devices.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/paths.h"
#include "common/shell.h"
#include "common/unique_file.h"
#include "registry/config_writer.h"
#include "registry/device_registry.h"

namespace lumora {
namespace {

// Where the reader looks for the address texts: its first read of a line takes 276 bytes.
constexpr std::size_t kFirstReadBytes = kDeviceLineReadLimit - 1;
constexpr std::string_view kDevicePrefix = "DEVICE=";
constexpr std::string_view kIpMarker = "IP-ADDRESS=";
constexpr std::string_view kNodenameMarker = "NODENAME=";
constexpr std::string_view kWhiteSpace = " \t\n\r\v\f";
constexpr std::string_view kNameEnd = " \t\n\r\v\f,";

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
  // Takes back what was appended after the text had length bytes.
  void truncate(std::size_t length) {
    if (length >= used_) return;
    used_ = length;
    dest_[used_] = '\0';
  }

 private:
  char* dest_;
  std::size_t size_;
  std::size_t used_ = 0;
};

bool starts_within_first_read(std::string_view line, std::string_view marker) {
  const std::size_t at = line.find(marker);
  return at != std::string_view::npos && at + marker.size() <= kFirstReadBytes;
}

// A name matched by its bytes alone, whatever follows: the reader cuts a name at its 63rd
// byte, and a comma standing first is a name of its own.
bool matched_by_prefix(std::string_view name) {
  return name.size() == kRemovableNameMax || name == ",";
}

// The command tests the anchored names first, which fails at once on almost every line, and
// only on a line that holds one of them whether the reader gives it a name: an address text
// wholly within the reader's first read of 276 bytes, with no NUL byte before it (the reader's
// text of a line ends at the first NUL). sed keeps the line in its hold space, cuts it to 276
// bytes and empties it when a marker stands before any NUL; any other line is given back
// whole. The cut deletes the 277th byte and every one after it: sed builds that at no cost,
// where a counted repetition of 276 bytes, or a test of every offset a marker may start at,
// cost it more to build than its whole pass over a thousand lines.
constexpr std::string_view kCommandStart = " | sed -E -e '/^DEVICE=[[:space:]]*(";
constexpr std::string_view kCommandEnd =
    ")/{h;s/.//277g;/^[^\\x00]*(IP-ADDRESS=|NODENAME=)/{s/.*//;h;};g;}' | uniq > ";
static_assert(kFirstReadBytes + 1 == 277);

// Whether a line can be removed by name: names the reader would have ended earlier, or cut,
// are never given to a device.
bool is_removable_name(std::string_view name) {
  return !name.empty() && name.size() <= kRemovableNameMax &&
         name.find_first_of(kWhiteSpace) == std::string_view::npos &&
         (name == "," || name.find(',') == std::string_view::npos);
}

// Room for a path quoted for the shell: the scratch and pending paths are under 100 bytes,
// and quoting at most quadruples a byte.
constexpr std::size_t kPathWordSize = 512;

// Appends byte c as the quoted sed expression must hold it to match c alone.
bool append_escaped(TextBuilder& text, char c) {
  switch (c) {
    case '\\': case '/': case '.': case '*': case '[': case ']': case '^': case '$':
    case '+': case '?': case '(': case ')': case '{': case '}': case '|':
      return text.append("\\") && text.append(std::string_view(&c, 1));
    case '\'':
      return text.append("'\\''");
    default:
      return text.append(std::string_view(&c, 1));
  }
}

// Appends an expression matching exactly the names in sorted (sorted bytewise, no two equal,
// all sharing their first depth bytes), less those bytes, shaped as a tree of the bytes they
// share: office-1|office-2 becomes office-(1|2). sed then follows one branch per byte of a
// line instead of trying every name, so a thousand names cost it about what one does. One
// level of recursion per byte: at most kRemovableNameMax deep.
bool append_name_tree(TextBuilder& text, std::span<const std::string_view> sorted,
                      std::size_t depth) {
  // The name that ends here sorts first; the rest go on.
  const bool one_ends_here = sorted.front().size() == depth;
  if (one_ends_here) sorted = sorted.subspan(1);
  if (sorted.empty()) return true;
  std::size_t branches = 0;
  for (std::size_t i = 0; i < sorted.size(); ++i) {
    if (i == 0 || sorted[i][depth] != sorted[i - 1][depth]) ++branches;
  }
  const bool grouped = branches > 1 || one_ends_here;
  if (grouped && !text.append("(")) return false;
  for (std::size_t begin = 0; begin < sorted.size();) {
    std::size_t end = begin + 1;
    while (end < sorted.size() && sorted[end][depth] == sorted[begin][depth]) ++end;
    if ((begin > 0 && !text.append("|")) || !append_escaped(text, sorted[begin][depth]) ||
        !append_name_tree(text, sorted.subspan(begin, end - begin), depth + 1)) {
      return false;
    }
    begin = end;
  }
  return !grouped || text.append(one_ends_here ? ")?" : ")");
}

// Appends the removable names of one kind (matched by prefix or not) as one expression.
// False when it does not fit; kind_found tells whether there was any such name.
bool append_names(TextBuilder& text, std::span<const char* const> names, bool by_prefix,
                  bool& kind_found) {
  std::vector<std::string_view> sorted;
  for (const char* name : names) {
    if (is_removable_name(name) && matched_by_prefix(name) == by_prefix) sorted.emplace_back(name);
  }
  std::sort(sorted.begin(), sorted.end());
  sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
  kind_found = !sorted.empty();
  return sorted.empty() || append_name_tree(text, sorted, 0);
}

}  // namespace

std::string_view removal_name(std::string_view line) {
  // The reader takes a line as a C string: what follows a NUL byte is not there for it.
  line = line.substr(0, line.find('\0'));
  if (line.substr(0, kDevicePrefix.size()) != kDevicePrefix) return {};
  if (!starts_within_first_read(line, kIpMarker) &&
      !starts_within_first_read(line, kNodenameMarker)) {
    return {};
  }
  std::string_view rest = line.substr(kDevicePrefix.size());
  const std::size_t start = rest.find_first_not_of(kWhiteSpace);
  if (start == std::string_view::npos) return {};
  rest = rest.substr(start);
  if (rest.front() == ',') return rest.substr(0, 1);
  const std::size_t end = rest.find_first_of(kNameEnd);
  const std::size_t length = end == std::string_view::npos ? rest.size() : end;
  return rest.substr(0, length < kRemovableNameMax ? length : kRemovableNameMax);
}

bool registered_after_removal(std::string_view text, std::string_view name) {
  std::string kept;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\n', at);
    const std::size_t next = end == std::string_view::npos ? text.size() : end + 1;
    const std::string_view line = text.substr(at, next - at);
    if (removal_name(line.substr(0, line.find('\n'))) != name) kept.append(line);
    at = next;
  }
  if (kept.empty()) return false;
  // The backend's own reader, over what the remove leaves.
  const UniqueFile stream(::fmemopen(kept.data(), kept.size(), "r"));
  if (!stream) return false;
  const ScopedDeviceList devices;
  std::int32_t appended = 0;
  read_device_stream(stream.get(), appended);
  for (const DeviceEntry* entry = first_net_device(); entry != nullptr; entry = entry->next) {
    if (std::string_view(entry->name) == name) return true;
  }
  return false;
}

bool escape_remove_word(std::string_view name, char* dest, std::size_t size) {
  if (size == 0) return false;
  dest[0] = '\0';
  if (!is_removable_name(name)) return false;
  TextBuilder word(dest, size);
  for (char c : name) {
    if (!append_escaped(word, c)) {
      dest[0] = '\0';
      return false;
    }
  }
  return true;
}

bool format_remove_command(const char* scratch_path, std::span<const char* const> names,
                           const char* output_path, char* command, std::size_t size) {
  char scratch_word[kPathWordSize];
  char output_word[kPathWordSize];
  if (!shell_quote(scratch_path, scratch_word, sizeof scratch_word) ||
      !shell_quote(output_path, output_word, sizeof output_word)) {
    return false;
  }
  TextBuilder text(command, size);
  if (!text.append("cat ") || !text.append(scratch_word) || !text.append(kCommandStart)) {
    return false;
  }
  // Names that end at white space, a comma or the line's end; then names matched by prefix,
  // whatever follows them.
  const std::size_t group_at = text.length();
  bool any_whole = false;
  if (!text.append("(") || !append_names(text, names, false, any_whole) ||
      !text.append(")([[:space:],]|$)")) {
    return false;
  }
  if (!any_whole) text.truncate(group_at);
  bool any_prefix = false;
  const std::size_t prefix_at = text.length();
  if ((any_whole && !text.append("|")) || !append_names(text, names, true, any_prefix)) {
    return false;
  }
  if (!any_prefix) text.truncate(prefix_at);
  if (!any_whole && !any_prefix) return false;
  return text.append(kCommandEnd) && text.append(output_word);
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
