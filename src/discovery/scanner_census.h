// What the answers of a discovery run say about the scanners on the link: the service
// instances of the three scanner service types (RFC 6763: a PTR from the type to the
// instance, the instance's SRV for host and port, its TXT for the make and model, the host's
// A for the address), which of them are scanners, and which records are still missing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "discovery/mdns_message.h"

namespace lumora {

// The service types that announce a scanner: eSCL, eSCL over TLS, and printers that scan
// (those only with "Scan=T" in their TXT record).
inline constexpr std::array<const char*, 3> kScannerServiceTypes = {"_uscan._tcp", "_uscans._tcp",
                                                                    "_ipp._tcp"};

// The question for the instances of every scanner service type under "local".
std::vector<MdnsQuestion> scanner_browse_questions();

// A scanner whose records are all in: one instance name at one address, with every scanner
// service type it was seen under by then.
struct FoundScanner {
  std::string instance;  // the instance's own label, e.g. "Office scanner"
  std::string host;      // the SRV target, e.g. "lumascan-7.local"
  std::array<std::uint8_t, 4> address{};
  std::uint16_t port = 0;  // of the first service type in kScannerServiceTypes order
  std::vector<std::string> services;  // in kScannerServiceTypes order
  std::string ty;        // the TXT key "ty", empty when not given
  std::string usb_mdl;   // the TXT key "usb_MDL", empty when not given
};

class ScannerCensus {
 public:
  // A network may answer with anything; what the census keeps is bounded. A link with more
  // scanner instances than this is beyond what one run lists, the rest are passed over.
  static constexpr std::size_t kInstanceLimit = 512;
  static constexpr std::size_t kHostLimit = 512;
  static constexpr std::size_t kAddressesPerHost = 8;

  // Takes in one record of an answer; records that belong to no scanner instance are passed
  // over. The first SRV and TXT of an instance count, later ones are ignored.
  void take(const MdnsRecord& record);

  // The questions for the SRV and TXT records of the instances that lack them and for the
  // addresses of the hosts that lack one.
  std::vector<MdnsQuestion> missing_questions() const;

  // The scanners complete now and not handed out before (one for each instance label and
  // address, compared as DNS compares names), in the order their instances were first seen.
  // While some instance of the same label still lacks a record, its scanner waits, so that it
  // is handed out once with every service type; at the end of the run (last) it no longer
  // waits.
  std::vector<FoundScanner> take_ready(bool last);

 private:
  struct Instance {
    // All its records are in, or it is known to be no scanner.
    bool settled(const std::map<std::string, std::vector<std::array<std::uint8_t, 4>>>& addresses) const;

    std::size_t type_index = 0;
    MdnsName name;
    bool has_srv = false;
    std::uint16_t port = 0;
    MdnsName host;
    bool has_txt = false;
    std::string ty;
    std::string usb_mdl;
    bool scan = false;  // "Scan=T" given
  };
  std::vector<Instance> instances_;
  std::map<std::string, std::size_t> instance_index_;  // by name key
  std::map<std::string, std::vector<std::array<std::uint8_t, 4>>> addresses_;  // by host key
  std::set<std::string> handed_out_;  // instance label key and address
};

}  // namespace lumora
