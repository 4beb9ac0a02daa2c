// The devices of both protocols joined into one each: what multicast DNS found at an address
// and what WS-Discovery found there are one device, handed out once, with both. Both runs feed
// it at once, each from its own thread.
//
// A device of multicast DNS waits until the WS-Discovery answers have had their time and the
// metadata of a device at its address is in; then it goes out with that device. A device of
// WS-Discovery alone goes out at once when multicast DNS is not asked, and otherwise at the end
// of the run, when no multicast DNS device can come for its address any more. An address that
// answers WS-Discovery only after its line went out is not asked for its metadata.
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "discovery/scanner_census.h"
#include "discovery/wsd_run.h"

namespace lumora {

struct DiscoveredDevice {
  std::optional<FoundDevice> mdns;
  std::optional<WsdDevice> wsd;  // the device WS-Discovery found at the same address
};

class DeviceMerge {
 public:
  // Which protocols the run asks; hand_out receives each device once, and returns false when
  // it wants no more.
  DeviceMerge(bool mdns, bool wsd, std::function<bool(const DiscoveredDevice&)> hand_out);

  // The feeds of the runs. mdns_found returns false once hand_out has said it wants no more.
  bool mdns_found(const FoundDevice& device);
  bool wsd_heard(const WsdSource& source);
  void wsd_found(const WsdDevice& device);
  void wsd_window_closed();

  // The end of the run: every device still held goes out.
  void finish();

  bool ended() const;

 private:
  void release();
  void emit(const DiscoveredDevice& device);
  const WsdDevice* wsd_at(const FoundDevice& device) const;

  const bool mdns_;
  const bool wsd_;
  const std::function<bool(const DiscoveredDevice&)> hand_out_;
  mutable std::mutex mutex_;
  bool window_closed_ = false;
  bool ended_ = false;
  std::vector<FoundDevice> held_;             // multicast DNS devices waiting
  std::vector<WsdSource> asking_;             // WS-Discovery devices whose metadata is awaited
  std::vector<WsdDevice> wsd_devices_;        // WS-Discovery devices complete
  std::vector<bool> wsd_joined_;              // went out with a multicast DNS device
  std::vector<WsdSource> listed_;             // addresses whose line is out
};

}  // namespace lumora
