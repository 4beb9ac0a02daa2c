#include "discovery/mdns_message.h"

#include <ldns/ldns.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <span>

namespace lumora {
namespace {

struct PacketFree {
  void operator()(ldns_pkt* packet) const { ldns_pkt_free(packet); }
};
using UniquePacket = std::unique_ptr<ldns_pkt, PacketFree>;

struct RdfFree {
  void operator()(ldns_rdf* rdf) const { ldns_rdf_deep_free(rdf); }
};
using UniqueRdf = std::unique_ptr<ldns_rdf, RdfFree>;

struct RrFree {
  void operator()(ldns_rr* rr) const { ldns_rr_free(rr); }
};
using UniqueRr = std::unique_ptr<ldns_rr, RrFree>;

struct BytesFree {
  void operator()(std::uint8_t* bytes) const { std::free(bytes); }  // NOLINT: ldns allocates with malloc
};

// RFC 1035, section 2.3.4: a label holds at most 63 bytes, a whole name 255 with its length
// bytes and the root's.
constexpr std::size_t kLabelLimit = 63;
constexpr std::size_t kNameLimit = 255;
// The top bit of an answer's class is multicast DNS's cache-flush bit (RFC 6762, section 10.2).
constexpr unsigned kClassMask = 0x7fff;

// The name in the form ldns builds a DNAME from: each label behind its length, then the root.
UniqueRdf make_dname(const MdnsName& name) {
  std::string form;
  for (const std::string& label : name.labels) {
    if (label.empty() || label.size() > kLabelLimit) return nullptr;
    form += static_cast<char>(label.size());
    form += label;
  }
  form += '\0';
  if (form.size() > kNameLimit) return nullptr;
  return UniqueRdf(ldns_rdf_new_frm_data(LDNS_RDF_TYPE_DNAME, form.size(), form.data()));
}

bool read_name(const ldns_rdf* rdf, MdnsName& name) {
  if (rdf == nullptr || ldns_rdf_get_type(rdf) != LDNS_RDF_TYPE_DNAME) return false;
  name.labels.clear();
  const std::uint8_t count = ldns_dname_label_count(rdf);
  for (std::uint8_t i = 0; i < count; ++i) {
    const UniqueRdf label(ldns_dname_label(rdf, i));
    if (!label || ldns_rdf_size(label.get()) == 0) return false;
    const std::uint8_t* data = ldns_rdf_data(label.get());
    // The label's own length byte, held to what the rdf really carries.
    const std::size_t length = std::min<std::size_t>(data[0], ldns_rdf_size(label.get()) - 1);
    name.labels.emplace_back(reinterpret_cast<const char*>(data + 1), length);
  }
  return true;
}

// An address of the rdf type given, or false when the rdf is another or of another size.
template <std::size_t kSize>
bool read_address(const ldns_rdf* rdf, ldns_rdf_type type, std::array<std::uint8_t, kSize>& address) {
  if (ldns_rdf_get_type(rdf) != type || ldns_rdf_size(rdf) != kSize) return false;
  std::copy_n(ldns_rdf_data(rdf), kSize, address.begin());
  return true;
}

// The fields of one record, or false when its data does not have its type's shape.
bool read_record(const ldns_rr* rr, MdnsRecord& record) {
  if (!read_name(ldns_rr_owner(rr), record.owner)) return false;
  const std::size_t fields = ldns_rr_rd_count(rr);
  switch (ldns_rr_get_type(rr)) {
    case LDNS_RR_TYPE_PTR:
      record.type = MdnsType::kPtr;
      return fields == 1 && read_name(ldns_rr_rdf(rr, 0), record.target);
    case LDNS_RR_TYPE_SRV: {
      record.type = MdnsType::kSrv;
      if (fields != 4) return false;
      const ldns_rdf* port = ldns_rr_rdf(rr, 2);
      if (ldns_rdf_get_type(port) != LDNS_RDF_TYPE_INT16 || ldns_rdf_size(port) != 2) return false;
      record.port = ldns_rdf2native_int16(port);
      return read_name(ldns_rr_rdf(rr, 3), record.target);
    }
    case LDNS_RR_TYPE_TXT:
      record.type = MdnsType::kTxt;
      for (std::size_t i = 0; i < fields; ++i) {
        const ldns_rdf* text = ldns_rr_rdf(rr, i);
        if (ldns_rdf_get_type(text) != LDNS_RDF_TYPE_STR || ldns_rdf_size(text) == 0) return false;
        const std::uint8_t* data = ldns_rdf_data(text);
        const std::size_t length = std::min<std::size_t>(data[0], ldns_rdf_size(text) - 1);
        record.strings.emplace_back(reinterpret_cast<const char*>(data + 1), length);
      }
      return true;
    case LDNS_RR_TYPE_A:
      record.type = MdnsType::kA;
      return fields == 1 && read_address(ldns_rr_rdf(rr, 0), LDNS_RDF_TYPE_A, record.address);
    case LDNS_RR_TYPE_AAAA:
      record.type = MdnsType::kAaaa;
      return fields == 1 && read_address(ldns_rr_rdf(rr, 0), LDNS_RDF_TYPE_AAAA, record.address6);
    default:
      return false;
  }
}

void read_section(const ldns_rr_list* list, std::vector<MdnsRecord>& records) {
  if (list == nullptr) return;
  for (std::size_t i = 0; i < ldns_rr_list_rr_count(list); ++i) {
    const ldns_rr* rr = ldns_rr_list_rr(list, i);
    if ((ldns_rr_get_class(rr) & kClassMask) != LDNS_RR_CLASS_IN) continue;
    MdnsRecord record;
    record.ttl = ldns_rr_ttl(rr);
    if (read_record(rr, record)) records.push_back(std::move(record));
  }
}

ldns_rr_type ldns_type(MdnsType type) {
  switch (type) {
    case MdnsType::kA: return LDNS_RR_TYPE_A;
    case MdnsType::kPtr: return LDNS_RR_TYPE_PTR;
    case MdnsType::kTxt: return LDNS_RR_TYPE_TXT;
    case MdnsType::kSrv: return LDNS_RR_TYPE_SRV;
    case MdnsType::kAaaa: return LDNS_RR_TYPE_AAAA;
  }
  return LDNS_RR_TYPE_A;
}

// RFC 1035, section 4.1: the header's 12 bytes; a question's type and class after its name; a
// record's type, class, time to live and data length after its owner.
constexpr std::size_t kHeaderSize = 12;
constexpr std::size_t kQuestionFixed = 4;
constexpr std::size_t kRecordFixed = 10;

// The bytes of the name on the wire, uncompressed: each label behind its length, then the root.
std::size_t name_size(const MdnsName& name) {
  std::size_t size = 1;
  for (const std::string& label : name.labels) size += label.size() + 1;
  return size;
}

bool push_question(ldns_pkt* packet, const MdnsQuestion& question) {
  UniqueRdf owner = make_dname(question.name);
  UniqueRr rr(ldns_rr_new());
  if (!owner || !rr) return false;
  ldns_rr_set_owner(rr.get(), owner.release());
  ldns_rr_set_type(rr.get(), ldns_type(question.type));
  ldns_rr_set_class(rr.get(), LDNS_RR_CLASS_IN);
  ldns_rr_set_question(rr.get(), true);
  if (!ldns_pkt_push_rr(packet, LDNS_SECTION_QUESTION, rr.get())) return false;
  [[maybe_unused]] ldns_rr* const owned_by_packet = rr.release();
  return true;
}

// A known answer: a PTR, the only type whose answers a querier here already holds when it
// asks again (the questions for SRV, TXT and A ask only for what is missing).
bool push_known_answer(ldns_pkt* packet, const MdnsRecord& record) {
  if (record.type != MdnsType::kPtr) return true;
  UniqueRdf owner = make_dname(record.owner);
  UniqueRdf target = make_dname(record.target);
  UniqueRr rr(ldns_rr_new());
  if (!owner || !target || !rr) return false;
  ldns_rr_set_owner(rr.get(), owner.release());
  ldns_rr_set_type(rr.get(), LDNS_RR_TYPE_PTR);
  ldns_rr_set_class(rr.get(), LDNS_RR_CLASS_IN);
  ldns_rr_set_ttl(rr.get(), record.ttl);
  if (!ldns_rr_push_rdf(rr.get(), target.get())) return false;
  [[maybe_unused]] ldns_rdf* const owned_by_record = target.release();
  if (!ldns_pkt_push_rr(packet, LDNS_SECTION_ANSWER, rr.get())) return false;
  [[maybe_unused]] ldns_rr* const owned_by_packet = rr.release();
  return true;
}

// One query message: identifier 0, no flags but TC when truncated, the questions in class IN,
// the known answers in the answer section.
std::vector<std::uint8_t> query_wire(const std::vector<MdnsQuestion>& questions,
                                     std::span<const MdnsRecord> known_answers, bool truncated) {
  const UniquePacket packet(ldns_pkt_new());
  if (!packet) return {};
  ldns_pkt_set_id(packet.get(), 0);
  ldns_pkt_set_tc(packet.get(), truncated);
  for (const MdnsQuestion& question : questions) {
    if (!push_question(packet.get(), question)) return {};
  }
  for (const MdnsRecord& record : known_answers) {
    if (!push_known_answer(packet.get(), record)) return {};
  }
  std::uint8_t* wire = nullptr;
  std::size_t size = 0;
  if (ldns_pkt2wire(&wire, packet.get(), &size) != LDNS_STATUS_OK) return {};
  const std::unique_ptr<std::uint8_t, BytesFree> owned(wire);
  return {wire, wire + size};
}

}  // namespace

std::string MdnsName::text() const {
  std::string out;
  for (const std::string& label : labels) {
    if (!out.empty()) out += '.';
    out += label;
  }
  return out;
}

std::string MdnsName::key() const {
  std::string out;
  for (const std::string& label : labels) {
    // A label is at most 63 bytes long, so its length fits the one byte put before it.
    out += static_cast<char>(std::min<std::size_t>(label.size(), kLabelLimit + 1));
    for (const char byte : label) {
      out += (byte >= 'A' && byte <= 'Z') ? static_cast<char>(byte - 'A' + 'a') : byte;
    }
  }
  return out;
}

MdnsName mdns_name(std::initializer_list<std::string_view> labels) {
  MdnsName name;
  for (const std::string_view label : labels) name.labels.emplace_back(label);
  return name;
}

std::vector<std::uint8_t> make_mdns_query(const std::vector<MdnsQuestion>& questions) {
  return query_wire(questions, {}, false);
}

std::vector<std::vector<std::uint8_t>> make_mdns_queries(const std::vector<MdnsQuestion>& questions,
                                                         const std::vector<MdnsRecord>& known_answers) {
  // The sizes counted are those of uncompressed names, which ldns only makes shorter, so a
  // message counted within the limit is within it on the wire.
  std::size_t size = kHeaderSize;
  for (const MdnsQuestion& question : questions) size += name_size(question.name) + kQuestionFixed;
  std::vector<std::vector<std::uint8_t>> messages;
  std::vector<MdnsQuestion> message_questions = questions;
  std::size_t first = 0;
  for (std::size_t i = 0; i <= known_answers.size(); ++i) {
    const bool end = i == known_answers.size();
    const std::size_t record_size =
        end ? 0 : name_size(known_answers[i].owner) + kRecordFixed + name_size(known_answers[i].target);
    // A message holds at least one known answer, so a name too long for the limit still goes.
    if (!end && (size + record_size <= kMdnsQueryLimit || i == first)) {
      size += record_size;
      continue;
    }
    const std::span<const MdnsRecord> part(known_answers.data() + first, i - first);
    messages.push_back(query_wire(message_questions, part, !end));
    if (messages.back().empty()) return {};
    message_questions.clear();
    first = i;
    size = kHeaderSize + record_size;
  }
  return messages;
}

std::vector<MdnsRecord> read_mdns_response(const std::uint8_t* data, std::size_t size) {
  std::vector<MdnsRecord> records;
  ldns_pkt* parsed = nullptr;
  if (ldns_wire2pkt(&parsed, data, size) != LDNS_STATUS_OK) {
    ldns_pkt_free(parsed);
    return records;
  }
  const UniquePacket packet(parsed);
  if (!ldns_pkt_qr(packet.get())) return records;
  read_section(ldns_pkt_answer(packet.get()), records);
  read_section(ldns_pkt_additional(packet.get()), records);
  return records;
}

}  // namespace lumora
