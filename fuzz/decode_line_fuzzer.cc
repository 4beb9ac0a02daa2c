// decode_line and decode_sub on arbitrary bytes. The line sits in a heap block of exactly the
// input's size plus a terminator, so the address sanitizer sees any write past it; the bytes
// after the line's own terminator (the input may hold NULs) must come back untouched too.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "netconfig/scramble.h"

using lumora::fuzz::fail;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto line = std::make_unique<char[]>(size + 1);
  std::memcpy(line.get(), data, size);
  line[size] = '\0';
  const std::string before(line.get(), size + 1);
  const std::size_t length = std::strlen(line.get());

  const int result = lumora::decode_line(line.get());
  if (result != 0 && result != -1) fail("decode_line returned neither 0 nor -1");
  if (result == -1) {
    if (length <= lumora::kDecodeLineLimit) fail("decode_line refused a line within the limit");
    if (std::memcmp(line.get(), before.data(), size + 1) != 0) fail("a refused line was changed");
  } else {
    if (length > lumora::kDecodeLineLimit) fail("decode_line accepted an over-long line");
    if (std::strlen(line.get()) > length) fail("the decoded line is longer than the input");
    if (std::memcmp(line.get() + length + 1, before.data() + length + 1, size - length) != 0) {
      fail("decode_line wrote past the line's terminator");
    }
  }

  // decode_sub into a destination of exactly the documented size.
  auto source = std::make_unique<char[]>(length + 1);
  std::memcpy(source.get(), before.data(), length + 1);
  auto destination = std::make_unique<char[]>(length + 1);
  if (lumora::decode_sub(source.get(), destination.get()) != 0) fail("decode_sub returned non-zero");
  if (std::strlen(destination.get()) > length) fail("decode_sub output longer than its source");
  if (result == 0 && std::strcmp(destination.get(), line.get()) != 0) {
    fail("decode_line and decode_sub disagree");
  }
  return 0;
}
