#include "registry/add_device.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "catalogue/adv_model.h"
#include "catalogue/model_list.h"

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
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(gather_device_settings(3, argv, name, c.name, model, c.model, ip, c.ip, nodename,
                                     c.nodename, id, c.id),
              -1);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
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
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(gather_device_settings(static_cast<int>(argv.size()), argv.data(), name, sizeof name,
                                     model, sizeof model, ip, sizeof ip, nodename, sizeof nodename,
                                     id, sizeof id),
              -1);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), message);
    EXPECT_EQ(root_adv_model, nullptr) << message;
    free_adv_models();
  }
}

}  // namespace
}  // namespace lumora
