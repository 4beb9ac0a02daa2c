// Running the tool (or a hook) inside the private mount namespace and collecting what it did.
#include "sandbox/sandbox.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "sandbox/private_mounts.h"

#ifndef LUMORA_TOOL_BINARY
#error "LUMORA_TOOL_BINARY must name the lumoraconf binary under test"
#endif

namespace fs = std::filesystem;

namespace lumora::testing {
namespace {

constexpr const char* kSanitizerOptions[] = {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"};
// What the sanitizers print when they find something; no message of the tool holds these.
constexpr const char* kSanitizerMarks[] = {"runtime error", "AddressSanitizer", "LeakSanitizer"};

void write_or_die(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n <= 0) _exit(126);
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

void die(const char* what) {
  const int saved = errno;
  std::string message = std::string("sandbox: ") + what + ": " + std::strerror(saved) + "\n";
  write_or_die(2, message);
  _exit(125);
}

// Runs in the child: a private mount namespace, with the sandbox's directories over /etc/opt,
// /opt and /tmp.
void enter_namespace(const std::string& root) {
  const std::string error = enter_private_mount_namespace();
  if (!error.empty()) {
    write_or_die(2, "sandbox: " + error + "\n");
    _exit(125);
  }
  const std::pair<std::string, const char*> binds[] = {
      {root + "/etc_opt", "/etc/opt"}, {root + "/opt", "/opt"}, {root + "/tmp", "/tmp"}};
  for (const auto& [from, to] : binds) {
    if (::mount(from.c_str(), to, nullptr, MS_BIND | MS_REC, nullptr) != 0) die(to);
  }
}

int run_hook(const std::string& root, const std::string& script, const char* const* env) {
  if (script.empty()) return 0;
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    const std::string log = root + "/hooks.log";
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd >= 0) {
      ::dup2(fd, 1);
      ::dup2(fd, 2);
    }
    const char* argv[] = {"/bin/sh", "-ec", script.c_str(), nullptr};
    ::execve("/bin/sh", const_cast<char* const*>(argv), const_cast<char* const*>(env));
    _exit(127);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

struct Pipe {
  int read_end = -1;
  int write_end = -1;
  Pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    read_end = fds[0];
    write_end = fds[1];
  }
};

struct Child {
  pid_t pid = -1;
  int out = -1;
  int err = -1;
};

Child start_tool(const Sandbox& sandbox, const std::vector<std::string>& args,
                 const RunOptions& options) {
  const char* program = options.binary != nullptr ? options.binary : LUMORA_TOOL_BINARY;
  const int binary = ::open(program, O_RDONLY | O_CLOEXEC);
  if (binary < 0) throw std::runtime_error(std::string("cannot open ") + program);
  Pipe out, err;
  std::vector<std::string> argv_text = {fs::path(program).filename().string()};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& word : argv_text) argv.push_back(word.data());
  argv.push_back(nullptr);
  std::vector<std::string> env_text = {"PATH=" + sandbox.tool_path_env(), "LANG=C", "LC_ALL=C",
                                       "HOME=/"};
  // A sanitizer build of the tool must keep the caller's settings (halt on error, leak
  // checking), or a report would not change its exit status.
  for (const char* name : kSanitizerOptions) {
    const char* value = std::getenv(name);
    if (value != nullptr) env_text.push_back(std::string(name) + "=" + value);
  }
  for (const std::string& setting : options.env) {
    const std::string name = setting.substr(0, setting.find('=') + 1);
    std::erase_if(env_text, [&](const std::string& entry) { return entry.rfind(name, 0) == 0; });
    if (setting.size() > name.size()) env_text.push_back(setting);
  }
  std::vector<char*> env;
  for (auto& entry : env_text) env.push_back(entry.data());
  env.push_back(nullptr);
  const std::string root = sandbox.root();
  // Dropped only in the process that becomes the tool, after the root-only set-up.
  const auto become_user = [&options] {
    if (options.umask >= 0) ::umask(static_cast<mode_t>(options.umask));
    if (options.uid == 0) return;
    if (::setgroups(options.groups.size(), options.groups.data()) != 0) die("setgroups");
    if (::setgid(options.gid) != 0) die("setgid");
    if (::setuid(options.uid) != 0) die("setuid");
  };

  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    ::setpgid(0, 0);
    const int null_in = ::open("/dev/null", O_RDONLY);
    ::dup2(null_in, 0);
    ::dup2(out.write_end, 1);
    ::dup2(err.write_end, 2);
    enter_namespace(root);
    if (::chdir(options.working_dir.c_str()) != 0) die("chdir");
    if (run_hook(root, options.prelude, env.data()) != 0) {
      write_or_die(2, "sandbox: prelude failed (see hooks.log)\n");
      _exit(125);
    }
    if (options.postlude.empty()) {
      become_user();
      ::fexecve(binary, argv.data(), env.data());
      die("fexecve");
    }
    const pid_t tool = ::fork();
    if (tool == 0) {
      become_user();
      ::fexecve(binary, argv.data(), env.data());
      die("fexecve");
    }
    int status = 0;
    while (::waitpid(tool, &status, 0) < 0 && errno == EINTR) {}
    run_hook(root, options.postlude, env.data());
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
  }
  ::close(binary);
  ::close(out.write_end);
  ::close(err.write_end);
  return {pid, out.read_end, err.read_end};
}

