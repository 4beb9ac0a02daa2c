// The end-to-end sandbox: runs the real lumoraconf binary, with its built-in paths, inside a
// private mount namespace where per-test directories stand in for /etc/opt, /opt and /tmp,
// and where fakes of ping, sane-find-scanner, scanimage and the external network-configuration
// tools record what they were given.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace lumora::testing {

struct RunResult {
  std::string out;
  std::string err;
  int status = -1;  // exit status, or 128 + signal number
  bool timed_out = false;
};

struct RunOptions {
  // Shell text run as root inside the namespace before the tool starts (for example to mount a
  // tiny tmpfs); its output goes to the sandbox's hook log. A failing prelude fails the run.
  std::string prelude;
  // Shell text run inside the namespace after the tool ended, before the mounts go away.
  std::string postlude;
  std::chrono::milliseconds timeout{std::chrono::seconds(60)};
  // Directory the tool starts in (inside the namespace).
  std::string working_dir = "/";
  // The program to run instead of lumoraconf (for example LUMORA_QUERY_BINARY); null: lumoraconf.
  const char* binary = nullptr;
  // NAME=VALUE settings put into the tool's environment over the sandbox's own (PATH, LANG=C,
  // LC_ALL=C, HOME): for example LANG=C.UTF-8 and LC_ALL=C.UTF-8 for a UTF-8 locale, or
  // LD_PRELOAD. An empty value ("LC_ALL=") removes the setting.
  std::vector<std::string> env;
  // When uid is not 0, the tool runs as that user with group gid and the supplementary groups
  // given, as an administrator who is not root would; the prelude and postlude stay root.
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> groups;
  // The umask the tool starts with; negative: the test's own.
  int umask = -1;
};

class Sandbox {
 public:
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  // Empty when this host lets the sandbox make its namespace, else why not.
  static std::string unavailable_reason();

  // The host path behind a path as the tool sees it (under /etc/opt, /opt or /tmp).
  std::string host_path(std::string_view inside) const;
  const std::string& root() const { return root_; }

  void write_file(std::string_view inside, std::string_view content, mode_t mode = 0644) const;
  std::string read_file(std::string_view inside) const;
  bool exists(std::string_view inside) const;
  void make_dir(std::string_view inside, mode_t mode = 0755) const;
  // Names left in the sandbox's /tmp, sorted.
  std::vector<std::string> tmp_entries() const;

  // Replaces the fake command `name` (a bare name for the PATH fakes, an absolute path for a
  // tool at a fixed place) by a script that records its arguments, prints `output` and exits
  // with `status`.
  void install_fake(std::string_view name, int status = 0, std::string_view output = "") const;
  void remove_fake(std::string_view name) const;
  // One line per call of the fake: its name, then each argument as " [arg]".
  std::vector<std::string> calls(std::string_view name) const;
  // Every call of every fake, in the order they happened.
  std::vector<std::string> all_calls() const;

  RunResult run(const std::vector<std::string>& args, const RunOptions& options = {}) const;
  // Starts every run at once and waits for all of them.
  std::vector<RunResult> run_concurrently(const std::vector<std::vector<std::string>>& runs) const;

  // The PATH the tool runs with: the fakes first, then the system directories.
  std::string tool_path_env() const;

  // Puts a recording wrapper in front of the system command `name` (a bare name): each call
  // is recorded as by install_fake, then the real command runs with the same arguments.
  void install_wrapper(std::string_view name) const;
  // Starts the tool and, after delay, kills its whole process group (the tool and the shell
  // commands it runs) with SIGKILL; returns once no process of the group is left. status is
  // 128 + 9 when the kill came first, the tool's own status when it had ended already.
  RunResult run_killed_after(const std::vector<std::string>& args,
                             std::chrono::microseconds delay) const;
  // Starts the tool, waits until the host file `started` exists (a fake made it, inside the
  // run), sends `signal_number` to the tool alone, and waits for the tool. status is 128 + the
  // signal that ended the tool, or its exit status; timed_out tells that a process the run
  // started was still running two seconds after the tool ended (the tool's group is then
  // killed).
  RunResult run_signalled_when(const std::vector<std::string>& args, int signal_number,
                               const std::string& started) const;

 private:
  std::string fake_host_path(std::string_view name) const;
  std::string record_path(std::string_view name) const;

  std::string root_;
};

// Base of the end-to-end tests: a fresh sandbox per test, with the PATH fakes and both
// external tools installed (exit status 0). Skips with the reason when the host allows no
// namespace; in CI (CI set in the environment) that is a failure instead.
class SandboxTest : public ::testing::Test {
 protected:
  void SetUp() override;
  RunResult run(const std::vector<std::string>& args, const RunOptions& options = {}) {
    return sandbox_->run(args, options);
  }
  std::string config() const;
  void write_config(std::string_view content) const;

  std::unique_ptr<Sandbox> sandbox_;
};

inline constexpr char kConfigPath[] = "/etc/opt/kelvane/scanner/lumora//lumsanenetdevice.cfg";
inline constexpr char kConfigDirPath[] = "/etc/opt/kelvane/scanner/lumora";

}  // namespace lumora::testing
