#include "query/discover_command.h"

#include <arpa/inet.h>
#include <net/if.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <thread>

#include "catalogue/model_match.h"
#include "discovery/discovery_run.h"
#include "query/json_text.h"

namespace lumora {
namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
// The add command's names hold at most 63 bytes (its device fields are 64 with the terminator).
constexpr std::size_t kNameLimit = 63;
constexpr int kMillisecondDigits = 3;

bool name_byte(char byte) {
  return (byte >= '0' && byte <= '9') || (byte >= 'a' && byte <= 'z') ||
         (byte >= 'A' && byte <= 'Z') || byte == '-' || byte == '_';
}

int usage_error(const std::string& what) {
  std::fprintf(stderr, "lumoraconf-query: discover: %s\n%s", what.c_str(), kDiscoverUsage);
  return kExitUsage;
}

void append_key(std::string& out, const char* key) {
  out += out.back() == '{' ? "\"" : ",\"";
  out += key;
  out += "\":";
}

void append_text_or_null(std::string& out, const char* key, std::string_view value) {
  append_key(out, key);
  if (value.empty()) {
    out += "null";
  } else {
    append_json_string(out, value);
  }
}

void append_text_list(std::string& out, const std::vector<std::string>& texts) {
  out += '[';
  for (const std::string& text : texts) {
    if (out.back() != '[') out += ',';
    append_json_string(out, text);
  }
  out += ']';
}

std::string dotted(const std::array<std::uint8_t, 4>& address) {
  std::string out;
  for (const std::uint8_t byte : address) {
    if (!out.empty()) out += '.';
    out += std::to_string(byte);
  }
  return out;
}

}  // namespace

std::chrono::milliseconds parse_discovery_timeout(const std::string& text) {
  const std::chrono::milliseconds invalid{-1};
  long long whole = 0;
  std::size_t at = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    whole = whole * 10 + (text[at] - '0');
    if (whole > kLongestDiscovery.count() / 1000) return invalid;
  }
  if (at == 0) return invalid;
  long long fraction = 0;
  int digits = 0;
  if (at < text.size() && text[at] == '.') {
    for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
      if (++digits > kMillisecondDigits) return invalid;
      fraction = fraction * 10 + (text[at] - '0');
    }
    if (digits == 0) return invalid;
  }
  if (at != text.size()) return invalid;
  for (; digits < kMillisecondDigits; ++digits) fraction *= 10;
  const std::chrono::milliseconds total{whole * 1000 + fraction};
  if (total.count() == 0 || total > kLongestDiscovery) return invalid;
  return total;
}

std::string friendly_name_for(const std::string& instance, std::vector<std::string>& taken) {
  std::string name;
  bool gap = false;
  for (const char byte : instance) {
    if (!name_byte(byte)) {
      gap = true;
      continue;
    }
    if (gap && !name.empty()) name += '_';
    gap = false;
    name += byte;
  }
  while (!name.empty() && name.front() == '_') name.erase(0, 1);
  if (name.size() > kNameLimit) name.resize(kNameLimit);
  while (!name.empty() && name.back() == '_') name.pop_back();
  if (name.empty()) name = "scanner";
  std::string chosen = name;
  for (unsigned suffix = 2; std::find(taken.begin(), taken.end(), chosen) != taken.end(); ++suffix) {
    // Appended piece by piece: GCC 12 at -O3 takes `"_" + std::to_string(...)` for an
    // overlapping copy (-Wrestrict, a false positive).
    std::string tail(1, '_');
    tail += std::to_string(suffix);
    chosen = name.substr(0, kNameLimit - tail.size());
    chosen += tail;
  }
  taken.push_back(chosen);
  return chosen;
}

std::vector<std::string> model_descriptions(const DiscoveredDevice& device) {
  std::vector<std::string> descriptions;
  if (device.mdns) descriptions = {device.mdns->ty, device.mdns->usb_mdl, device.mdns->product};
  if (device.wsd && device.wsd->has_metadata) {
    const WsdMetadata& metadata = device.wsd->metadata;
    descriptions.push_back(metadata.manufacturer + " " + metadata.model_name);
    descriptions.push_back(metadata.model_name);
    descriptions.push_back(metadata.model_number);
  }
  return descriptions;
}

