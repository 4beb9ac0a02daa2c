// Runs killed with SIGKILL at random moments, the tool and its pipeline at once, as a crash or
// a power cut would end them. Whatever the moment, the configuration file is byte for byte
// either what it was or what the uninterrupted run makes of it, its mode is kept, and the
// next run clears what the killed one left in the configuration directory and does its work.
// Scratch files under /tmp are left by runs killed with SIGKILL and stay (they cannot be told
// apart from a live run's); they are counted, not checked. A SIGINT, SIGTERM or SIGHUP in the
// middle of the pipeline leaves nothing, and ends the tool by that signal. Concurrent adds all
// land, each once.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "sandbox/sandbox.h"
#include "support/file_text.h"
#include "support/param_label.h"

namespace lumora::testing {
namespace {

namespace fs = std::filesystem;
using std::chrono::microseconds;

constexpr char kDir[] = "/etc/opt/kelvane/scanner/lumora";
constexpr char kLabel[] = "/etc/opt/kelvane/scanner/lumora/saved.lumoraconf";

std::string device(int number, bool by_name) {
  const std::string digits = std::to_string(number);
  const std::string name = "dev" + std::string(digits.size() < 3 ? 3 - digits.size() : 0, '0') + digits;
  return "DEVICE=" + name + " , \"LX-500\" , 0x2e5a:0x10" + std::to_string(number % 7) +
         (by_name ? " , NODENAME=LQX_" + std::to_string(number) : " , IP-ADDRESS=10.0." +
                                                                     std::to_string(number / 250) + "." +
                                                                     std::to_string(number % 250)) +
         " \n";
}

// 200 devices with a comment, a log line and an empty line among them.
std::string two_hundred_devices() {
  std::string text = "# scanners of the second floor\n";
  for (int i = 0; i < 200; ++i) {
    if (i == 100) text += "log=/var/log/lum_sane.log , 2 , a\n\n";
    text += device(i, i % 3 == 0);
  }
  return text;
}

// What the labelled copy holds: the same devices, newest first.
std::string saved_copy() {
  std::string text;
  for (int i = 199; i >= 0; --i) text += device(i, i % 2 == 0);
  return text;
}

struct CrashCase {
  const char* label;
  std::vector<std::string> args;
  int trials;
};

void PrintTo(const CrashCase& crash, std::ostream* out) { *out << crash.label; }

class KilledCommandTest : public SandboxTest, public ::testing::WithParamInterface<CrashCase> {
 protected:
  void reset() const {
    write_config(two_hundred_devices());
    sandbox_->write_file(kLabel, saved_copy());
  }

  std::vector<std::string> pending_files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(sandbox_->host_path(kDir))) {
      const std::string name = entry.path().filename().string();
      if (name.rfind(".lumoraconf-new.", 0) == 0) names.push_back(name);
    }
    return names;
  }

  mode_t config_mode() const {
    struct stat info {};
    return ::stat(sandbox_->host_path(kConfigPath).c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
  }
};

TEST_P(KilledCommandTest, AKilledRunLeavesTheOldOrTheNewFileAndTheNextRunClearsUp) {
  const CrashCase& crash = GetParam();
  const std::string old_content = two_hundred_devices();

  // The new content, and how long an uninterrupted run takes here.
  std::vector<microseconds> durations;
  std::string new_content;
  for (int i = 0; i < 5; ++i) {
    reset();
    const auto start = std::chrono::steady_clock::now();
    const RunResult result = run(crash.args);
    durations.push_back(std::chrono::duration_cast<microseconds>(std::chrono::steady_clock::now() - start));
    ASSERT_EQ(result.out, "");
    if (i == 0) new_content = config();
    ASSERT_EQ(config(), new_content);
  }
  ASSERT_NE(new_content, old_content);
  std::sort(durations.begin(), durations.end());
  const microseconds run_time = durations[durations.size() / 2];

  std::mt19937 random(20260 + static_cast<unsigned>(crash.trials) + static_cast<unsigned>(crash.args.size()));
  std::uniform_int_distribution<long long> moment(0, run_time.count());
  int killed = 0, ended_first = 0, kept_old = 0, got_new = 0, left_pending = 0;
  const auto began = std::chrono::steady_clock::now();
  for (int trial = 0; trial < crash.trials; ++trial) {
    reset();
    const microseconds delay(moment(random));
    const RunResult result = sandbox_->run_killed_after(crash.args, delay);
    (result.status == 128 + 9 ? killed : ended_first) += 1;
    const std::string after = config();
    EXPECT_TRUE(after == old_content || after == new_content)
        << crash.label << " trial " << trial << " killed after " << delay.count() << " us:\n" << after;
    (after == old_content ? kept_old : got_new) += 1;
    EXPECT_EQ(config_mode(), 0644u) << crash.label << " trial " << trial;
    left_pending += static_cast<int>(pending_files().size());

    const RunResult next = run(crash.args);
    EXPECT_TRUE(pending_files().empty()) << crash.label << " trial " << trial;
    EXPECT_EQ(config(), new_content) << crash.label << " trial " << trial << ": " << next.out;
  }
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began);
  std::cout << "crash " << crash.label << ": " << crash.trials << " trials over a run time of "
            << run_time.count() << " us; killed " << killed << ", ended before the kill "
            << ended_first << "; old file " << kept_old << ", new file " << got_new
            << "; pending files left by killed runs " << left_pending
            << ", after the next run 0; scratch files left in /tmp "
            << sandbox_->tmp_entries().size() << "; " << took.count() << " ms\n";
}

