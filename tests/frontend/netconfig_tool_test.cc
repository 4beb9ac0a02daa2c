#include "frontend/netconfig_tool.h"

#include <gtest/gtest.h>

#include <string>

namespace lumora {
namespace {

constexpr char kTool[] = "/opt/kelvane/scanner/lumora/lumora_gnetconfig";

std::string command_for(const char* argument) {
  char command[kNetconfigCommandMax + 2];
  format_netconfig_command(kTool, argument, command, sizeof command);
  return command;
}

TEST(NetconfigCommand, PlainArgumentsStandAsTheyAre) {
  EXPECT_EQ(command_for(nullptr), std::string(kTool) + " ");
  EXPECT_EQ(command_for(""), std::string(kTool) + " ");
  EXPECT_EQ(command_for("10.0.0.5"), std::string(kTool) + " 10.0.0.5");
  EXPECT_EQ(command_for("--mode=x,y:z/w+1@a%b_c"), std::string(kTool) + " --mode=x,y:z/w+1@a%b_c");
}

TEST(NetconfigCommand, OtherArgumentsAreQuotedAsOneWord) {
  EXPECT_EQ(command_for("10.0.0.5;reboot"), std::string(kTool) + " '10.0.0.5;reboot'");
  EXPECT_EQ(command_for("a b"), std::string(kTool) + " 'a b'");
  EXPECT_EQ(command_for("it's"), std::string(kTool) + " 'it'\\''s'");
  EXPECT_EQ(command_for("$(reboot)"), std::string(kTool) + " '$(reboot)'");
}

TEST(NetconfigCommand, LongLinesAreCutAt254CharactersOutsideQuotes) {
  const std::string plain(400, 'x');
  const std::string cut = command_for(plain.c_str());
  EXPECT_EQ(cut.size(), 254u);
  EXPECT_EQ(cut, (std::string(kTool) + " " + plain).substr(0, 254));

  const std::string hostile = "';reboot;'" + std::string(300, 'y');
  const std::string quoted = command_for(hostile.c_str());
  EXPECT_LE(quoted.size(), 254u);
  EXPECT_EQ(quoted.back(), '\'');
  EXPECT_EQ(quoted.find("''\\'';reboot;'\\''"), sizeof kTool);
  EXPECT_EQ(quoted.substr(0, sizeof kTool + 1), std::string(kTool) + " '");
}

TEST(NetconfigCommand, ABufferWithoutRoomForTheWordKeepsTheToolAlone) {
  char command[8];
  format_netconfig_command("/a/tool", "x;y", command, sizeof command);
  EXPECT_STREQ(command, "/a/tool");
  format_netconfig_command("/a/much/longer/tool", "x;y", command, sizeof command);
  EXPECT_STREQ(command, "/a/much");
}

}  // namespace
}  // namespace lumora
