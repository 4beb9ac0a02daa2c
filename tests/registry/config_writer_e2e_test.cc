// Rewrites of the configuration file never leave it truncated, half written, unlocked or
// with other permissions, whatever fails underneath.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sandbox/sandbox.h"

namespace lumora::testing {
namespace {

using ConfigWriterTest = SandboxTest;

constexpr char kDir[] = "/etc/opt/kelvane/scanner/lumora";
constexpr char kCannotWrite[] = "Cannot write /etc/opt/kelvane/scanner/lumora//lumsanenetdevice.cfg\n";

std::string device(const std::string& name) {
  return "DEVICE=" + name + " , \"M\" , Unknown , IP-ADDRESS=10.0.0.1 \n";
}

std::string sample_config() {
  std::string text = "log=/var/x.log , 2 , a\n";
  for (int i = 0; i < 20; ++i) text += device("dev" + std::to_string(i));
  return text;
}

// A tmpfs of a few pages over `dir`, holding `files` (copied from the same place on the
// host side) and filled up with a filler file.
std::string full_tmpfs_prelude(const std::string& dir, const std::string& host_copy) {
  return "cp -a " + dir + "/. " + host_copy + "/\n"
         "mount -t tmpfs -o size=16k tmpfs " + dir + "\n"
         "cp -a " + host_copy + "/. " + dir + "/\n"
         "dd if=/dev/zero of=" + dir + "/filler bs=1024 count=64 2>/dev/null || true\n";
}

TEST_F(ConfigWriterTest, AFullConfigurationFilesystemLeavesTheFileByteIdentical) {
  const std::string original = sample_config();
  write_config(original);
  const std::string saved = sandbox_->root() + "/saved";
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"-LI"}, {"-LO"}, {"-r", "dev3"}, {"-l:backup"}}) {
    sandbox_->write_file(std::string(kDir) + "/backup.lumoraconf", "DEVICE=other\n");
    RunOptions options;
    options.prelude = "mkdir -p " + saved + "\n" + full_tmpfs_prelude(kDir, saved + "/copy");
    options.postlude = "cp " + std::string(kConfigPath) + " " + saved + "/after.cfg\n"
                       "ls -A " + kDir + " > " + saved + "/after.ls\n";
    const RunResult result = run(args, options);
    EXPECT_EQ(result.status, 0) << args[0];
    // uniq may say why it failed; the tool itself writes nothing to standard error.
    EXPECT_TRUE(result.err.empty() || result.err.rfind("uniq: ", 0) == 0) << result.err;
    EXPECT_EQ(result.out, args[0] == "-l:backup" ? "Invalid parameter\n" : kCannotWrite) << args[0];
    EXPECT_EQ(sandbox_->read_file(kConfigPath), original);  // the host copy was never touched
    std::ifstream after(saved + "/after.cfg", std::ios::binary);
    std::stringstream text;
    text << after.rdbuf();
    EXPECT_EQ(text.str(), original) << args[0];
    std::ifstream listing(saved + "/after.ls");
    std::stringstream names;
    names << listing.rdbuf();
    EXPECT_EQ(names.str(), "backup.lumoraconf\nfiller\nlumsanenetdevice.cfg\n") << args[0];
    EXPECT_TRUE(sandbox_->tmp_entries().empty()) << args[0];
    std::filesystem::remove_all(saved);
  }
}

TEST_F(ConfigWriterTest, AFullTmpLeavesTheFileByteIdentical) {
  const std::string original = sample_config();
  write_config(original);
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"-LI"}, {"-LO"}, {"-r", "dev3"}}) {
    RunOptions options;
    options.prelude = "mount -t tmpfs -o size=16k tmpfs /tmp\n"
                      "dd if=/dev/zero of=/tmp/filler bs=1024 count=64 2>/dev/null || true\n";
    options.postlude = "ls -A /tmp > " + sandbox_->root() + "/tmp.ls\n";
    const RunResult result = run(args, options);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    const std::string prefix = "Cannot write /tmp/lumsane_tempfile5_";
    EXPECT_TRUE(result.out.size() == prefix.size() + 7 && result.out.rfind(prefix, 0) == 0 &&
                std::all_of(result.out.begin() + static_cast<std::ptrdiff_t>(prefix.size()),
                            result.out.end() - 1, [](char c) { return std::isalnum(static_cast<unsigned char>(c)); }) &&
                result.out.back() == '\n')
        << args[0] << ": " << result.out;
    EXPECT_EQ(config(), original) << args[0];
  }
}

