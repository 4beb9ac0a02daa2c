// lumoraconf-query: answers, for other programs, what the scanner backend's files hold (the
// catalogue's models, the registered devices, the saved labels, the log settings) and what a
// registration would write, and finds the scanners answering on the local networks. It only
// reads: it never writes a file or runs a command.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "common/build_config.h"
#include "common/paths.h"
#include "query/config_check.h"
#include "query/discover_command.h"
#include "query/query_answers.h"
#include "query/query_input.h"
#include "registry/add_device.h"
#include "registry/config_writer.h"
#include "registry/device_registry.h"
#include "registry/file_replacement.h"
#include "registry/remove_devices.h"

namespace {

constexpr int kExitInputError = 1;
// check found something to mend (or a file it cannot read).
constexpr int kExitFindings = 1;
constexpr int kExitUsage = 2;
// The add would refuse the words: its message is on standard output.
constexpr int kExitRefused = 3;

constexpr char kUsage[] =
    "Usage: lumoraconf-query models [-z] [--prefix TEXT]\n"
    "       lumoraconf-query devices\n"
    "       lumoraconf-query names [-z] [--prefix TEXT]\n"
    "       lumoraconf-query labels [-z] [--prefix TEXT]\n"
    "       lumoraconf-query log\n"
    "       lumoraconf-query plan [--replace] name=NAME model=MODEL ip=ADDRESS|nodename=NODE\n"
    "       lumoraconf-query check [--text]\n"
    "       lumoraconf-query discover [--timeout SECONDS] [--interface NAME] [--protocol mdns|wsd|all]\n"
    "       lumoraconf-query --version | --help\n"
    "  models   model names the catalogue knows, one a line, without their quotes\n"
    "  devices  registered devices, one JSON object a line\n"
    "  names    names of the registered devices, one a line\n"
    "  labels   labels of the saved copies, one a line\n"
    "  log      log settings of the backend, a JSON object or null\n"
    "  plan     the DEVICE= line that lumoraconf -a with these words would write, or its\n"
    "           refusal (exit status 3); --replace: as after lumoraconf -r NAME\n"
    "  check    where the backend reads the device file otherwise than meant, one JSON\n"
    "           object a line (exit status 1 when there is any); --text: LINE: KIND: message\n"
    "  discover scanners answering multicast DNS or WS-Discovery on the local networks, one JSON\n"
    "           object a line\n"
    "  -z       end each model name, device name or label with a NUL byte, not a line feed\n"
    "  --prefix only the model names, device names or labels that begin with TEXT\n"
    "Options may stand before or after the command; those of plan before the words of -a.\n";

// What the command line asked for, options and operands apart.
struct Request {
  std::string_view command;
  lumora::ListForm form;
  bool replace = false;
  bool text = false;
  std::vector<char*> operands;
};

// The options a command accepts, as a set of bits.
constexpr unsigned kNothing = 0;
constexpr unsigned kTerminatorOption = 1U << 0U;  // -z
constexpr unsigned kPrefixOption = 1U << 1U;      // --prefix TEXT
constexpr unsigned kReplaceOption = 1U << 2U;     // --replace
constexpr unsigned kOperands = 1U << 3U;          // words after the command
constexpr unsigned kTextOption = 1U << 4U;        // --text

using Handler = int (*)(const Request& request);

struct Command {
  std::string_view name;
  unsigned accepts;
  Handler run;
};

int usage_error(const std::string& what) {
  std::fprintf(stderr, "lumoraconf-query: %s\n%s", what.c_str(), kUsage);
  return kExitUsage;
}

// Writes the whole answer; a reader that went away or a full disk is an error of this run.
// An empty view may hold no pointer at all, which fwrite must not be given.
int write_answer(std::string_view answer) {
  if ((!answer.empty() && std::fwrite(answer.data(), 1, answer.size(), stdout) != answer.size()) ||
      std::fflush(stdout) != 0) {
    std::fprintf(stderr, "lumoraconf-query: write error: %s\n", std::strerror(errno));
    return kExitInputError;
  }
  return 0;
}

int cannot_read(const std::string& error) {
  std::fprintf(stderr, "lumoraconf-query: cannot read %s\n", error.c_str());
  return kExitInputError;
}

using ListAnswer = bool (*)(const lumora::QuerySources&, const lumora::ListForm&, std::string&,
                            std::string&);

int answer_list(const Request& request, ListAnswer list) {
  const lumora::QuerySources sources;
  std::string answer;
  std::string error;
  if (!list(sources, request.form, answer, error)) return cannot_read(error);
  return write_answer(answer);
}

int models_command(const Request& request) { return answer_list(request, lumora::query_models); }
int names_command(const Request& request) { return answer_list(request, lumora::query_names); }
int labels_command(const Request& request) { return answer_list(request, lumora::query_labels); }

int devices_command(const Request&) {
  const lumora::QuerySources sources;
  std::string answer;
  std::string error;
  if (!lumora::query_devices(sources, answer, error)) return cannot_read(error);
  return write_answer(answer);
}

int log_command(const Request&) {
  const lumora::QuerySources sources;
  std::string answer;
  std::string error;
  if (!lumora::query_log(sources, answer, error)) return cannot_read(error);
  return write_answer(answer);
}

// The name --replace stands for: the whole text after "name=" in the first word that begins
// with it, the name the caller gives "lumoraconf -r" before the add; empty when there is none.
std::string_view replaced_name(const Request& request) {
  constexpr std::string_view kKey = "name=";
  for (const char* word : request.operands) {
    const std::string_view text = word;
    if (text.starts_with(kKey)) return text.substr(kKey.size());
  }
  return {};
}

// What "lumoraconf -r NAME" before the add does to the name.
enum class Removal : std::uint8_t {
  kFreesName,      // every device the backend reads under it goes
  kRemovesNothing, // -r refuses the name (white space in it, over 63 bytes)
  kLeavesDevice,   // a device under it stands beyond the first 276 bytes of a line
  kUnreadable,     // the device file could not be read; error says why
};

// kLeavesDevice is said on standard output, as the add's refusals are.
Removal removal_of(std::string_view name, std::string& error) {
  char escaped[lumora::kRemoveWordSize];
  if (!lumora::escape_remove_word(name, escaped, sizeof escaped)) return Removal::kRemovesNothing;
  std::ifstream file(lumora::kConfigFile, std::ios::binary);
  if (!file) return Removal::kFreesName;  // missing: the probe before let nothing else through
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) {
    error = std::string(lumora::kConfigFile) + ": " + std::strerror(EIO);
    return Removal::kUnreadable;
  }
  if (!lumora::registered_after_removal(text, name)) return Removal::kFreesName;
  std::printf("\"%.*s\" cannot be removed by lumoraconf -r: the backend reads it beyond the "
              "first 276 bytes of a line of %s\n",
              static_cast<int>(name.size()), name.data(), lumora::kConfigFile);
  return Removal::kLeavesDevice;
}