std::vector<RunResult> collect(std::vector<Child>& children, std::chrono::milliseconds timeout) {
  std::vector<RunResult> results(children.size());
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  bool killed = false;
  for (;;) {
    std::vector<pollfd> fds;
    std::vector<std::pair<std::size_t, bool>> owners;  // child index, is stdout
    for (std::size_t i = 0; i < children.size(); ++i) {
      if (children[i].out >= 0) {
        fds.push_back({children[i].out, POLLIN, 0});
        owners.emplace_back(i, true);
      }
      if (children[i].err >= 0) {
        fds.push_back({children[i].err, POLLIN, 0});
        owners.emplace_back(i, false);
      }
    }
    if (fds.empty()) break;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 && !killed) {
      for (std::size_t i = 0; i < children.size(); ++i) {
        ::kill(-children[i].pid, SIGKILL);
        results[i].timed_out = true;
      }
      killed = true;
    }
    const int ready = ::poll(fds.data(), fds.size(), killed ? 1000 : static_cast<int>(std::min<long long>(left.count(), 1000)));
    if (ready < 0 && errno != EINTR) break;
    for (std::size_t k = 0; k < fds.size(); ++k) {
      if (fds[k].revents == 0) continue;
      char buffer[65536];
      const ssize_t n = ::read(fds[k].fd, buffer, sizeof buffer);
      auto& [index, is_out] = owners[k];
      if (n > 0) {
        (is_out ? results[index].out : results[index].err).append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        ::close(fds[k].fd);
        (is_out ? children[index].out : children[index].err) = -1;
      }
    }
  }
  for (std::size_t i = 0; i < children.size(); ++i) {
    int status = 0;
    while (::waitpid(children[i].pid, &status, 0) < 0 && errno == EINTR) {}
    results[i].status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  return results;
}

// Not every test looks at the exit status, and a sanitizer report may come with status 0
// when halting is off, so a run that died or was reported fails the test here.
void check_run(const std::vector<std::string>& args, const RunResult& result) {
  std::string command = "lumoraconf";
  for (const auto& word : args) command += " " + word;
  if (result.timed_out) ADD_FAILURE() << command << ": killed after the timeout";
  else if (result.status >= 128) ADD_FAILURE() << command << ": ended by signal " << result.status - 128;
  for (const char* mark : kSanitizerMarks) {
    if (result.err.find(mark) != std::string::npos) {
      ADD_FAILURE() << command << ": sanitizer report on stderr:\n" << result.err;
      break;
    }
  }
}

}  // namespace

std::string Sandbox::unavailable_reason() {
  static const std::string reason = [] {
    for (const char* dir : {"/etc/opt", "/opt", "/tmp"}) {
      struct stat info {};
      if (::stat(dir, &info) != 0 || !S_ISDIR(info.st_mode)) {
        return std::string("mount point ") + dir + " is missing on this host";
      }
    }
    // The child tries the whole namespace set-up and sends back why it failed, if it did.
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return std::string("pipe failed");
    const pid_t pid = ::fork();
    if (pid < 0) {
      ::close(fds[0]);
      ::close(fds[1]);
      return std::string("fork failed");
    }
    if (pid == 0) {
      ::close(fds[0]);
      const std::string error = enter_private_mount_namespace();
      if (!error.empty()) write_or_die(fds[1], error);
      _exit(error.empty() ? 0 : 1);
    }
    ::close(fds[1]);
    std::string error;
    char buffer[512];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) != 0;) {
      if (n > 0) error.append(buffer, static_cast<std::size_t>(n));
      else if (errno != EINTR) break;
    }
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return std::string();
    return error.empty() ? std::string("the namespace set-up died") : error;
  }();
  return reason;
}

RunResult Sandbox::run(const std::vector<std::string>& args, const RunOptions& options) const {
  std::vector<Child> children = {start_tool(*this, args, options)};
  RunResult result = collect(children, options.timeout).front();
  check_run(args, result);
  return result;
}

std::vector<RunResult> Sandbox::run_concurrently(
    const std::vector<std::vector<std::string>>& runs) const {
  std::vector<Child> children;
  for (const auto& args : runs) children.push_back(start_tool(*this, args, {}));
  std::vector<RunResult> results = collect(children, std::chrono::seconds(120));
  for (std::size_t i = 0; i < results.size(); ++i) check_run(runs[i], results[i]);
  return results;
}

RunResult Sandbox::run_killed_after(const std::vector<std::string>& args,
                                    std::chrono::microseconds delay) const {
  // The shell and the commands it runs outlive a killed tool for a moment; as orphans they
  // become children of this process, which can then wait until the last one is gone.
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);
  std::vector<Child> children = {start_tool(*this, args, {})};
  const pid_t group = children.front().pid;
  // The child makes its own group too; made here as well, the kill can never come before it.
  ::setpgid(group, group);
  std::this_thread::sleep_for(delay);
  ::kill(-group, SIGKILL);
  RunResult result = collect(children, std::chrono::seconds(60)).front();
  int status = 0;
  while (::waitpid(-group, &status, 0) > 0 || errno == EINTR) {}
  return result;
}

// How long the processes a signalled run started may take to end after it.
constexpr std::chrono::seconds kLeftRunningWait{2};

RunResult Sandbox::run_signalled_when(const std::vector<std::string>& args, int signal_number,
                                      const std::string& started) const {
  std::vector<Child> children = {start_tool(*this, args, {})};
  const pid_t tool = children.front().pid;
  ::setpgid(tool, tool);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!fs::exists(started) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ::kill(tool, signal_number);
  int status = 0;
  while (::waitpid(tool, &status, 0) < 0 && errno == EINTR) {}
  // What the run started inherited its output pipes: they reach their end at once unless one
  // of those processes outlived the tool. Such a run is timed out, and its group killed.
  RunResult result = collect(children, kLeftRunningWait).front();
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

}  // namespace lumora::testing