bool announces_scanning(const DiscoveredDevice& device) {
  // The WS-Discovery run keeps only the devices that answered as scanners.
  return device.wsd.has_value() || (device.mdns && device.mdns->scan);
}

std::string discovered_scanner_line(const DiscoveredDevice& device,
                                    const std::vector<std::string>& catalogue_names,
                                    std::size_t model_index, std::vector<std::string>& taken) {
  // What multicast DNS said names the device when it answered there; otherwise its metadata
  // and the address WS-Discovery heard it from do.
  FoundDevice scanner;
  if (device.mdns) {
    scanner = *device.mdns;
  } else if (device.wsd) {
    const WsdDevice& wsd = *device.wsd;
    const WsdMetadata& metadata = wsd.metadata;
    scanner.instance = !metadata.friendly_name.empty() ? metadata.friendly_name
                       : !metadata.model_name.empty() ? metadata.manufacturer + " " + metadata.model_name
                                                      : wsd.endpoint;
    scanner.host = wsd.source.text();
    scanner.has_address = !wsd.source.ipv6;
    scanner.address = wsd.source.address;
    if (wsd.source.ipv6) scanner.ipv6.push_back(wsd.source.address6);
    scanner.port = wsd.port;
  }
  const std::string ip = scanner.has_address ? dotted(scanner.address) : std::string();
  std::string out = "{";
  append_key(out, "instance");
  append_json_string(out, scanner.instance);
  append_key(out, "host");
  append_json_string(out, scanner.host);
  append_text_or_null(out, "ip", ip);
  append_key(out, "port");
  out += std::to_string(scanner.port);
  append_key(out, "services");
  append_text_list(out, scanner.services);
  append_text_or_null(out, "ty", scanner.ty);
  append_text_or_null(out, "usb_MDL", scanner.usb_mdl);
  append_text_or_null(out, "product", scanner.product);
  const bool known = model_index != kNoModelMatch;
  append_text_or_null(out, "model", known ? std::string_view(catalogue_names[model_index]) : std::string_view());
  append_key(out, "add");
  // The backend registers IPv4 addresses: a device found over IPv6 alone gets no add command.
  if (!known || !scanner.has_address) {
    out += "null";
  } else {
    out += "[\"-a\",";
    append_json_string(out, "name=" + friendly_name_for(scanner.instance, taken));
    out += ',';
    append_json_string(out, "model=" + catalogue_names[model_index]);
    out += ',';
    append_json_string(out, "ip=" + ip);
    out += ']';
  }
  append_key(out, "ipv6");
  out += '[';
  for (const auto& address : scanner.ipv6) {
    // INET6_ADDRSTRLEN holds the longest text form of an IPv6 address with its terminator.
    std::array<char, INET6_ADDRSTRLEN> text{};
    if (inet_ntop(AF_INET6, address.data(), text.data(), text.size()) == nullptr) continue;
    if (out.back() != '[') out += ',';
    append_json_string(out, text.data());
  }
  out += ']';
  append_key(out, "listed_for");
  append_json_string(out, announces_scanning(device) ? "scanning" : "model");
  append_key(out, "protocols");
  std::vector<std::string> protocols;
  if (device.mdns) protocols.emplace_back("mdns");
  if (device.wsd) protocols.emplace_back("wsd");
  append_text_list(out, protocols);
  append_key(out, "wsd");
  if (!device.wsd) {
    out += "null";
  } else {
    const WsdDevice& wsd = *device.wsd;
    out += '{';
    append_key(out, "endpoint");
    append_json_string(out, wsd.endpoint);
    append_key(out, "types");
    append_text_list(out, wsd.types);
    append_key(out, "xaddrs");
    append_text_list(out, wsd.xaddrs);
    append_key(out, "metadata_version");
    out += std::to_string(wsd.metadata_version);
    append_text_or_null(out, "manufacturer", wsd.metadata.manufacturer);
    append_text_or_null(out, "model_name", wsd.metadata.model_name);
    append_text_or_null(out, "model_number", wsd.metadata.model_number);
    append_text_or_null(out, "friendly_name", wsd.metadata.friendly_name);
    out += '}';
  }
  out += "}\n";
  return out;
}

