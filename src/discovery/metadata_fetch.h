// The HTTP exchange of WS-Discovery: the devices' metadata asked for with a WS-Transfer Get,
// each a POST over plain HTTP made by libcurl, several at once, waited on together with the
// datagrams of the run. Every transfer is bounded: the address the ProbeMatch came from and no
// other, no name resolved, no proxy (whatever the environment says), no redirect followed, at
// most kWsdMetadataLimit bytes taken in, and a time limit the caller gives.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "discovery/wsd_link.h"

namespace lumora {

// The URL to ask for the metadata of a device that answered from source: the first of its
// transport addresses that is an http URL naming source's own address (an IP address, never a
// name), with any user name, password and fragment dropped. Empty when none is: an address
// naming another host is never asked. port is set to the URL's port.
std::string metadata_url(const std::vector<std::string>& xaddrs, const WsdSource& source, std::uint16_t& port);

struct FinishedFetch {
  std::size_t id = 0;
  bool ok = false;   // a whole answer with status 200, within the limits
  std::string body;  // when ok
};

class MetadataFetches {
 public:
  MetadataFetches();
  ~MetadataFetches();
  MetadataFetches(const MetadataFetches&) = delete;
  MetadataFetches& operator=(const MetadataFetches&) = delete;

  // False when libcurl could not be set up.
  bool usable() const { return multi_ != nullptr; }

  // Starts posting request to url (made by metadata_url, over the interface of index link for a
  // link-local IPv6 address), for at most budget; id comes back with its end. False when the
  // transfer cannot be set up.
  bool start(std::size_t id, const std::string& url, unsigned link, std::string request,
             std::chrono::milliseconds budget);

  // Waits at most wait until a transfer has something to do or one of descriptors (negative
  // ones passed over) is readable, does what the transfers can, and hands out those that ended.
  std::vector<FinishedFetch> wait(std::span<const int> descriptors, std::chrono::milliseconds wait);

  std::size_t running() const { return transfers_.size(); }

  // Ends every transfer still running, and hands out their ids.
  std::vector<std::size_t> abandon();

 private:
  struct Transfer;
  CURLM* multi_ = nullptr;
  std::map<CURL*, std::unique_ptr<Transfer>> transfers_;  // by their easy handle
};

}  // namespace lumora
