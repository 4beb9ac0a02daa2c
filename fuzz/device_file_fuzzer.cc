// The device file reader on arbitrary file contents, then the lookups on what it read, each
// result compared with the entry the reader made. The lookups load the built-in configuration
// file when the registry is empty, so they only run while it holds entries; the host's own
// file is never read.
//
// Cost per input stays linear in its size: every lookup walks the list, so trying every index
// and every entry's name would make an input of n lines cost n * n walks and the run slow down
// as the corpus grows. The walk and the copy are the same code for every entry; what differs is
// where an entry sits, so the entries at both ends stand for the rest. The scripts run it with
// the flags in device_file.flags (-max_len=1024), which keep even a file of nothing but
// three-byte device lines at about a millisecond.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "registry/device_registry.h"

using lumora::fuzz::fail;

namespace {

// Buffer sizes the callers use (1 and 2 exercise the always-terminated cut) and the entry size.
constexpr std::int32_t kLengths[] = {1, 2, 7, 64};
constexpr unsigned kFieldsTried = 6;  // five fields and one that does not exist
constexpr std::size_t kMaxNamesTried = 24;
constexpr std::int32_t kEndEntriesTried = 4;  // at the head and at the tail of the list
constexpr char kFill = 'x';

// One buffer of each size for the whole run, each allocated at exactly its size so that
// AddressSanitizer still catches a write past its end.
struct Buffer {
  std::int32_t length;
  std::unique_ptr<char[]> bytes;
};

std::vector<Buffer> make_buffers() {
  std::vector<Buffer> buffers;
  for (std::int32_t length : kLengths) {
    buffers.push_back({length, std::make_unique<char[]>(static_cast<std::size_t>(length))});
  }
  return buffers;
}

// The field as the entry holds it, or null for a selector that names no field; written out
// here rather than taken from device_field so that the lookups' own selector is checked too.
const char* field_of(const lumora::DeviceEntry& entry, unsigned field) {
  switch (field) {
    case 0: return entry.name;
    case 1: return entry.model;
    case 2: return entry.ip;
    case 3: return entry.nodename;
    case 4: return entry.id;
    default: return nullptr;
  }
}

// A lookup must give back the field of the entry it should have found (null when there is no
// such entry) cut to the buffer, terminated and NUL-filled, or null with an empty buffer when
// the field is missing or empty.
void check_result(const char* result, const char* buffer, std::int32_t length,
                  const lumora::DeviceEntry* expected_entry, unsigned field) {
  const std::size_t size = static_cast<std::size_t>(length);
  const char* text = expected_entry == nullptr ? nullptr : field_of(*expected_entry, field);
  const std::size_t text_size = text == nullptr ? 0 : ::strnlen(text, lumora::kDeviceTextSize);
  if (text_size == lumora::kDeviceTextSize) fail("the reader left a field unterminated");
  if (result == nullptr) {
    if (buffer[0] != '\0') fail("a failed lookup left text in the buffer");
    if (text_size != 0) fail("a lookup missed a field that is there");
    return;
  }
  if (result != buffer) fail("a lookup returned something other than the buffer");
  if (text_size == 0) fail("a lookup found a device or field that does not exist");
  // A one-byte buffer holds only the terminator even for a field that is there.
  const std::size_t kept = text_size < size - 1 ? text_size : size - 1;
  if (std::memcmp(buffer, text, kept) != 0) fail("a lookup copied another text than the field's");
  for (std::size_t i = kept; i < size; ++i) {
    if (buffer[i] != '\0') fail("a lookup left the buffer's tail unterminated or not NUL-filled");
  }
}

// -1 and the count name no entry, nor do the extremes, which a walk must not wrap on.
std::vector<std::int32_t> indices_to_try(std::int32_t count) {
  std::vector<std::int32_t> indices = {INT32_MIN, -1};
  for (std::int32_t index = 0; index < count; ++index) {
    if (index == kEndEntriesTried && count - kEndEntriesTried > index) {
      index = count - kEndEntriesTried;
    }
    indices.push_back(index);
  }
  indices.push_back(count);
  indices.push_back(INT32_MAX);
  return indices;
}

// find must give the first entry of that name; entries without a name are never found.
const lumora::DeviceEntry* first_named(const std::vector<const lumora::DeviceEntry*>& entries,
                                       const std::string& name) {
  if (name.empty() || name.size() >= lumora::kDeviceTextSize) return nullptr;
  for (const lumora::DeviceEntry* entry : entries) {
    if (std::strncmp(entry->name, name.c_str(), lumora::kDeviceTextSize) == 0) return entry;
  }
  return nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static lumora::fuzz::MemFile file;
  static std::vector<Buffer> buffers = make_buffers();
  file.set(data, size);

  const std::int32_t appended = lumora::load_net_devices_from(file.path().c_str());
  if (appended < 0) fail("the reader failed on a readable file");
  if (lumora::first_net_device() == nullptr) {
    if (appended != 0) fail("entries appended but the registry is empty");
    return 0;
  }

  std::vector<const lumora::DeviceEntry*> entries;
  for (const lumora::DeviceEntry* entry = lumora::first_net_device(); entry != nullptr;
       entry = entry->next) {
    entries.push_back(entry);
  }
  const std::int32_t count = lumora::count_net_devices();
  if (count != appended) fail("count differs from the number of entries read");
  if (static_cast<std::size_t>(count) != entries.size()) fail("count differs from the list");

  for (std::int32_t index : indices_to_try(count)) {
    const lumora::DeviceEntry* entry =
        index >= 0 && index < count ? entries[static_cast<std::size_t>(index)] : nullptr;
    for (unsigned field = 0; field < kFieldsTried; ++field) {
      for (Buffer& buffer : buffers) {
        std::memset(buffer.bytes.get(), kFill, static_cast<std::size_t>(buffer.length));
        const char* result =
            lumora::get_net_device_field(index, field, buffer.bytes.get(), buffer.length);
        check_result(result, buffer.bytes.get(), buffer.length, entry, field);
      }
    }
  }

  std::vector<std::string> names = lumora::fuzz::words_of(data, size, " \t\n,=", kMaxNamesTried);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (i == static_cast<std::size_t>(kEndEntriesTried) &&
        entries.size() - static_cast<std::size_t>(kEndEntriesTried) > i) {
      i = entries.size() - static_cast<std::size_t>(kEndEntriesTried);
    }
    names.emplace_back(entries[i]->name, ::strnlen(entries[i]->name, sizeof entries[i]->name));
  }
  names.emplace_back();
  names.emplace_back(200, 'n');
  // A name tried twice checks nothing new; inputs are full of repeated words.
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  for (const std::string& name : names) {
    const lumora::DeviceEntry* entry = first_named(entries, name);
    for (unsigned field = 0; field < kFieldsTried; ++field) {
      for (Buffer& buffer : buffers) {
        std::memset(buffer.bytes.get(), kFill, static_cast<std::size_t>(buffer.length));
        const char* result =
            lumora::find_net_device_field(name.c_str(), field, buffer.bytes.get(), buffer.length);
        if (name.empty() && result != nullptr) fail("the empty name found a device");
        check_result(result, buffer.bytes.get(), buffer.length, entry, field);
      }
    }
  }

  if (lumora::free_net_devices() != 0) fail("free_net_devices returned non-zero");
  if (lumora::first_net_device() != nullptr) fail("the registry is not empty after free");
  return 0;
}
