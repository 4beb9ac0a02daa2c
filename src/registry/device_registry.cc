#include "registry/device_registry.h"

#include <sys/types.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/bounded_text.h"
#include "common/byte_io.h"
#include "common/paths.h"
#include "common/unique_file.h"

extern "C" {
char g_logfile[kLogFileSize] = {};
std::int32_t g_loglevel = 0;
char g_logmode = '\0';
}

namespace lumora {

const char* device_field(const DeviceEntry& entry, unsigned selector) {
  switch (selector) {
    case kDeviceName: return entry.name;
    case kDeviceModel: return entry.model;
    case kDeviceIp: return entry.ip;
    case kDeviceNodename: return entry.nodename;
    case kDeviceId: return entry.id;
    default: return nullptr;
  }
}

void widen_commas(char* line) {
  const std::size_t length_as_read = std::strlen(line);
  std::size_t length = length_as_read;
  std::size_t p = 0;
  for (int widened = 0; widened < 3 && p < length_as_read; ++widened) {
    // Everything before length_as_read is text still, so the search need not stop at a NUL.
    const void* comma = std::memchr(line + p, ',', length_as_read - p);
    if (comma == nullptr) break;
    p = static_cast<std::size_t>(static_cast<const char*>(comma) - line);
    std::memmove(line + p + 3, line + p + 1, length - p);  // the rest and its terminator
    line[p] = ' ';
    line[p + 1] = ',';
    line[p + 2] = ' ';
    length += 2;
    p += 3;
  }
}

DeviceLineKind classify_device_line(const char* line) {
  if (line[0] == '#' || line[0] == '[' || line[0] == '\n') return DeviceLineKind::kSkipped;
  if (std::strchr(line, '=') == nullptr) return DeviceLineKind::kSkipped;
  if (std::strncmp(line, "log=", 4) == 0) return DeviceLineKind::kLog;
  return DeviceLineKind::kDevice;
}

namespace {

// The one scan of a device line, into fields of the caller's sizes.
template <std::size_t N>
void scan_device_fields(const char* line, char (&name)[N], char (&model)[N], char (&id)[N],
                        char (&ip)[N], char (&nodename)[N]) {
  if (std::strstr(line, "IP-ADDRESS=") != nullptr) {
    bounded_scan(line, "DEVICE=%s , %s , %s , IP-ADDRESS=%s ",
                 {scan_text(name), scan_text(model), scan_text(id), scan_text(ip)});
  } else if (std::strstr(line, "NODENAME=") != nullptr) {
    bounded_scan(line, "DEVICE=%s , %s , %s , NODENAME=%s ",
                 {scan_text(name), scan_text(model), scan_text(id), scan_text(nodename)});
  }
}

}  // namespace

void scan_device_line(const char* line, DeviceEntry& entry) {
  scan_device_fields(line, entry.name, entry.model, entry.id, entry.ip, entry.nodename);
}

void scan_device_words(const char* line, DeviceLineWords& words) {
  scan_device_fields(line, words.name, words.model, words.id, words.ip, words.nodename);
}

void apply_log_line(const char* line) {
  bounded_scan(line, "log=%s , %d , %c",
               {scan_text(g_logfile), scan_int(g_loglevel), scan_char(g_logmode)});
}

namespace {

DeviceEntry* registry_head = nullptr;
DeviceEntry* registry_tail = nullptr;

void append_entry(DeviceEntry* entry) {
  if (registry_tail == nullptr) {
    registry_head = entry;
  } else {
    registry_tail->next = entry;
  }
  registry_tail = entry;
}

void ensure_loaded() {
  if (registry_head == nullptr) load_net_devices();
}

char* copy_field(const DeviceEntry& entry, unsigned field, char* buffer, std::int32_t length) {
  const char* text = device_field(entry, field);
  if (text == nullptr || text[0] == '\0') {
    buffer[0] = '\0';
    return nullptr;
  }
  // The field fills the buffer and the rest is NUL; the last byte is always a terminator, so
  // a caller with a short buffer still gets a string.
  const std::size_t size = static_cast<std::size_t>(length);
  std::strncpy(buffer, text, size);
  buffer[size - 1] = '\0';
  return buffer;
}

// Where the pieces of the file stand, for a caller told of each: a piece that ends with the
// line feed ends its line.
class PiecePlace {
 public:
  explicit PiecePlace(std::FILE* file) : file_(file), start_(::ftello(file)) {}

  // The bytes of the piece just read into line: fgets says nothing of a NUL byte it read, so
  // the length is where the stream stands now less where it stood, and never more than the
  // read limit lets fgets store (a stream that cannot tell its place gives the text's length).
  std::string_view take(const char* line) {
    const off_t end = ::ftello(file_);
    const std::size_t length = start_ >= 0 && end > start_
                                   ? static_cast<std::size_t>(end - start_)
                                   : std::strlen(line);
    start_ = end;
    return {line, std::min(length, kDeviceLineReadLimit - 1)};
  }
  // Moves on once the piece was handed out.
  void next(std::string_view bytes) {
    if (!bytes.empty() && bytes.back() == '\n') {
      ++line_;
      piece_ = 0;
    } else {
      ++piece_;
    }
  }
  std::size_t line() const { return line_; }
  std::size_t piece() const { return piece_; }

