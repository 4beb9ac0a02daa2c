// lumoraconf-query as other programs run it: the installed-layout binary in the sandbox,
// reading what lumoraconf wrote, and changing nothing.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/paths.h"
#include "netconfig/test_scrambler.h"
#include "sandbox/sandbox.h"
#include "support/command_output.h"
#include "support/temp_dir.h"

#ifndef LUMORA_QUERY_BINARY
#error "LUMORA_QUERY_BINARY must name the lumoraconf-query binary under test"
#endif
#ifndef LUMORA_VERSION
#error "LUMORA_VERSION must hold the version of the build"
#endif

namespace lumora::testing {
namespace {

constexpr char kCatalogue[] = "/etc/opt/kelvane/scanner/lumora//Lumsane.ini";
constexpr char kModelsFile[] = "/etc/opt/kelvane/scanner/lumora//models/extra.ini";

class QueryTest : public SandboxTest {
 protected:
  RunResult query(const std::vector<std::string>& args) {
    RunOptions options;
    options.binary = LUMORA_QUERY_BINARY;
    return run(args, options);
  }
  // lumoraconf-query run by an administrator who is not root.
  static RunOptions as_administrator() {
    RunOptions options;
    options.binary = LUMORA_QUERY_BINARY;
    options.uid = 4242;
    options.gid = 4243;
    return options;
  }
  // The answer of a query that must succeed without a word on standard error.
  std::string answer(const std::vector<std::string>& args) {
    const RunResult result = query(args);
    EXPECT_EQ(result.status, 0) << args.front();
    EXPECT_EQ(result.err, "") << args.front();
    return result.out;
  }
  void write_catalogue() {
    sandbox_->write_file(kCatalogue,
                         "[Support Model]\n"
                         "0x2e5a:0x500,1,0,\"LX-500\",1,1,a,b,c\n"
                         "0x2e5a:0x700,1,0,\"LX-700\",1,1,a,b,c\n");
    sandbox_->write_file(kModelsFile,
                         "[Support Model]\n" +
                             scramble_line("0x1234:0x42,1,0,\"LX-SECRET\",1,1,a,b,c\n",
                                           keys_for_selector(3)));
  }
};

TEST_F(QueryTest, ModelsListTheCatalogueWithScrambledLines) {
  EXPECT_EQ(answer({"models"}), "");
  write_catalogue();
  EXPECT_EQ(answer({"models"}), "LX-SECRET\nLX-500\nLX-700\n");
  EXPECT_EQ(answer({"-z", "models"}), std::string("LX-SECRET\0LX-500\0LX-700\0", 24));
}

TEST_F(QueryTest, DevicesShowWhatLumoraconfRegistered) {
  write_catalogue();
  EXPECT_EQ(answer({"devices"}), "");
  EXPECT_EQ(run({"-a", "name=office", "model=LX-500", "ip=192.168.1.20"}).out, "");
  EXPECT_EQ(run({"-a", "name=lab", "model=LX-SECRET", "nodename=LQX_12345"}).out, "");
  EXPECT_EQ(run({"-a", "name=typo", "model=LX-5OO", "ip=10.0.0.1"}).out, "");
  EXPECT_EQ(answer({"devices"}),
            R"({"name":"typo","model":"\"LX-5OO\"","id":"Unknown","ip":"10.0.0.1","nodename":""})" "\n"
            R"({"name":"lab","model":"\"LX-SECRET\"","id":"0x1234:0x42","ip":"","nodename":"LQX_12345"})" "\n"
            R"({"name":"office","model":"\"LX-500\"","id":"0x2e5a:0x500","ip":"192.168.1.20","nodename":""})" "\n");
}

