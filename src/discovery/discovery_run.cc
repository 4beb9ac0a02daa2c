#include "discovery/discovery_run.h"

#include <algorithm>
#include <map>
#include <vector>

#include "discovery/mdns_link.h"
#include "discovery/mdns_message.h"

namespace lumora {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The run looks at its census on this beat, whatever comes in between: it hands out what is
// complete and asks for what is missing. A beat, not a wait for a quiet link, so that no stream
// of datagrams can hold a line or a question back.
constexpr milliseconds kBeat{100};
// The answers of one responder to one query come in a burst of datagrams a few milliseconds
// long: a beat that falls inside one (a datagram came less than this long ago) leaves the
// hand-out to the next beat, so that a device is not handed out before the rest of its service
// types, but never to a later one, whatever keeps coming.
constexpr milliseconds kBurst{20};
// A responder answers each question about a shared record (a PTR of a service type) after its
// own random 20 to 120 ms (RFC 6762, section 6), so one device's service types come in answers
// up to 100 ms apart, and further apart from a busy responder: beats this soon after a browse
// question hand nothing out, so that a device is not printed before its other service types.
constexpr milliseconds kAnswerSpread{300};
// A question is not asked again before this long, so a responder that never answers it costs
// a few datagrams a second, not a flood.
constexpr milliseconds kAskAgainAfter{500};
// RFC 6762, section 5.2: the browse question is asked again after one second, then after
// intervals that double each time.
constexpr milliseconds kFirstBrowseInterval{1000};

milliseconds until(Clock::time_point when, Clock::time_point now) {
  return when > now ? std::chrono::ceil<milliseconds>(when - now) : milliseconds(0);
}

class Run {
 public:
  Run(MulticastLink& link, const std::function<bool(const FoundDevice&)>& on_found)
      : link_(link), on_found_(on_found) {}

  // Hands out what is complete; false when the receiver wants no more.
  bool hand_out(bool last) {
    for (const FoundDevice& device : census_.take_ready(last)) {
      if (!on_found_(device)) return false;
    }
    return true;
  }

  // The browse question on every interface, each with the answers heard there. False when it
  // left on none.
  bool browse(Clock::time_point now) {
    bool sent = false;
    for (const LinkInterface& interface : link_.interfaces()) {
      // A one-shot query's answer comes by unicast, in one message; known answers there would
      // only keep out of it what is missing from the other links' answers.
      const std::vector<MdnsRecord> known =
          link_.one_shot() ? std::vector<MdnsRecord>() : census_.known_answers(interface.index, now);
      for (const std::vector<std::uint8_t>& message : make_mdns_queries(device_browse_questions(), known)) {
        sent = link_.send_on(interface.index, message) || sent;
      }
    }
    return sent;
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
    if (questions.empty()) return;
    if (link_.one_shot()) {
      // One question a message keeps each legacy answer well inside the 512 bytes a responder
      // answers a one-shot query with.
      for (const MdnsQuestion& question : questions) link_.send(make_mdns_query({question}));
      return;
    }
    for (const std::vector<std::uint8_t>& message : make_mdns_queries(questions, {})) link_.send(message);
  }

  void take(const std::uint8_t* data, const LinkDatagram& datagram, Clock::time_point at) {
    for (MdnsRecord& record : read_mdns_response(data, datagram.size)) {
      record.link = datagram.link;
      census_.take(record, at);
    }
  }

 private:
  MulticastLink& link_;
  const std::function<bool(const FoundDevice&)>& on_found_;
  ScannerCensus census_;
  std::map<std::string, Clock::time_point> asked_;
};

}  // namespace

bool discover_devices(const DiscoveryOptions& options,
                      const std::function<bool(const FoundDevice&)>& on_found,
                      const std::function<void(const std::string&)>& on_fallback, std::string& error) {
  const Clock::time_point start = Clock::now();
  const Clock::time_point deadline = start + options.timeout;
  MulticastLink link;
  if (!link.open(options.interface, error)) return false;
  if (link.one_shot()) on_fallback(link.fallback_reason());
  Run run(link, on_found);
  if (!run.browse(start)) {
    error = "cannot send the query on any interface";
    return false;
  }
  milliseconds browse_interval = kFirstBrowseInterval;
  Clock::time_point next_browse = start + browse_interval;
  Clock::time_point next_beat = start + kBeat;
  Clock::time_point last_browse = start;
  Clock::time_point last_datagram = start - kBurst;
  bool held_back = false;
  // One byte more than the largest message, so that a datagram over the limit is seen as such.
  std::vector<std::uint8_t> buffer(kMdnsMessageLimit + 1);
  for (Clock::time_point now = start; now < deadline; now = Clock::now()) {
    if (now >= next_browse) {
      run.browse(now);
      last_browse = now;
      browse_interval *= 2;
      next_browse += browse_interval;
    }
    if (now >= next_beat) {
      // While the answers to the browse question are still coming, nothing is handed out.
      if (now - last_browse >= kAnswerSpread) {
        if (now - last_datagram >= kBurst || held_back) {
          if (!run.hand_out(false)) return true;
          held_back = false;
        } else {
          held_back = true;
        }
      }
      run.ask_for_missing(now);
      while (next_beat <= now) next_beat += kBeat;
    }
    const milliseconds wait = std::min({until(deadline, now), until(next_browse, now), until(next_beat, now)});
    const LinkDatagram datagram = link.receive(buffer, wait);
    if (datagram.size == 0) continue;
    last_datagram = Clock::now();
    run.take(buffer.data(), datagram, last_datagram);
  }
  run.hand_out(true);
  return true;
}

}  // namespace lumora
