#include "diagnostics/ping.h"

#include <gtest/gtest.h>

#include <string>

namespace lumora {
namespace {

std::string command_for(const std::string& address, std::size_t size = 128) {
  char command[128];
  return format_ping_command(address.c_str(), command, size) ? std::string(command) : "<skipped>";
}

TEST(PingCommand, OrdinaryAddressesGiveThePlainCommand) {
  EXPECT_EQ(command_for("192.168.1.20"), "ping 192.168.1.20 -w 10\n");
  EXPECT_EQ(command_for("LQX_12345"), "ping LQX_12345 -w 10\n");
  EXPECT_EQ(command_for("scanner.example.org"), "ping scanner.example.org -w 10\n");
}

TEST(PingCommand, AnythingElseIsOneQuotedWordOrNoPingAtAll) {
  EXPECT_EQ(command_for("$(reboot)"), "ping '$(reboot)' -w 10\n");
  EXPECT_EQ(command_for("a;b"), "ping 'a;b' -w 10\n");
  EXPECT_EQ(command_for("it's"), "ping 'it'\\''s' -w 10\n");
  // 63 quotes need 4 bytes each once quoted: more than the command holds.
  EXPECT_EQ(command_for(std::string(63, '\'')), "<skipped>");
  EXPECT_EQ(command_for(std::string(63, 'x')), "ping " + std::string(63, 'x') + " -w 10\n");
}

}  // namespace
}  // namespace lumora