// Every byte of a hand-written line comes back through Python's JSON reader and the
// surrogateescape convention.
TEST_F(QueryTest, DevicesRoundTripEveryByteThroughPython) {
  std::string name;
  for (int byte = 0x21; byte < 0x100; ++byte) {
    if (byte != ',') name += static_cast<char>(byte);
  }
  // The reader keeps 63 bytes of a field; split the bytes over several lines.
  std::string file;
  std::vector<std::string> names;
  for (std::size_t at = 0; at < name.size(); at += 60) {
    names.push_back(name.substr(at, 60));
    file += "DEVICE=" + names.back() + " , \"M\xff\" , Unknown , NODENAME=\x01\t\n";
  }
  file += "DEVICE=caf\xc3\xa9\xe9\xed\xb2\x80 , \"M\" , Unknown , IP-ADDRESS=1.2.3.4 \n";
  names.emplace_back("caf\xc3\xa9\xe9\xed\xb2\x80");
  write_config(file);
  const std::string out = answer({"devices"});
  const TempDir dir;
  const std::string json_path = dir.write("devices.json", out);
  const std::string decoded = command_output(
      "python3 -c 'import json, sys\n"
      "for line in open(sys.argv[1], encoding=\"utf-8\"):\n"
      "    d = json.loads(line)\n"
      "    sys.stdout.buffer.write(d[\"name\"].encode(\"utf-8\", \"surrogateescape\") + b\"|\" +\n"
      "                            d[\"model\"].encode(\"utf-8\", \"surrogateescape\") + b\"\\n\")\n"
      "' " + json_path);
  std::string expected;
  for (std::size_t i = 0; i + 1 < names.size(); ++i) expected += names[i] + "|\"M\xff\"\n";
  expected += names.back() + "|\"M\"\n";
  EXPECT_EQ(decoded, expected) << out;
}

// Every name "names" lists, given to "lumoraconf -r", removes its device: afterwards no name is
// left, and only the lines of no device stand.
TEST_F(QueryTest, NamesAreTheNamesRemoveRemovesBy) {
  const std::string others = "# DEVICE=note , \"M\" , Unknown , IP-ADDRESS=10.0.0.1 \n"
                             "DEVICE=noaddr , \"M\" , Unknown \n"
                             "log=/tmp/\xff.log , 1 , w\n";
  sandbox_->write_file(kConfigFile,
                       "DEVICE=scan1,\"LX-500\",Unknown,IP-ADDRESS=10.0.0.7\n" + others +
                           "DEVICE=tab1\t, \"M\" , Unknown , NODENAME=host \n"
                           "DEVICE=caf\xe9 , \"\xff\" , Unknown , IP-ADDRESS=10.0.0.9 \n"
                           "DEVICE=" + std::string(70, 'L') + " , \"M\" , Unknown , IP-ADDRESS=1.1.1.2 \n"
                           "DEVICE=a.b , \"M\" , Unknown , IP-ADDRESS=1.1.1.3 \n"
                           "DEVICE=axb , \"M\" , Unknown , IP-ADDRESS=1.1.1.4 \n");
  const std::string names = answer({"names"});
  EXPECT_EQ(names, "scan1\ntab1\ncaf\xe9\n" + std::string(63, 'L') + "\na.b\naxb\n");
  std::vector<std::string> args = {"-r"};
  for (std::size_t at = 0; at < names.size();) {
    const std::size_t end = names.find('\n', at);
    args.push_back(names.substr(at, end - at));
    at = end + 1;
  }
  args.pop_back();  // axb stays: a.b is no pattern
  EXPECT_EQ(run(args).out, "");
  EXPECT_EQ(answer({"names"}), "axb\n");
  EXPECT_EQ(sandbox_->read_file(kConfigFile),
            "\n" + others + "\nDEVICE=axb , \"M\" , Unknown , IP-ADDRESS=1.1.1.4 \n");
}

TEST_F(QueryTest, LabelsAndLogFollowTheCommands) {
  write_config("DEVICE=a , \"M\" , Unknown , IP-ADDRESS=10.0.0.1 \n");
  EXPECT_EQ(answer({"labels"}), "");
  EXPECT_EQ(answer({"log"}), "null\n");
  EXPECT_EQ(run({"-s:before move"}).out, "");
  EXPECT_EQ(run({"-s:.hidden"}).out, "");
  EXPECT_EQ(run({"-LI"}).out, "");
  EXPECT_EQ(answer({"labels"}), ".hidden\nbefore move\n");
  EXPECT_EQ(answer({"log"}), R"({"path":"/tmp/lum_sane.log","level":1,"mode":"w"})" "\n");
  EXPECT_EQ(run({"-LO"}).out, "");
  EXPECT_EQ(answer({"log"}), "null\n");
}

TEST_F(QueryTest, ReadsWithoutChangingAnythingOrRunningAnything) {
  write_catalogue();
  const std::string content = "log=/tmp/lum_sane.log , 1 , w\nDEVICE=a , \"M\" , Unknown , IP-ADDRESS=10.0.0.1 \n";
  write_config(content);
  sandbox_->write_file("/etc/opt/kelvane/scanner/lumora/x.lumoraconf", content);
  for (const char* command : {"models", "devices", "labels", "log"}) answer({command});
  answer({"plan", "name=b", "model=LX-500", "ip=10.0.0.2"});
  EXPECT_EQ(query({"plan", "name=a", "model=LX-500", "ip=10.0.0.2"}).status, 3);
  answer({"plan", "--replace", "name=a", "model=LX-500", "ip=10.0.0.2"});
  EXPECT_EQ(config(), content);
  EXPECT_TRUE(sandbox_->tmp_entries().empty());
  EXPECT_TRUE(sandbox_->all_calls().empty());
}

