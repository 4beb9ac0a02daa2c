#include "durability/strace_lines.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <map>
#include <utility>

namespace lumora::testing {
namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Undoes strace's escapes: \xNN (all -xx writes), and \n, \t, \\, \" for hand-written traces.
std::string unescape(std::string_view text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      bytes += text[i];
      continue;
    }
    const char kind = text[++i];
    if (kind == 'x' && i + 2 < text.size() && hex_value(text[i + 1]) >= 0 &&
        hex_value(text[i + 2]) >= 0) {
      bytes += static_cast<char>(hex_value(text[i + 1]) * 16 + hex_value(text[i + 2]));
      i += 2;
    } else if (kind == 'n') {
      bytes += '\n';
    } else if (kind == 't') {
      bytes += '\t';
    } else {
      bytes += kind;
    }
  }
  return bytes;
}

// Walks text from start past the insides of strace's quoted strings, calling
// visit(i, c, depth) for every other character with the bracket depth after it. Returns the
// position where visit returned true, or npos.
template <typename Visit>
std::size_t scan_outside_quotes(std::string_view text, std::size_t start, Visit visit) {
  int depth = 0;
  bool quoted = false;
  for (std::size_t i = start; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        quoted = false;
      }
      continue;
    }
    if (c == '"') {
      quoted = true;
      continue;
    }
    if (c == '(' || c == '[' || c == '{') {
      ++depth;
    } else if (c == ')' || c == ']' || c == '}') {
      --depth;
    }
    if (visit(i, c, depth)) return i;
  }
  return std::string_view::npos;
}

// Position of the parenthesis that closes the one at open, or npos.
std::size_t matching_close(std::string_view text, std::size_t open) {
  const std::size_t close = scan_outside_quotes(text, open, [](std::size_t, char c, int depth) {
    return depth == 0 && (c == ')' || c == ']' || c == '}');
  });
  return close != std::string_view::npos && text[close] == ')' ? close : std::string_view::npos;
}

std::vector<std::string> split_args(std::string_view text) {
  std::vector<std::string> args;
  std::size_t start = 0;
  scan_outside_quotes(text, 0, [&](std::size_t i, char c, int depth) {
    if (c == ',' && depth == 0) {
      args.emplace_back(text.substr(start, i - start));
      start = i + 1;
    }
    return false;
  });
  if (start < text.size()) args.emplace_back(text.substr(start));
  for (std::string& arg : args) {
    const std::size_t first = arg.find_first_not_of(' ');
    const std::size_t last = arg.find_last_not_of(' ');
    arg = first == std::string::npos ? std::string() : arg.substr(first, last - first + 1);
  }
  return args;
}

std::string where(std::size_t line) { return "trace line " + std::to_string(line) + ": "; }

// "name(args) = result ..." into call.
void read_call(std::string_view text, TracedCall& call) {
  const std::size_t open = text.find('(');
  if (open == std::string_view::npos || open == 0) {
    throw TraceError(where(call.first_line) + "no call in '" + std::string(text) + "'");
  }
  call.name = std::string(text.substr(0, open));
  const std::size_t close = matching_close(text, open);
  if (close == std::string_view::npos) {
    throw TraceError(where(call.first_line) + "unbalanced arguments of " + call.name);
  }
  call.args = split_args(text.substr(open + 1, close - open - 1));
  std::string_view rest = text.substr(close + 1);
  const std::size_t equals = rest.find("= ");
  if (equals == std::string_view::npos) {
    throw TraceError(where(call.first_line) + call.name + " has no result");
  }
  rest.remove_prefix(equals + 2);
  if (rest.empty() || rest.front() == '?') return;
  const std::string number(rest.substr(0, rest.find_first_of(" <")));
  char* end = nullptr;
  errno = 0;
  call.result = std::strtoll(number.c_str(), &end, 0);
  if (errno != 0 || end == number.c_str() || *end != '\0') {
    throw TraceError(where(call.first_line) + call.name + " has the result '" + number + "'");
  }
  call.has_result = true;
  rest.remove_prefix(number.size());
  if (!rest.empty() && rest.front() == '<') {
    const std::size_t annotation_end = rest.rfind('>');
    if (annotation_end != std::string_view::npos)
      call.result_path = unescape(rest.substr(1, annotation_end - 1));
  }
}

bool makes_a_process(const std::string& name) {
  return name == "clone" || name == "clone3" || name == "fork" || name == "vfork";
}

}  // namespace

