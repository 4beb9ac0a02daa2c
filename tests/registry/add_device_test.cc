#include "registry/add_device.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "catalogue/model_list.h"
#include "support/output_capture.h"

namespace lumora {

namespace {

struct Capacities {
  std::size_t name, model, ip, nodename, id;
};

TEST(GatherDeviceSettings, RefusesSmallBuffersBeforeLookingAtAnything) {
  char argv0[] = "lumoraconf";
  char argv1[] = "-a";
  char argv2[] = "name=bad.name";
  char* argv[] = {argv0, argv1, argv2};
  const Capacities cases[] = {
      {64, 64, 30, 64, 14}, {64, 64, 30, 16, 32}, {64, 32, 30, 64, 32}};
  for (const Capacities& c : cases) {
    char name[64] = "n", model[64] = "m", ip[30] = "i", nodename[64] = "h", id[32] = "d";
    EXPECT_PRINTS(EXPECT_EQ(gather_device_settings(3, argv, name, c.name, model, c.model, ip, c.ip,
                                                   nodename, c.nodename, id, c.id),
                            -1),
                  "");
    EXPECT_STREQ(name, "n");
    EXPECT_STREQ(id, "d");
    EXPECT_EQ(root_adv_model, nullptr);
  }
}

// A loaded catalogue is released on the refusals too. The list is put in place by hand, so
// that nothing is read from the machine's files: a load then finds it loaded and reads none.
TEST(GatherDeviceSettings, ReleasesTheCatalogueWhenItRefuses) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"lumoraconf", "-a", "name=bad.name", "ip=1.2.3.4"}, "Invalid name\n"},
      {{"lumoraconf", "-a", "model=M"}, "Invalid IP address or NODENAME\n"},
  };
  for (auto [words, message] : cases) {
    append_adv_model(static_cast<AdvModel*>(std::calloc(1, sizeof(AdvModel))));
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    char name[64], model[64], ip[30], nodename[64], id[32];
    EXPECT_PRINTS(EXPECT_EQ(gather_device_settings(static_cast<int>(argv.size()), argv.data(), name,
                                                   sizeof name, model, sizeof model, ip, sizeof ip,
                                                   nodename, sizeof nodename, id, sizeof id),
                            -1),
                  message);
    EXPECT_EQ(root_adv_model, nullptr) << message;
    free_adv_models();
  }
}

}  // namespace

namespace {

std::string value_of(std::vector<std::string> words, const char* key, std::size_t capacity = 64) {
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  std::string dest(capacity + 8, '#');
  dest[0] = '?';
  if (capacity > 1) dest[1] = '\0';
  get_arg_value(static_cast<int>(argv.size()), argv.data(), key, dest.data(), capacity);
  EXPECT_EQ(dest[capacity], '#') << "wrote past the capacity";
  return dest.c_str();
}

TEST(GetArgValue, TakesTheFirstArgumentThatBeginsWithTheKey) {
  const std::vector<std::string> argv = {"lumoraconf", "-a", "xname=a", "nodename=n", "name=office",
                                         "name=second", "ip=1.2.3.4"};
  EXPECT_EQ(value_of(argv, "name="), "office");
  EXPECT_EQ(value_of(argv, "nodename="), "n");
  EXPECT_EQ(value_of(argv, "ip="), "1.2.3.4");
  EXPECT_EQ(value_of(argv, "model="), "?");  // untouched
  EXPECT_EQ(value_of({"name=argv0", "name=x"}, "name="), "argv0");
  EXPECT_EQ(value_of({"lumoraconf", "-a", "Name=x"}, "name="), "?");
}

TEST(GetArgValue, StopsAtBlanksTabsAndTheCapacity) {
  EXPECT_EQ(value_of({"name=my scanner"}, "name="), "my");
  EXPECT_EQ(value_of({"name=my\tscanner"}, "name="), "my");
  EXPECT_EQ(value_of({"name="}, "name="), "");
  EXPECT_EQ(value_of({"ip=" + std::string(40, '1')}, "ip=", 30), std::string(29, '1'));
  EXPECT_EQ(value_of({"model=" + std::string(70, 'm')}, "model=", 62), std::string(61, 'm'));
  EXPECT_EQ(value_of({"name=abc"}, "name=", 1), "");
}

TEST(IsValidName, AcceptsLettersDigitsDashAndUnderscoreOnly) {
  for (const char* name : {"office", "A-Z_0-9", "-r", "_", "x"}) EXPECT_EQ(is_valid_name(name), 1) << name;
  for (const char* name : {"", "a.b", "a/b", "a b", "a\tb", "caf\xc3\xa9", "\"M\"", "a=b", "\x7f"}) {
    EXPECT_EQ(is_valid_name(name), 0) << name;
  }
}

// Both ends of every allowed range, and the bytes just outside each of them.
TEST(IsValidName, TakesBothEndsOfEachRangeAndNothingJustOutside) {
  const std::pair<char, std::int32_t> cases[] = {
      {'-', 1}, {',', 0}, {'.', 0},                          // the dash on its own
      {'_', 1}, {'^', 0}, {'`', 0},                          // the underscore on its own
      {'0', 1}, {'9', 1}, {'/', 0}, {':', 0},                // digits
      {'A', 1}, {'Z', 1}, {'@', 0}, {'[', 0},                // capitals
      {'a', 1}, {'z', 1}, {'{', 0},                          // small letters ('`' above)
  };
  for (const auto& [c, valid] : cases) {
    const char alone[] = {c, '\0'};
    const char inside[] = {'x', c, 'x', '\0'};
    EXPECT_EQ(is_valid_name(alone), valid) << c;
    EXPECT_EQ(is_valid_name(inside), valid) << c;
  }
}

TEST(IsValidIpv4, AcceptsDottedQuadsOnly) {
  for (const char* ip : {"192.168.0.1", "0.0.0.0", "010.001.000.255", "255.255.255.255", "1.2.3.4"}) {
    EXPECT_EQ(is_valid_ipv4(ip), 1) << ip;
  }
  for (const char* ip : {"1.2.3", "1.2.3.4.5", "256.1.1.1", ".1.2.3", "1.2.3.4.", "1..2.3", "1.2.3.x",
                         "+1.2.3.4", "-1.2.3.4", "", "1.2.3.-4", "1.2.3.4 ", " 1.2.3.4", "a.b.c.d",
                         "1.2.3.4x", "99999999999.1.1.1", "4294967297.1.1.1", "1.2.3.256",
                         "0x1.2.3.4", "1,2.3.4"}) {
    EXPECT_EQ(is_valid_ipv4(ip), 0) << ip;
  }
}

}  // namespace

}  // namespace lumora