INSTANTIATE_TEST_SUITE_P(
    Commands, KilledCommandTest,
    ::testing::Values(CrashCase{"add", {"-a", "name=newdev", "model=LX-500", "ip=10.1.2.3"}, 55},
                      CrashCase{"remove_one", {"-r", "dev100"}, 50},
                      CrashCase{"remove_two", {"-r", "dev050", "dev150"}, 55},
                      CrashCase{"log_on", {"-LI"}, 50},
                      CrashCase{"log_off", {"-LO"}, 50},
                      CrashCase{"load", {"-l:saved"}, 50}),
    lumora::testing::ParamLabel());

using ConcurrentAddTest = SandboxTest;

TEST_F(ConcurrentAddTest, AHundredConcurrentAddsAllLandOnce) {
  write_config(two_hundred_devices());
  std::vector<std::vector<std::string>> runs;
  std::vector<std::string> expected_lines;
  for (int i = 0; i < 100; ++i) {
    const std::string name = "new" + std::to_string(i);
    runs.push_back({"-a", "name=" + name, "model=LX-500", "ip=10.9.0." + std::to_string(i)});
    expected_lines.push_back("DEVICE=" + name + " , \"LX-500\" , Unknown , IP-ADDRESS=10.9.0." +
                             std::to_string(i) + " ");
  }
  for (const RunResult& result : sandbox_->run_concurrently(runs)) {
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.status, 0);
  }
  std::istringstream lines(config());
  std::vector<std::string> added;
  std::string rest;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("DEVICE=new", 0) == 0) {
      added.push_back(line);
    } else {
      rest += line + "\n";
    }
  }
  std::sort(added.begin(), added.end());
  std::sort(expected_lines.begin(), expected_lines.end());
  EXPECT_EQ(added, expected_lines);
  EXPECT_EQ(rest, two_hundred_devices());
  EXPECT_TRUE(sandbox_->tmp_entries().empty());
}

using SignalledCommandTest = SandboxTest;

TEST_F(SignalledCommandTest, InterruptTerminateAndHangUpRemoveTheRunsFilesAndEndTheRunByThatSignal) {
  const std::string original = "log=/var/x.log , 2 , a\nDEVICE=dev1 , \"M\" , Unknown , IP-ADDRESS=10.0.0.1 \n";
  const std::string started = sandbox_->root() + "/pipeline.started";
  // Stands in for uniq: says that the pipeline (and so the pending file) is there, then waits
  // to be signalled.
  write_whole_file(sandbox_->root() + "/fakebin/uniq",
                   "#!/bin/sh\n: > " + started + "\nexec sleep 60\n", 0755);
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"-LI"}, {"-r", "dev1"}, {"-a", "name=n", "ip=10.0.0.2"}}) {
      write_config(original);
      fs::remove(started);
      const RunResult result = sandbox_->run_signalled_when(args, signal_number, started);
      const std::string where = args[0] + " signal " + std::to_string(signal_number);
      ASSERT_TRUE(fs::exists(started)) << where << ": the pipeline never started";
      EXPECT_EQ(result.status, 128 + signal_number) << where;
      EXPECT_FALSE(result.timed_out) << where << ": the pipeline outlived the tool";
      EXPECT_EQ(result.out, "") << where;
      EXPECT_EQ(config(), original) << where;
      EXPECT_TRUE(sandbox_->tmp_entries().empty()) << where;
      for (const auto& entry : fs::directory_iterator(sandbox_->host_path(kDir))) {
        EXPECT_EQ(entry.path().filename().string(), "lumsanenetdevice.cfg") << where;
      }
    }
  }
}

// A signal ignored when the run began (nohup ignores the hang-up, a script's background job
// the interrupt) is meant for others: the run goes on to the end, and its change is made.
TEST_F(SignalledCommandTest, ASignalIgnoredAtTheStartStaysIgnored) {
  const std::string original = "DEVICE=dev1 , \"M\" , Unknown , IP-ADDRESS=10.0.0.1 \n";
  const std::string started = sandbox_->root() + "/pipeline.started";
  // Says that the pipeline is there, leaves the signal time to arrive, then does uniq's work.
  write_whole_file(sandbox_->root() + "/fakebin/uniq",
                   "#!/bin/sh\n: > " + started + "\nsleep 0.1\nexec /usr/bin/uniq \"$@\"\n", 0755);
  for (const int signal_number : {SIGINT, SIGHUP}) {
    write_config(original);
    fs::remove(started);
    // Ignored here, ignored in the tool: the disposition passes through fork and exec.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction previous {};
    ASSERT_EQ(::sigaction(signal_number, &ignore, &previous), 0);
    const RunResult result = sandbox_->run_signalled_when({"-r", "dev1"}, signal_number, started);
    ::sigaction(signal_number, &previous, nullptr);
    const std::string where = "signal " + std::to_string(signal_number);
    EXPECT_EQ(result.status, 0) << where;
    EXPECT_EQ(result.out, "") << where;
    EXPECT_EQ(config(), "\n") << where;
    EXPECT_TRUE(sandbox_->tmp_entries().empty()) << where;
  }
}

}  // namespace
}  // namespace lumora::testing
