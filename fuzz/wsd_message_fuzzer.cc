// The reading of WS-Discovery answers on arbitrary bytes: the same input read as a ProbeMatches
// message (relating to the probe of kProbeId, which the seeds answer) and as a metadata answer,
// and the URL chosen from the transport addresses it gives. No crash, no leak, nothing of what
// comes out beyond its bounds, and no URL to any host but the one the answer came from.
#include <cstdint>
#include <string>
#include <string_view>

#include "discovery/metadata_fetch.h"
#include "discovery/wsd_message.h"
#include "fuzz_support.h"

using lumora::fuzz::fail;

namespace {

constexpr char kProbeId[] = "urn:uuid:0b5e55ed-0000-4000-8000-000000000001";

void check_text(const std::string& text) {
  if (text.size() > lumora::kWsdTextLimit) fail("a text over its limit");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The link never hands over more than one message, the transfer no more than the limit.
  if (size > lumora::kWsdMetadataLimit) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  lumora::WsdSource source;
  source.address = {10, 77, 4, 2};
  if (size <= lumora::kWsdMessageLimit) {
    const auto matches = lumora::read_wsd_probe_matches(text, kProbeId);
    if (matches.size() > lumora::kWsdMatchesPerMessage) fail("more matches than a message may give");
    for (const lumora::WsdProbeMatch& match : matches) {
      if (match.endpoint.empty()) fail("a match of no endpoint");
      check_text(match.endpoint);
      if (match.types.size() > lumora::kWsdListLimit || match.xaddrs.size() > lumora::kWsdListLimit) {
        fail("a list over its limit");
      }
      for (const std::string& xaddr : match.xaddrs) check_text(xaddr);
      std::uint16_t port = 0;
      const std::string url = lumora::metadata_url(match.xaddrs, source, port);
      constexpr std::string_view kOwnHost = "http://10.77.4.2";
      if (!url.empty() && (url.rfind(kOwnHost, 0) != 0 || url.size() == kOwnHost.size() ||
                           (url[kOwnHost.size()] != ':' && url[kOwnHost.size()] != '/'))) {
        fail("a URL to another host", url);
      }
    }
  }
  lumora::WsdMetadata metadata;
  if (lumora::read_wsd_metadata(text, metadata)) {
    check_text(metadata.manufacturer);
    check_text(metadata.model_name);
    check_text(metadata.model_number);
    check_text(metadata.friendly_name);
  }
  return 0;
}
