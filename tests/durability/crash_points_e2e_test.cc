// Every writing command, traced in the sandbox, leaves the configuration directory in a state
// its promise allows at every point a crash could strike (the model is in crash_states.h);
// and the check finds the faults it exists for when they are seeded into real traces.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "durability/crash_states.h"
#include "durability/directory_steps.h"
#include "durability/strace_lines.h"
#include "registry/file_replacement.h"
#include "sandbox/sandbox.h"
#include "support/device_lines.h"

namespace lumora::testing {
namespace {

namespace fs = std::filesystem;

constexpr char kCatalogue[] = "/etc/opt/kelvane/scanner/lumora//Lumsane.ini";
constexpr char kSavedCopy[] = "/etc/opt/kelvane/scanner/lumora/saved.lumoraconf";
constexpr char kTracePath[] = "/etc/opt/trace";
constexpr char kConfigName[] = "lumsanenetdevice.cfg";
// strace's string limit: above any single write of these runs (the tool copies in 8 KiB
// chunks, uniq, sed and cat write through buffers of at most 128 KiB, and the files here are
// under 2 KiB). A longer write would come out cut, and decode_string refuses a cut string, so
// a limit too small fails the test instead of hiding bytes.
constexpr char kStringLimit[] = "65536";

bool is_leftover(std::string_view name) { return is_pending_file_name(name); }

DirectorySnapshot snapshot(const std::string& host_dir) {
  DirectorySnapshot files;
  for (const auto& entry : fs::directory_iterator(host_dir)) {
    if (entry.is_symlink() || !entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    struct stat info {};
    if (::stat(entry.path().c_str(), &info) != 0)
      throw std::runtime_error("stat " + entry.path().string());
    files[entry.path().filename().string()] = {content, info.st_mode & 07777u};
  }
  return files;
}

std::string sample_config() {
  std::string text = "log=/var/x.log , 2 , a\n";
  for (int i = 0; i < 20; ++i)
    text += ip_device_line("dev" + std::to_string(i), "\"M\"", "Unknown",
                           "10.0.0." + std::to_string(i + 1));
  return text;
}

struct TracedRun {
  DirectorySnapshot before;
  DirectorySnapshot after;
  std::vector<TracedCall> calls;
  std::string out;
};

mode_t current_umask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

class CrashPointsTest : public SandboxTest {
 protected:
  // A new sandbox holding the same starting files, for each traced command.
  void start_fresh() {
    SandboxTest::SetUp();
    ASSERT_TRUE(sandbox_);
    write_config(sample_config());
    sandbox_->write_file(kCatalogue, "[Support Model]\n0x1:0x2,1,2,\"M\",1,1,,,\n");
    sandbox_->write_file(kSavedCopy, ip_device_line("saved", "\"M\"", "Unknown", "10.9.9.9"), 0640);
  }

  TracedRun traced(const std::vector<std::string>& args) {
    TracedRun run;
    const std::string dir = sandbox_->host_path(kConfigDirPath);
    run.before = snapshot(dir);
    // A sanitizer build's leak check cannot run under ptrace; every untraced run keeps it.
    std::vector<std::string> traced = {"-f",
                                       "-y",
                                       "-xx",
                                       "-qq",
                                       "-s",
                                       kStringLimit,
                                       "-o",
                                       kTracePath,
                                       "-E",
                                       "LSAN_OPTIONS=detect_leaks=0",
                                       LUMORA_TOOL_BINARY};
    traced.insert(traced.end(), args.begin(), args.end());
    RunOptions options;
    options.binary = "/usr/bin/strace";
    const RunResult result = SandboxTest::run(traced, options);
    EXPECT_EQ(result.status, 0) << result.err;
    run.out = result.out;
    run.after = snapshot(dir);
    run.calls = parse_trace(sandbox_->read_file(kTracePath));
    return run;
  }

  static CrashReport check(const TracedRun& run, const std::vector<TracedCall>& calls) {
    StepOptions options;
    options.directory = kConfigDirPath;
    options.umask = static_cast<unsigned>(current_umask());
    return check_crash_states(directory_steps(calls, run.before, options), run.before, run.after,
                              is_leftover);
  }
};

std::string joined(const std::vector<std::string>& args) {
  std::string text;
  for (const auto& arg : args) text += (text.empty() ? "" : " ") + arg;
  return text;
}

TEST_F(CrashPointsTest, EveryWritingCommandLeavesTheOldOrTheNewFilesAtEveryCrashPoint) {
  const std::vector<std::vector<std::string>> commands = {
      {"-a", "name=office", "model=M", "ip=192.168.1.20"},
      {"-r", "dev3"},
      {"-r", "dev3", "dev7"},
      {"-LI"},
      {"-LO"},
      {"-s:traced"},
      {"-s:saved"},
      {"-l:saved"}};
  for (const auto& args : commands) {
    start_fresh();
    const auto start = std::chrono::steady_clock::now();
    const TracedRun run = traced(args);
    const CrashReport report = check(run, run.calls);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    EXPECT_EQ(run.out, "") << joined(args);
    // The run changed the directory: otherwise there was nothing to crash in.
    EXPECT_NE(run.before, run.after) << joined(args);
    EXPECT_EQ(report.replay_mismatch, "") << joined(args);
    EXPECT_TRUE(report.findings.empty()) << joined(args) << ": " << format_report(report, 10);
    std::cout << "[ crash states ] " << joined(args) << ": " << format_report(report, 0)
              << "  (traced and checked in " << took.count() << " ms)\n";
    RecordProperty("states " + joined(args), static_cast<int>(report.states));
  }
}

// The first registration on a new machine makes the configuration file: a crash before the
// run returns may leave no file at all, but never an empty or a cut one.
TEST_F(CrashPointsTest, TheFirstRegistrationMakesTheFileWholeOrNotAtAll) {
  start_fresh();
  fs::remove(sandbox_->host_path(kConfigPath));
  const TracedRun run = traced({"-a", "name=office", "model=M", "ip=192.168.1.20"});
  ASSERT_EQ(run.before.count(kConfigName), 0u);
  ASSERT_EQ(run.after.count(kConfigName), 1u);
  const CrashReport report = check(run, run.calls);
  EXPECT_EQ(report.replay_mismatch, "");
  EXPECT_TRUE(report.findings.empty()) << format_report(report, 10);
  std::cout << "[ crash states ] -a on a directory without the file: " << format_report(report, 0);
}

// --- seeded faults --------------------------------------------------------------------------
// Each edit turns the trace of a correct run into that of a faulty one; the check must find it.

std::string basename_of(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// The pending file a descriptor argument or a path argument names, or "".
std::string pending_named(const std::string& arg) {
  std::string path;
  if (auto descriptor = decode_descriptor(arg)) {
    path = descriptor->path;
  } else if (!arg.empty() && arg.front() == '"') {
    path = decode_string(arg);
  }
  return is_pending_file_name(basename_of(path)) ? basename_of(path) : "";
}

bool is_sync(const TracedCall& call) { return call.name == "fsync" || call.name == "fdatasync"; }

std::vector<TracedCall> without_fsync_of_the_new_file(std::vector<TracedCall> calls) {
  std::erase_if(calls, [](const TracedCall& call) {
    return is_sync(call) && !pending_named(call.args[0]).empty();
  });
  return calls;
}

std::vector<TracedCall> renamed_before_fsync(std::vector<TracedCall> calls) {
  const auto rename = std::find_if(calls.begin(), calls.end(), [](const TracedCall& call) {
    return call.name.rfind("rename", 0) == 0 &&
           !pending_named(call.args[call.name == "rename" ? 0 : 1]).empty();
  });
  const auto sync = std::find_if(calls.begin(), rename, [](const TracedCall& call) {
    return is_sync(call) && !pending_named(call.args[0]).empty();
  });
  if (rename == calls.end() || sync == rename)
    throw TraceError("no fsync and rename of a pending file to swap");
  std::rotate(sync, rename, rename + 1);
  return calls;
}

std::vector<TracedCall> without_directory_fsync(std::vector<TracedCall> calls) {
  std::erase_if(calls, [](const TracedCall& call) {
    const auto descriptor = is_sync(call) ? decode_descriptor(call.args[0]) : std::nullopt;
    return descriptor && descriptor->path == kConfigDirPath;
  });
  return calls;
}

// The new file written under the target's own name: opened with O_TRUNC where it was made,
// written and synced there, and never renamed.
std::vector<TracedCall> written_in_place(std::vector<TracedCall> calls, const std::string& target) {
  std::string pending;
  for (const TracedCall& call : calls) {
    for (const std::string& arg : call.args) {
      if (pending.empty()) pending = pending_named(arg);
    }
  }
  if (pending.empty()) throw TraceError("no pending file in the trace");
  std::erase_if(calls, [](const TracedCall& call) {
    return call.name.rfind("rename", 0) == 0 &&
           !pending_named(call.args[call.name == "rename" ? 0 : 1]).empty();
  });
  const std::string from = encode_string(pending);
  const std::string to = encode_string(target);
  // Both without their quotes: the names stand at the end of longer paths.
  const std::string from_bytes = from.substr(1, from.size() - 2);
  const std::string to_bytes = to.substr(1, to.size() - 2);
  for (TracedCall& call : calls) {
    bool named = false;
    for (std::string& arg : call.args) {
      for (std::size_t at = arg.find(from_bytes); at != std::string::npos;
           at = arg.find(from_bytes, at + to_bytes.size())) {
        arg.replace(at, from_bytes.size(), to_bytes);
        named = true;
      }
    }
    if (basename_of(call.result_path) == pending) {
      call.result_path =
          call.result_path.substr(0, call.result_path.size() - pending.size()) + target;
    }
    if (named && (call.name == "openat" || call.name == "open")) {
      std::string& flags = call.args[call.name == "openat" ? 2 : 1];
      if (const std::size_t at = flags.find("O_EXCL"); at != std::string::npos)
        flags.replace(at, 6, "O_TRUNC");
    }
  }
  return calls;
}

// Shows how the check found the fault: its counts and first findings.
void show(const std::string& fault, const std::string& command, const CrashReport& report) {
  std::cout << "[ seeded fault ] " << fault << ", " << command << ": " << format_report(report, 2);
}

bool has_finding(const CrashReport& report, const std::string& entry,
                 const std::string& found_start, const std::string& after_step_part) {
  return std::any_of(report.findings.begin(), report.findings.end(),
                     [&](const CrashFinding& finding) {
                       return finding.entry == entry && finding.found.rfind(found_start, 0) == 0 &&
                              (finding.returned ? std::string("returned") : finding.after_step)
                                      .find(after_step_part) != std::string::npos;
                     });
}

TEST_F(CrashPointsTest, SeededFaultsAreFoundInTracesOfTheConfigurationFileAndOfALabelledCopy) {
  struct Target {
    std::vector<std::string> args;
    std::string entry;
  };
  for (const Target& target :
       {Target{{"-LI"}, kConfigName}, Target{{"-s:saved"}, "saved.lumoraconf"}}) {
    start_fresh();
    const TracedRun run = traced(target.args);
    const std::string command = target.args[0];
    const CrashReport sound = check(run, run.calls);
    ASSERT_TRUE(sound.findings.empty()) << command << ": " << format_report(sound, 5);

    // Without the new file's fsync, the rename can reach the disk before its bytes do.
    CrashReport report = check(run, without_fsync_of_the_new_file(run.calls));
    show("no fsync of the new file", command, report);
    EXPECT_EQ(report.replay_mismatch, "");
    EXPECT_TRUE(has_finding(report, target.entry, "an empty file", "rename"))
        << command << ": " << format_report(report, 5);
    EXPECT_TRUE(has_finding(report, target.entry, "", "returned"))
        << command << ": " << format_report(report, 5);

    // Renamed before the fsync: between the two, the name holds a file whose bytes may be lost.
    report = check(run, renamed_before_fsync(run.calls));
    show("renamed before its fsync", command, report);
    EXPECT_EQ(report.replay_mismatch, "");
    EXPECT_TRUE(has_finding(report, target.entry, "an empty file", "rename"))
        << command << ": " << format_report(report, 5);
    EXPECT_FALSE(has_finding(report, target.entry, "", "returned"))
        << command << ": " << format_report(report, 5);

    // Without the directory's fsync, the run returns while the rename may still be lost.
    report = check(run, without_directory_fsync(run.calls));
    show("no fsync of the directory", command, report);
    EXPECT_EQ(report.replay_mismatch, "");
    EXPECT_TRUE(has_finding(report, target.entry, "the old file", "returned"))
        << command << ": " << format_report(report, 5);
    EXPECT_TRUE(std::none_of(report.findings.begin(), report.findings.end(),
                             [](const CrashFinding& finding) { return !finding.returned; }))
        << command << ": " << format_report(report, 5);

    // Written in place: truncated first, the file is empty until its new bytes are forced.
    report = check(run, written_in_place(run.calls, target.entry));
    show("written in place", command, report);
    EXPECT_EQ(report.replay_mismatch, "");
    EXPECT_TRUE(has_finding(report, target.entry, "an empty file", "truncate"))
        << command << ": " << format_report(report, 5);
    EXPECT_TRUE(has_finding(report, target.entry, "", "write"))
        << command << ": " << format_report(report, 5);
  }
}

}  // namespace
}  // namespace lumora::testing
