// lumoraconf-query: answers, for other programs, what the scanner backend's files hold (the
// catalogue's models, the registered devices, the saved labels, the log settings). It only
// reads: it never writes a file or runs a command.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "query/discover_command.h"
#include "query/query_answers.h"

namespace {

constexpr int kExitInputError = 1;
constexpr int kExitUsage = 2;

constexpr char kUsage[] =
    "Usage: lumoraconf-query [-z] models\n"
    "       lumoraconf-query devices\n"
    "       lumoraconf-query [-z] names\n"
    "       lumoraconf-query [-z] labels\n"
    "       lumoraconf-query log\n"
    "       lumoraconf-query discover [--timeout SECONDS] [--interface NAME]\n"
    "  models   model names the catalogue knows, one a line, without their quotes\n"
    "  devices  registered devices, one JSON object a line\n"
    "  names    names of the registered devices, one a line\n"
    "  labels   labels of the saved copies, one a line\n"
    "  log      log settings of the backend, a JSON object or null\n"
    "  discover scanners answering on the local networks, one JSON object a line\n"
    "  -z       end each model name, device name or label with a NUL byte, not a line feed\n";

int usage_error(const char* what) {
  std::fprintf(stderr, "lumoraconf-query: %s\n%s", what, kUsage);
  return kExitUsage;
}

// Writes the whole answer; a reader that went away or a full disk is an error of this run.
int write_answer(const std::string& answer) {
  if (std::fwrite(answer.data(), 1, answer.size(), stdout) != answer.size() ||
      std::fflush(stdout) != 0) {
    std::fprintf(stderr, "lumoraconf-query: write error: %s\n", std::strerror(errno));
    return kExitInputError;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  char terminator = '\n';
  int next = 1;
  if (next < argc && std::string_view(argv[next]) == "-z") {
    terminator = '\0';
    ++next;
  }
  if (next >= argc) return usage_error("no command given");
  const std::string_view command = argv[next];
  if (command == "-h" || command == "--help") {
    std::fputs(kUsage, stdout);
    return write_answer({});
  }
  if (command == "discover") {
    return terminator == '\0' ? usage_error("-z applies to models, names and labels only")
                               : lumora::run_discover_command(
                                     {}, std::vector<std::string>(argv + next + 1, argv + argc));
  }
  if (next + 1 < argc) return usage_error("too many arguments");

  const lumora::QuerySources sources;
  std::string answer;
  std::string error;
  bool answered = false;
  if (command == "models") {
    answered = lumora::query_models(sources, terminator, answer, error);
  } else if (command == "names") {
    answered = lumora::query_names(sources, terminator, answer, error);
  } else if (command == "labels") {
    answered = lumora::query_labels(sources, terminator, answer, error);
  } else if (terminator == '\0' && (command == "devices" || command == "log")) {
    return usage_error("-z applies to models, names and labels only");
  } else if (command == "devices") {
    answered = lumora::query_devices(sources, answer, error);
  } else if (command == "log") {
    answered = lumora::query_log(sources, answer, error);
  } else {
    return usage_error(("unknown command: " + std::string(command)).c_str());
  }
  if (!answered) {
    std::fprintf(stderr, "lumoraconf-query: cannot read %s\n", error.c_str());
    return kExitInputError;
  }
  return write_answer(answer);
}