// Inside the namespace the system shell is replaced by a spy that notes each call and then
// runs a copy of the real shell. lumoraconf's pipelines show up in its notes; the companion's
// answers must not.
TEST_F(QueryTest, RunsNoShell) {
  namespace fs = std::filesystem;
  const std::string real_shell = sandbox_->root() + "/fakebin/real-sh";
  const std::string spy = sandbox_->root() + "/fakebin/sh-spy";
  const std::string notes = sandbox_->root() + "/record/sh.calls";
  fs::copy_file(fs::canonical("/bin/sh"), real_shell);
  {
    std::ofstream script(spy);
    script << "#!" << real_shell << "\necho \"sh $*\" >> " << notes << "\nexec " << real_shell
           << " \"$@\"\n";
  }
  fs::permissions(spy, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                           fs::perms::others_read | fs::perms::others_exec);
  write_catalogue();
  write_config("DEVICE=a , \"M\" , Unknown , IP-ADDRESS=10.0.0.1 \n");
  RunOptions options;
  options.binary = LUMORA_QUERY_BINARY;
  // /bin/sh may be a link; the mount covers what it names, which the copy above stands in for.
  options.prelude = "mount --bind " + spy + " /bin/sh";
  for (const char* command : {"models", "devices", "names", "labels", "log"}) {
    EXPECT_EQ(run({command}, options).status, 0) << command;
  }
  EXPECT_EQ(run({"plan", "name=b", "model=LX-500", "ip=10.0.0.2"}, options).status, 0);
  EXPECT_FALSE(fs::exists(notes));
  options.binary = nullptr;
  EXPECT_EQ(run({"-LI"}, options).out, "");
  EXPECT_TRUE(fs::exists(notes));
  EXPECT_EQ(config(), "log=/tmp/lum_sane.log , 1 , w\nDEVICE=a , \"M\" , Unknown , IP-ADDRESS=10.0.0.1 \n");
}

TEST_F(QueryTest, AnInputThatCannotBeReadFailsWithAMessage) {
  sandbox_->make_dir(kConfigPath);
  sandbox_->make_dir(kCatalogue);
  const std::pair<const char*, const char*> cases[] = {
      {"devices", "lumoraconf-query: cannot read /etc/opt/kelvane/scanner/lumora//lumsanenetdevice.cfg: Is a directory\n"},
      {"log", "lumoraconf-query: cannot read /etc/opt/kelvane/scanner/lumora//lumsanenetdevice.cfg: Is a directory\n"},
      {"models", "lumoraconf-query: cannot read /etc/opt/kelvane/scanner/lumora//Lumsane.ini: Is a directory\n"},
  };
  for (const auto& [command, message] : cases) {
    const RunResult result = query({command});
    EXPECT_EQ(result.status, 1) << command;
    EXPECT_EQ(result.out, "") << command;
    EXPECT_EQ(result.err, message) << command;
  }
}

// An administrator who is not root and cannot read an input learns so: the answer is not the
// one for a missing input ("nothing there").
TEST_F(QueryTest, AnInputTheCallerMayNotReadFailsWithAMessage) {
  write_catalogue();
  write_config("DEVICE=office , \"LX-500\" , 0x2e5a:0x500 , IP-ADDRESS=192.168.1.20 \n");
  sandbox_->write_file(std::string(kConfigDirPath) + "/home.lumoraconf", "");
  const std::string denied = ": Permission denied\n";
  const std::string config_denied = "lumoraconf-query: cannot read " + std::string(kConfigPath) + denied;
  const std::string models_dir = "/etc/opt/kelvane/scanner/lumora//models";
  struct Case {
    std::string path;
    mode_t mode;
    std::vector<std::vector<std::string>> commands;
    std::string message;
  };
  const std::vector<std::string> plan = {"plan", "name=lab", "model=LX-500", "ip=10.0.0.6"};
  const Case cases[] = {
      {kConfigPath, 0600, {{"names"}, {"devices"}, {"log"}, plan}, config_denied},
      {kCatalogue, 0600, {{"models"}, plan}, "lumoraconf-query: cannot read " + std::string(kCatalogue) + denied},
      {models_dir, 0700, {{"models"}, plan}, "lumoraconf-query: cannot read " + models_dir + denied},
      {kConfigDirPath, 0711, {{"labels"}}, "lumoraconf-query: cannot read " + std::string(kConfigDirPath) + "/" + denied},
  };
  const RunOptions administrator = as_administrator();
  for (const Case& test : cases) {
    const std::string host = sandbox_->host_path(test.path);
    struct stat before {};
    ASSERT_EQ(::stat(host.c_str(), &before), 0) << test.path;
    ASSERT_EQ(::chmod(host.c_str(), test.mode), 0) << test.path;
    for (const std::vector<std::string>& command : test.commands) {
      const RunResult result = run(command, administrator);
      EXPECT_EQ(result.status, 1) << test.path << " " << command.front();
      EXPECT_EQ(result.out, "") << test.path << " " << command.front();
      EXPECT_EQ(result.err, test.message) << test.path << " " << command.front();
    }
    ASSERT_EQ(::chmod(host.c_str(), before.st_mode & 07777), 0) << test.path;
  }
}

