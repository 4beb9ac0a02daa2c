#include "discovery/device_merge.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumora {
namespace {

FoundDevice mdns_device(const std::string& instance, std::uint8_t last) {
  FoundDevice device;
  device.instance = instance;
  device.has_address = true;
  device.address = {10, 0, 0, last};
  return device;
}

WsdDevice wsd_device(const std::string& endpoint, std::uint8_t last) {
  WsdDevice device;
  device.endpoint = endpoint;
  device.source.address = {10, 0, 0, last};
  return device;
}

// What went out, in order: "mdns-instance+wsd-endpoint", either side empty when absent.
struct Out {
  std::vector<std::string> lines;
  std::function<bool(const DiscoveredDevice&)> hand_out() {
    return [this](const DiscoveredDevice& device) {
      lines.push_back((device.mdns ? device.mdns->instance : "") + "+" + (device.wsd ? device.wsd->endpoint : ""));
      return true;
    };
  }
};

TEST(DeviceMergeTest, ADeviceOnBothProtocolsIsOneWhicheverAnswersFirst) {
  Out out;
  DeviceMerge merge(true, true, out.hand_out());
  // Multicast DNS first: held until the answers to the probe have had their time.
  merge.mdns_found(mdns_device("Office", 2));
  EXPECT_TRUE(out.lines.empty());
  EXPECT_TRUE(merge.wsd_heard(wsd_device("urn:2", 2).source));
  merge.wsd_window_closed();
  EXPECT_TRUE(out.lines.empty());  // its metadata is still awaited
  merge.wsd_found(wsd_device("urn:2", 2));
  EXPECT_EQ(out.lines, (std::vector<std::string>{"Office+urn:2"}));
  // WS-Discovery first: it waits for a multicast DNS device of its address.
  EXPECT_TRUE(merge.wsd_heard(wsd_device("urn:3", 3).source));
  merge.wsd_found(wsd_device("urn:3", 3));
  merge.mdns_found(mdns_device("Hall", 3));
  merge.finish();
  EXPECT_EQ(out.lines, (std::vector<std::string>{"Office+urn:2", "Hall+urn:3"}));
}

TEST(DeviceMergeTest, DevicesOfOneProtocolGoOutAsSoonAsTheOtherCannotJoinThem) {
  Out out;
  DeviceMerge merge(true, true, out.hand_out());
  merge.mdns_found(mdns_device("Office", 2));
  merge.wsd_window_closed();
  EXPECT_EQ(out.lines, (std::vector<std::string>{"Office+"}));
  merge.mdns_found(mdns_device("Hall", 3));  // nothing awaited at its address: out at once
  EXPECT_EQ(out.lines.size(), 2U);
  // An address whose line is out is not asked again.
  EXPECT_FALSE(merge.wsd_heard(wsd_device("urn:2", 2).source));
  // WS-Discovery alone waits for the end, when no multicast DNS device can join it any more.
  EXPECT_TRUE(merge.wsd_heard(wsd_device("urn:4", 4).source));
  merge.wsd_found(wsd_device("urn:4", 4));
  EXPECT_EQ(out.lines.size(), 2U);
  merge.finish();
  EXPECT_EQ(out.lines, (std::vector<std::string>{"Office+", "Hall+", "+urn:4"}));
}

TEST(DeviceMergeTest, OneProtocolAloneHoldsNothingBack) {
  Out wsd_out;
  DeviceMerge wsd_only(false, true, wsd_out.hand_out());
  EXPECT_TRUE(wsd_only.wsd_heard(wsd_device("urn:2", 2).source));
  wsd_only.wsd_found(wsd_device("urn:2", 2));
  EXPECT_EQ(wsd_out.lines, (std::vector<std::string>{"+urn:2"}));
  Out mdns_out;
  DeviceMerge mdns_only(true, false, mdns_out.hand_out());
  mdns_only.mdns_found(mdns_device("Office", 2));
  EXPECT_EQ(mdns_out.lines, (std::vector<std::string>{"Office+"}));
  mdns_only.finish();
  wsd_only.finish();
  EXPECT_EQ(wsd_out.lines.size() + mdns_out.lines.size(), 2U);
}

TEST(DeviceMergeTest, AnIpv6AnswerJoinsTheDeviceOfThatAddressAndTheEndReleasesWhatWaits) {
  Out out;
  DeviceMerge merge(true, true, out.hand_out());
  FoundDevice six = mdns_device("Six", 0);
  six.has_address = false;
  six.ipv6 = {{0xfd, 0x77, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 6}};
  WsdDevice wsd = wsd_device("urn:6", 0);
  wsd.source.ipv6 = true;
  wsd.source.address6 = six.ipv6.front();
  EXPECT_TRUE(merge.wsd_heard(wsd.source));
  merge.mdns_found(six);
  merge.mdns_found(mdns_device("Office", 2));
  merge.wsd_window_closed();
  EXPECT_EQ(out.lines, (std::vector<std::string>{"Office+"}));
  merge.wsd_found(wsd);
  merge.finish();
  EXPECT_EQ(out.lines, (std::vector<std::string>{"Office+", "Six+urn:6"}));
}

TEST(DeviceMergeTest, NothingGoesOutOnceTheReaderWantsNoMore) {
  int calls = 0;
  DeviceMerge merge(true, false, [&](const DiscoveredDevice&) { return ++calls < 1; });
  EXPECT_FALSE(merge.mdns_found(mdns_device("Office", 2)));
  EXPECT_TRUE(merge.ended());
  merge.mdns_found(mdns_device("Hall", 3));
  merge.finish();
  EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace lumora
