#include "discovery/discovery_run.h"

#include <array>
#include <map>
#include <vector>

#include "discovery/mdns_link.h"
#include "discovery/mdns_message.h"

namespace lumora {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A responder answers a query from an ephemeral port at once (RFC 6762, section 6.7), and
// the answers of one responder come in a burst: once the link has been quiet this long, the
// census is complete for now and the scanners it holds are handed out.
constexpr milliseconds kSettle{50};
// A question is not asked again before this long, so a responder that never answers it costs
// a few datagrams a second, not a flood.
constexpr milliseconds kAskAgainAfter{500};
// The browse query goes out a second time after this long (when the run lasts longer), for a
// responder that lost the first one.
constexpr milliseconds kBrowseAgainAfter{1000};

milliseconds until(Clock::time_point when, Clock::time_point now) {
  return when > now ? std::chrono::ceil<milliseconds>(when - now) : milliseconds(0);
}

class Run {
 public:
  Run(MulticastLink& link, const std::function<bool(const FoundScanner&)>& on_found)
      : link_(link), on_found_(on_found) {}

  // Hands out what is complete; false when the receiver wants no more.
  bool hand_out(bool last) {
    for (const FoundScanner& scanner : census_.take_ready(last)) {
      if (!on_found_(scanner)) return false;
    }
    return true;
  }

  void ask_for_missing(Clock::time_point now) {
    std::vector<MdnsQuestion> questions;
    for (MdnsQuestion& question : census_.missing_questions()) {
      const std::string key = question.name.key() + static_cast<char>(question.type);
      const auto asked = asked_.find(key);
      if (asked != asked_.end() && now - asked->second < kAskAgainAfter) continue;
      asked_[key] = now;
      questions.push_back(std::move(question));
    }
    // One question a message keeps each one well inside the size every responder reads.
    for (const MdnsQuestion& question : questions) link_.send(make_mdns_query({question}));
  }

  void take(const std::uint8_t* data, std::size_t size) {
    for (const MdnsRecord& record : read_mdns_response(data, size)) census_.take(record);
  }

 private:
  MulticastLink& link_;
  const std::function<bool(const FoundScanner&)>& on_found_;
  ScannerCensus census_;
  std::map<std::string, Clock::time_point> asked_;
};

}  // namespace

bool discover_scanners(const DiscoveryOptions& options,
                       const std::function<bool(const FoundScanner&)>& on_found,
                       std::string& error) {
  const Clock::time_point start = Clock::now();
  const Clock::time_point deadline = start + options.timeout;
  MulticastLink link;
  if (!link.open(options.interface, error)) return false;
  const std::vector<std::uint8_t> browse = make_mdns_query(scanner_browse_questions());
  if (!link.send(browse)) {
    error = "cannot send the query on any interface";
    return false;
  }
  Run run(link, on_found);
  bool browsed_again = false;
  bool unsettled = false;
  // One byte more than the largest message, so that a datagram over the limit is seen as such.
  std::vector<std::uint8_t> buffer(kMdnsMessageLimit + 1);
  for (Clock::time_point now = start; now < deadline; now = Clock::now()) {
    if (!browsed_again && now - start >= kBrowseAgainAfter) {
      browsed_again = true;
      link.send(browse);
    }
    milliseconds wait = until(deadline, now);
    if (!browsed_again) wait = std::min(wait, until(start + kBrowseAgainAfter, now));
    if (unsettled) wait = std::min(wait, kSettle);
    const std::size_t size = link.receive(buffer.data(), buffer.size(), wait);
    if (size > 0) {
      run.take(buffer.data(), size);
      unsettled = true;
      continue;
    }
    if (!unsettled) continue;
    unsettled = false;
    if (!run.hand_out(false)) return true;
    run.ask_for_missing(Clock::now());
  }
  run.hand_out(true);
  return true;
}

}  // namespace lumora
