// The device file reader on arbitrary file contents, then every lookup on what it read. The
// lookups load the built-in configuration file when the registry is empty, so they only run
// while it holds entries; the host's own file is never read.
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

void check_result(const char* result, const char* buffer, std::int32_t length) {
  if (result == nullptr) {
    if (buffer[0] != '\0') fail("a failed lookup left text in the buffer");
    return;
  }
  if (result != buffer) fail("a lookup returned something other than the buffer");
  if (::strnlen(buffer, static_cast<std::size_t>(length)) >= static_cast<std::size_t>(length)) {
    fail("a lookup left the buffer unterminated");
  }
  // A one-byte buffer holds only the terminator even for a field that is there.
  if (buffer[0] == '\0' && length > 1) fail("a lookup succeeded with an empty field");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static lumora::fuzz::MemFile file;
  file.set(data, size);

  const std::int32_t appended = lumora::load_net_devices_from(file.path().c_str());
  if (appended < 0) fail("the reader failed on a readable file");
  if (lumora::first_net_device() == nullptr) {
    if (appended != 0) fail("entries appended but the registry is empty");
    return 0;
  }

  const std::int32_t count = lumora::count_net_devices();
  if (count != appended) fail("count differs from the number of entries read");

  for (std::int32_t index = -1; index <= count; ++index) {
    for (unsigned field = 0; field < kFieldsTried; ++field) {
      for (std::int32_t length : kLengths) {
        auto buffer = std::make_unique<char[]>(static_cast<std::size_t>(length));
        std::memset(buffer.get(), 'x', static_cast<std::size_t>(length));
        const char* result = lumora::get_net_device_field(index, field, buffer.get(), length);
        check_result(result, buffer.get(), length);
        if ((index < 0 || index == count || field > 4) && result != nullptr) {
          fail("a lookup found a device or field that does not exist");
        }
      }
    }
  }

  std::vector<std::string> names = lumora::fuzz::words_of(data, size, " \t\n,=", kMaxNamesTried);
  for (const lumora::DeviceEntry* entry = lumora::first_net_device(); entry != nullptr;
       entry = entry->next) {
    names.emplace_back(entry->name, ::strnlen(entry->name, sizeof entry->name));
  }
  names.emplace_back();
  names.emplace_back(200, 'n');
  for (const std::string& name : names) {
    for (unsigned field = 0; field < kFieldsTried; ++field) {
      for (std::int32_t length : kLengths) {
        auto buffer = std::make_unique<char[]>(static_cast<std::size_t>(length));
        std::memset(buffer.get(), 'x', static_cast<std::size_t>(length));
        const char* result = lumora::find_net_device_field(name.c_str(), field, buffer.get(), length);
        check_result(result, buffer.get(), length);
        if (name.empty() && result != nullptr) fail("the empty name found a device");
        if (result != nullptr && field == 0 &&
            std::strncmp(buffer.get(), name.c_str(), static_cast<std::size_t>(length) - 1) != 0) {
          fail("find returned a device of another name");
        }
      }
    }
  }

  if (lumora::free_net_devices() != 0) fail("free_net_devices returned non-zero");
  if (lumora::first_net_device() != nullptr) fail("the registry is not empty after free");
  return 0;
}
