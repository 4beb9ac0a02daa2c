// The reading of a multicast DNS answer on arbitrary bytes, and the census of scanners fed with
// what it read: no crash, no leak, and what comes out keeps the shapes the command relies on.
#include <cstdint>
#include <cstring>
#include <string>

#include "discovery/mdns_message.h"
#include "discovery/scanner_census.h"
#include "fuzz_support.h"

using lumora::fuzz::fail;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The link never hands over more than one message's worth.
  if (size > lumora::kMdnsMessageLimit) return 0;
  const auto records = lumora::read_mdns_response(data, size);
  // No record is shorter than its owner's root byte and ten bytes of type, class, time to
  // live and length, past a 12-byte header.
  if (!records.empty() && (size < 12 || records.size() > (size - 12) / 11)) {
    fail("more records than the message can hold");
  }
  lumora::ScannerCensus census;
  for (const lumora::MdnsRecord& record : records) {
    for (const std::string& label : record.owner.labels) {
      if (label.empty() || label.size() > 63) fail("a label of impossible length");
    }
    census.take(record);
  }
  (void)census.missing_questions();
  for (const lumora::FoundDevice& scanner : census.take_ready(true)) {
    if (scanner.services.empty()) fail("a scanner of no service type");
  }
  if (!census.take_ready(true).empty()) fail("a scanner handed out twice");
  return 0;
}
