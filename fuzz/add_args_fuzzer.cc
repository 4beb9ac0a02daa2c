// The add command's argument handling on an arbitrary argument vector (the input cut at each
// NUL): the four key=value reads with the capacities the add command gives them, the name and
// address checks against plain reference versions, and the command key of every word.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "frontend/dispatch.h"
#include "fuzz_support.h"
#include "registry/add_device.h"

using lumora::fuzz::fail;

namespace {

struct Key {
  const char* key;
  std::size_t capacity;
};

// The add command reads the model one byte into a 64-byte buffer and two bytes short.
constexpr Key kKeys[] = {{"name=", 64}, {"model=", 62}, {"ip=", 30}, {"nodename=", 64}};
constexpr char kFill = '\x7f';

bool ref_valid_name(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '_';
    if (!ok) return false;
  }
  return true;
}

// Four non-empty runs of decimal digits, each worth 0 to 255, joined by single dots.
bool ref_valid_ipv4(std::string_view text) {
  int runs = 0;
  std::size_t i = 0;
  for (;;) {
    std::size_t digits = 0;
    unsigned value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      if (value <= 255) value = value * 10 + static_cast<unsigned>(text[i] - '0');
      ++digits;
      ++i;
    }
    if (digits == 0 || value > 255) return false;
    ++runs;
    if (i == text.size()) return runs == 4;
    if (text[i] != '.' || runs == 4) return false;
    ++i;
  }
}

std::int32_t ref_command_key(std::string_view word) {
  if (word.empty()) return 0;
  std::int32_t key = static_cast<unsigned char>(word[0]) * 256;
  if (word.size() >= 2) key += static_cast<unsigned char>(word[1]);
  if (word.size() >= 3) key = key * 256 + static_cast<unsigned char>(word[2]);
  return key;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> words = lumora::fuzz::split_at_nul(data, size);
  // Each argument in its own exactly sized block, as the kernel lays them out back to back.
  std::vector<std::unique_ptr<char[]>> storage;
  std::vector<char*> argv;
  for (const std::string& word : words) {
    storage.push_back(std::make_unique<char[]>(word.size() + 1));
    std::memcpy(storage.back().get(), word.c_str(), word.size() + 1);
    argv.push_back(storage.back().get());
  }
  argv.push_back(nullptr);
  const int argc = static_cast<int>(words.size());

  std::vector<std::string> values;
  for (const Key& key : kKeys) {
    auto dest = std::make_unique<char[]>(key.capacity);
    std::memset(dest.get(), kFill, key.capacity);
    lumora::get_arg_value(argc, argv.data(), key.key, dest.get(), key.capacity);

    const std::string* match = nullptr;
    for (const std::string& word : words) {
      if (word.compare(0, std::strlen(key.key), key.key) == 0) {
        match = &word;
        break;
      }
    }
    if (match == nullptr) {
      for (std::size_t i = 0; i < key.capacity; ++i) {
        if (dest[i] != kFill) fail("get_arg_value wrote without a matching argument", key.key);
      }
      continue;
    }
    std::string expected = match->substr(std::strlen(key.key));
    expected = expected.substr(0, expected.find_first_of(" \t"));
    if (expected.size() > key.capacity - 1) expected.resize(key.capacity - 1);
    if (::strnlen(dest.get(), key.capacity) >= key.capacity) fail("value unterminated", key.key);
    if (expected != dest.get()) fail("get_arg_value read another value", key.key);
    values.emplace_back(dest.get());
  }

  std::vector<std::string> checked = values;
  checked.insert(checked.end(), words.begin(), words.end());
  for (const std::string& text : checked) {
    if ((lumora::is_valid_name(text.c_str()) == 1) != ref_valid_name(text)) {
      fail("is_valid_name disagrees with the reference", text);
    }
    const std::int32_t ip = lumora::is_valid_ipv4(text.c_str());
    if (ip != 0 && ip != 1) fail("is_valid_ipv4 returned neither 0 nor 1");
    if ((ip == 1) != ref_valid_ipv4(text)) fail("is_valid_ipv4 disagrees with the reference", text);
  }
  for (const std::string& word : words) {
    if (lumora::command_key(word.c_str()) != ref_command_key(word)) {
      fail("command_key disagrees with the reference", word);
    }
  }
  if (lumora::is_valid_name(nullptr) != 0 || lumora::is_valid_ipv4(nullptr) != 0 ||
      lumora::command_key(nullptr) != 0) {
    fail("a null argument was accepted");
  }
  return 0;
}