 private:
  std::FILE* file_;
  off_t start_;
  std::size_t line_ = 1;
  std::size_t piece_ = 0;
};

}  // namespace

DeviceFileRead read_device_file(const char* path, std::int32_t& appended,
                                const DevicePieceHandler& on_piece) {
  appended = 0;
  UniqueFd fd;
  switch (open_regular_file(path, fd)) {
    case RegularOpen::kMissing: return DeviceFileRead::kMissing;
    case RegularOpen::kRefused: return DeviceFileRead::kFailed;
    case RegularOpen::kOpened: break;
  }
  UniqueFile file(::fdopen(fd.get(), "r"));
  if (!file) return DeviceFileRead::kFailed;
  fd.release();  // the stream owns it now
  return read_device_stream(file.get(), appended, on_piece);
}

DeviceFileRead read_device_stream(std::FILE* file, std::int32_t& appended,
                                  const DevicePieceHandler& on_piece) {
  appended = 0;
  char line[kDeviceLineBufferSize];
  // The piece as read, kept for on_piece before the comma step moves its bytes.
  char read_bytes[kDeviceLineBufferSize];
  PiecePlace place(file);
  while (std::fgets(line, static_cast<int>(kDeviceLineReadLimit), file) != nullptr) {
    std::string_view bytes;
    if (on_piece) {
      bytes = place.take(line);
      std::memcpy(read_bytes, line, bytes.size());
      bytes = {read_bytes, bytes.size()};
    }
    widen_commas(line);
    const DeviceLineKind kind = classify_device_line(line);
    DeviceEntry* entry = nullptr;
    switch (kind) {
      case DeviceLineKind::kSkipped:
        break;
      case DeviceLineKind::kLog:
        apply_log_line(line);
        break;
      case DeviceLineKind::kDevice:
        entry = static_cast<DeviceEntry*>(std::calloc(1, sizeof(DeviceEntry)));
        if (entry == nullptr) return DeviceFileRead::kFailed;
        scan_device_line(line, *entry);
        append_entry(entry);
        ++appended;
        break;
    }
    if (on_piece) {
      on_piece({place.line(), place.piece(), bytes, line, kind, entry});
      place.next(bytes);
    }
  }
  // fgets ends alike at the end of the file and at a read error: only the stream tells them
  // apart, and a file read in part must not pass for all that is registered.
  return std::ferror(file) != 0 ? DeviceFileRead::kFailed : DeviceFileRead::kRead;
}

std::int32_t load_net_devices() { return load_net_devices_from(kConfigFile); }

std::int32_t load_net_devices_from(const char* path) {
  std::int32_t appended = 0;
  return read_device_file(path, appended) == DeviceFileRead::kRead ? appended : -1;
}

DeviceFileRead read_net_devices() {
  std::int32_t appended = 0;
  return read_device_file(kConfigFile, appended);
}

std::int32_t count_net_devices() {
  ensure_loaded();
  std::int32_t count = 0;
  for (const DeviceEntry* entry = registry_head; entry != nullptr; entry = entry->next) ++count;
  return count;
}

char* get_net_device_field(std::int32_t index, unsigned field, char* buffer, std::int32_t length) {
  if (buffer == nullptr || length <= 0) return nullptr;
  if (index < 0) {
    buffer[0] = '\0';
    return nullptr;
  }
  ensure_loaded();
  const DeviceEntry* entry = registry_head;
  for (std::int32_t i = 0; i < index && entry != nullptr; ++i) entry = entry->next;
  if (entry == nullptr) {
    buffer[0] = '\0';
    return nullptr;
  }
  return copy_field(*entry, field, buffer, length);
}

char* find_net_device_field(const char* name, unsigned field, char* buffer, std::int32_t length) {
  if (buffer == nullptr || length <= 0 || name == nullptr) return nullptr;
  ensure_loaded();
  if (registry_head == nullptr) return nullptr;
  // Every entry is searched: an entry without a name (a hand-written line the reader could
  // not scan) must not hide the devices registered below it.
  for (const DeviceEntry* entry = registry_head; entry != nullptr; entry = entry->next) {
    if (entry->name[0] != '\0' && std::strcmp(entry->name, name) == 0) {
      return copy_field(*entry, field, buffer, length);
    }
  }
  buffer[0] = '\0';
  return nullptr;
}

std::int32_t free_net_devices() {
  DeviceEntry* entry = registry_head;
  while (entry != nullptr) {
    DeviceEntry* next = entry->next;
    std::free(entry);
    entry = next;
  }
  registry_head = nullptr;
  registry_tail = nullptr;
  return 0;
}

const DeviceEntry* first_net_device() { return registry_head; }

}  // namespace lumora
