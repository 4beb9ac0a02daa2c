#include "registry/add_device.h"

#include <gtest/gtest.h>

#include "catalogue/adv_model.h"

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

}  // namespace
}  // namespace lumora
