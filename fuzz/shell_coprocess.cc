#include "shell_coprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>

#include "fuzz_support.h"

namespace lumora::fuzz {
namespace {

void set_nonblocking(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) fail("fcntl O_NONBLOCK failed");
}

void close_fd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

ShellCoprocess::ShellCoprocess(const std::string& dir) {
  int input[2];
  int output[2];
  if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0) fail("pipe2 failed");
  ::signal(SIGPIPE, SIG_IGN);
  const char* argv[] = {"sh", nullptr};
  const char* envp[] = {"PATH=/usr/bin:/bin", "LC_ALL=C", "LANG=C", nullptr};
  pid_ = ::fork();
  if (pid_ < 0) fail("fork failed");
  if (pid_ == 0) {
    // Only async-signal-safe calls between fork and exec. dup2 clears close-on-exec on 0 and 1.
    ::signal(SIGPIPE, SIG_DFL);
    if (::dup2(input[0], 0) < 0 || ::dup2(output[1], 1) < 0 || ::chdir(dir.c_str()) != 0) {
      _exit(127);
    }
    ::execve("/bin/sh", const_cast<char* const*>(argv), const_cast<char* const*>(envp));
    _exit(127);
  }
  ::close(input[0]);
  ::close(output[1]);
  to_shell_ = input[1];
  from_shell_ = output[0];
  set_nonblocking(to_shell_);
  set_nonblocking(from_shell_);
}

ShellCoprocess::~ShellCoprocess() {
  // End of input ends a shell that is waiting for a command; one that is not is stopped.
  close_fd(to_shell_);
  close_fd(from_shell_);
  if (pid_ > 0) {
    if (broken_) ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
}

std::optional<std::string> ShellCoprocess::run(std::string_view script, int timeout_ms,
                                               std::string* why) {
  if (broken_) {
    *why = "the shell is unusable after an earlier failure";
    return std::nullopt;
  }
  // The marker is numbered so that output left over from an earlier script cannot pass for it.
  const std::string number = std::to_string(++sequence_);
  std::string text(script);
  text += "\nprintf '\\n\\001done %s\\n' " + number + "\n";
  const std::string marker = "\n\001done " + number + "\n";

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  std::string reply;
  std::size_t sent = 0;
  char chunk[4096];
  broken_ = true;  // until the marker is in
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      *why = "the shell did not finish the script in time";
      return std::nullopt;
    }
    pollfd fds[2] = {{from_shell_, POLLIN, 0}, {to_shell_, POLLOUT, 0}};
    const nfds_t count = sent < text.size() ? 2 : 1;
    // libFuzzer's timer interrupts the wait every second.
    const int ready = ::poll(fds, count, static_cast<int>(left.count()));
    if (ready < 0) {
      if (errno == EINTR) continue;
      fail("poll failed");
    }
    if (count == 2 && (fds[1].revents & (POLLOUT | POLLERR | POLLHUP)) != 0) {
      const ssize_t n = ::write(to_shell_, text.data() + sent, text.size() - sent);
      if (n < 0 && errno != EAGAIN && errno != EINTR) {
        *why = "the shell stopped reading its input";
        return std::nullopt;
      }
      if (n > 0) sent += static_cast<std::size_t>(n);
    }
    if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      const ssize_t n = ::read(from_shell_, chunk, sizeof chunk);
      if (n == 0) {
        *why = "the shell exited";
        return std::nullopt;
      }
      if (n < 0 && errno != EAGAIN && errno != EINTR) fail("read from the shell failed");
      if (n > 0) reply.append(chunk, static_cast<std::size_t>(n));
      if (reply.size() >= marker.size() &&
          reply.compare(reply.size() - marker.size(), marker.size(), marker) == 0) {
        // Every byte sent was read by the shell before it ran the marker's printf.
        reply.resize(reply.size() - marker.size());
        broken_ = false;
        return reply;
      }
    }
  }
}

}  // namespace lumora::fuzz
