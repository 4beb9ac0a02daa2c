// One discovery run: the browse query for the scanner service types on the chosen interfaces,
// the answers read until the time is up, the questions for what they left out, and each
// scanner handed out as soon as its records are in.
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

// Runs until options.timeout has passed since the start, calling on_found for each scanner
// when it is complete; on_found returns false to end the run early. Returns false with error
// set when no interface or socket could be had, and true otherwise (also when nothing was
// found or on_found ended the run).
bool discover_scanners(const DiscoveryOptions& options,
                       const std::function<bool(const FoundScanner&)>& on_found,
                       std::string& error);

}  // namespace lumora