TEST_F(ConfigWriterTest, AFailingPipelineLeavesTheFileAsItWas) {
  const std::string original = sample_config();
  write_config(original);
  sandbox_->install_fake("uniq", 1);
  EXPECT_EQ(run({"-LI"}).out, kCannotWrite);
  EXPECT_EQ(config(), original);
  sandbox_->remove_fake("uniq");
  sandbox_->install_fake("sed", 4);  // dies without output: uniq then succeeds on nothing
  EXPECT_EQ(run({"-r", "dev1"}).out, kCannotWrite);
  EXPECT_EQ(run({"-LO"}).out, kCannotWrite);
  EXPECT_EQ(config(), original);
  EXPECT_TRUE(sandbox_->tmp_entries().empty());
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(sandbox_->host_path(kDir))) {
    left.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(left, std::vector<std::string>{"lumsanenetdevice.cfg"});
}

TEST_F(ConfigWriterTest, PermissionsAndOwnerAreKept) {
  write_config(sample_config());
  const std::string host = sandbox_->host_path(kConfigPath);
  ASSERT_EQ(::chmod(host.c_str(), 0640), 0);
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(host.c_str(), 1234, 5678), 0);
  }
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"-LI"}, {"-LO"}, {"-r", "dev0"}}) {
    run(args);
    struct stat info {};
    ASSERT_EQ(::stat(host.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u) << args[0];
    if (root) {
      EXPECT_EQ(info.st_uid, 1234u) << args[0];
      EXPECT_EQ(info.st_gid, 5678u) << args[0];
    }
  }
}

TEST_F(ConfigWriterTest, ANewFileGetsTheUmaskOfTheShell) {
  run({"-LI"});
  const mode_t mask = ::umask(0);
  ::umask(mask);
  struct stat info {};
  ASSERT_EQ(::stat(sandbox_->host_path(kConfigPath).c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0666u & ~mask);
}

TEST_F(ConfigWriterTest, ASymlinkedConfigurationFileStaysALink) {
  sandbox_->write_file("/etc/opt/real/devices.cfg", device("a"));
  std::filesystem::create_symlink("../../../real/devices.cfg", sandbox_->host_path(kConfigPath));
  run({"-LI"});
  EXPECT_TRUE(std::filesystem::is_symlink(sandbox_->host_path(kConfigPath)));
  EXPECT_EQ(sandbox_->read_file("/etc/opt/real/devices.cfg"),
            "log=/tmp/lum_sane.log , 1 , w\n" + device("a"));
}

TEST_F(ConfigWriterTest, AMissingDirectoryIsReportedAndNothingIsMade) {
  std::filesystem::remove_all(sandbox_->host_path(kDir));
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"-LI"}, {"-LO"}, {"-r", "x"}}) {
    const RunResult result = run(args);
    EXPECT_EQ(result.out, kCannotWrite) << args[0];
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
  }
  EXPECT_EQ(run({"-s:x"}).out, "Invalid parameter\n");
  EXPECT_FALSE(sandbox_->exists(kDir));
  EXPECT_TRUE(sandbox_->tmp_entries().empty());
}

// Every writer makes its pending file only under the lock, so one found by a run that holds
// the lock was left by a killed run: every writer clears them, and nothing else. Scratch
// files under /tmp cannot be told from those of a live run, and stay.
TEST_F(ConfigWriterTest, EveryWriterClearsThePendingFilesOfKilledRuns) {
  const std::vector<std::vector<std::string>> writers = {
      {"-a", "name=new", "model=M", "ip=10.0.0.9"}, {"-a", "name=dev1", "model=M", "ip=10.0.0.9"},
      {"-r", "dev1"}, {"-LI"}, {"-LO"}, {"-s:x"}, {"-l:x"}};
  const std::vector<std::string> stale = {".lumoraconf-new.AbC123", ".lumoraconf-new.zz09YY"};
  const std::vector<std::string> kept = {".lumoraconf-new.AbC12", "notes.lumoraconf-new.AbC123"};
  for (const auto& args : writers) {
    write_config(sample_config());
    sandbox_->write_file(std::string(kDir) + "/x.lumoraconf", sample_config());
    for (const auto& name : stale) sandbox_->write_file(std::string(kDir) + "/" + name, sample_config());
    for (const auto& name : kept) sandbox_->write_file(std::string(kDir) + "/" + name, "mine\n");
    sandbox_->write_file("/tmp/lumsane_tempfile5_Live01", "another run's scratch file\n");
    const RunResult result = run(args);
    const bool registered = args.size() > 1 && args[1] == "name=dev1";
    EXPECT_EQ(result.out, registered ? "\"dev1\" is already registered.\n" : "") << args[0];
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(sandbox_->host_path(kDir))) {
      left.push_back(entry.path().filename().string());
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{".lumoraconf-new.AbC12", "lumsanenetdevice.cfg",
                                              "notes.lumoraconf-new.AbC123", "x.lumoraconf"}))
        << args[0] << " " << args.back();
    EXPECT_EQ(sandbox_->tmp_entries(), std::vector<std::string>{"lumsane_tempfile5_Live01"});
  }
}