TEST_F(QueryTest, AMachineWithoutConfigurationHasNothingRegistered) {
  RunOptions options;
  options.binary = LUMORA_QUERY_BINARY;
  options.prelude = "rm -rf /etc/opt/kelvane";
  for (const char* command : {"models", "devices", "labels", "log"}) {
    const RunResult result = run({command}, options);
    EXPECT_EQ(result.status, 0) << command;
    EXPECT_EQ(result.err, "") << command;
    EXPECT_EQ(result.out, std::string(command) == "log" ? "null\n" : "") << command;
  }
}

TEST_F(QueryTest, MisuseIsStatusTwoWithTheUsage) {
  const std::vector<std::vector<std::string>> cases = {
      {}, {"bogus"}, {"devices", "extra"}, {"names", "x"}, {"-z", "devices"}, {"-z", "log"}, {"-z"},
      {"--models"}, {"log", "-z"}, {"models", "--prefix"}, {"models", "--replace"}, {"devices", "--prefix", "a"},
      {"plan"}, {"plan", "-z", "name=a", "ip=1.2.3.4"}, {"plan", "office", "ip=1.2.3.4"}, {"models", "-x"},
      {"check", "extra"}, {"check", "-z"}, {"devices", "--text"}};
  for (const auto& args : cases) {
    const RunResult result = query(args);
    EXPECT_EQ(result.status, 2) << ::testing::PrintToString(args);
    EXPECT_EQ(result.out, "") << ::testing::PrintToString(args);
    EXPECT_NE(result.err.find("Usage: lumoraconf-query"), std::string::npos) << ::testing::PrintToString(args);
  }
  const RunResult help = query({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: lumoraconf-query", 0), 0U);
}

// A FIFO or a directory in the place of a file is refused at once, never waited on.
TEST_F(QueryTest, AFileThatIsNoRegularFileIsRefusedAtOnce) {
  const std::string cfg = sandbox_->host_path(kConfigPath);
  for (const bool fifo : {true, false}) {
    std::filesystem::remove(cfg);
    if (fifo) {
      ASSERT_EQ(::mkfifo(cfg.c_str(), 0644), 0);
    } else {
      std::filesystem::create_directory(cfg);
    }
    for (const char* command : {"devices", "names", "log"}) {
      RunOptions options;
      options.binary = LUMORA_QUERY_BINARY;
      options.timeout = std::chrono::seconds(10);
      const RunResult result = run({command}, options);
      EXPECT_FALSE(result.timed_out) << command;
      EXPECT_EQ(result.status, 1) << command;
      EXPECT_EQ(result.out, "") << command;
      EXPECT_EQ(result.err, std::string("lumoraconf-query: cannot read ") + kConfigPath + ": " +
                                (fifo ? "Invalid argument" : "Is a directory") + "\n")
          << command;
    }
  }
}

TEST_F(QueryTest, VersionIsTheBuildsAnywhereOnTheLine) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--version"}, {"models", "--version"}}) {
    const RunResult result = query(args);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, std::string("lumoraconf-query ") + LUMORA_VERSION + "\n");
  }
}

