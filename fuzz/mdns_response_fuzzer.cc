// The reading of a multicast DNS answer on arbitrary bytes, the census of devices fed with what
// it read (goodbyes among the records, spread over three links), and the queries made of what
// the census holds: no crash, no leak, and what comes out keeps the shapes the command and the
// responders rely on.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "discovery/mdns_message.h"
#include "discovery/scanner_census.h"
#include "fuzz_support.h"

using lumora::fuzz::fail;

namespace {

constexpr unsigned kLinks = 3;
constexpr std::uint8_t kTcBit = 0x02;       // in the third byte of the header
constexpr std::uint8_t kResponseBit = 0x80;  // likewise

// The known answers of one link, made into queries and read back as if they were answers:
// every answer goes out exactly once, and every message but the last says more are coming.
void check_known_answers(const lumora::ScannerCensus& census, unsigned link,
                         lumora::ScannerCensus::Clock::time_point now) {
  const std::vector<lumora::MdnsRecord> known = census.known_answers(link, now);
  const auto messages = lumora::make_mdns_queries(lumora::device_browse_questions(), known);
  if (messages.empty()) fail("known answers that make no query");
  std::size_t read_back = 0;
  for (std::size_t i = 0; i < messages.size(); ++i) {
    std::vector<std::uint8_t> message = messages[i];
    if (message.size() < 12) fail("a query shorter than its header");
    const bool truncated = (message[2] & kTcBit) != 0;
    if (truncated != (i + 1 < messages.size())) fail("TC not on every message but the last");
    // Only a message of one answer, too long to share one, goes over the limit.
    const unsigned answers = static_cast<unsigned>(message[6] << 8 | message[7]);
    if (message.size() > lumora::kMdnsQueryLimit && answers > 1) fail("a query over its limit");
    message[2] = static_cast<std::uint8_t>(message[2] | kResponseBit);
    read_back += lumora::read_mdns_response(message.data(), message.size()).size();
  }
  if (read_back != known.size()) fail("a known answer lost or doubled");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The link never hands over more than one message's worth.
  if (size > lumora::kMdnsMessageLimit) return 0;
  auto records = lumora::read_mdns_response(data, size);
  // No record is shorter than its owner's root byte and ten bytes of type, class, time to
  // live and length, past a 12-byte header.
  if (!records.empty() && (size < 12 || records.size() > (size - 12) / 11)) {
    fail("more records than the message can hold");
  }
  const auto now = lumora::ScannerCensus::Clock::now();
  lumora::ScannerCensus census;
  for (std::size_t i = 0; i < records.size(); ++i) {
    lumora::MdnsRecord& record = records[i];
    for (const std::string& label : record.owner.labels) {
      if (label.empty() || label.size() > 63) fail("a label of impossible length");
    }
    record.link = static_cast<unsigned>(i % kLinks);
    census.take(record, now);
  }
  const auto questions = census.missing_questions();
  if (!questions.empty() && lumora::make_mdns_queries(questions, {}).empty()) {
    fail("questions read from the wire that make no query");
  }
  for (unsigned link = 0; link < kLinks; ++link) check_known_answers(census, link, now);
  for (const lumora::FoundDevice& device : census.take_ready(true)) {
    if (device.services.empty()) fail("a device of no service type");
  }
  if (!census.take_ready(true).empty()) fail("a device handed out twice");
  return 0;
}
