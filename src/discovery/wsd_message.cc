#include "discovery/wsd_message.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <array>
#include <charconv>
#include <climits>
#include <cstdio>
#include <memory>
#include <random>

namespace lumora {
namespace {

constexpr char kSoapNs[] = "http://www.w3.org/2003/05/soap-envelope";
constexpr char kAddressingNs[] = "http://schemas.xmlsoap.org/ws/2004/08/addressing";
constexpr char kDiscoveryNs[] = "http://schemas.xmlsoap.org/ws/2005/04/discovery";
constexpr char kScanNs[] = "http://schemas.microsoft.com/windows/2006/08/wdp/scan";
constexpr char kDevicesProfileNs[] = "http://schemas.xmlsoap.org/ws/2006/02/devprof";
constexpr char kProbeMatchesAction[] = "http://schemas.xmlsoap.org/ws/2005/04/discovery/ProbeMatches";

struct DocumentFree {
  void operator()(xmlDoc* document) const { xmlFreeDoc(document); }
};
using UniqueDocument = std::unique_ptr<xmlDoc, DocumentFree>;
struct ContextFree {
  void operator()(xmlParserCtxt* context) const { xmlFreeParserCtxt(context); }
};
struct XmlFree {
  void operator()(xmlChar* text) const { xmlFree(text); }
};

// Called by the parser where a document type declaration begins, before any declaration in it
// is read: the document is refused there, so no entity is ever declared.
void refuse_document_type(void* context, const xmlChar* /*name*/, const xmlChar* /*external_id*/,
                          const xmlChar* /*system_id*/) {
  auto* parser = static_cast<xmlParserCtxt*>(context);
  *static_cast<bool*>(parser->_private) = true;
  xmlStopParser(parser);
}

// The document of data, or none when it is not well-formed XML or has a document type
// declaration. Nothing is fetched (XML_PARSE_NONET), no entity is substituted (no
// XML_PARSE_NOENT), and libxml2's own limits on depth and text sizes hold (no XML_PARSE_HUGE).
UniqueDocument parse(std::string_view data) {
  if (data.size() > static_cast<std::size_t>(INT_MAX)) return {};
  const std::unique_ptr<xmlParserCtxt, ContextFree> context(xmlNewParserCtxt());
  if (!context || context->sax == nullptr) return {};
  bool document_type = false;
  context->_private = &document_type;
  context->sax->internalSubset = refuse_document_type;
  context->sax->externalSubset = refuse_document_type;
  UniqueDocument document(xmlCtxtReadMemory(context.get(), data.data(), static_cast<int>(data.size()), nullptr,
                                            nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
  if (!document || document_type || context->wellFormed == 0) return {};
  return document;
}

bool is_element(const xmlNode* node, const char* ns, const char* name) {
  return node != nullptr && node->type == XML_ELEMENT_NODE && node->ns != nullptr && node->ns->href != nullptr &&
         xmlStrEqual(node->ns->href, reinterpret_cast<const xmlChar*>(ns)) != 0 &&
         xmlStrEqual(node->name, reinterpret_cast<const xmlChar*>(name)) != 0;
}

const xmlNode* child(const xmlNode* parent, const char* ns, const char* name) {
  if (parent == nullptr) return nullptr;
  for (const xmlNode* node = parent->children; node != nullptr; node = node->next) {
    if (is_element(node, ns, name)) return node;
  }
  return nullptr;
}

// The first element of that name in the tree under node, depth first. libxml2 refuses a
// document nested deeper than 256 elements, which bounds the recursion.
const xmlNode* descendant(const xmlNode* node, const char* ns, const char* name) {
  for (const xmlNode* at = node == nullptr ? nullptr : node->children; at != nullptr; at = at->next) {
    if (at->type != XML_ELEMENT_NODE) continue;
    if (is_element(at, ns, name)) return at;
    if (const xmlNode* found = descendant(at, ns, name)) return found;
  }
  return nullptr;
}

bool blank(char byte) { return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r'; }

// The text of an element, blanks at either end dropped, cut to limit bytes at a character
// boundary (libxml2 hands text out as UTF-8).
std::string text_of(const xmlNode* node, std::size_t limit = kWsdTextLimit) {
  if (node == nullptr) return {};
  const std::unique_ptr<xmlChar, XmlFree> content(xmlNodeGetContent(node));
  if (!content) return {};
  std::string_view text(reinterpret_cast<const char*>(content.get()));
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  if (text.size() > limit) {
    std::size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0U) == 0x80U) --cut;
    text = text.substr(0, cut);
  }
  return std::string(text);
}

// The words of a list of names or addresses (xs:list: separated by blanks), at most
// kWsdListLimit of them.
std::vector<std::string> words_of(const xmlNode* node) {
  // A whole list of kWsdListLimit words of kWsdTextLimit bytes each, and the blanks between.
  const std::string text = text_of(node, kWsdListLimit * (kWsdTextLimit + 1));
  std::vector<std::string> words;
  std::size_t at = 0;
  while (words.size() < kWsdListLimit) {
    while (at < text.size() && blank(text[at])) ++at;
    if (at == text.size()) break;
    std::size_t end = at;
    while (end < text.size() && !blank(text[end])) ++end;
    if (end - at <= kWsdTextLimit) words.push_back(text.substr(at, end - at));
    at = end;
  }
  return words;
}

// The SOAP body of an envelope, or none.
const xmlNode* soap_body(const xmlDoc* document, const xmlNode** header) {
  const xmlNode* envelope = xmlDocGetRootElement(document);
  if (!is_element(envelope, kSoapNs, "Envelope")) return nullptr;
  if (header != nullptr) *header = child(envelope, kSoapNs, "Header");
  return child(envelope, kSoapNs, "Body");
}

WsdProbeMatch read_match(const xmlNode* match) {
  WsdProbeMatch read;
  read.endpoint = text_of(child(child(match, kAddressingNs, "EndpointReference"), kAddressingNs, "Address"));
  const xmlNode* types = child(match, kDiscoveryNs, "Types");
  for (const std::string& type : words_of(types)) {
    // A type is a qualified name: its prefix is looked up among the namespaces in scope.
    const std::size_t colon = type.find(':');
    const std::string prefix = colon == std::string::npos ? std::string() : type.substr(0, colon);
    const std::string local = colon == std::string::npos ? type : type.substr(colon + 1);
    const xmlNs* ns = xmlSearchNs(types->doc, const_cast<xmlNode*>(types),
                                  prefix.empty() ? nullptr : reinterpret_cast<const xmlChar*>(prefix.c_str()));
    read.types.push_back(local);
    if (local == "ScanDeviceType" && ns != nullptr &&
        xmlStrEqual(ns->href, reinterpret_cast<const xmlChar*>(kScanNs)) != 0) {
      read.scanner = true;
    }
  }
  read.xaddrs = words_of(child(match, kDiscoveryNs, "XAddrs"));
  const std::string version = text_of(child(match, kDiscoveryNs, "MetadataVersion"));
  std::uint32_t number = 0;
  const auto [end, status] = std::from_chars(version.data(), version.data() + version.size(), number);
  if (status == std::errc() && end == version.data() + version.size()) read.metadata_version = number;
  return read;
}

void append_escaped(std::string& out, std::string_view text) {
  for (const char byte : text) {
    switch (byte) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default: out += byte;
    }
  }
}

std::string envelope(const std::string& message_id, std::string_view action, std::string_view to,
                     std::string_view body) {
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<soap:Envelope xmlns:soap=\"http://www.w3.org/2003/05/soap-envelope\""
      " xmlns:wsa=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\""
      " xmlns:wsd=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\""
      " xmlns:wscn=\"http://schemas.microsoft.com/windows/2006/08/wdp/scan\">"
      "<soap:Header><wsa:To>";
  append_escaped(out, to);
  out += "</wsa:To><wsa:Action>";
  out += action;
  out += "</wsa:Action><wsa:MessageID>";
  append_escaped(out, message_id);
  out += "</wsa:MessageID><wsa:ReplyTo><wsa:Address>"
         "http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous"
         "</wsa:Address></wsa:ReplyTo></soap:Header><soap:Body>";
  out += body;
  out += "</soap:Body></soap:Envelope>\n";
  return out;
}

}  // namespace

std::string new_wsd_message_id() {
  std::random_device source;
  std::array<std::uint8_t, 16> bytes{};
  for (std::size_t i = 0; i < bytes.size(); i += 4) {
    const std::uint32_t word = source();
    for (std::size_t j = 0; j < 4; ++j) bytes[i + j] = static_cast<std::uint8_t>(word >> (8 * j));
  }
  // RFC 4122, section 4.4: version 4 (random), variant 10.
  bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0FU) | 0x40U);
  bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3FU) | 0x80U);
  std::string id = "urn:uuid:";
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) id += '-';
    // Two hex digits and the terminator.
    std::array<char, 3> hex{};
    if (std::snprintf(hex.data(), hex.size(), "%02x", bytes[i]) != 2) return {};
    id += hex.data();
  }
  return id;
}

