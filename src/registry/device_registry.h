// The device configuration file as the tool reads it: one registered scanner (DeviceEntry),
// the reading of one line (widening its commas, telling its kind, scanning a device line or
// the log line into the backend's log settings), and the DeviceRegistry, the devices read
// from the file with the lookups through which the other commands see them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string_view>

// The backend's log settings as the device file's log line gives them. Only the reader of the
// file writes them; they are exported by name for the backend's own use.
inline constexpr std::size_t kLogFileSize = 260;

extern "C" {
extern char g_logfile[kLogFileSize];
extern std::int32_t g_loglevel;
extern char g_logmode;
}

namespace lumora {

inline constexpr std::size_t kDeviceTextSize = 64;  // 63 characters and the terminator

// Fields in memory order; a device line holds them as name, model, id, address.
struct DeviceEntry {
  char name[kDeviceTextSize];
  char model[kDeviceTextSize];     // with its double quotes
  char ip[kDeviceTextSize];        // IP-ADDRESS= lines only
  char nodename[kDeviceTextSize];  // NODENAME= lines only
  char id[kDeviceTextSize];        // "0x%x:0x%x" or "Unknown"
  DeviceEntry* next;
};

// Selects one text field of a DeviceEntry; any other value selects nothing.
enum DeviceField : std::uint8_t {
  kDeviceName = 0,
  kDeviceModel = 1,
  kDeviceIp = 2,
  kDeviceNodename = 3,
  kDeviceId = 4,
};

// The field that selector picks, or null for a selector above 4.
const char* device_field(const DeviceEntry& entry, unsigned selector);

// Reading one line.

// The read limit of the backend's reader of this file (fgets' count: 276 characters and the
// terminator): fixed by the format, so that both sides cut an over-long line into the same
// pieces.
inline constexpr std::size_t kDeviceLineReadLimit = 277;
// The backend's line buffer, fixed with the read limit: it holds a piece after the comma step,
// its 276 characters, the six blanks widening three commas adds and the terminator (283).
inline constexpr std::size_t kDeviceLineBufferSize = 296;

// Turns each of the first three commas of line into " , ". The scan stops at the length the
// line had before the step, so once c commas were widened it ends 2c characters short of the
// new end and a comma standing there stays as it is. line must have room for six more bytes.
void widen_commas(char* line);

enum class DeviceLineKind : std::uint8_t { kSkipped, kLog, kDevice };

DeviceLineKind classify_device_line(const char* line);

// Fills name, model, id and ip or nodename from a device line; fields the line does not
// supply stay as they were (empty in a fresh entry).
void scan_device_line(const char* line, DeviceEntry& entry);

// The same fields as the line holds them, none cut: a piece of the file after the comma step
// fits the reader's line buffer, and so does every word of it. What the reader keeps of each
// is its first kDeviceTextSize - 1 bytes.
struct DeviceLineWords {
  char name[kDeviceLineBufferSize];
  char model[kDeviceLineBufferSize];
  char ip[kDeviceLineBufferSize];
  char nodename[kDeviceLineBufferSize];
  char id[kDeviceLineBufferSize];
};

// scan_device_line into fields that cut nothing.
void scan_device_words(const char* line, DeviceLineWords& words);

// Applies a log line to g_logfile, g_loglevel and g_logmode; a setting the line does not
// reach keeps its value.
void apply_log_line(const char* line);

// The DeviceRegistry.

// Reads the device configuration file and appends an entry for each device line, applying
// log lines to the log settings on the way. Returns the number of entries appended, or -1
// when the file cannot be opened, is no regular file (a FIFO is never waited on), or an
// entry cannot be allocated (the entries read before
// then stay). Called only while the registry is empty.
std::int32_t load_net_devices();

// load_net_devices on a file of the caller's choice; the lookups only ever load kConfigFile.
// A read that fails part way also gives -1, keeping the entries read before.
std::int32_t load_net_devices_from(const char* path);

enum class DeviceFileRead : std::uint8_t {
  kRead,     // read to its end (it may hold no device)
  kMissing,  // no such file: nothing is registered
  kFailed,   // it exists but could not be opened or read whole, or is no regular file
};

// Loads the registry from kConfigFile as load_net_devices does, telling a missing file, the
// one failure that means "nothing registered", from a file that could not be read. Called
// only while the registry is empty.
DeviceFileRead read_net_devices();

// One piece of the file as the reader took it, for a caller that reports on the file.
struct DevicePiece {
  std::size_t line;        // the file's line it belongs to, 1 for the first
  std::size_t piece;       // 0 for the first read of a line, 1 for the next ...
  std::string_view bytes;  // as read, NUL bytes and the line feed (when it holds it) included
  const char* text;        // what the reader classified: the piece after the comma step, up to
                           // its first NUL
  DeviceLineKind kind;
  const DeviceEntry* entry;  // the entry appended for a device piece, else null
};

using DevicePieceHandler = std::function<void(const DevicePiece&)>;

// The reading itself, from an open stream: appends an entry for each device line and applies
// the log lines; appended counts the entries added, whatever the outcome. on_piece, when
// given, is told of every piece once the reader is done with it.
DeviceFileRead read_device_stream(std::FILE* file, std::int32_t& appended,
                                  const DevicePieceHandler& on_piece = {});

// The reading of path into the registry (a regular file, never waited on), as
// read_net_devices does it for kConfigFile.
DeviceFileRead read_device_file(const char* path, std::int32_t& appended,
                                const DevicePieceHandler& on_piece = {});

// Number of registered devices; loads the registry first while it is empty.
std::int32_t count_net_devices();

// Copies field `field` of the device at `index` (0 is the first line of the file) into buffer
// (`length` bytes, always terminated, the rest NUL-filled). Returns buffer, or null when
// there is no such device or field or the field is empty; the buffer is then emptied.
char* get_net_device_field(std::int32_t index, unsigned field, char* buffer, std::int32_t length);

// As get_net_device_field, for the first device whose name equals `name` exactly. When no
// device is registered the buffer is left as it was.
char* find_net_device_field(const char* name, unsigned field, char* buffer, std::int32_t length);

// Frees every entry, so that the next lookup reads the file again. Returns 0.
std::int32_t free_net_devices();

// The first entry, or null while the registry is empty (not loaded).
const DeviceEntry* first_net_device();

// The registry is process-wide: a user of it starts from an empty one and leaves none behind,
// on every path, so that a later lookup in the process reads the file again.
class ScopedDeviceList {
 public:
  ScopedDeviceList() { free_net_devices(); }
  ~ScopedDeviceList() { free_net_devices(); }
  ScopedDeviceList(const ScopedDeviceList&) = delete;
  ScopedDeviceList& operator=(const ScopedDeviceList&) = delete;
};

}  // namespace lumora
