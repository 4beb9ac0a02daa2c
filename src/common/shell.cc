#include "common/shell.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>

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

void echo_and_run(const char* command) {
  std::printf("%s\n", command);
  std::fflush(stdout);
  run_shell(command);
}

}  // namespace lumora
