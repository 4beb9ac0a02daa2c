#include "registry/add_device.h"

#include <cstdio>
#include <cstring>

#include "catalogue/model_list.h"
#include "common/bounded_text.h"
#include "common/paths.h"
#include "registry/config_writer.h"
#include "registry/device_registry.h"

namespace lumora {

namespace {

// The buffers of the new device's settings; the DEVICE= line the backend reads holds each
// field in 64 bytes, so nothing longer is ever kept.
constexpr std::size_t kNameSize = 64;
constexpr std::size_t kModelSize = 64;     // the value (61 at most) and both quotes
constexpr std::size_t kIpSize = 30;        // the value is cut at 29 characters, then tested
constexpr std::size_t kNodenameSize = 64;
constexpr std::size_t kIdSize = 32;        // "0x%x:0x%x" of two 32-bit numbers is 21 characters
// Any registered name fits (the reader keeps 63 characters); only found or not is looked at.
constexpr std::size_t kDuplicateProbeSize = 200;
// The smallest buffers gather_device_settings accepts: part of its interface, which callers
// rely on (below them it returns -1 before loading or printing anything). The buffers above
// are larger; the model's minimum also leaves the quote room below a value.
constexpr std::size_t kMinIdSize = 15;
constexpr std::size_t kMinNodenameSize = 17;
constexpr std::size_t kMinModelSize = 33;
// The value is read one byte in, so that the opening quote goes in front of it, and two
// bytes short, so that the closing quote and the terminator always fit behind it.
constexpr std::size_t kModelQuoteRoom = 2;
// Both forms end in a blank before the line feed; the backend's reader expects it.
bool format_device_line(char* line, std::size_t size, const char* name, const char* model,
                        const char* id, const char* ip, const char* nodename) {
  if (nodename[0] != '\0') {
    return format_bounded(line, size, "DEVICE=%s , %s , %s , NODENAME=%s \n", name, model, id, nodename);
  }
  return format_bounded(line, size, "DEVICE=%s , %s , %s , IP-ADDRESS=%s \n", name, model, id, ip);
}

}  // namespace

std::int32_t gather_device_settings(int argc, char* const* argv, char* name, std::size_t name_size,
                                    char* model, std::size_t model_size, char* ip,
                                    std::size_t ip_size, char* nodename, std::size_t nodename_size,
                                    char* id, std::size_t id_size,
                                    RegisteredName registered) {
  if (id_size < kMinIdSize || nodename_size < kMinNodenameSize || model_size < kMinModelSize ||
      name_size < 1 || ip_size < 1) {
    return -1;
  }
  const ScopedCatalogue catalogue;
  load_adv_models();
  name[0] = model[0] = ip[0] = nodename[0] = id[0] = '\0';
  get_arg_value(argc, argv, "name=", name, name_size);
  model[1] = '\0';
  get_arg_value(argc, argv, "model=", model + 1, model_size - kModelQuoteRoom);
  get_arg_value(argc, argv, "ip=", ip, ip_size);
  get_arg_value(argc, argv, "nodename=", nodename, nodename_size);

  if (name[0] != '\0') {
    if (!is_valid_name(name)) {
      std::fputs("Invalid name\n", stdout);
      return -1;
    }
    if (registered == RegisteredName::kRefused) {
      // Only a missing file means that nothing is registered: a file that exists but cannot
      // be read may hold the name, and adding it then would register it twice.
      const ScopedDeviceList devices;
      if (read_net_devices() == DeviceFileRead::kFailed) {
        report_cannot_write(kConfigFile);
        return -1;
      }
      char probe[kDuplicateProbeSize];
      if (find_net_device_field(name, kDeviceName, probe, sizeof probe) != nullptr) {
        std::printf("\"%s\" is already registered.\n", name);
        return -1;
      }
    }
  }
  if (ip[0] == '\0' && nodename[0] == '\0') {
    std::fputs("Invalid IP address or NODENAME\n", stdout);
    return -1;
  }
  // The model goes between double quotes. With the value read one byte in and kModelQuoteRoom
  // short, strlen(model) (the opening quote and the value) is at most model_size - 2, so the
  // closing quote at [value_length] and the terminator at [value_length + 1] stay inside.
  model[0] = '"';
  const std::size_t value_length = std::strlen(model);
  model[value_length] = '"';
  model[value_length + 1] = '\0';

  std::uint32_t vendor_id = 0;
  std::uint32_t product_id = 0;
  if (adv_model_exists(model) && get_adv_model_ids(model, &vendor_id, &product_id)) {
    format_bounded(id, id_size, "0x%x:0x%x", vendor_id, product_id);
  } else {
    copy_bounded(id, id_size, "Unknown");
  }
  if (name[0] == '\0') {
    copy_bounded(name, name_size < model_size ? name_size : model_size, model);
  }
  return 0;
}

DevicePlan plan_device_line(int argc, char* const* argv, RegisteredName registered, char* line,
                            std::size_t line_size) {
  char name[kNameSize];
  char model[kModelSize];
  char ip[kIpSize];
  char nodename[kNodenameSize];
  char id[kIdSize];
  if (gather_device_settings(argc, argv, name, sizeof name, model, sizeof model, ip, sizeof ip,
                             nodename, sizeof nodename, id, sizeof id, registered) != 0) {
    return DevicePlan::kRefused;
  }
  // A name taken over from the model gets the model's clean-up too: a line feed in it would
  // split the new line in two. A name given as name= has no white space to remove.
  remove_whitespace(name);
  remove_whitespace(model);
  remove_whitespace(ip);
  remove_whitespace(nodename);
  remove_whitespace(id);
  if (ip[0] != '\0' && !is_valid_ipv4(ip)) {
    std::printf("Invalid IP address (%s)\n", ip);
    return DevicePlan::kRefused;
  }
  if (!format_device_line(line, line_size, name, model, id, ip, nodename)) {
    return DevicePlan::kNoRoom;
  }
  return DevicePlan::kPlanned;
}

std::int32_t add_net_device(int argc, char* const* argv) {
  ConfigRewrite rewrite;
  // Runs under the lock: the duplicate test reads the file that the new one replaces.
  rewrite.first_line = [&](char* line, std::size_t size) {
    switch (plan_device_line(argc, argv, RegisteredName::kRefused, line, size)) {
      case DevicePlan::kPlanned: return true;
      case DevicePlan::kRefused: return false;
      case DevicePlan::kNoRoom: break;
    }
    // The fields are cut to their buffers, so the line always fits; were it ever cut, the
    // file is left alone rather than given half a device.
    report_cannot_write(kConfigFile);
    return false;
  };
  rewrite.form_command = [](const char* scratch, const char* output, char* command,
                            std::size_t size) {
    return format_scratch_pipeline(command, size, "uniq %s > %s", scratch, output);
  };
  return rewrite_config(rewrite) == ConfigRewriteResult::kScratchFailed ? -1 : 1;
}

void get_arg_value(int argc, char* const* argv, const char* key, char* dest, std::size_t capacity) {
  if (capacity == 0) return;
  const std::size_t key_length = std::strlen(key);
  for (int i = 0; i < argc; ++i) {
    if (argv[i] == nullptr || std::strncmp(argv[i], key, key_length) != 0) continue;
    const char* value = argv[i] + key_length;
    std::size_t length = 0;
    while (length + 1 < capacity && value[length] != '\0' && value[length] != '\t' &&
           value[length] != ' ') {
      dest[length] = value[length];
      ++length;
    }
    dest[length] = '\0';
    return;
  }
}

std::int32_t is_valid_name(const char* name) {
  if (name == nullptr || name[0] == '\0') return 0;
  for (const char* p = name; *p != '\0'; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    const bool allowed = c == '-' || c == '_' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
                         (c >= 'a' && c <= 'z');
    if (!allowed) return 0;
  }
  return 1;
}

std::int32_t is_valid_ipv4(const char* text) {
  if (text == nullptr) return 0;
  std::int32_t part[4] = {-1, -1, -1, -1};
  if (bounded_scan(text, "%d.%d.%d.%d",
                   {scan_int(part[0]), scan_int(part[1]), scan_int(part[2]), scan_int(part[3])}) != 4) {
    return 0;
  }
  for (std::int32_t value : part) {
    if (value < 0 || value > 255) return 0;
  }
  const std::size_t length = std::strlen(text);
  if (length < 7) return 0;
  if (std::strstr(text, "..") != nullptr) return 0;
  if (text[0] == '.' || text[length - 1] == '.') return 0;
  int dots = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p == '.') ++dots;
    else if (*p < '0' || *p > '9') return 0;
  }
  return dots == 3 ? 1 : 0;
}

}  // namespace lumora
