// Removing devices by name, as administrators run it.
#include <gtest/gtest.h>

#include "sandbox/sandbox.h"
#include "support/device_lines.h"

namespace lumora::testing {
namespace {

using RemoveTest = SandboxTest;

std::string device(const std::string& name, const std::string& ip = "10.0.0.1") {
  return ip_device_line(name, "\"M\"", "Unknown", ip);
}

TEST_F(RemoveTest, EmptiesOnlyTheNamedDevicesLines) {
  write_config("log=/tmp/lum_sane.log , 1 , w\n" + device("scan") + device("scanner") +
               device("office"));
  const RunResult result = run({"-r", "scan", "office"});
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(config(), "log=/tmp/lum_sane.log , 1 , w\n\n" + device("scanner") + "\n");
  EXPECT_TRUE(sandbox_->tmp_entries().empty());
}

TEST_F(RemoveTest, AdjacentRemovalsLeaveOneEmptyLine) {
  write_config(device("a") + device("b") + device("c") + device("d"));
  run({"-r", "b", "c"});
  EXPECT_EQ(config(), device("a") + "\n" + device("d"));
}

TEST_F(RemoveTest, AnUnknownNameOnlyCollapsesRepeatedLines) {
  write_config(device("a") + device("a") + "\n\n# note\n" + device("b"));
  run({"-r", "nobody"});
  EXPECT_EQ(config(), device("a") + "\n# note\n" + device("b"));
}

TEST_F(RemoveTest, OnlyTheNamesAfterTheOptionWordAreRemoved) {
  write_config(device("-r") + device("keep"));
  run({"-r", "keep"});
  EXPECT_EQ(config(), device("-r") + "\n");
  const std::string before = config();
  run({"-r"});
  EXPECT_EQ(config(), before);
  run({"-r", "-r"});
  EXPECT_EQ(config(), "\n");
}

TEST_F(RemoveTest, HostileWordsRemoveExactlyTheNamedDevice) {
  const std::vector<std::string> names = {
      "it's",  "a/b", ".*", "[", "x[0-9]", "$(touch${IFS}/tmp/owned)", "back\\slash", "^start",
      "end$",  "semi;colon", "`id`", "\"MODEL-X\"", "amp&er", "dot.", "star*"};
  std::string original;
  for (const auto& name : names) original += device(name);
  original += device("bystander") + "log=/tmp/lum_sane.log , 1 , w\n";
  for (std::size_t i = 0; i < names.size(); ++i) {
    write_config(original);
    const RunResult result = run({"-r", names[i]});
    EXPECT_EQ(result.status, 0) << names[i];
    EXPECT_EQ(result.out, "") << names[i];
    std::string expected;
    for (std::size_t j = 0; j < names.size(); ++j) expected += j == i ? "\n" : device(names[j]);
    expected += device("bystander") + "log=/tmp/lum_sane.log , 1 , w\n";
    EXPECT_EQ(config(), expected) << names[i];
  }
  EXPECT_TRUE(sandbox_->tmp_entries().empty());
}

TEST_F(RemoveTest, WordsThatCannotBeNamesChangeNothing) {
  const std::string original = device("a") + device("b");
  write_config(original);
  run({"-r", "a\nb", std::string(600, 'x'), std::string(64, 'a'), "", "a , \"M\"", "a\t", "b ",
       "a,", ",a"});
  EXPECT_EQ(config(), original);
}

// Names that are each removable but together exceed one shell command (128 KiB) are refused
// as a whole: the file stays, and the caller is told so. Names that share their first bytes
// share them in the command too, so these differ from their start.
TEST_F(RemoveTest, NamesBeyondOneCommandChangeNothingAndSaySo) {
  const std::string original = device("a") + device("b");
  write_config(original);
  std::vector<std::string> args = {"-r", "a"};
  for (int i = 0; i < 2500; ++i) args.push_back(std::to_string(i) + std::string(58, 'n'));
  const RunResult result = run(args);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "Cannot write /etc/opt/kelvane/scanner/lumora//lumsanenetdevice.cfg\n");
  EXPECT_EQ(config(), original);
  // The same names less a few fit, and then every one of them goes.
  args.resize(2 + 1500);
  EXPECT_EQ(run(args).out, "");
  EXPECT_EQ(config(), "\n" + device("b"));
}

// The reader takes a line for a device only when it begins with "DEVICE=": a node name or a
// comment that holds "DEVICE=NAME " further on is not that device, and its line stays whole.
TEST_F(RemoveTest, LinesThatOnlyHoldTheNameFurtherOnStayWhole) {
  const std::string comment = "# DEVICE=dev001 , \"M\" , Unknown , IP-ADDRESS=10.0.0.1 \n";
  write_config(comment);
  EXPECT_EQ(run({"-a", "name=victim", "model=LX-500", "nodename=DEVICE=dev001"}).out, "");
  EXPECT_EQ(run({"-a", "name=dev001", "model=M", "ip=10.0.0.1"}).out, "");
  const RunResult result = run({"-r", "dev001"});
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(config(), "\nDEVICE=victim , \"LX-500\" , Unknown , NODENAME=DEVICE=dev001 \n" + comment);
}

// One sed with one expression for all names and one uniq: the file is replaced once, so a run
// removes all of the names or, when the pipeline fails, none.
TEST_F(RemoveTest, AllNamesGoInOneRewrite) {
  const std::string original = device("a") + device("b") + device("c") + device("d");
  write_config(original);
  sandbox_->install_wrapper("sed");
  sandbox_->install_wrapper("uniq");
  RunResult result = run({"-r", "a", "c", "a b", "x"});
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(config(), "\n" + device("b") + "\n" + device("d"));
  EXPECT_EQ(sandbox_->calls("sed"),
            std::vector<std::string>{
                "sed [-E] [-e] [/^DEVICE=[[:space:]]*(((a|c|x))([[:space:],]|$))/"
                "{h;s/.//277g;/^[^\\x00]*(IP-ADDRESS=|NODENAME=)/{s/.*//;h;};g;}]"});
  EXPECT_EQ(sandbox_->calls("uniq"), std::vector<std::string>{"uniq"});

  write_config(original);
  sandbox_->install_fake("uniq", 1);
  result = run({"-r", "a", "c"});
  EXPECT_EQ(result.out, "Cannot write /etc/opt/kelvane/scanner/lumora//lumsanenetdevice.cfg\n");
  EXPECT_EQ(config(), original);
}

// The backend reads a name after "DEVICE=" and any blanks up to white space or a comma, and
// keeps 63 bytes of it: lines written by hand are removed by the name it reads, and by no
// other.
TEST_F(RemoveTest, HandWrittenLinesGoByTheNameTheBackendReads) {
  const std::string long_name(70, 'L');
  const std::string kept = "DEVICE=scan10,\"LX-500\",Unknown,IP-ADDRESS=10.0.0.8\n"
                           "DEVICE=tab1 , \"M\" , Unknown \n"
                           "DEVICE=" + long_name.substr(0, 62) + " , \"M\" , Unknown , IP-ADDRESS=1.1.1.1 \n";
  write_config("DEVICE=scan1,\"LX-500\",Unknown,IP-ADDRESS=10.0.0.7\n" + kept +
               "DEVICE=tab1\t, \"M\" , Unknown , NODENAME=host \n"
               "DEVICE=  spaced\t, \"M\" , Unknown , NODENAME=host \n"
               "DEVICE=caf\xe9 , \"\xff\" , Unknown , IP-ADDRESS=10.0.0.9 \n"
               "DEVICE=" + long_name + " , \"M\" , Unknown , IP-ADDRESS=1.1.1.2 \n");
  const RunResult result =
      run({"-r", "scan1", "tab1", "spaced", "caf\xe9", long_name.substr(0, 63)});
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(config(), "\n" + kept + "\n");
}

TEST_F(RemoveTest, AMissingConfigurationFileIsLeftEmpty) {
  run({"-r", "x"});
  EXPECT_EQ(config(), "");
}

}  // namespace
}  // namespace lumora::testing
