// Every writer under injected system call failures: the Nth open, openat, read, write, fsync
// or rename of the tool fails with a chosen errno (the preloaded library of
// sandbox/fault_injection.cc), for every N the run reaches. After each run the file is the old
// one or the new one, and the output is a failure line, or nothing only when the new content
// is in place. The table of outcomes is printed for the record.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "sandbox/sandbox.h"
#include "support/file_text.h"

#ifndef LUMORA_FAULT_LIBRARY
#error "LUMORA_FAULT_LIBRARY must name the fault injection library"
#endif

namespace lumora::testing {
namespace {

namespace fs = std::filesystem;

using FaultInjectionTest = SandboxTest;

constexpr char kCfg[] = "/etc/opt/kelvane/scanner/lumora//lumsanenetdevice.cfg";
constexpr char kLabel[] = "/etc/opt/kelvane/scanner/lumora/keep.lumoraconf";
constexpr char kDir[] = "/etc/opt/kelvane/scanner/lumora";

const std::string kDev1 = "DEVICE=dev1 , \"LX-500\" , Unknown , IP-ADDRESS=10.0.0.1 \n";
const std::string kDev2 = "DEVICE=dev2 , \"LX-600\" , Unknown , IP-ADDRESS=10.0.0.2 \n";
const std::string kOld = "log=/var/x.log , 2 , a\n" + kDev1 + kDev2;
const std::string kSaved = "DEVICE=saved , \"LX-9\" , Unknown , IP-ADDRESS=10.0.0.3 \n";

struct Writer {
  const char* name;
  std::vector<std::string> args;
  const char* changed_file;  // the file the command replaces
  std::string old_content;
  std::string new_content;
};

bool is_failure_line(const std::string& out) {
  const std::string scratch = "Cannot write /tmp/lumsane_tempfile5_";
  return out == "Cannot write /etc/opt/kelvane/scanner/lumora//lumsanenetdevice.cfg\n" ||
         out == "Invalid parameter\n" ||
         (out.size() == scratch.size() + 7 && out.rfind(scratch, 0) == 0 && out.back() == '\n');
}

// The environment that makes the Nth call of a kind fail in lumoraconf alone, marking mark.
std::vector<std::string> fault_env(const char* call, int nth, int errno_value,
                                   const std::string& mark) {
  std::string sanitizer = std::getenv("ASAN_OPTIONS") != nullptr ? std::getenv("ASAN_OPTIONS") : "";
  // The library comes before a sanitizer runtime in the list of libraries; it replaces none
  // of the calls that runtime needs first.
  sanitizer += (sanitizer.empty() ? "" : ":") + std::string("verify_asan_link_order=0");
  return {std::string("LD_PRELOAD=") + LUMORA_FAULT_LIBRARY,
          std::string("LUMORA_FAULT_CALL=") + call,
          "LUMORA_FAULT_NTH=" + std::to_string(nth),
          "LUMORA_FAULT_ERRNO=" + std::to_string(errno_value),
          "LUMORA_FAULT_PROGRAM=lumoraconf", "LUMORA_FAULT_MARK=" + mark,
          "ASAN_OPTIONS=" + sanitizer};
}

struct Tally {
  int runs = 0;
  int failed_old = 0;     // failure line, old file
  int failed_new = 0;     // failure line, new file (the directory sync after the rename)
  int silent_new = 0;     // no output, new file: the fault was absorbed (EINTR retried)
};

TEST_F(FaultInjectionTest, EveryWriterLeavesTheOldOrTheNewFileAndSaysSoWhenItIsTheOld) {
  const std::vector<Writer> writers = {
      {"-a", {"-a", "name=new", "ip=10.0.0.9"}, kCfg, kOld,
       "DEVICE=new , \"\" , Unknown , IP-ADDRESS=10.0.0.9 \n" + kOld},
      {"-r", {"-r", "dev2"}, kCfg, kOld, "log=/var/x.log , 2 , a\n" + kDev1 + "\n"},
      {"-LI", {"-LI"}, kCfg, kOld, "log=/tmp/lum_sane.log , 1 , w\n" + kOld},
      {"-LO", {"-LO"}, kCfg, kOld, "\n" + kDev1 + kDev2},
      {"-s:", {"-s:keep"}, kLabel, kSaved, kOld},
      {"-l:", {"-l:keep"}, kCfg, kOld, kSaved},
  };
  const char* calls[] = {"open", "openat", "read", "write", "fsync", "rename"};
  const std::pair<const char*, int> errnos[] = {
      {"EIO", EIO}, {"EACCES", EACCES}, {"ENOSPC", ENOSPC}, {"EINTR", EINTR}};
  std::map<std::string, Tally> table;
  for (const Writer& writer : writers) {
    for (const char* call : calls) {
      for (const auto& [errno_name, errno_value] : errnos) {
        Tally& tally = table[std::string(writer.name) + " " + call + " " + errno_name];
        for (int nth = 1;; ++nth) {
          ASSERT_LT(nth, 100) << "the fault never stopped firing";
          const std::string where = std::string(writer.name) + " " + call + " #" +
                                    std::to_string(nth) + " " + errno_name + "\n";
          Sandbox box;
          box.write_file(kCfg, kOld);
          box.write_file(kLabel, kSaved);
          const std::string mark = box.root() + "/fault.fired";
          RunOptions options;
          options.env = fault_env(call, nth, errno_value, mark);
          const RunResult result = box.run(writer.args, options);
          if (!fs::exists(mark)) {
            // The run made fewer such calls: it must have succeeded untouched.
            EXPECT_EQ(result.out, "") << where;
            EXPECT_EQ(box.read_file(writer.changed_file), writer.new_content) << where;
            break;
          }
          ++tally.runs;
          EXPECT_EQ(result.status, 0) << where;
          const std::string after = box.read_file(writer.changed_file);
          const bool is_old = after == writer.old_content;
          const bool is_new = after == writer.new_content;
          EXPECT_TRUE(is_old || is_new) << where << after;
          if (result.out.empty()) {
            EXPECT_TRUE(is_new) << where << "nothing printed, but the new content is not in place";
            ++tally.silent_new;
          } else {
            EXPECT_TRUE(is_failure_line(result.out)) << where << result.out;
            ++(is_new ? tally.failed_new : tally.failed_old);
          }
          EXPECT_TRUE(box.tmp_entries().empty()) << where;
          for (const auto& entry : fs::directory_iterator(box.host_path(kDir))) {
            EXPECT_EQ(entry.path().filename().string().rfind(".lumoraconf-new.", 0),
                      std::string::npos)
                << where << entry.path();
          }
        }
      }
    }
  }
  std::ostringstream report;
  report << "command call errno: calls failed | failure line, old file | failure line, new file"
            " | nothing printed, new file\n";
  for (const auto& [key, tally] : table) {
    report << key << ": " << tally.runs << " | " << tally.failed_old << " | " << tally.failed_new
           << " | " << tally.silent_new << "\n";
  }
  std::cout << report.str();
}

// The add reads the file twice: for its duplicate test and to copy it behind the new line. A
// failing open or read in either is a failure of the add, never "nothing registered": the
// name registered already must not be added a second time.
TEST_F(FaultInjectionTest, TheDuplicateTestNeverTakesAReadErrorForNothingRegistered) {
  for (const char* call : {"open", "read"}) {
    for (int nth = 1;; ++nth) {
      ASSERT_LT(nth, 100) << "the fault never stopped firing";
      const std::string where = std::string(call) + " #" + std::to_string(nth) + "\n";
      Sandbox box;
      box.write_file(kCfg, kOld);
      const std::string mark = box.root() + "/fault.fired";
      RunOptions options;
      options.env = fault_env(call, nth, EIO, mark);
      const RunResult result = box.run({"-a", "name=dev2", "ip=10.0.0.9"}, options);
      EXPECT_EQ(box.read_file(kCfg), kOld) << where;
      if (!fs::exists(mark)) {
        EXPECT_EQ(result.out, "\"dev2\" is already registered.\n") << where;
        break;
      }
      EXPECT_TRUE(result.out == "\"dev2\" is already registered.\n" || is_failure_line(result.out))
          << where << result.out;
    }
  }
}

}  // namespace
}  // namespace lumora::testing