std::string make_wsd_probe(const std::string& message_id) {
  return envelope(message_id, "http://schemas.xmlsoap.org/ws/2005/04/discovery/Probe",
                  "urn:schemas-xmlsoap-org:ws:2005:04:discovery",
                  "<wsd:Probe><wsd:Types>wscn:ScanDeviceType</wsd:Types></wsd:Probe>");
}

std::string make_wsd_get(const std::string& message_id, const std::string& endpoint) {
  return envelope(message_id, "http://schemas.xmlsoap.org/ws/2004/09/transfer/Get", endpoint, "");
}

std::vector<WsdProbeMatch> read_wsd_probe_matches(std::string_view data, std::string_view probe_id) {
  std::vector<WsdProbeMatch> matches;
  const UniqueDocument document = parse(data);
  if (!document) return matches;
  const xmlNode* header = nullptr;
  const xmlNode* body = soap_body(document.get(), &header);
  if (body == nullptr || text_of(child(header, kAddressingNs, "Action")) != kProbeMatchesAction ||
      text_of(child(header, kAddressingNs, "RelatesTo")) != probe_id) {
    return matches;
  }
  const xmlNode* list = child(body, kDiscoveryNs, "ProbeMatches");
  for (const xmlNode* node = list == nullptr ? nullptr : list->children;
       node != nullptr && matches.size() < kWsdMatchesPerMessage; node = node->next) {
    if (!is_element(node, kDiscoveryNs, "ProbeMatch")) continue;
    WsdProbeMatch match = read_match(node);
    if (!match.endpoint.empty()) matches.push_back(std::move(match));
  }
  return matches;
}

bool read_wsd_metadata(std::string_view data, WsdMetadata& metadata) {
  metadata = {};
  const UniqueDocument document = parse(data);
  if (!document) return false;
  const xmlNode* body = soap_body(document.get(), nullptr);
  metadata.manufacturer = text_of(descendant(body, kDevicesProfileNs, "Manufacturer"));
  metadata.model_name = text_of(descendant(body, kDevicesProfileNs, "ModelName"));
  metadata.model_number = text_of(descendant(body, kDevicesProfileNs, "ModelNumber"));
  metadata.friendly_name = text_of(descendant(body, kDevicesProfileNs, "FriendlyName"));
  return !metadata.manufacturer.empty() || !metadata.model_name.empty() || !metadata.model_number.empty() ||
         !metadata.friendly_name.empty();
}

}  // namespace lumora
