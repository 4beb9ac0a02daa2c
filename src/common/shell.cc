#include "common/shell.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace lumora {

namespace {

bool is_plain_byte(unsigned char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  switch (c) {
    case '.': case '-': case '_': case ':': case '/': case '=': case ',': case '+': case '@':
    case '%':
      return true;
    default:
      return false;
  }
}

}  // namespace

bool is_plain_shell_word(std::string_view word) {
  for (char c : word) {
    if (!is_plain_byte(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

bool shell_quote(std::string_view word, char* dest, std::size_t size) {
  if (size == 0) return false;
  std::size_t used = 0;
  auto put = [&](std::string_view piece) {
    if (piece.size() >= size - used) return false;
    for (char c : piece) dest[used++] = c;
    return true;
  };
  bool ok = true;
  if (is_plain_shell_word(word)) {
    ok = put(word);
  } else {
    ok = put("'");
    for (std::size_t i = 0; ok && i < word.size(); ++i) {
      ok = word[i] == '\'' ? put("'\\''") : put(word.substr(i, 1));
    }
    if (ok) ok = put("'");
  }
  dest[ok ? used : 0] = '\0';
  return ok;
}

int run_shell(const char* command) {
  std::fflush(stdout);
  const int status = std::system(command);
  if (status == -1 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

int run_pipeline(const char* command) {
  static char locale_setting[] = "LC_ALL=C";
  std::vector<char*> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "LC_ALL=", 7) != 0) environment.push_back(*entry);
  }
  environment.push_back(locale_setting);
  environment.push_back(nullptr);
  static char shell_name[] = "sh";
  static char command_flag[] = "-c";
  std::vector<char> command_text(command, command + std::strlen(command) + 1);
  char* const arguments[] = {shell_name, command_flag, command_text.data(), nullptr};
  std::fflush(stdout);
  pid_t child = -1;
  if (::posix_spawn(&child, "/bin/sh", nullptr, nullptr, arguments, environment.data()) != 0) {
    return -1;
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (!WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

void echo_and_run(const char* command) {
  std::printf("%s\n", command);
  std::fflush(stdout);
  run_shell(command);
}

}  // namespace lumora
