#include "discovery/scanner_census.h"

#include <algorithm>
#include <string_view>

namespace lumora {
namespace {

MdnsName service_type_name(std::size_t index) {
  const std::string_view type = kDeviceServiceTypes[index];
  const std::size_t dot = type.find('.');
  return mdns_name({type.substr(0, dot), type.substr(dot + 1), "local"});
}

bool same_text_ignoring_case(std::string_view a, std::string_view b) {
  return mdns_name({a}).key() == mdns_name({b}).key();
}

// The index in kDeviceServiceTypes of the type that name is, or kDeviceServiceTypes.size().
std::size_t service_type_index(const MdnsName& name) {
  const std::string key = name.key();
  for (std::size_t i = 0; i < kDeviceServiceTypes.size(); ++i) {
    if (service_type_name(i).key() == key) return i;
  }
  return kDeviceServiceTypes.size();
}

// The key of the name without its first label: the type an instance name stands under.
std::string parent_key(const MdnsName& name) {
  MdnsName parent;
  parent.labels.assign(name.labels.begin() + 1, name.labels.end());
  return parent.key();
}

// A key of a name on one link. A name's key ends where its labels do, so the root byte put
// after it keeps every key with its link apart from every other.
std::string linked_key(const MdnsName& name, unsigned link) {
  std::string key = name.key();
  key += '\0';
  key.append(std::to_string(link));
  return key;
}

std::string label_key(const MdnsName& instance) { return mdns_name({instance.labels.front()}).key(); }

// An address record taken into the addresses of its host (key), or withdrawn from them by a
// goodbye (ttl 0); a host is dropped once it has none.
template <typename AddressType>
void take_one_address(std::map<std::string, std::vector<AddressType>>& addresses, const std::string& key,
                      const AddressType& address, std::uint32_t ttl) {
  auto found = addresses.find(key);
  if (ttl == 0) {
    if (found == addresses.end()) return;
    auto& list = found->second;
    list.erase(std::remove(list.begin(), list.end(), address), list.end());
    if (list.empty()) addresses.erase(found);
    return;
  }
  if (found == addresses.end()) {
    if (addresses.size() >= ScannerCensus::kHostLimit) return;
    found = addresses.emplace(key, std::vector<AddressType>()).first;
  }
  auto& list = found->second;
  if (list.size() >= ScannerCensus::kAddressesPerHost || std::find(list.begin(), list.end(), address) != list.end()) {
    return;
  }
  list.push_back(address);
}

}  // namespace

std::vector<MdnsQuestion> device_browse_questions() {
  std::vector<MdnsQuestion> questions;
  questions.reserve(kDeviceServiceTypes.size());
  for (std::size_t i = 0; i < kDeviceServiceTypes.size(); ++i) {
    questions.push_back({service_type_name(i), MdnsType::kPtr});
  }
  return questions;
}

ScannerCensus::Instance* ScannerCensus::find_instance(const MdnsRecord& record) {
  const auto found = instance_index_.find(linked_key(record.owner, record.link));
  return found == instance_index_.end() ? nullptr : &instances_[found->second];
}

void ScannerCensus::take_ptr(const MdnsRecord& record, Clock::time_point at) {
  const std::size_t type_index = service_type_index(record.owner);
  if (type_index == kDeviceServiceTypes.size() || record.target.labels.size() < 2) return;
  if (parent_key(record.target) != record.owner.key()) return;
  const std::string key = linked_key(record.target, record.link);
  const auto known = instance_index_.find(key);
  if (known != instance_index_.end()) {
    Instance& instance = instances_[known->second];
    if (record.ttl == 0) {
      instance.withdrawn = true;
      instance_index_.erase(known);
    } else {
      instance.ptr_ttl = record.ttl;
      instance.ptr_at = at;
    }
    return;
  }
  if (record.ttl == 0 || instances_.size() >= kInstanceLimit) return;
  instance_index_.emplace(key, instances_.size());
  Instance instance;
  instance.type_index = type_index;
  instance.name = record.target;
  instance.link = record.link;
  instance.ptr_ttl = record.ttl;
  instance.ptr_at = at;
  instances_.push_back(std::move(instance));
}

void ScannerCensus::take_address(const MdnsRecord& record) {
  const std::string key = linked_key(record.owner, record.link);
  if (record.type == MdnsType::kAaaa) {
    take_one_address(addresses6_, key, record.address6, record.ttl);
  } else {
    take_one_address(addresses_, key, record.address, record.ttl);
  }
}

void ScannerCensus::take(const MdnsRecord& record, Clock::time_point at) {
  switch (record.type) {
    case MdnsType::kPtr:
      take_ptr(record, at);
      return;
    case MdnsType::kSrv: {
      Instance* instance = find_instance(record);
      if (instance == nullptr) return;
      if (record.ttl == 0) {
        instance->has_srv = false;
      } else if (!instance->has_srv) {
        instance->has_srv = true;
        instance->port = record.port;
        instance->host = record.target;
      }
      return;
    }
    case MdnsType::kTxt: {
      Instance* instance = find_instance(record);
      if (instance == nullptr || (instance->has_txt && record.ttl != 0)) return;
      instance->has_txt = record.ttl != 0;
      instance->ty.clear();
      instance->usb_mdl.clear();
      instance->product.clear();
      instance->scan = false;
      if (!instance->has_txt) return;
      // RFC 6763, section 6.4: keys compare without case, and the first of a key counts.
      struct Key {
        const char* name;
        std::string* value;
        bool seen = false;
      };
      std::string scan;
      std::array<Key, 4> keys = {{{"ty", &instance->ty},
                                  {"usb_MDL", &instance->usb_mdl},
                                  {"product", &instance->product},
                                  {"Scan", &scan}}};
      for (const std::string& entry : record.strings) {
        const std::size_t equals = entry.find('=');
        const std::string_view name = std::string_view(entry).substr(0, equals);
        const std::string_view value =
            equals == std::string::npos ? std::string_view() : std::string_view(entry).substr(equals + 1);
        for (Key& key : keys) {
          if (key.seen || !same_text_ignoring_case(name, key.name)) continue;
          key.seen = true;
          *key.value = value;
        }
      }
      instance->scan = keys.back().seen && same_text_ignoring_case(scan, "T");
      return;
    }
    case MdnsType::kA:
    case MdnsType::kAaaa:
      take_address(record);
      return;
  }
}

std::vector<MdnsQuestion> ScannerCensus::missing_questions() const {
  std::vector<MdnsQuestion> questions;
  std::set<std::string> hosts_asked;
  for (const Instance& instance : instances_) {
    if (instance.withdrawn) continue;
    if (!instance.has_srv) questions.push_back({instance.name, MdnsType::kSrv});
    if (!instance.has_txt) questions.push_back({instance.name, MdnsType::kTxt});
    const std::string host = linked_key(instance.host, instance.link);
    if (instance.has_srv && addresses_.count(host) == 0 && hosts_asked.insert(instance.host.key()).second) {
      questions.push_back({instance.host, MdnsType::kA});
      // A host that has answered with no address at all may have IPv6 addresses alone.
      if (addresses6_.count(host) == 0) questions.push_back({instance.host, MdnsType::kAaaa});
    }
  }
  return questions;
}

std::vector<MdnsRecord> ScannerCensus::known_answers(unsigned link, Clock::time_point now) const {
  std::vector<MdnsRecord> answers;
  for (const Instance& instance : instances_) {
    if (instance.withdrawn || instance.link != link) continue;
    const auto age = std::chrono::duration_cast<std::chrono::seconds>(now - instance.ptr_at).count();
    if (age < 0 || static_cast<std::uint64_t>(age) * 2 >= instance.ptr_ttl) continue;
    MdnsRecord answer;
    answer.type = MdnsType::kPtr;
    answer.owner = service_type_name(instance.type_index);
    answer.target = instance.name;
    answer.ttl = instance.ptr_ttl - static_cast<std::uint32_t>(age);
    answers.push_back(std::move(answer));
  }
  return answers;
}

bool ScannerCensus::Instance::settled(const std::map<std::string, std::vector<Address>>& addresses) const {
  return !withdrawn && has_srv && has_txt && addresses.count(linked_key(host, link)) != 0;
}

std::vector<FoundDevice> ScannerCensus::take_ready(bool last) {
  std::set<std::string> waiting;  // label keys and links with an instance not settled
  if (!last) {
    for (const Instance& instance : instances_) {
      if (!instance.withdrawn && !instance.settled(addresses_)) {
        waiting.insert(label_key(instance.name) + '\0' + std::to_string(instance.link));
      }
    }
  }
  // The instances of each device, by label key and address, in the order first seen.
  std::vector<std::vector<const Instance*>> batch;
  std::vector<std::pair<std::string, Address>> batch_address;
  std::vector<bool> batch_has_address;
  std::map<std::string, std::size_t> batch_index;
  for (const Instance& instance : instances_) {
    const std::string host = linked_key(instance.host, instance.link);
    // Found over IPv6 alone: one device of no IPv4 address, keyed by the host's first IPv6 one.
    const bool ipv6_alone = last && !instance.withdrawn && instance.has_srv && instance.has_txt &&
                            addresses_.count(host) == 0 && addresses6_.count(host) != 0;
    if (!instance.settled(addresses_) && !ipv6_alone) continue;
    if (waiting.count(label_key(instance.name) + '\0' + std::to_string(instance.link)) != 0) continue;
    std::vector<std::pair<std::string, Address>> keyed;
    if (ipv6_alone) {
      const Address6& first = addresses6_.at(host).front();
      keyed.emplace_back(label_key(instance.name) + "/6" + std::string(first.begin(), first.end()), Address{});
    } else {
      for (const Address& address : addresses_.at(host)) {
        keyed.emplace_back(label_key(instance.name) + std::string(address.begin(), address.end()), address);
      }
    }
    for (const auto& [key, address] : keyed) {
      if (handed_out_.count(key) != 0) continue;
      const auto [entry, fresh] = batch_index.emplace(key, batch.size());
      if (fresh) {
        batch.emplace_back();
        batch_address.emplace_back(instance.name.labels.front(), address);
        batch_has_address.push_back(!ipv6_alone);
      }
      batch[entry->second].push_back(&instance);
    }
  }
  for (const auto& entry : batch_index) handed_out_.insert(entry.first);
  std::vector<FoundDevice> ready;
  for (std::size_t i = 0; i < batch.size(); ++i) {
    std::vector<const Instance*>& members = batch[i];
    // Every field from the first service type that gives it, eSCL first: which type's answer
    // came last says nothing of the device, and an empty value names no model.
    std::stable_sort(members.begin(), members.end(),
                     [](const Instance* a, const Instance* b) { return a->type_index < b->type_index; });
    FoundDevice device;
    device.instance = batch_address[i].first;
    device.address = batch_address[i].second;
    device.has_address = batch_has_address[i];
    device.host = members.front()->host.text();
    const auto ipv6 = addresses6_.find(linked_key(members.front()->host, members.front()->link));
    if (ipv6 != addresses6_.end()) device.ipv6 = ipv6->second;
    device.port = members.front()->port;
    for (const Instance* member : members) {
      const std::string type = kDeviceServiceTypes[member->type_index];
      if (std::find(device.services.begin(), device.services.end(), type) == device.services.end()) {
        device.services.push_back(type);
      }
      if (device.ty.empty()) device.ty = member->ty;
      if (device.usb_mdl.empty()) device.usb_mdl = member->usb_mdl;
      if (device.product.empty()) device.product = member->product;
      device.scan = device.scan || member->type_index < kScanningServiceTypes || member->scan;
    }
    ready.push_back(std::move(device));
  }
  return ready;
}

}  // namespace lumora
