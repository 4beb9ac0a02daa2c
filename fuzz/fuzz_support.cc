#include "fuzz_support.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace lumora::fuzz {

void fail(std::string_view what, std::string_view detail) {
  std::fprintf(stderr, "property violated: %.*s\n", static_cast<int>(what.size()), what.data());
  if (!detail.empty()) {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(detail.size()), detail.data());
  }
  std::abort();
}

MemFile::MemFile() {
  fd_ = ::memfd_create("lumora-fuzz-input", MFD_CLOEXEC);
  if (fd_ < 0) fail("memfd_create failed");
  path_ = "/proc/self/fd/" + std::to_string(fd_);
}

void MemFile::set(const std::uint8_t* data, std::size_t size) {
  if (::ftruncate(fd_, 0) != 0) fail("ftruncate failed");
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
    if (n <= 0) fail("pwrite failed");
    done += static_cast<std::size_t>(n);
  }
}

namespace {

std::string make_scratch_dir() {
  std::string pattern = "/var/tmp/lumora-fuzz-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) fail("mkdtemp under /var/tmp failed");
  return pattern;
}

void remove_scratch_dir() {
  std::error_code ignored;
  std::filesystem::remove_all(scratch_dir(), ignored);
}

}  // namespace

const std::string& scratch_dir() {
  static const std::string dir = [] {
    std::string made = make_scratch_dir();
    return made;
  }();
  static const bool cleanup_registered = [] { return std::atexit(remove_scratch_dir) == 0; }();
  (void)cleanup_registered;
  return dir;
}

int run_sh(const std::string& script) {
  const pid_t pid = ::fork();
  if (pid < 0) fail("fork failed");
  if (pid == 0) {
    // The shell exchange of shell_words ignores SIGPIPE, and a pipeline must not inherit that.
    ::signal(SIGPIPE, SIG_DFL);
    const int null_fd = ::open("/dev/null", O_RDWR);
    if (null_fd >= 0) {
      ::dup2(null_fd, 0);
      ::dup2(null_fd, 1);
    }
    const char* argv[] = {"/bin/sh", "-c", script.c_str(), nullptr};
    const char* envp[] = {"PATH=/usr/bin:/bin", "LC_ALL=C", "LANG=C", nullptr};
    ::execve("/bin/sh", const_cast<char* const*>(argv), const_cast<char* const*>(envp));
    _exit(127);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) fail("waitpid failed");
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string escaped_bytes(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string escaped;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7f && byte != '\\') {
      escaped.push_back(c);
    } else {
      escaped += "\\x";
      escaped.push_back(kHex[byte >> 4]);
      escaped.push_back(kHex[byte & 0xf]);
    }
  }
  return escaped;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) fail("cannot read", path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void write_file(const std::string& path, std::string_view content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  out.close();
  if (!out) fail("cannot write", path);
}

std::vector<std::string> split_at_nul(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> pieces(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      pieces.emplace_back();
    } else {
      pieces.back().push_back(static_cast<char>(data[i]));
    }
  }
  return pieces;
}

std::vector<std::string> words_of(const std::uint8_t* data, std::size_t size,
                                  std::string_view separators, std::size_t most) {
  std::vector<std::string> words;
  std::string word;
  for (std::size_t i = 0; i <= size && words.size() < most; ++i) {
    const char c = i < size ? static_cast<char>(data[i]) : '\0';
    if (c == '\0' || separators.find(c) != std::string_view::npos) {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word.push_back(c);
    }
  }
  return words;
}

}  // namespace lumora::fuzz