// The add's own checks and catalogue look-up, at the paths the add reads. Its readers pass
// over a file they cannot open; a plan made without one would not be the add's, so such a
// file is an error here.
int plan_command(const Request& request) {
  if (request.operands.empty() || std::strchr(request.operands.front(), '=') == nullptr) {
    return usage_error("plan takes the key=value words of lumoraconf -a");
  }
  std::string error;
  if (lumora::probe_input(lumora::kConfigFile, lumora::InputKind::kFile, error) ==
          lumora::InputState::kUnreadable ||
      !lumora::catalogue_readable(lumora::kModelsDir, lumora::kDefaultCatalogue, error)) {
    return cannot_read(error);
  }
  // Without --replace, or when the remove before the add leaves the name registered, the add
  // refuses a registered name.
  lumora::RegisteredName registered = lumora::RegisteredName::kRefused;
  if (request.replace) {
    switch (removal_of(replaced_name(request), error)) {
      case Removal::kFreesName: registered = lumora::RegisteredName::kReplaced; break;
      case Removal::kRemovesNothing: break;
      case Removal::kLeavesDevice: return write_answer({}) == 0 ? kExitRefused : kExitInputError;
      case Removal::kUnreadable: return cannot_read(error);
    }
  }
  char line[lumora::kDeviceLineSize];
  switch (lumora::plan_device_line(static_cast<int>(request.operands.size()),
                                   request.operands.data(), registered, line, sizeof line)) {
    case lumora::DevicePlan::kPlanned: {
      // The add writes through a link to the file it leads to; a link to nowhere leaves it
      // nothing to replace, and it says so once its checks have passed.
      char replaced[PATH_MAX];
      if (!lumora::resolve_replaced_file(lumora::kConfigFile, replaced)) {
        lumora::report_cannot_write(lumora::kConfigFile);
        return write_answer({}) == 0 ? kExitRefused : kExitInputError;
      }
      return write_answer(line);
    }
    case lumora::DevicePlan::kRefused:
      return write_answer({}) == 0 ? kExitRefused : kExitInputError;
    case lumora::DevicePlan::kNoRoom:
      break;
  }
  std::fputs("lumoraconf-query: the device line does not fit its buffer\n", stderr);
  return kExitInputError;
}