// Options stand before or after the command; --prefix keeps the entries that begin with its
// text, compared byte by byte, with either terminator.
TEST_F(QueryTest, OptionsAfterTheCommandAndPrefixFiltering) {
  write_catalogue();
  write_config("DEVICE=office , \"M\" , Unknown , IP-ADDRESS=10.0.0.1 \n"
               "DEVICE=office-2 , \"M\" , Unknown , IP-ADDRESS=10.0.0.2 \n"
               "DEVICE=lab , \"M\" , Unknown , IP-ADDRESS=10.0.0.3 \n");
  sandbox_->write_file("/etc/opt/kelvane/scanner/lumora/before move.lumoraconf", "");
  sandbox_->write_file("/etc/opt/kelvane/scanner/lumora/beta.lumoraconf", "");
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"models", "-z"}, std::string("LX-SECRET\0LX-500\0LX-700\0", 24)},
      {{"models", "--prefix", "LX-5"}, "LX-500\n"},
      {{"models", "--prefix", "LX-"}, "LX-SECRET\nLX-500\nLX-700\n"},
      {{"--prefix", "LX-7", "models"}, "LX-700\n"},
      {{"models", "--prefix", ""}, "LX-SECRET\nLX-500\nLX-700\n"},
      {{"models", "--prefix", "LX-500x"}, ""},
      {{"models", "--prefix", "lx"}, ""},
      {{"models", "-z", "--prefix", "LX-S"}, std::string("LX-SECRET\0", 10)},
      {{"models", "--prefix", "-z"}, ""},
      {{"names", "--prefix", "office"}, "office\noffice-2\n"},
      {{"names", "-z", "--prefix", "l"}, std::string("lab\0", 4)},
      {{"labels", "--prefix", "be"}, "before move\nbeta\n"},
      {{"labels", "--prefix", "before "}, "before move\n"},
  };
  for (const auto& [args, expected] : cases) {
    EXPECT_EQ(answer(args), expected) << ::testing::PrintToString(args);
  }
}

// The plan is the add's own: for each set of words, the line printed is the line the add
// then writes at the top of the file, identifier from the catalogue included.
TEST_F(QueryTest, PlanPrintsTheLineTheAddWrites) {
  write_catalogue();
  const std::vector<std::vector<std::string>> cases = {
      {"name=office", "model=LX-500", "ip=192.168.1.20"},
      {"name=lab", "model=LX-SECRET", "nodename=LQX_12345"},
      {"name=typo", "model=LX-5OO", "ip=10.0.0.1"},
      {"model=LX-700", "ip=10.0.0.2"},
      {"name=both", "model=LX-700", "ip=10.0.0.3", "nodename=n1"},
      {"name=words", "junk", "model=LX-500", "xip=1", "ip=10.0.0.4", "ip=10.0.0.5"},
  };
  for (const auto& words : cases) {
    std::vector<std::string> plan_args = {"plan"};
    plan_args.insert(plan_args.end(), words.begin(), words.end());
    const std::string line = answer(plan_args);
    std::vector<std::string> add_args = {"-a"};
    add_args.insert(add_args.end(), words.begin(), words.end());
    EXPECT_EQ(run(add_args).out, "") << words.front();
    const std::string written = config();
    EXPECT_EQ(written.substr(0, written.find('\n') + 1), line) << words.front();
  }
}

// Where the add refuses, the plan refuses with the same words, on standard output, with
// status 3; and the file stays as it was.
TEST_F(QueryTest, PlanRefusesWithTheAddsWords) {
  write_catalogue();
  const std::string content = "DEVICE=office , \"LX-500\" , 0x2e5a:0x500 , IP-ADDRESS=192.168.1.20 \n";
  write_config(content);
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"name=office", "model=LX-500", "ip=192.168.1.300"}, "\"office\" is already registered.\n"},
      {{"name=office2", "model=LX-500", "ip=192.168.1.300"}, "Invalid IP address (192.168.1.300)\n"},
      {{"name=office2", "model=LX-500", "ip=1.2.3"}, "Invalid IP address (1.2.3)\n"},
      {{"name=bad!name", "model=LX-500", "ip=10.0.0.1"}, "Invalid name\n"},
      {{"name=noaddress", "model=LX-500"}, "Invalid IP address or NODENAME\n"},
  };
  for (const auto& [words, message] : cases) {
    std::vector<std::string> plan_args = {"plan"};
    plan_args.insert(plan_args.end(), words.begin(), words.end());
    const RunResult planned = query(plan_args);
    EXPECT_EQ(planned.status, 3) << message;
    EXPECT_EQ(planned.out, message);
    EXPECT_EQ(planned.err, "") << message;
    std::vector<std::string> add_args = {"-a"};
    add_args.insert(add_args.end(), words.begin(), words.end());
    EXPECT_EQ(run(add_args).out, message);
    EXPECT_EQ(config(), content) << message;
  }
}

