// What the answers of a discovery run say about the devices on the links: the service
// instances of the device service types (RFC 6763: a PTR from the type to the instance, the
// instance's SRV for host and port, its TXT for the make and model, the host's A and AAAA for
// the addresses), which records are still missing, which answers the run knows already, and what a
// goodbye withdrew. Records are kept apart by the link they came in on: two devices on two
// links may carry the same instance and host names.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "discovery/mdns_message.h"

namespace lumora {

// The service types asked for: eSCL, eSCL over TLS and the maker's own scanner service, which
// announce scanning by being there at all, then the print services under which a multi-function
// device of the maker may announce itself alone ("_ipp._tcp" announces scanning with "Scan=T").
inline constexpr std::array<const char*, 7> kDeviceServiceTypes = {
    "_uscan._tcp", "_uscans._tcp", "_scanner._tcp", "_ipp._tcp", "_ipps._tcp",
    "_pdl-datastream._tcp", "_printer._tcp"};
inline constexpr std::size_t kScanningServiceTypes = 3;  // the first three above

// The question for the instances of every device service type under "local".
std::vector<MdnsQuestion> device_browse_questions();

// A device whose records are all in: one instance name at one IPv4 address (or, found only over
// IPv6, at none), with every service type it was seen under by then.
struct FoundDevice {
  std::string instance;  // the instance's own label, e.g. "Office scanner"
  std::string host;      // the SRV target, e.g. "lumascan-7.local"
  bool has_address = false;  // false: the host has IPv6 addresses alone
  std::array<std::uint8_t, 4> address{};
  std::vector<std::array<std::uint8_t, 16>> ipv6;  // the host's IPv6 addresses
  std::uint16_t port = 0;             // of the first service type in kDeviceServiceTypes order
  std::vector<std::string> services;  // in kDeviceServiceTypes order
  // The TXT keys "ty", "usb_MDL" and "product" (keys compared without case), each from the
  // first service type in kDeviceServiceTypes order that gives it not empty; empty when none.
  std::string ty;
  std::string usb_mdl;
  std::string product;
  bool scan = false;  // a scanning service type, or "Scan=T" under one of its types
};

class ScannerCensus {
 public:
  using Clock = std::chrono::steady_clock;

  // A network may answer with anything; what the census keeps is bounded. A link with more
  // instances than this is beyond what one run lists, the rest are passed over.
  static constexpr std::size_t kInstanceLimit = 512;
  static constexpr std::size_t kHostLimit = 512;
  static constexpr std::size_t kAddressesPerHost = 8;

  // Takes in one record of an answer, which came at the time given; records that belong to no
  // instance are passed over. The first SRV and TXT of an instance count, later ones are
  // ignored. A goodbye (time to live 0) withdraws the record it names: an instance whose PTR
  // is withdrawn is forgotten, a withdrawn SRV, TXT or address is missing again.
  void take(const MdnsRecord& record, Clock::time_point at = {});

  // The questions for the SRV and TXT records of the instances that lack them and for the
  // addresses of the hosts that lack one.
  std::vector<MdnsQuestion> missing_questions() const;

  // The PTR records heard on the link of that index with more than half their time to live
  // left at now, each with the seconds it has left (RFC 6762, section 7.1): the known answers
  // of a repeated question, which responders do not send again.
  std::vector<MdnsRecord> known_answers(unsigned link, Clock::time_point now) const;

  // The devices complete now and not handed out before (one for each instance label and
  // address, compared as DNS compares names), in the order their instances were first seen.
  // While some instance of the same label on the same link still lacks a record, its device
  // waits, so that it is handed out once with every service type; at the end of the run (last)
  // it no longer waits. A device whose host gave IPv6 addresses alone is handed out only at the
  // end, when its A record has had the whole run to come.
  std::vector<FoundDevice> take_ready(bool last);

 private:
  using Address = std::array<std::uint8_t, 4>;
  using Address6 = std::array<std::uint8_t, 16>;
  struct Instance {
    // All its records are in.
    bool settled(const std::map<std::string, std::vector<Address>>& addresses) const;

    std::size_t type_index = 0;
    MdnsName name;
    unsigned link = 0;
    bool withdrawn = false;
    std::uint32_t ptr_ttl = 0;
    Clock::time_point ptr_at;
    bool has_srv = false;
    std::uint16_t port = 0;
    MdnsName host;
    bool has_txt = false;
    std::string ty;
    std::string usb_mdl;
    std::string product;
    bool scan = false;  // "Scan=T" given
  };
  Instance* find_instance(const MdnsRecord& record);
  void take_ptr(const MdnsRecord& record, Clock::time_point at);
  void take_address(const MdnsRecord& record);

  std::vector<Instance> instances_;
  std::map<std::string, std::size_t> instance_index_;  // by name key and link
  std::map<std::string, std::vector<Address>> addresses_;  // by host key and link
  std::map<std::string, std::vector<Address6>> addresses6_;  // likewise
  std::set<std::string> handed_out_;  // instance label key and address
};

}  // namespace lumora
