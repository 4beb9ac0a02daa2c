#include "discovery/device_merge.h"

#include <algorithm>

namespace lumora {
namespace {

// Whether a WS-Discovery answer from source came from the multicast DNS device's address.
bool at_address(const FoundDevice& device, const WsdSource& source) {
  if (source.ipv6) return std::find(device.ipv6.begin(), device.ipv6.end(), source.address6) != device.ipv6.end();
  return device.has_address && device.address == source.address;
}

void add_sources(const FoundDevice& device, std::vector<WsdSource>& sources) {
  if (device.has_address) {
    WsdSource source;
    source.address = device.address;
    sources.push_back(source);
  }
  for (const auto& address : device.ipv6) {
    WsdSource source;
    source.ipv6 = true;
    source.address6 = address;
    sources.push_back(source);
  }
}

}  // namespace

DeviceMerge::DeviceMerge(bool mdns, bool wsd, std::function<bool(const DiscoveredDevice&)> hand_out)
    : mdns_(mdns), wsd_(wsd), hand_out_(std::move(hand_out)) {}

bool DeviceMerge::ended() const {
  const std::lock_guard lock(mutex_);
  return ended_;
}

void DeviceMerge::emit(const DiscoveredDevice& device) {
  if (ended_) return;
  if (!hand_out_(device)) ended_ = true;
}

const WsdDevice* DeviceMerge::wsd_at(const FoundDevice& device) const {
  const auto found = std::find_if(wsd_devices_.begin(), wsd_devices_.end(),
                                 [&](const WsdDevice& wsd) { return at_address(device, wsd.source); });
  return found == wsd_devices_.end() ? nullptr : &*found;
}

void DeviceMerge::release() {
  if (wsd_ && !window_closed_) return;
  std::vector<FoundDevice> still_held;
  for (FoundDevice& device : held_) {
    const bool awaited = std::any_of(asking_.begin(), asking_.end(),
                                     [&](const WsdSource& source) { return at_address(device, source); });
    if (awaited) {
      still_held.push_back(std::move(device));
      continue;
    }
    DiscoveredDevice discovered;
    if (const WsdDevice* wsd = wsd_at(device)) {
      discovered.wsd = *wsd;
      wsd_joined_[static_cast<std::size_t>(wsd - wsd_devices_.data())] = true;
    }
    add_sources(device, listed_);
    discovered.mdns = std::move(device);
    emit(discovered);
  }
  held_ = std::move(still_held);
}

bool DeviceMerge::mdns_found(const FoundDevice& device) {
  const std::lock_guard lock(mutex_);
  held_.push_back(device);
  release();
  return !ended_;
}

bool DeviceMerge::wsd_heard(const WsdSource& source) {
  const std::lock_guard lock(mutex_);
  if (ended_ || std::find(listed_.begin(), listed_.end(), source) != listed_.end()) return false;
  asking_.push_back(source);
  return true;
}

void DeviceMerge::wsd_found(const WsdDevice& device) {
  const std::lock_guard lock(mutex_);
  asking_.erase(std::remove(asking_.begin(), asking_.end(), device.source), asking_.end());
  wsd_devices_.push_back(device);
  wsd_joined_.push_back(false);
  if (!mdns_) {
    wsd_joined_.back() = true;
    DiscoveredDevice discovered;
    discovered.wsd = device;
    emit(discovered);
    return;
  }
  release();
}

void DeviceMerge::wsd_window_closed() {
  const std::lock_guard lock(mutex_);
  window_closed_ = true;
  release();
}

void DeviceMerge::finish() {
  const std::lock_guard lock(mutex_);
  window_closed_ = true;
  asking_.clear();
  release();
  for (std::size_t i = 0; i < wsd_devices_.size(); ++i) {
    if (wsd_joined_[i]) continue;
    wsd_joined_[i] = true;
    DiscoveredDevice discovered;
    discovered.wsd = wsd_devices_[i];
    emit(discovered);
  }
}

}  // namespace lumora
