// "lumoraconf-query discover [--timeout SECONDS] [--interface NAME] [--protocol mdns|wsd|all]":
// the devices on the local links that announce scanning (by multicast DNS or WS-Discovery) or
// whose model the catalogue knows, one JSON object a line as each is complete, with the
// catalogue model each one names and the words of the "lumoraconf -a" command that registers it.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "discovery/device_merge.h"
#include "query/query_answers.h"

namespace lumora {

inline constexpr char kDiscoverUsage[] =
    "Usage: lumoraconf-query discover [--timeout SECONDS] [--interface NAME] [--protocol mdns|wsd|all]\n";

// The longest run --timeout accepts: a run is for people and playbooks waiting on it.
inline constexpr std::chrono::milliseconds kLongestDiscovery{600'000};

// The seconds of --timeout ("2", "0.5", "1.25": digits, and at most three decimals after a
// dot) as milliseconds, or a negative count when the text is not such a number or is 0 or
// more than kLongestDiscovery.
std::chrono::milliseconds parse_discovery_timeout(const std::string& text);

// A name the add command accepts (letters, digits, '-' and '_', at most 63 of them) made of an
// instance name: each run of other bytes becomes one '_', a '_' at either end is dropped; an
// instance with nothing left gives "scanner". A name taken already in this run (the set
// given) gets "_2", "_3" and so on, kept within 63 bytes.
std::string friendly_name_for(const std::string& instance, std::vector<std::string>& taken);

// What a device says of its make and model, for the catalogue match: the TXT keys "ty",
// "usb_MDL" and "product" of multicast DNS, the manufacturer and model name, the model name
// and the model number of the WS-Discovery metadata.
std::vector<std::string> model_descriptions(const DiscoveredDevice& device);

// Whether a device announces scanning: a scanning service or "Scan=T" by multicast DNS, or a
// scanner device by WS-Discovery.
bool announces_scanning(const DiscoveredDevice& device);

// The JSON line of one device: model_index is its match in catalogue_names or kNoModelMatch,
// in which case "model" and "add" are null; "listed_for" says whether it is listed because it
// announces scanning ("scanning") or only because the catalogue knows its model ("model");
// "protocols" names those it answered ("mdns", "wsd") and "wsd" holds what WS-Discovery said
// of it (null when nothing). A device WS-Discovery alone found has its instance from the
// metadata's friendly name, its host and address from the address it answered from.
std::string discovered_scanner_line(const DiscoveredDevice& device,
                                    const std::vector<std::string>& catalogue_names,
                                    std::size_t model_index, std::vector<std::string>& taken);

// The whole command: args are the words after "discover". Returns the exit status: 0, 1 when
// the catalogue cannot be read, no interface or socket can be had or the output cannot be
// written (a message on standard error), 2 for a usage error.
int run_discover_command(const QuerySources& sources, const std::vector<std::string>& args);

}  // namespace lumora
