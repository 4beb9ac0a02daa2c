#include "discovery/scanner_census.h"

#include <algorithm>
#include <string_view>

namespace lumora {
namespace {

constexpr std::size_t kIppIndex = 2;  // "_ipp._tcp": a scanner only with "Scan=T"

MdnsName service_type_name(std::size_t index) {
  const std::string_view type = kScannerServiceTypes[index];
  const std::size_t dot = type.find('.');
  return mdns_name({type.substr(0, dot), type.substr(dot + 1), "local"});
}

bool same_text_ignoring_case(std::string_view a, std::string_view b) {
  return mdns_name({a}).key() == mdns_name({b}).key();
}

// The index in kScannerServiceTypes of the type that name is, or kScannerServiceTypes.size().
std::size_t service_type_index(const MdnsName& name) {
  const std::string key = name.key();
  for (std::size_t i = 0; i < kScannerServiceTypes.size(); ++i) {
    if (service_type_name(i).key() == key) return i;
  }
  return kScannerServiceTypes.size();
}

// The key of the name without its first label: the type an instance name stands under.
std::string parent_key(const MdnsName& name) {
  MdnsName parent;
  parent.labels.assign(name.labels.begin() + 1, name.labels.end());
  return parent.key();
}

}  // namespace

std::vector<MdnsQuestion> scanner_browse_questions() {
  std::vector<MdnsQuestion> questions;
  questions.reserve(kScannerServiceTypes.size());
  for (std::size_t i = 0; i < kScannerServiceTypes.size(); ++i) {
    questions.push_back({service_type_name(i), MdnsType::kPtr});
  }
  return questions;
}

void ScannerCensus::take(const MdnsRecord& record) {
  switch (record.type) {
    case MdnsType::kPtr: {
      const std::size_t type_index = service_type_index(record.owner);
      if (type_index == kScannerServiceTypes.size() || record.target.labels.size() < 2) return;
      if (parent_key(record.target) != record.owner.key()) return;
      const std::string key = record.target.key();
      if (instance_index_.count(key) != 0 || instances_.size() >= kInstanceLimit) return;
      instance_index_.emplace(key, instances_.size());
      Instance instance;
      instance.type_index = type_index;
      instance.name = record.target;
      instances_.push_back(std::move(instance));
      return;
    }
    case MdnsType::kSrv: {
      const auto found = instance_index_.find(record.owner.key());
      if (found == instance_index_.end()) return;
      Instance& instance = instances_[found->second];
      if (instance.has_srv) return;
      instance.has_srv = true;
      instance.port = record.port;
      instance.host = record.target;
      return;
    }
    case MdnsType::kTxt: {
      const auto found = instance_index_.find(record.owner.key());
      if (found == instance_index_.end()) return;
      Instance& instance = instances_[found->second];
      if (instance.has_txt) return;
      instance.has_txt = true;
      // RFC 6763, section 6.4: keys compare without case, and the first of a key counts.
      bool seen_ty = false;
      bool seen_mdl = false;
      bool seen_scan = false;
      for (const std::string& entry : record.strings) {
        const std::size_t equals = entry.find('=');
        const std::string_view key = std::string_view(entry).substr(0, equals);
        const std::string_view value =
            equals == std::string::npos ? std::string_view() : std::string_view(entry).substr(equals + 1);
        if (same_text_ignoring_case(key, "ty") && !seen_ty) {
          seen_ty = true;
          instance.ty = value;
        } else if (same_text_ignoring_case(key, "usb_MDL") && !seen_mdl) {
          seen_mdl = true;
          instance.usb_mdl = value;
        } else if (same_text_ignoring_case(key, "Scan") && !seen_scan) {
          seen_scan = true;
          instance.scan = same_text_ignoring_case(value, "T");
        }
      }
      return;
    }
    case MdnsType::kA: {
      const std::string key = record.owner.key();
      auto found = addresses_.find(key);
      if (found == addresses_.end()) {
        if (addresses_.size() >= kHostLimit) return;
        found = addresses_.emplace(key, std::vector<std::array<std::uint8_t, 4>>()).first;
      }
      auto& list = found->second;
      if (list.size() >= kAddressesPerHost ||
          std::find(list.begin(), list.end(), record.address) != list.end()) {
        return;
      }
      list.push_back(record.address);
      return;
    }
  }
}

std::vector<MdnsQuestion> ScannerCensus::missing_questions() const {
  std::vector<MdnsQuestion> questions;
  std::set<std::string> hosts_asked;
  for (const Instance& instance : instances_) {
    if (!instance.has_srv) questions.push_back({instance.name, MdnsType::kSrv});
    if (!instance.has_txt) questions.push_back({instance.name, MdnsType::kTxt});
    // A printer that said it does not scan needs no address.
    if (instance.has_txt && instance.type_index == kIppIndex && !instance.scan) continue;
    if (instance.has_srv && addresses_.count(instance.host.key()) == 0 &&
        hosts_asked.insert(instance.host.key()).second) {
      questions.push_back({instance.host, MdnsType::kA});
    }
  }
  return questions;
}

bool ScannerCensus::Instance::settled(
    const std::map<std::string, std::vector<std::array<std::uint8_t, 4>>>& addresses) const {
  if (!has_srv || !has_txt) return false;
  return (type_index == kIppIndex && !scan) || addresses.count(host.key()) != 0;
}

std::vector<FoundScanner> ScannerCensus::take_ready(bool last) {
  std::set<std::string> waiting;  // label keys with an instance not settled
  if (!last) {
    for (const Instance& instance : instances_) {
      if (!instance.settled(addresses_)) waiting.insert(mdns_name({instance.name.labels.front()}).key());
    }
  }
  struct Batch {
    FoundScanner scanner;
    std::vector<std::size_t> type_indexes;
    std::vector<std::uint16_t> ports;
  };
  std::vector<Batch> batch;
  std::map<std::string, std::size_t> batch_index;
  for (const Instance& instance : instances_) {
    if (!instance.has_srv || !instance.has_txt) continue;
    if (instance.type_index == kIppIndex && !instance.scan) continue;
    const auto addresses = addresses_.find(instance.host.key());
    if (addresses == addresses_.end()) continue;
    const std::string& label = instance.name.labels.front();
    if (waiting.count(mdns_name({label}).key()) != 0) continue;
    for (const auto& address : addresses->second) {
      std::string key = mdns_name({label}).key();
      key.append(address.begin(), address.end());
      if (handed_out_.count(key) != 0) continue;
      auto [entry, fresh] = batch_index.emplace(key, batch.size());
      if (fresh) {
        Batch next;
        next.scanner.instance = label;
        next.scanner.host = instance.host.text();
        next.scanner.address = address;
        next.scanner.ty = instance.ty;
        next.scanner.usb_mdl = instance.usb_mdl;
        batch.push_back(std::move(next));
      }
      Batch& item = batch[entry->second];
      if (item.scanner.ty.empty()) item.scanner.ty = instance.ty;
      if (item.scanner.usb_mdl.empty()) item.scanner.usb_mdl = instance.usb_mdl;
      if (std::find(item.type_indexes.begin(), item.type_indexes.end(), instance.type_index) ==
          item.type_indexes.end()) {
        item.type_indexes.push_back(instance.type_index);
        item.ports.push_back(instance.port);
      }
    }
  }
  std::vector<FoundScanner> ready;
  for (const auto& entry : batch_index) handed_out_.insert(entry.first);
  for (Batch& item : batch) {
    // Services and port in the order of kScannerServiceTypes, eSCL first.
    std::size_t first = 0;
    for (std::size_t i = 0; i < item.type_indexes.size(); ++i) {
      if (item.type_indexes[i] < item.type_indexes[first]) first = i;
    }
    item.scanner.port = item.ports[first];
    std::sort(item.type_indexes.begin(), item.type_indexes.end());
    for (const std::size_t type : item.type_indexes) {
      item.scanner.services.emplace_back(kScannerServiceTypes[type]);
    }
    ready.push_back(std::move(item.scanner));
  }
  return ready;
}

}  // namespace lumora