// --replace plans the add that follows "-r NAME": the registered name no longer stands in
// the way, every other check still applies.
TEST_F(QueryTest, PlanWithReplaceIsTheAddAfterTheRemove) {
  write_catalogue();
  write_config("DEVICE=office , \"LX-500\" , 0x2e5a:0x500 , IP-ADDRESS=192.168.1.20 \n"
               "DEVICE=lab , \"LX-700\" , 0x2e5a:0x700 , NODENAME=LQX_1 \n");
  const RunResult typo = query({"plan", "--replace", "name=office", "model=LX-500", "ip=192.168.1.300"});
  EXPECT_EQ(typo.status, 3);
  EXPECT_EQ(typo.out, "Invalid IP address (192.168.1.300)\n");
  const std::string line = answer({"plan", "--replace", "name=office", "model=LX-700", "ip=192.168.1.21"});
  EXPECT_EQ(line, "DEVICE=office , \"LX-700\" , 0x2e5a:0x700 , IP-ADDRESS=192.168.1.21 \n");
  EXPECT_EQ(run({"-r", "office"}).out, "");
  EXPECT_EQ(run({"-a", "name=office", "model=LX-700", "ip=192.168.1.21"}).out, "");
  // The remove leaves an empty line where the old one stood.
  EXPECT_EQ(config(), line + "\nDEVICE=lab , \"LX-700\" , 0x2e5a:0x700 , NODENAME=LQX_1 \n");
}

// A device in the second piece of a line over 276 bytes is the backend's (devices lists it,
// the add finds it registered), but no "-r" removes it: plan --replace says so instead of
// promising a line that the add after the remove refuses.
TEST_F(QueryTest, PlanWithReplaceRefusesADeviceTheRemoveCannotRemove) {
  write_catalogue();
  const std::string far = "#" + std::string(275, 'x') +
                          "DEVICE=far , \"LX-500\" , 0x2e5a:0x500 , IP-ADDRESS=10.0.0.5 \n";
  write_config(far);
  EXPECT_EQ(answer({"names"}), "");
  EXPECT_EQ(answer({"devices"}),
            R"({"name":"far","model":"\"LX-500\"","id":"0x2e5a:0x500","ip":"10.0.0.5","nodename":""})" "\n");
  const RunResult plan = query({"plan", "--replace", "name=far", "model=LX-500", "ip=10.0.0.6"});
  EXPECT_EQ(plan.status, 3);
  EXPECT_EQ(plan.out, "\"far\" cannot be removed by lumoraconf -r: the backend reads it beyond the "
                      "first 276 bytes of a line of " + std::string(kConfigPath) + "\n");
  EXPECT_EQ(run({"-r", "far"}).out, "");
  EXPECT_EQ(run({"-a", "name=far", "model=LX-500", "ip=10.0.0.6"}).out,
            "\"far\" is already registered.\n");
  EXPECT_EQ(config(), far);
  // Another name is planned as before.
  EXPECT_EQ(answer({"plan", "--replace", "name=near", "model=LX-500", "ip=10.0.0.6"}),
            "DEVICE=near , \"LX-500\" , 0x2e5a:0x500 , IP-ADDRESS=10.0.0.6 \n");
}

// --replace stands for "lumoraconf -r" of the whole name word before the add: a name -r
// refuses (white space in it, over 63 bytes) removes nothing, and the add then refuses the
// name it reads from the word (cut at the blank, at 63 bytes) when that one is registered.
TEST_F(QueryTest, PlanWithReplaceOfANameTheRemoveRefusesIsTheAddOfARegisteredName) {
  write_catalogue();
  const std::string long_name(63, 'L');
  const std::string registered =
      "DEVICE=office , \"LX-500\" , 0x2e5a:0x500 , IP-ADDRESS=192.168.1.20 \n"
      "DEVICE=" + long_name + " , \"LX-500\" , 0x2e5a:0x500 , IP-ADDRESS=192.168.1.22 \n";
  for (const std::string& name : {std::string("office x"), std::string("office\tx"), long_name + "MORE"}) {
    write_config(registered);
    const RunResult plan = query({"plan", "--replace", "name=" + name, "model=LX-500", "ip=10.0.0.6"});
    EXPECT_EQ(run({"-r", name}).out, "") << name;
    const RunResult added = run({"-a", "name=" + name, "model=LX-500", "ip=10.0.0.6"});
    EXPECT_EQ(plan.out, added.out) << name;
    EXPECT_EQ(plan.status, 3) << name;
    EXPECT_EQ(config(), registered) << name;
  }
}