std::vector<TracedCall> parse_trace(std::string_view text) {
  constexpr std::string_view kUnfinished = " <unfinished ...>";
  constexpr std::string_view kResumed = " resumed>";
  struct Pending {
    std::string text;
    std::size_t line;
  };
  std::map<int, Pending> pending;
  std::vector<TracedCall> calls;
  std::size_t line_number = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++line_number;
    if (line.empty()) continue;
    const std::size_t blank = line.find(' ');
    if (blank == std::string_view::npos || blank == 0 ||
        !std::all_of(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(blank),
                     [](char c) { return c >= '0' && c <= '9'; })) {
      throw TraceError(where(line_number) + "no process id (the trace must come from strace -f)");
    }
    int pid = 0;
    if (std::from_chars(line.data(), line.data() + blank, pid).ec != std::errc()) {
      throw TraceError(where(line_number) + "a process id out of range");
    }
    std::string_view rest = line.substr(blank + 1);
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    if (rest.substr(0, 3) == "---" || rest.substr(0, 3) == "+++") continue;
    TracedCall call;
    call.pid = pid;
    call.first_line = line_number;
    std::string whole;
    if (rest.substr(0, 5) == "<... ") {
      const std::size_t resumed = rest.find(kResumed);
      auto started = pending.find(pid);
      if (resumed == std::string_view::npos || started == pending.end()) {
        throw TraceError(where(line_number) + "a resumed call that never started");
      }
      whole = started->second.text + std::string(rest.substr(resumed + kResumed.size()));
      call.first_line = started->second.line;
      pending.erase(started);
    } else if (rest.size() >= kUnfinished.size() &&
               rest.substr(rest.size() - kUnfinished.size()) == kUnfinished) {
      pending[pid] = {std::string(rest.substr(0, rest.size() - kUnfinished.size())), line_number};
      continue;
    } else {
      whole = std::string(rest);
    }
    call.last_line = line_number;
    read_call(whole, call);
    calls.push_back(std::move(call));
  }
  // A call left unfinished belongs to a process that died in it (killed); it did nothing.
  std::stable_sort(calls.begin(), calls.end(), [](const TracedCall& a, const TracedCall& b) {
    const std::size_t a_at = makes_a_process(a.name) ? a.first_line : a.last_line;
    const std::size_t b_at = makes_a_process(b.name) ? b.first_line : b.last_line;
    return a_at < b_at;
  });
  return calls;
}

std::string decode_string(std::string_view arg) {
  if (arg.size() < 2 || arg.front() != '"')
    throw TraceError("not a string: " + std::string(arg.substr(0, 40)));
  const std::size_t close = arg.rfind('"');
  if (close == 0) throw TraceError("unterminated string");
  if (arg.substr(close + 1) == "...") {
    throw TraceError("a string cut at strace's -s limit; trace with a larger -s");
  }
  if (close + 1 != arg.size())
    throw TraceError("text after a string: " + std::string(arg.substr(close + 1)));
  return unescape(arg.substr(1, close - 1));
}

std::vector<std::string> decode_strings(std::string_view arg) {
  std::vector<std::string> strings;
  for (std::size_t i = 0; i < arg.size(); ++i) {
    if (arg[i] != '"') continue;
    std::size_t j = i + 1;
    while (j < arg.size() && arg[j] != '"') j += arg[j] == '\\' ? 2 : 1;
    if (j >= arg.size()) throw TraceError("unterminated string");
    if (arg.substr(j + 1, 3) == "...")
      throw TraceError("a string cut at strace's -s limit; trace with a larger -s");
    strings.push_back(unescape(arg.substr(i + 1, j - i - 1)));
    i = j;
  }
  return strings;
}

std::optional<DescriptorArg> decode_descriptor(std::string_view arg) {
  DescriptorArg descriptor;
  std::string_view rest = arg;
  constexpr std::string_view kFdcwd = "AT_FDCWD";
  if (rest.substr(0, kFdcwd.size()) == kFdcwd) {
    descriptor.fd = kAtFdcwd;
    rest.remove_prefix(kFdcwd.size());
  } else {
    std::size_t digits = 0;
    if (!rest.empty() && rest.front() == '-') ++digits;
    while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') ++digits;
    if (digits == 0 || (digits == 1 && rest.front() == '-')) return std::nullopt;
    // A number too large for a descriptor (an address, a size) is no descriptor.
    const auto [end, failed] = std::from_chars(rest.data(), rest.data() + digits, descriptor.fd);
    if (failed != std::errc() || end != rest.data() + digits) return std::nullopt;
    rest.remove_prefix(digits);
  }
  if (rest.empty()) return descriptor;
  if (rest.front() != '<' || rest.back() != '>') return std::nullopt;
  descriptor.path = unescape(rest.substr(1, rest.size() - 2));
  return descriptor;
}

std::string encode_string(std::string_view bytes) {
  constexpr char kDigits[] = "0123456789abcdef";
  std::string text = "\"";
  for (char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    text += "\\x";
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0xf];
  }
  return text + "\"";
}

}  // namespace lumora::testing