int check_command(const Request& request) {
  const std::vector<lumora::Finding> findings = lumora::check_configuration({});
  std::string answer;
  for (const lumora::Finding& finding : findings) {
    if (request.text) {
      lumora::append_finding_text(answer, finding);
    } else {
      lumora::append_finding_json(answer, finding);
    }
  }
  const int written = write_answer(answer);
  if (written != 0) return written;
  return findings.empty() ? 0 : kExitFindings;
}

constexpr Command kCommands[] = {
    {"models", kTerminatorOption | kPrefixOption, models_command},
    {"devices", kNothing, devices_command},
    {"names", kTerminatorOption | kPrefixOption, names_command},
    {"labels", kTerminatorOption | kPrefixOption, labels_command},
    {"log", kNothing, log_command},
    {"plan", kReplaceOption | kOperands, plan_command},
    {"check", kTextOption, check_command},
};

const Command* find_command(std::string_view name) {
  for (const Command& command : kCommands) {
    if (command.name == name) return &command;
  }
  return nullptr;
}

// discover reads options of its own (--timeout, --interface, --protocol), which no other command takes,
// so the words after it are all its own; none of the list options applies to it.
int discover_command(int argc, char** argv, int at) {
  for (int i = 1; i < at; ++i) {
    if (std::string_view(argv[i]) == "-z") {
      return usage_error("-z applies to models, names and labels only");
    }
  }
  if (at != 1) return usage_error("the options of discover go after it");
  return lumora::run_discover_command({}, std::vector<std::string>(argv + at + 1, argv + argc));
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view word = argv[i];
    if (word == "--prefix") {
      ++i;  // its text is no command
    } else if (word.empty() || word.front() != '-') {
      if (word == "discover") return discover_command(argc, argv, i);
      break;
    }
  }
  Request request;
  unsigned given = kNothing;
  bool options_ended = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view word = argv[i];
    // The add's words of plan are taken as lumoraconf -a takes them, whatever they look like
    // ("--help", "-x", "--"): plan's own options stand before them.
    if (request.command == "plan" && !request.operands.empty()) options_ended = true;
    if (options_ended || word.empty() || word.front() != '-') {
      if (request.command.empty()) {
        request.command = word;
      } else {
        request.operands.push_back(argv[i]);
        given |= kOperands;
      }
    } else if (word == "--") {
      options_ended = true;
    } else if (word == "-h" || word == "--help") {
      std::fputs(kUsage, stdout);
      return write_answer({});
    } else if (word == "--version") {
      std::printf("lumoraconf-query %s\n", lumora::kVersion);
      return write_answer({});
    } else if (word == "-z") {
      request.form.terminator = '\0';
      given |= kTerminatorOption;
    } else if (word == "--text") {
      request.text = true;
      given |= kTextOption;
    } else if (word == "--replace") {
      request.replace = true;
      given |= kReplaceOption;
    } else if (word == "--prefix") {
      if (++i == argc) return usage_error("--prefix needs a text");
      request.form.prefix = argv[i];
      given |= kPrefixOption;
    } else {
      return usage_error("unknown option: " + std::string(word));
    }
  }
  if (request.command.empty()) return usage_error("no command given");
  const Command* command = find_command(request.command);
  if (command == nullptr) return usage_error("unknown command: " + std::string(request.command));
  if ((given & ~command->accepts & kOperands) != 0U) return usage_error("too many arguments");
  if ((given & ~command->accepts) != 0U) {
    return usage_error("an option given does not apply to " + std::string(command->name));
  }
  return command->run(request);
}