// What each writer prints when the configuration directory is read-only and when the
// configuration file is a link to nowhere, as the README and the man page list it.
TEST_F(ConfigWriterTest, AReadOnlyDirectoryAndADanglingLinkGiveTheDocumentedMessages) {
  const std::string label = std::string(kDir) + "/x.lumoraconf";
  const std::vector<std::pair<std::vector<std::string>, std::string>> writers = {
      {{"-a", "name=new", "model=M", "ip=10.0.0.9"}, kCannotWrite},
      {{"-a", "name=bad.name", "model=M", "ip=10.0.0.9"}, "Invalid name\n"},
      {{"-r", "dev1"}, kCannotWrite},
      {{"-LI"}, kCannotWrite},
      {{"-LO"}, kCannotWrite},
      {{"-s:y"}, "Invalid parameter\n"},
      {{"-l:x"}, "Invalid parameter\n"}};
  for (const auto& [args, printed] : writers) {
    write_config(sample_config());
    sandbox_->write_file(label, device("saved"));
    RunOptions read_only;
    read_only.prelude = std::string("mount --bind ") + kDir + " " + kDir + " && mount -o remount,bind,ro " + kDir;
    RunResult result = run(args, read_only);
    EXPECT_EQ(result.out, printed) << "read-only: " << args[0];
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(config(), sample_config());
    EXPECT_EQ(sandbox_->read_file(label), device("saved"));
    EXPECT_FALSE(sandbox_->exists(std::string(kDir) + "/y.lumoraconf"));

    std::filesystem::remove(sandbox_->host_path(kConfigPath));
    std::filesystem::create_symlink("nowhere.cfg", sandbox_->host_path(kConfigPath));
    result = run(args);
    EXPECT_EQ(result.out, printed) << "dangling link: " << args[0];
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(std::filesystem::is_symlink(sandbox_->host_path(kConfigPath)));
    EXPECT_FALSE(sandbox_->exists(std::string(kDir) + "/nowhere.cfg"));
    EXPECT_EQ(sandbox_->read_file(label), device("saved"));
    std::filesystem::remove(sandbox_->host_path(kConfigPath));
  }
  EXPECT_TRUE(sandbox_->tmp_entries().empty());
}

TEST_F(ConfigWriterTest, ConcurrentRemovesAndLogSwitchesLoseNothing) {
  std::string original;
  for (int i = 0; i < 16; ++i) original += device("dev" + std::to_string(i));
  write_config(original);
  std::vector<std::vector<std::string>> runs;
  for (int i = 0; i < 8; ++i) {
    runs.push_back({"-r", "dev" + std::to_string(2 * i)});
    runs.push_back({i % 2 ? "-LO" : "-LI"});
  }
  for (const RunResult& result : sandbox_->run_concurrently(runs)) {
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "");
  }
  std::istringstream lines(config());
  std::vector<std::string> devices;
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line == "log=/tmp/lum_sane.log , 1 , w") continue;
    devices.push_back(line + "\n");
  }
  std::vector<std::string> expected;
  for (int i = 1; i < 16; i += 2) expected.push_back(device("dev" + std::to_string(i)));
  EXPECT_EQ(devices, expected);
  EXPECT_TRUE(sandbox_->tmp_entries().empty());
}

}  // namespace
}  // namespace lumora::testing
