#include "registry/add_device.h"

#include <cstdio>
#include <cstring>

#include "catalogue/model_list.h"
#include "catalogue/whitespace.h"
#include "common/bounded_text.h"
#include "common/paths.h"
#include "registry/config_writer.h"
#include "registry/device_args.h"
#include "registry/device_registry.h"
#include "registry/file_copy.h"
#include "registry/scratch_file.h"

namespace lumora {
namespace {

constexpr std::size_t kNameSize = 64;
constexpr std::size_t kModelSize = 64;
constexpr std::size_t kIpSize = 30;
constexpr std::size_t kNodenameSize = 64;
constexpr std::size_t kIdSize = 32;
constexpr std::size_t kDuplicateProbeSize = 200;

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
                                    char* id, std::size_t id_size) {
  if (id_size < 15 || nodename_size < 17 || model_size < 33 || name_size < 1 || ip_size < 1) {
    return -1;
  }
  load_adv_models();
  name[0] = model[0] = ip[0] = nodename[0] = id[0] = '\0';
  get_arg_value(argc, argv, "name=", name, name_size);
  model[1] = '\0';
  get_arg_value(argc, argv, "model=", model + 1, model_size - 2);
  get_arg_value(argc, argv, "ip=", ip, ip_size);
  get_arg_value(argc, argv, "nodename=", nodename, nodename_size);

  if (name[0] != '\0') {
    if (!is_valid_name(name)) {
      std::fputs("Invalid name\n", stdout);
      return -1;
    }
    char probe[kDuplicateProbeSize];
    if (find_net_device_field(name, kDeviceName, probe, sizeof probe) != nullptr) {
      std::printf("\"%s\" is already registered.\n", name);
      return -1;
    }
  }
  if (ip[0] == '\0' && nodename[0] == '\0') {
    std::fputs("Invalid IP address or NODENAME\n", stdout);
    return -1;
  }
  // The model goes between double quotes; the value was read one byte in and two short, so
  // both quotes and the terminator always fit.
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
  free_adv_models();
  return 0;
}

std::int32_t add_net_device(int argc, char* const* argv) {
  ScratchFile scratch;
  if (!make_scratch_file(scratch)) return -1;
  // Held from the duplicate test's read of the file until the new file is in place, so that
  // concurrent adds all land and a name is never registered twice.
  DirectoryLock lock;
  const bool locked = lock_for_writing(lock, kConfigDir);

  char name[kNameSize];
  char model[kModelSize];
  char ip[kIpSize];
  char nodename[kNodenameSize];
  char id[kIdSize];
  if (gather_device_settings(argc, argv, name, sizeof name, model, sizeof model, ip, sizeof ip,
                             nodename, sizeof nodename, id, sizeof id) != 0) {
    return 1;
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
    return 1;
  }
  if (!locked) {
    report_cannot_write(kConfigFile);
    return 1;
  }
  char line[512];
  if (!format_device_line(line, sizeof line, name, model, id, ip, nodename) ||
      !append_to_scratch(scratch, line)) {
    report_cannot_write(scratch.path());
    return -1;
  }
  if (copy_file(kConfigFile, scratch.path(), "a") == kCopyIoError) {
    report_cannot_write(scratch.path());
    return 1;
  }
  merge_into_config(lock, scratch);
  return 1;
}

}  // namespace lumora
