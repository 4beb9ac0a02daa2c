#include "discovery/wsd_run.h"

#include <algorithm>
#include <deque>

#include "discovery/metadata_fetch.h"

namespace lumora {
namespace {

using Clock = WsdRun::Clock;
using std::chrono::milliseconds;

// The run looks at the stop flag and its schedule at least this often.
constexpr milliseconds kBeat{100};
// Datagrams taken in one go, so that a flood of them cannot keep the transfers from running.
constexpr int kDatagramsAtOnce = 64;

milliseconds until(Clock::time_point when, Clock::time_point now) {
  return when > now ? std::chrono::ceil<milliseconds>(when - now) : milliseconds(0);
}

}  // namespace

bool WsdRun::run(Clock::time_point deadline, const WsdRunEvents& events, const std::atomic<bool>& stop,
                 std::string& error) {
  const Clock::time_point start = Clock::now();
  const Clock::time_point window_end = std::min(deadline, start + kMatchWindow);
  const std::string probe_id = new_wsd_message_id();
  const std::string probe = make_wsd_probe(probe_id);
  if (probe_id.empty() || !link_.send(probe)) {
    error = "cannot send the WS-Discovery probe on any interface";
    events.window_closed();
    return false;
  }
  bool repeated = false;
  bool window_open = true;
  std::vector<WsdDevice> devices;
  std::deque<std::size_t> waiting;  // devices whose transfer waits for a free one
  MetadataFetches fetches;
  // One byte more than the largest message, so that a datagram over the limit is seen as such.
  std::vector<std::uint8_t> buffer(kWsdMessageLimit + 1);

  const auto finish_device = [&](std::size_t index) { events.found(devices[index]); };
  const auto start_fetches = [&](Clock::time_point now) {
    while (!waiting.empty() && fetches.running() < kFetchesAtOnce) {
      const std::size_t index = waiting.front();
      waiting.pop_front();
      const WsdDevice& device = devices[index];
      if (!fetches.start(index, device.metadata_url, device.source.link,
                         make_wsd_get(new_wsd_message_id(), device.endpoint), until(deadline, now))) {
        finish_device(index);
      }
    }
  };
  const auto take = [&](const WsdDatagram& datagram) {
    for (WsdProbeMatch& match :
         read_wsd_probe_matches(std::string_view(reinterpret_cast<const char*>(buffer.data()), datagram.size), probe_id)) {
      if (!match.scanner || devices.size() >= kDeviceLimit) continue;
      // A device that answers over IPv4 and IPv6 answers twice, from two addresses, with one
      // endpoint: it is one device, at the address of its first answer.
      const bool known = std::any_of(devices.begin(), devices.end(), [&](const WsdDevice& device) {
        return device.source == datagram.source || device.endpoint == match.endpoint;
      });
      if (known || !events.heard(datagram.source)) return;
      WsdDevice device;
      device.source = datagram.source;
      device.endpoint = std::move(match.endpoint);
      device.types = std::move(match.types);
      device.xaddrs = std::move(match.xaddrs);
      device.metadata_version = match.metadata_version;
      device.metadata_url = metadata_url(device.xaddrs, device.source, device.port);
      devices.push_back(std::move(device));
      if (devices.back().metadata_url.empty()) {
        finish_device(devices.size() - 1);
      } else {
        waiting.push_back(devices.size() - 1);
      }
      return;  // one device an address: the other entries of this answer are the same one's
    }
  };

  for (Clock::time_point now = start; now < deadline && !stop; now = Clock::now()) {
    if (!repeated && now >= start + kProbeRepeat) {
      link_.send(probe);
      repeated = true;
    }
    if (window_open && now >= window_end) {
      window_open = false;
      events.window_closed();
    }
    start_fetches(now);
    milliseconds wait = std::min(until(deadline, now), kBeat);
    if (!repeated) wait = std::min(wait, until(start + kProbeRepeat, now));
    if (window_open) wait = std::min(wait, until(window_end, now));
    for (const FinishedFetch& fetch : fetches.wait(link_.descriptors(), wait)) {
      WsdDevice& device = devices[fetch.id];
      device.has_metadata = fetch.ok && read_wsd_metadata(fetch.body, device.metadata);
      finish_device(fetch.id);
    }
    for (int i = 0; i < kDatagramsAtOnce; ++i) {
      const WsdDatagram datagram = link_.receive(buffer);
      if (datagram.size == 0 && !datagram.dropped) break;
      if (datagram.size != 0) take(datagram);
    }
  }
  if (window_open) events.window_closed();
  // What the time did not let finish is found without its metadata.
  for (const std::size_t index : waiting) finish_device(index);
  for (const std::size_t index : fetches.abandon()) finish_device(index);
  return true;
}

}  // namespace lumora
