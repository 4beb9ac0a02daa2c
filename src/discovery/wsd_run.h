// One WS-Discovery run: the Probe for scanner devices sent on the chosen interfaces (and once
// again, as SOAP over UDP repeats a multicast message), the ProbeMatches read until the time is
// up, and the metadata of each new device asked for once, from the address its answer came
// from, while the answers go on coming. A device is one address and one endpoint: the first
// scanner endpoint that answers from an address is the device there, and an endpoint that
// answers again from another address (over the other IP version) is the same device.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "discovery/wsd_link.h"
#include "discovery/wsd_message.h"

namespace lumora {

struct WsdDevice {
  WsdSource source;
  std::string endpoint;
  std::vector<std::string> types;
  std::vector<std::string> xaddrs;
  std::uint32_t metadata_version = 0;
  std::string metadata_url;  // what was asked, empty when no transport address could be
  std::uint16_t port = 0;    // of metadata_url, 0 when none
  bool has_metadata = false;  // a readable answer came in time
  WsdMetadata metadata;
};

struct WsdRunEvents {
  // A device answered from an address not heard before; false when it needs no asking (its
  // address is listed already), and it is then passed over.
  std::function<bool(const WsdSource&)> heard;
  // The device is complete: its metadata is in, or cannot be had, or the time is up.
  std::function<void(const WsdDevice&)> found;
  // The time devices have to answer the Probe is over (match_window after the start, or the
  // deadline when that comes first); later answers still count.
  std::function<void()> window_closed;
};

class WsdRun {
 public:
  using Clock = std::chrono::steady_clock;

  // WS-Discovery lets a device wait up to 500 ms before it answers a multicast Probe (its
  // APP_MAX_DELAY), and the Probe is repeated once after kProbeRepeat: the answers of a link
  // have come by this long after the start.
  static constexpr std::chrono::milliseconds kMatchWindow{800};
  static constexpr std::chrono::milliseconds kProbeRepeat{200};
  // A network may answer with anything: at most this many devices (addresses) a run, and this
  // many metadata transfers at once; the others wait for a free one.
  static constexpr std::size_t kDeviceLimit = 256;
  static constexpr std::size_t kFetchesAtOnce = 16;

  // Opens the sockets; false with error set as WsdLink::open.
  bool open(const std::string& interface, std::string& error) { return link_.open(interface, error); }

  // Runs until deadline or until stop is set, calling events as the run goes; every device
  // heard is found before it returns. False with error set when the Probe left on no interface.
  bool run(Clock::time_point deadline, const WsdRunEvents& events, const std::atomic<bool>& stop,
           std::string& error);

 private:
  WsdLink link_;
};

}  // namespace lumora
