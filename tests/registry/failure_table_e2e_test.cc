// The README's failure table, row by row, for every writer, under the conditions
// administrators run the tool in: the C and a UTF-8 locale, as root and as a user who may
// write the configuration directory through a group, files that user cannot read, and files
// that are no regular files. Every row is checked for what is printed and what is left.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <functional>
#include <string>
#include <vector>

#include "sandbox/sandbox.h"
#include "support/file_text.h"

namespace lumora::testing {
namespace {

namespace fs = std::filesystem;

using FailureTableTest = SandboxTest;

constexpr char kCfg[] = "/etc/opt/kelvane/scanner/lumora//lumsanenetdevice.cfg";
constexpr char kLabel[] = "/etc/opt/kelvane/scanner/lumora/keep.lumoraconf";
constexpr char kCannotWriteCfg[] =
    "Cannot write /etc/opt/kelvane/scanner/lumora//lumsanenetdevice.cfg\n";
constexpr char kNoScratch[] = "Cannot write /tmp/lumsane_tempfile5_XXXXXX\n";
constexpr char kInvalid[] = "Invalid parameter\n";
// Stands for "Cannot write " and the run's scratch file, whose name is not known beforehand.
constexpr char kScratch[] = "SCRATCH";

// The administrators' group and one of them, who is not root.
constexpr gid_t kAdminGroup = 4243;
constexpr uid_t kAdmin = 4242;

// Lines holding a byte that is no UTF-8, which a UTF-8 sed does not match with ".".
const std::string kLogLine = "log=/tmp/\xff.log , 1 , w\n";
const std::string kDev1 = "DEVICE=dev1 , \"LX-500\" , Unknown , IP-ADDRESS=10.0.0.1 \n";
const std::string kDev2 = "DEVICE=dev2 , \"LX-\xff\" , Unknown , IP-ADDRESS=10.0.0.2 \n";
const std::string kOld = kLogLine + kDev1 + kDev2;
const std::string kSaved = "DEVICE=saved , \"LX-9\" , Unknown , IP-ADDRESS=10.0.0.3 \n";
const std::string kAdded = "DEVICE=new , \"\" , Unknown , IP-ADDRESS=10.0.0.9 \n";

struct Writer {
  const char* name;
  std::vector<std::string> args;
  std::string config_after;  // the configuration file after a run that succeeded on kOld
  std::string label_after;   // the labelled copy after it (kSaved before)
  std::string config_when_missing;  // the file a success leaves when there was none
};

const std::vector<Writer>& writers() {
  static const std::vector<Writer> all = {
      {"-a", {"-a", "name=new", "ip=10.0.0.9"}, kAdded + kOld, kSaved, kAdded},
      {"-r", {"-r", "dev2"}, kLogLine + kDev1 + "\n", kSaved, ""},
      {"-LI", {"-LI"}, "log=/tmp/lum_sane.log , 1 , w\n" + kOld, kSaved,
       "log=/tmp/lum_sane.log , 1 , w\n"},
      {"-LO", {"-LO"}, "\n" + kDev1 + kDev2, kSaved, ""},
      {"-s:", {"-s:keep"}, kOld, kOld, ""},
      {"-l:", {"-l:keep"}, kSaved, kSaved, kSaved},
  };
  return all;
}

enum class Who : std::uint8_t { kRoot, kAdminUser };

struct Condition {
  Who who;
  const char* locale;  // LANG and LC_ALL
};

std::string describe(const Condition& condition) {
  return std::string(condition.who == Who::kRoot ? "root" : "group user") + ", " +
         condition.locale;
}

// What a row leaves for one writer: the line printed (empty: none), and whether the files
// are the new ones (else they must be the old ones).
struct Outcome {
  std::string printed;
  bool changed = false;
};

struct Row {
  const char* failure;
  // Prepares the sandbox (host side) before the run; may set a root prelude.
  std::function<void(Sandbox&, RunOptions&)> set_up;
  std::vector<Outcome> outcomes;  // in the order of writers()
  bool only_as_user = false;      // the condition exists only for a user who is not root
  bool config_missing = false;    // no configuration file before the run
};

const Outcome kFails{kCannotWriteCfg, false};
const Outcome kFailsInvalid{kInvalid, false};
const Outcome kSucceeds{"", true};

std::vector<Row> rows() {
  const std::string dir = "/etc/opt/kelvane/scanner/lumora";
  return {
      {"the scratch file cannot be made (/tmp read-only)",
       [](Sandbox&, RunOptions& options) { options.prelude = "mount -t tmpfs -o ro tmpfs /tmp\n"; },
       {{kNoScratch}, {kNoScratch}, {kNoScratch}, {kNoScratch}, kSucceeds, kSucceeds}},
      {"configuration directory read-only",
       [dir](Sandbox&, RunOptions& options) {
         options.prelude = "mount --bind " + dir + " " + dir + "\nmount -o remount,bind,ro " + dir + "\n";
       },
       {kFails, kFails, kFails, kFails, kFailsInvalid, kFailsInvalid}},
      {"the configuration file is a link to nowhere",
       [](Sandbox& box, RunOptions&) {
         fs::remove(box.host_path(kCfg));
         fs::create_symlink("nowhere.cfg", box.host_path(kCfg));
       },
       {kFails, kFails, kFails, kFails, kFailsInvalid, kFailsInvalid}},
      {"/tmp full (the scratch file cannot be filled)",
       [](Sandbox&, RunOptions& options) {
         options.prelude = "mount -t tmpfs -o size=16k tmpfs /tmp\n"
                           "dd if=/dev/zero of=/tmp/filler bs=1024 count=64 2>/dev/null || true\n";
       },
       {{kScratch}, {kScratch}, {kScratch}, {kScratch}, kSucceeds, kSucceeds}},
      {"sed and uniq failing",
       [](Sandbox& box, RunOptions&) {
         box.install_fake("sed", 1);
         box.install_fake("uniq", 1);
       },
       {kFails, kFails, kFails, kFails, kSucceeds, kSucceeds}},
      {"no configuration file",
       [](Sandbox& box, RunOptions&) { fs::remove(box.host_path(kCfg)); },
       {kSucceeds, kSucceeds, kSucceeds, kSucceeds, kFailsInvalid, kSucceeds},
       false, true},
      {"no labelled copy of that label",
       [](Sandbox& box, RunOptions&) { fs::remove(box.host_path(kLabel)); },
       {kSucceeds, kSucceeds, kSucceeds, kSucceeds, kSucceeds, kFailsInvalid}},
      {"the configuration file cannot be read by the user (0600 root)",
       [](Sandbox& box, RunOptions&) {
         ASSERT_EQ(::chown(box.host_path(kCfg).c_str(), 0, 0), 0);
         ASSERT_EQ(::chmod(box.host_path(kCfg).c_str(), 0600), 0);
       },
       // Loading a copy reads only the copy; the directory is the user's to write.
       {kFails, kFails, kFails, kFails, kFailsInvalid, kSucceeds},
       true},
      {"the labelled copy cannot be read by the user (0600 root)",
       [](Sandbox& box, RunOptions&) {
         ASSERT_EQ(::chown(box.host_path(kLabel).c_str(), 0, 0), 0);
         ASSERT_EQ(::chmod(box.host_path(kLabel).c_str(), 0600), 0);
       },
       {kSucceeds, kSucceeds, kSucceeds, kSucceeds, kSucceeds, kFailsInvalid},
       true},
      {"the configuration file is a FIFO",
       [](Sandbox& box, RunOptions&) {
         fs::remove(box.host_path(kCfg));
         ASSERT_EQ(::mkfifo(box.host_path(kCfg).c_str(), 0664), 0);
       },
       {kFails, kFails, kFails, kFails, kFailsInvalid, kFailsInvalid}},
      {"the configuration file is a directory",
       [](Sandbox& box, RunOptions&) {
         fs::remove(box.host_path(kCfg));
         fs::create_directory(box.host_path(kCfg));
       },
       {kFails, kFails, kFails, kFails, kFailsInvalid, kFailsInvalid}},
      {"the labelled copy is a FIFO",
       [](Sandbox& box, RunOptions&) {
         fs::remove(box.host_path(kLabel));
         ASSERT_EQ(::mkfifo(box.host_path(kLabel).c_str(), 0664), 0);
       },
       {kSucceeds, kSucceeds, kSucceeds, kSucceeds, kFailsInvalid, kFailsInvalid}},
  };
}

bool is_regular(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The directory as an administrators' group sets it up: group-writable, the files in it
// readable and writable by the group.
void share_with_admins(Sandbox& box) {
  const std::string dir = box.host_path("/etc/opt/kelvane/scanner/lumora");
  ASSERT_EQ(::chown(dir.c_str(), 0, kAdminGroup), 0);
  ASSERT_EQ(::chmod(dir.c_str(), 02775), 0);
  for (const char* file : {kCfg, kLabel}) {
    ASSERT_EQ(::chown(box.host_path(file).c_str(), 0, kAdminGroup), 0);
    ASSERT_EQ(::chmod(box.host_path(file).c_str(), 0664), 0);
  }
  // The recording fakes write their records there.
  ASSERT_EQ(::chmod((box.root() + "/record").c_str(), 0777), 0);
}

void check_outcome(const Sandbox& box, const Row& row, const Writer& writer,
                   const Outcome& expected, const RunResult& result, const std::string& where) {
  if (expected.printed == kScratch) {
    const std::string prefix = "Cannot write /tmp/lumsane_tempfile5_";
    EXPECT_TRUE(result.out.size() == prefix.size() + 7 && result.out.rfind(prefix, 0) == 0)
        << where << result.out;
  } else {
    EXPECT_EQ(result.out, expected.printed) << where;
  }
  const std::string cfg = box.host_path(kCfg);
  const std::string label = box.host_path(kLabel);
  if (expected.changed) {
    EXPECT_EQ(read_whole_file(cfg), row.config_missing ? writer.config_when_missing : writer.config_after)
        << where;
    if (is_regular(label)) {
      EXPECT_EQ(read_whole_file(label), writer.label_after) << where;
    }
  } else {
    if (is_regular(cfg)) {
      EXPECT_EQ(read_whole_file(cfg), kOld) << where;
    }
    if (is_regular(label) && std::string(row.failure).find("label") == std::string::npos) {
      EXPECT_EQ(read_whole_file(label), kSaved) << where;
    }
  }
  // Nothing left behind: no scratch file, no pending file.
  EXPECT_TRUE(box.tmp_entries().empty()) << where;
  for (const auto& entry : fs::directory_iterator(box.host_path("/etc/opt/kelvane/scanner/lumora"))) {
    EXPECT_EQ(entry.path().filename().string().rfind(".lumoraconf-new.", 0), std::string::npos)
        << where << entry.path();
  }
}

TEST_F(FailureTableTest, EveryRowForEveryWriterUnderEveryCondition) {
  const Condition conditions[] = {
      {Who::kRoot, "C"}, {Who::kRoot, "C.UTF-8"}, {Who::kAdminUser, "C"}, {Who::kAdminUser, "C.UTF-8"}};
  // Only root can hand the run to another user; CI runs the suite as root.
  const bool can_switch_user = ::geteuid() == 0;
  if (!can_switch_user) {
    const char* ci = std::getenv("CI");
    if (ci != nullptr && *ci != '\0') FAIL() << "the group user's runs need the suite run as root";
    std::cout << "not root: the group user's runs are left out\n";
  }
  for (const Row& row : rows()) {
    for (const Condition& condition : conditions) {
      if (row.only_as_user && condition.who == Who::kRoot) continue;
      if (condition.who == Who::kAdminUser && !can_switch_user) continue;
      for (std::size_t w = 0; w < writers().size(); ++w) {
        const Writer& writer = writers()[w];
        const std::string where =
            std::string(row.failure) + " | " + writer.name + " | " + describe(condition) + "\n";
        Sandbox box;
        box.write_file(kCfg, kOld);
        box.write_file(kLabel, kSaved);
        if (condition.who == Who::kAdminUser) share_with_admins(box);
        RunOptions options;
        options.env = {std::string("LANG=") + condition.locale,
                       std::string("LC_ALL=") + condition.locale};
        options.timeout = std::chrono::seconds(20);
        if (condition.who == Who::kAdminUser) {
          options.uid = kAdmin;
          options.gid = kAdmin;
          options.groups = {kAdminGroup};
        }
        row.set_up(box, options);
        const RunResult result = box.run(writer.args, options);
        EXPECT_EQ(result.status, 0) << where;
        EXPECT_FALSE(result.timed_out) << where;
        check_outcome(box, row, writer, row.outcomes[w], result, where);
      }
    }
  }
}

}  // namespace
}  // namespace lumora::testing
