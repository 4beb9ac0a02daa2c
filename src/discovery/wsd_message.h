// The WS-Discovery messages of discovery, made as text and read with libxml2: the Probe for
// scanner devices (sent over UDP), the ProbeMatches that answer it, and the WS-Transfer Get of
// a device's metadata (sent over HTTP) with the manufacturer, model and friendly name its
// answer gives. A document with a document type declaration is refused before any of it is
// read: no entity is declared, expanded or fetched, and nothing is loaded from the network.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lumora {

// SOAP over UDP puts one message in one datagram. A ProbeMatches message names one endpoint or
// a few, a few kilobytes; a datagram of this size or more is none of ours and is dropped.
inline constexpr std::size_t kWsdMessageLimit = 32768;
// A device's metadata is a few kilobytes of XML; an answer longer than this is not read.
inline constexpr std::size_t kWsdMetadataLimit = 65536;
// Every text taken from a message (endpoint, address, name) is at most this long; a longer one
// is cut at a character boundary.
inline constexpr std::size_t kWsdTextLimit = 256;
// The endpoints one ProbeMatches message may name, and the types and transport addresses one
// endpoint may give; the rest is passed over.
inline constexpr std::size_t kWsdMatchesPerMessage = 8;
inline constexpr std::size_t kWsdListLimit = 8;

struct WsdProbeMatch {
  std::string endpoint;              // its endpoint reference's address, e.g. "urn:uuid:..."
  std::vector<std::string> types;    // the local names of its types, e.g. "ScanDeviceType"
  bool scanner = false;              // ScanDeviceType of the scan namespace is among them
  std::vector<std::string> xaddrs;   // its transport addresses (URLs), as given
  std::uint32_t metadata_version = 0;
};

struct WsdMetadata {
  std::string manufacturer;
  std::string model_name;
  std::string model_number;
  std::string friendly_name;
};

// A fresh message identifier, "urn:uuid:" and a random UUID (version 4).
std::string new_wsd_message_id();

// The Probe for scanner devices, identified by message_id.
std::string make_wsd_probe(const std::string& message_id);

// The WS-Transfer Get of the metadata of the device at endpoint (escaped for XML here).
std::string make_wsd_get(const std::string& message_id, const std::string& endpoint);

// The ProbeMatch entries of a ProbeMatches message that relates to the probe of that
// identifier, in message order; anything else (another action, another probe's answer, a
// document libxml2 cannot read or that has a document type declaration) gives nothing. An
// entry with no endpoint address is passed over.
std::vector<WsdProbeMatch> read_wsd_probe_matches(std::string_view data, std::string_view probe_id);

// The manufacturer, model name and number and friendly name that a Get answer's body gives,
// each the first of its kind in the devices profile namespace; false when the document is not
// a SOAP envelope libxml2 reads (or has a document type declaration) or gives none of them.
bool read_wsd_metadata(std::string_view data, WsdMetadata& metadata);

}  // namespace lumora