// Words beginning with "-" among the add's words are the add's: it registers with them, and
// the plan plans the same line instead of printing usage or a version, or failing.
TEST_F(QueryTest, PlanTakesTheAddsWordsAsTheAddDoes) {
  write_catalogue();
  for (const char* odd : {"--help", "-h", "--version", "-x", "--", "-z", "--replace"}) {
    write_config("");
    const std::vector<std::string> words = {"name=office", odd, "model=LX-500", "ip=10.0.0.6"};
    std::vector<std::string> plan = {"plan"};
    plan.insert(plan.end(), words.begin(), words.end());
    std::vector<std::string> add = {"-a"};
    add.insert(add.end(), words.begin(), words.end());
    const RunResult planned = query(plan);
    EXPECT_EQ(planned.status, 0) << odd;
    EXPECT_EQ(planned.err, "") << odd;
    EXPECT_EQ(run(add).out, "") << odd;
    EXPECT_EQ(planned.out, config()) << odd;
  }
}

// A configuration file that is a link to nowhere: the add says it cannot write it once its
// checks passed, and so does the plan.
TEST_F(QueryTest, PlanOfALinkToNowhereIsTheAddsCannotWrite) {
  write_catalogue();
  std::filesystem::create_symlink("nowhere.cfg", sandbox_->host_path(kConfigPath));
  const std::string cannot_write = "Cannot write " + std::string(kConfigPath) + "\n";
  const std::vector<std::string> cases[] = {{"name=office", "model=LX-500", "ip=10.0.0.1"},
                                            {"name=bad.name", "model=LX-500", "ip=10.0.0.1"}};
  for (const std::vector<std::string>& words : cases) {
    std::vector<std::string> plan = {"plan"};
    plan.insert(plan.end(), words.begin(), words.end());
    std::vector<std::string> add = {"-a"};
    add.insert(add.end(), words.begin(), words.end());
    const RunResult planned = query(plan);
    const RunResult added = run(add);
    EXPECT_EQ(planned.out, added.out) << words.front();
    EXPECT_EQ(planned.status, 3) << words.front();
  }
  EXPECT_EQ(query({"plan", "name=office", "model=LX-500", "ip=10.0.0.1"}).out, cannot_write);
}

// A plan made without the device file or the catalogue would not be the add's.
TEST_F(QueryTest, PlanFailsWhenAnInputCannotBeRead) {
  const std::pair<const char*, std::string> cases[] = {
      {kConfigPath, "lumoraconf-query: cannot read /etc/opt/kelvane/scanner/lumora//lumsanenetdevice.cfg: Is a directory\n"},
      {kCatalogue, "lumoraconf-query: cannot read /etc/opt/kelvane/scanner/lumora//Lumsane.ini: Is a directory\n"},
  };
  for (const auto& [path, message] : cases) {
    sandbox_->make_dir(path);
    const RunResult result = query({"plan", "name=office", "model=LX-500", "ip=10.0.0.1"});
    EXPECT_EQ(result.status, 1) << path;
    EXPECT_EQ(result.out, "") << path;
    EXPECT_EQ(result.err, message) << path;
    std::filesystem::remove(sandbox_->host_path(path));
  }
}

// A line holding a NUL byte is read as the backend reads it, up to the NUL, by every command:
// the names listed are the names the remove finds and the names the add's duplicate test finds.
TEST_F(QueryTest, ALineHoldingANulIsReadUpToItByNamesDevicesTheRemoveAndTheAdd) {
  using namespace std::string_literals;
  const std::string lines = "DEVICE=nul1\0x , \"M\" , Unknown , IP-ADDRESS=10.0.0.1 \n"s +
                            "DEVICE=nul2 , \"M\0\" , Unknown , IP-ADDRESS=10.0.0.2 \n"s +
                            "DEVICE=nul3 , \"M\" , Unknown , IP-ADDRESS=10.0.0.3 \0x\n"s;
  write_config(lines);
  EXPECT_EQ(answer({"names"}), "nul3\n");
  const std::string empty = R"({"name":"","model":"","id":"","ip":"","nodename":""})" "\n";
  EXPECT_EQ(answer({"devices"}),
            empty + empty + R"({"name":"nul3","model":"\"M\"","id":"Unknown","ip":"10.0.0.3","nodename":""})" "\n");
  EXPECT_EQ(run({"-r", "nul1", "nul2", "x"}).out, "");
  EXPECT_EQ(config(), lines);
  EXPECT_EQ(run({"-a", "name=nul3", "ip=10.0.0.9"}).out, "\"nul3\" is already registered.\n");
  EXPECT_EQ(run({"-r", "nul3"}).out, "");
  EXPECT_EQ(config(), lines.substr(0, lines.rfind("DEVICE=nul3")) + "\n");
}