int run_discover_command(const QuerySources& sources, const std::vector<std::string>& args) {
  DiscoveryOptions options;
  bool use_mdns = true;
  bool use_wsd = true;
  for (std::size_t i = 0; i < args.size(); i += 2) {
    if (i + 1 >= args.size()) return usage_error(args[i] + " needs a value");
    const std::string& value = args[i + 1];
    if (args[i] == "--timeout") {
      options.timeout = parse_discovery_timeout(value);
      if (options.timeout.count() < 0) {
        return usage_error("--timeout takes seconds above 0 and at most 600: " + value);
      }
    } else if (args[i] == "--interface") {
      if (value.empty() || value.size() >= IFNAMSIZ) {
        return usage_error("not an interface name: " + value);
      }
      options.interface = value;
    } else if (args[i] == "--protocol") {
      if (value != "mdns" && value != "wsd" && value != "all") {
        return usage_error("--protocol takes mdns, wsd or all: " + value);
      }
      use_mdns = value != "wsd";
      use_wsd = value != "mdns";
    } else {
      return usage_error("unknown option: " + args[i]);
    }
  }
  std::vector<std::string> names;
  std::string error;
  if (!catalogue_model_names(sources, names, error)) {
    std::fprintf(stderr, "lumoraconf-query: cannot read %s\n", error.c_str());
    return kExitFailure;
  }
  std::vector<std::string> taken;
  bool written = true;
  const auto print = [&](const DiscoveredDevice& device) {
    const std::vector<std::string> descriptions = model_descriptions(device);
    const std::size_t model =
        match_catalogue_model(names, std::vector<std::string_view>(descriptions.begin(), descriptions.end()));
    // A device that does not announce scanning is one of the maker's only when the catalogue
    // knows its model; any other printer is none of this backend's business.
    if (!announces_scanning(device) && model == kNoModelMatch) return true;
    const std::string line = discovered_scanner_line(device, names, model, taken);
    // Each line goes out whole as soon as it is known, for a reader that acts on it at once.
    written = std::fwrite(line.data(), 1, line.size(), stdout) == line.size() &&
              std::fflush(stdout) == 0;
    return written;
  };
  const auto fall_back = [](const std::string& reason) {
    std::fprintf(stderr,
                 "lumoraconf-query: discover: %s; asking with one-shot queries instead, which "
                 "responders answer in one message of at most 512 bytes, so devices may be missed\n",
                 reason.c_str());
  };
  DeviceMerge merge(use_mdns, use_wsd, print);
  const auto deadline = WsdRun::Clock::now() + options.timeout;
  WsdRun wsd;
  if (use_wsd && !wsd.open(options.interface, error)) {
    std::fprintf(stderr, "lumoraconf-query: discover: %s\n", error.c_str());
    return kExitFailure;
  }
  // WS-Discovery runs beside multicast DNS, in a thread of its own, until the same deadline.
  std::atomic<bool> stop{false};
  std::string wsd_error;
  std::thread wsd_thread;
  if (use_wsd) {
    wsd_thread = std::thread([&] {
      const WsdRunEvents events{[&](const WsdSource& source) { return merge.wsd_heard(source); },
                                [&](const WsdDevice& device) { merge.wsd_found(device); },
                                [&] { merge.wsd_window_closed(); }};
      wsd.run(deadline, events, stop, wsd_error);
    });
  }
  bool found = true;
  if (use_mdns) {
    found = discover_devices(options, [&](const FoundDevice& device) { return merge.mdns_found(device); },
                             fall_back, error);
    // The multicast DNS run ends early when the output failed: WS-Discovery ends with it.
    if (!found || merge.ended()) stop = true;
  }
  if (wsd_thread.joinable()) wsd_thread.join();
  if (!found) {
    std::fprintf(stderr, "lumoraconf-query: discover: %s\n", error.c_str());
    return kExitFailure;
  }
  merge.finish();
  if (!wsd_error.empty()) {
    std::fprintf(stderr, "lumoraconf-query: discover: %s\n", wsd_error.c_str());
    return kExitFailure;
  }
  if (!written) {
    std::fprintf(stderr, "lumoraconf-query: write error: %s\n", std::strerror(errno));
    return kExitFailure;
  }
  return 0;
}

}  // namespace lumora
