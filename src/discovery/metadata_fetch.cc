#include "discovery/metadata_fetch.h"

#include <arpa/inet.h>
#include <poll.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

#include "discovery/wsd_message.h"

namespace lumora {
namespace {

struct UrlFree {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct CurlTextFree {
  void operator()(char* text) const { curl_free(text); }
};
using CurlText = std::unique_ptr<char, CurlTextFree>;

CurlText url_part(CURLU* url, CURLUPart part, unsigned flags = 0) {
  char* text = nullptr;
  if (curl_url_get(url, part, &text, flags) != CURLUE_OK) return {};
  return CurlText(text);
}

// Whether host (as a URL writes it: an IPv4 address, or an IPv6 one in brackets) is source's
// own address. Compared as addresses, so that any way of writing one matches, and a name
// matches nothing.
bool names_source(std::string host, const WsdSource& source) {
  if (source.ipv6) {
    if (host.size() < 2 || host.front() != '[' || host.back() != ']') return false;
    host = host.substr(1, host.size() - 2);
    std::array<std::uint8_t, 16> address{};
    return inet_pton(AF_INET6, host.c_str(), address.data()) == 1 && address == source.address6;
  }
  std::array<std::uint8_t, 4> address{};
  return inet_pton(AF_INET, host.c_str(), address.data()) == 1 && address == source.address;
}

// libcurl's process-wide set-up, once; only plain HTTP is used, so no TLS library is set up.
bool curl_ready() {
  static const bool ready = curl_global_init(CURL_GLOBAL_NOTHING) == CURLE_OK;
  return ready;
}

}  // namespace

std::string metadata_url(const std::vector<std::string>& xaddrs, const WsdSource& source, std::uint16_t& port) {
  for (const std::string& xaddr : xaddrs) {
    const std::unique_ptr<CURLU, UrlFree> url(curl_url());
    if (!url || curl_url_set(url.get(), CURLUPART_URL, xaddr.c_str(), 0) != CURLUE_OK) continue;
    const CurlText scheme = url_part(url.get(), CURLUPART_SCHEME);
    const CurlText host = url_part(url.get(), CURLUPART_HOST);
    if (!scheme || !host || std::strcmp(scheme.get(), "http") != 0 || !names_source(host.get(), source)) continue;
    // The interface of a link-local address is the one the answer came in on, not one named in
    // the URL; credentials and a fragment have no business in the request.
    if (curl_url_set(url.get(), CURLUPART_ZONEID, nullptr, 0) != CURLUE_OK ||
        curl_url_set(url.get(), CURLUPART_USER, nullptr, 0) != CURLUE_OK ||
        curl_url_set(url.get(), CURLUPART_PASSWORD, nullptr, 0) != CURLUE_OK ||
        curl_url_set(url.get(), CURLUPART_OPTIONS, nullptr, 0) != CURLUE_OK ||
        curl_url_set(url.get(), CURLUPART_FRAGMENT, nullptr, 0) != CURLUE_OK) {
      continue;
    }
    const CurlText whole = url_part(url.get(), CURLUPART_URL);
    const CurlText port_text = url_part(url.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT);
    if (!whole || !port_text) continue;
    port = static_cast<std::uint16_t>(std::strtoul(port_text.get(), nullptr, 10));
    return whole.get();
  }
  return {};
}

struct MetadataFetches::Transfer {
  struct EasyFree {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
  };
  struct ListFree {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
  };

  // Takes in what came, and stops the transfer (a write error) once it passes the limit: an
  // answer without a length, or lying about it, costs no more than kWsdMetadataLimit bytes.
  static std::size_t take(char* data, std::size_t size, std::size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const std::size_t bytes = size * count;
    if (bytes > kWsdMetadataLimit - transfer->response.size()) {
      transfer->too_long = true;
      return 0;
    }
    transfer->response.append(data, bytes);
    return bytes;
  }