// The README's example: findings as JSON for programs, LINE: KIND: message for a person,
// status 1; what lumoraconf itself writes is sound, status 0 and nothing printed.
TEST_F(QueryTest, CheckPrintsTheFindingsAsJsonAndAsText) {
  write_catalogue();
  ASSERT_EQ(run({"-a", "name=office", "model=LX-500", "ip=192.168.1.20"}).out, "");
  ASSERT_EQ(run({"-LI"}).out, "");
  EXPECT_EQ(answer({"check"}), "");
  write_config("DEVICE=office , \"LX-500\" , 0x2e5a:0x500 , IP-ADDRESS=192.168.1.20 \n"
               "DEVICE=front desk , \"LX-500\" , 0x2e5a:0x500 , IP-ADDRESS=192.168.1.30 \n"
               "DEVICE=office , \"LX-500\" , 0x2e5a:0x501 , IP-ADDRESS=192.168.1.300 \n");
  const RunResult text = query({"check", "--text"});
  EXPECT_EQ(text.status, 1);
  EXPECT_EQ(text.err, "");
  EXPECT_EQ(text.out,
            "2: unremovable: the name as written holds white space, which ends it for the backend: "
            "it reads the name \"front\" and no model or address, lumoraconf -r cannot be given the "
            "name as written, and lumoraconf -r front removes this line\n"
            "3: duplicate-name: \"office\" is registered on line 1 already: the backend finds the "
            "device of line 1 under this name, never this one\n"
            "3: id-mismatch: the catalogue gives the model \"LX-500\" the id 0x2e5a:0x500, this "
            "line 0x2e5a:0x501, and the backend takes the line's\n"
            "3: bad-address: the backend reads the address \"192.168.1.300\", which is no IPv4 "
            "address (four numbers 0 to 255 joined by dots)\n");
  const RunResult json = query({"--text", "check"});
  EXPECT_EQ(json.out, text.out);
  const RunResult first = query({"check"});
  EXPECT_EQ(first.status, 1);
  EXPECT_EQ(first.out.substr(0, first.out.find('\n')),
            R"({"line":2,"kind":"unremovable","name":"front","text":"DEVICE=front desk , \"LX-500\" , 0x2e5a:0x500 , IP-ADDRESS=192.168.1.30 ","message":"the name as written holds white space, which ends it for the backend: it reads the name \"front\" and no model or address, lumoraconf -r cannot be given the name as written, and lumoraconf -r front removes this line"})");
  EXPECT_EQ(std::count(first.out.begin(), first.out.end(), '\n'), 4);
}

// An administrator who is not root and may not read the file, or a FIFO in its place: a
// finding of its own, status 1, at once.
TEST_F(QueryTest, CheckOfAFileThatCannotBeReadIsAFinding) {
  write_catalogue();
  write_config("DEVICE=office , \"LX-500\" , 0x2e5a:0x500 , IP-ADDRESS=192.168.1.20 \n");
  const std::string host = sandbox_->host_path(kConfigPath);
  ASSERT_EQ(::chmod(host.c_str(), 0600), 0);
  const RunOptions administrator = as_administrator();
  const RunResult denied = run({"check", "--text"}, administrator);
  EXPECT_EQ(denied.status, 1);
  EXPECT_EQ(denied.err, "");
  EXPECT_EQ(denied.out, "0: unreadable: cannot read " + std::string(kConfigPath) + ": Permission denied\n");
  std::filesystem::remove(host);
  ASSERT_EQ(::mkfifo(host.c_str(), 0644), 0);
  RunOptions options;
  options.binary = LUMORA_QUERY_BINARY;
  options.timeout = std::chrono::seconds(10);
  const RunResult fifo = run({"check"}, options);
  EXPECT_FALSE(fifo.timed_out);
  EXPECT_EQ(fifo.status, 1);
  EXPECT_EQ(fifo.out, R"({"line":0,"kind":"unreadable","name":null,"text":null,"message":"cannot read )" +
                          std::string(kConfigPath) + R"(: Invalid argument"})" "\n");
}

}  // namespace
}  // namespace lumora::testing
