// One discovery run: the browse question for the device service types on the chosen
// interfaces, asked again on a fixed schedule with the answers known by then, the answers
// read until the time is up, the questions for what they left out, and each device handed out
// as soon as its records are in.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "discovery/scanner_census.h"

namespace lumora {

struct DiscoveryOptions {
  std::string interface;  // empty: every interface that can take part
  std::chrono::milliseconds timeout{2000};
};

// Runs until options.timeout has passed since the start, calling on_found for each device
// when it is complete; on_found returns false to end the run early. When port 5353 cannot be
// had, on_fallback is called once, with the reason, before the run goes on with one-shot
// queries. Returns false with error set when no interface or socket could be had, and true
// otherwise (also when nothing was found or on_found ended the run).
bool discover_devices(const DiscoveryOptions& options,
                      const std::function<bool(const FoundDevice&)>& on_found,
                      const std::function<void(const std::string&)>& on_fallback, std::string& error);

}  // namespace lumora