  std::size_t id = 0;
  std::unique_ptr<CURL, EasyFree> easy;
  std::unique_ptr<curl_slist, ListFree> headers;
  std::string request;
  std::string response;
  bool too_long = false;
};

MetadataFetches::MetadataFetches() {
  if (curl_ready()) multi_ = curl_multi_init();
}

MetadataFetches::~MetadataFetches() {
  abandon();
  if (multi_ != nullptr) curl_multi_cleanup(multi_);
}

std::vector<std::size_t> MetadataFetches::abandon() {
  std::vector<std::size_t> ids;
  for (auto& entry : transfers_) {
    curl_multi_remove_handle(multi_, entry.first);
    ids.push_back(entry.second->id);
  }
  transfers_.clear();
  return ids;
}

bool MetadataFetches::start(std::size_t id, const std::string& url, unsigned link, std::string request,
                            std::chrono::milliseconds budget) {
  if (multi_ == nullptr || url.empty() || budget.count() <= 0) return false;
  auto transfer = std::make_unique<Transfer>();
  transfer->id = id;
  transfer->request = std::move(request);
  transfer->easy.reset(curl_easy_init());
  CURL* easy = transfer->easy.get();
  if (easy == nullptr) return false;
  curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/soap+xml; charset=utf-8");
  if (headers == nullptr) return false;
  transfer->headers.reset(headers);
  // No wait for "100 Continue" before the body.
  if (curl_slist_append(headers, "Expect:") == nullptr) return false;
  const long milliseconds = static_cast<long>(budget.count());
  const bool set =
      curl_easy_setopt(easy, CURLOPT_URL, url.c_str()) == CURLE_OK &&
      curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http") == CURLE_OK &&
      curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK &&
      // An empty proxy turns proxies off, and "*" keeps the environment's from applying.
      curl_easy_setopt(easy, CURLOPT_PROXY, "") == CURLE_OK &&
      curl_easy_setopt(easy, CURLOPT_NOPROXY, "*") == CURLE_OK &&
      curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
      curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, milliseconds) == CURLE_OK &&
      curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, milliseconds) == CURLE_OK &&
      curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kWsdMetadataLimit)) == CURLE_OK &&
      curl_easy_setopt(easy, CURLOPT_ADDRESS_SCOPE, static_cast<long>(link)) == CURLE_OK &&
      curl_easy_setopt(easy, CURLOPT_HTTPHEADER, transfer->headers.get()) == CURLE_OK &&
      curl_easy_setopt(easy, CURLOPT_POSTFIELDS, transfer->request.data()) == CURLE_OK &&
      curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(transfer->request.size())) ==
          CURLE_OK &&
      curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::take) == CURLE_OK &&
      curl_easy_setopt(easy, CURLOPT_WRITEDATA, transfer.get()) == CURLE_OK;
  if (!set || curl_multi_add_handle(multi_, easy) != CURLM_OK) return false;
  transfers_.emplace(easy, std::move(transfer));
  return true;
}

std::vector<FinishedFetch> MetadataFetches::wait(std::span<const int> descriptors, std::chrono::milliseconds wait) {
  std::vector<FinishedFetch> finished;
  // The run's own sockets: at most the two of the WS-Discovery link.
  std::array<pollfd, 2> extra{};
  std::array<curl_waitfd, 2> curl_extra{};
  unsigned count = 0;
  for (const int descriptor : descriptors) {
    if (descriptor < 0 || count == extra.size()) continue;
    extra[count] = {descriptor, POLLIN, 0};
    curl_extra[count++] = {descriptor, CURL_WAIT_POLLIN, 0};
  }
  const int timeout = static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(wait.count(), 0, 60'000));
  int ready = 0;
  // Without libcurl's own wait (none set up, or it failed), the sockets are waited on alone, so
  // that the run never spins.
  if (multi_ == nullptr || curl_multi_poll(multi_, curl_extra.data(), count, timeout, &ready) != CURLM_OK) {
    ::poll(extra.data(), count, timeout);
    return finished;
  }
  int still_running = 0;
  curl_multi_perform(multi_, &still_running);
  int left = 0;
  while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
    if (message->msg != CURLMSG_DONE) continue;
    const auto found = transfers_.find(message->easy_handle);
    if (found == transfers_.end()) continue;
    Transfer& transfer = *found->second;
    long status = 0;
    curl_easy_getinfo(transfer.easy.get(), CURLINFO_RESPONSE_CODE, &status);
    FinishedFetch fetch;
    fetch.id = transfer.id;
    fetch.ok = message->data.result == CURLE_OK && status == 200 && !transfer.too_long;
    if (fetch.ok) fetch.body = std::move(transfer.response);
    curl_multi_remove_handle(multi_, found->first);
    transfers_.erase(found);
    finished.push_back(std::move(fetch));
  }
  return finished;
}

}  // namespace lumora
