// The front end as administrators and installers see it: the usage bytes, the exit status and
// the hand-over to the external network-configuration tools.
#include <gtest/gtest.h>

#include "sandbox/sandbox.h"

namespace lumora::testing {
namespace {

constexpr char kGnet[] = "/opt/kelvane/scanner/lumora/lumora_gnetconfig";
constexpr char kCnet[] = "/opt/kelvane/scanner/lumora/lumora_cnetconfig";

constexpr char kUsage[] =
    "USAGE: lumoraconf [-OPTION]   OPTION:\n"
    "       -a name=FRIENDLY-NAME model=MODEL-NAME ip=xx.xx.xx.xx    \n"
    "       -a name=FRIENDLY-NAME model=MODEL-NAME nodename=LQX_xxxxx \n"
    "                   : Add network scanner\n"
    "       -r FRIENDLY-NAME [FRIENDLY-NAME ...]\n"
    "                   : Remove network scanner\n"
    "       -q          : Query network scanners\n"
    "       -d          : Diagnosis\n"
    "       -p          : Ping (for network scanners)  \n"
    "       -s:[LABEL]  : Save current configuration\n"
    "       -l:[LABEL]  : Load saved configuration\n";

using FrontendTest = SandboxTest;

TEST_F(FrontendTest, UnknownMissingOrShortWordsPrintTheUsage) {
  const std::vector<std::vector<std::string>> cases = {
      {}, {"-h"}, {"-H"}, {"-?"}, {"-ab"}, {"-pp"}, {"-"}, {""}, {"x"}, {"--help"}, {"-z"}};
  for (const auto& args : cases) {
    const RunResult result = run(args);
    EXPECT_EQ(result.out, kUsage) << (args.empty() ? "(no word)" : args[0]);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
  }
  EXPECT_TRUE(sandbox_->all_calls().empty());
}

TEST_F(FrontendTest, HiddenIDoesNothing) {
  const RunResult result = run({"-i", "whatever"});
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(sandbox_->all_calls().empty());
}

TEST_F(FrontendTest, AddWithoutArgumentsRunsTheFirstToolOnly) {
  const RunResult result = run({"-a"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(sandbox_->all_calls(), std::vector<std::string>{"lumora_gnetconfig"});
}

TEST_F(FrontendTest, AddWithAWordWithoutEqualsHandsItOver) {
  sandbox_->install_fake(kGnet, 0, "gnet says hello\n");
  const RunResult result = run({"-a", "10.0.0.5", "name=x", "model=y", "ip=1.2.3.4"});
  EXPECT_EQ(result.out, "gnet says hello\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(sandbox_->all_calls(), std::vector<std::string>{"lumora_gnetconfig [10.0.0.5]"});
  EXPECT_FALSE(sandbox_->exists(kConfigPath));
}

TEST_F(FrontendTest, AFailingOrMissingFirstToolFallsThroughToTheSecond) {
  sandbox_->install_fake(kGnet, 3);
  run({"-a", "10.0.0.5"});
  EXPECT_EQ(sandbox_->all_calls(), (std::vector<std::string>{"lumora_gnetconfig [10.0.0.5]",
                                                             "lumora_cnetconfig [10.0.0.5]"}));
  sandbox_->remove_fake(kGnet);
  run({"-a"});
  EXPECT_EQ(sandbox_->calls(kCnet),
            (std::vector<std::string>{"lumora_cnetconfig [10.0.0.5]", "lumora_cnetconfig"}));
}

TEST_F(FrontendTest, NeitherToolPresentRunsAndPrintsNothing) {
  sandbox_->remove_fake(kGnet);
  sandbox_->remove_fake(kCnet);
  const RunResult result = run({"-a", "10.0.0.5"});
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
}

TEST_F(FrontendTest, HandedOverWordsReachTheToolAsOneLiteralArgument) {
  sandbox_->install_fake(kGnet, 1);
  const std::string hostile = "10.0.0.5;touch /tmp/owned;$(touch /tmp/owned2) 'x'";
  const RunResult result = run({"-a", hostile});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(sandbox_->all_calls(), (std::vector<std::string>{"lumora_gnetconfig [" + hostile + "]",
                                                             "lumora_cnetconfig [" + hostile + "]"}));
  EXPECT_TRUE(sandbox_->tmp_entries().empty());
}

// The tool's command line is "<tool> <word>", cut at 254 characters: a long word reaches
// the tool with as many of its bytes as that line holds, and no fewer.
TEST_F(FrontendTest, AWordOfAFewHundredBytesReachesTheToolCutOnlyByTheCommandLine) {
  constexpr std::size_t kCommandMax = 254;
  const std::size_t room = kCommandMax - (sizeof kGnet - 1) - 1;  // the tool and its blank
  std::string plain;
  while (plain.size() < 400) plain += "scanner-" + std::to_string(plain.size()) + ".";
  run({"-a", plain});
  EXPECT_EQ(sandbox_->calls(kGnet), std::vector<std::string>{"lumora_gnetconfig [" +
                                                             plain.substr(0, room) + "]"});
  // A word the shell must see quoted loses its end instead of its closing quote.
  const std::string spaced = "x " + plain;
  run({"-a", spaced});
  EXPECT_EQ(sandbox_->calls(kGnet).back(), "lumora_gnetconfig [" + spaced.substr(0, room - 2) + "]");
}

TEST_F(FrontendTest, QueryAsksTheSecondTool) {
  sandbox_->install_fake(kCnet, 4, "scanner list\n");
  const RunResult result = run({"-q"});
  EXPECT_EQ(result.out, "scanner list\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(sandbox_->all_calls(),
            std::vector<std::string>{"lumora_cnetconfig [--query-network-scanner]"});
}

}  // namespace
}  // namespace lumora::testing
