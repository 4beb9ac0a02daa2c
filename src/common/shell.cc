#include "common/shell.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/temporary_file.h"
#include "common/unique_file.h"

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

// posix_spawn's attributes, released on every path.
class SpawnAttributes {
 public:
  SpawnAttributes() { ready_ = ::posix_spawnattr_init(&attributes_) == 0; }
  ~SpawnAttributes() {
    if (ready_) ::posix_spawnattr_destroy(&attributes_);
  }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;

  // A new process group led by the child, and mask as its signal mask.
  bool start_group_with_mask(const sigset_t& mask) {
    return ready_ &&
           ::posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK) == 0 &&
           ::posix_spawnattr_setpgroup(&attributes_, 0) == 0 &&
           ::posix_spawnattr_setsigmask(&attributes_, &mask) == 0;
  }
  const posix_spawnattr_t* get() const { return &attributes_; }

 private:
  posix_spawnattr_t attributes_{};
  bool ready_ = false;
};

// posix_spawn's file actions, released on every path.
class SpawnFileActions {
 public:
  SpawnFileActions() { ready_ = ::posix_spawn_file_actions_init(&actions_) == 0; }
  ~SpawnFileActions() {
    if (ready_) ::posix_spawn_file_actions_destroy(&actions_);
  }
  SpawnFileActions(const SpawnFileActions&) = delete;
  SpawnFileActions& operator=(const SpawnFileActions&) = delete;

  // fd (close-on-exec here) stays open in the child and all it starts, under a number of its
  // own: a copy made by dup2 is not closed on exec. avoid is a descriptor the copy must not
  // take the place of.
  bool pass_on(int fd, int avoid) {
    int number = kPassedFd;
    while (number == fd || number == avoid) ++number;
    return ready_ && ::posix_spawn_file_actions_adddup2(&actions_, fd, number) == 0;
  }
  const posix_spawn_file_actions_t* get() const { return &actions_; }

 private:
  // Above the descriptors a shell command redirects by number (0 to 9).
  static constexpr int kPassedFd = 10;
  posix_spawn_file_actions_t actions_{};
  bool ready_ = false;
};

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
  // Read here, written by nobody: it reaches its end once every process of the pipeline,
  // each holding the write end, is gone.
  int ends[2] = {-1, -1};
  if (::pipe2(ends, O_CLOEXEC) != 0) return -1;
  const UniqueFd alive(ends[0]);
  UniqueFd alive_writer(ends[1]);
  {
    // The pipeline gets a process group of its own, which the signal handler can end whole,
    // and is named to the handler before a signal can come in; it starts with the signal
    // mask the tool had, not the one held here.
    const CleanupSignalsHeld held;
    SpawnAttributes attributes;
    SpawnFileActions actions;
    if (!attributes.start_group_with_mask(held.previous()) ||
        !actions.pass_on(alive_writer.get(), alive.get()) ||
        ::posix_spawn(&child, "/bin/sh", actions.get(), attributes.get(), arguments,
                      environment.data()) != 0) {
      return -1;
    }
    alive_writer.reset();
    set_pipeline_group(child, alive.get());
  }
  int status = 0;
  int waited = 0;
  while ((waited = ::waitpid(child, &status, 0)) < 0 && errno == EINTR) {}
  set_pipeline_group(0, -1);
  if (waited < 0 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

void echo_and_run(const char* command) {
  std::printf("%s\n", command);
  std::fflush(stdout);
  run_shell(command);
}

}  // namespace lumora
