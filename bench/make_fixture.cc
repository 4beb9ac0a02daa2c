// Writes the generated inputs for the whole-process scripts:
//   lumora_make_fixture catalogue DIR LINES   model files under DIR/models and DIR/Lumsane.ini
//   lumora_make_fixture devices FILE LINES    a configuration file of LINES devices
//   lumora_make_fixture record-sizes          bytes of a catalogue record and a device record
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "catalogue/model_list.h"
#include "fixtures.h"
#include "registry/device_registry.h"

int main(int argc, char** argv) {
  // The sizes of the records the tool allocates per catalogue line and per device line, for
  // the floor that allocates as many without parsing.
  if (argc == 2 && std::strcmp(argv[1], "record-sizes") == 0) {
    std::printf("%zu %zu\n", sizeof(AdvModel), sizeof(lumora::DeviceEntry));
    return 0;
  }
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s catalogue DIR LINES | devices FILE LINES | record-sizes\n", argv[0]);
    return 2;
  }
  const int lines = std::atoi(argv[3]);
  try {
    if (std::strcmp(argv[1], "catalogue") == 0) {
      lumora::bench::write_catalogue(argv[2], lines);
    } else if (std::strcmp(argv[1], "devices") == 0) {
      lumora::bench::write_devices(argv[2], lines);
    } else {
      std::fprintf(stderr, "%s: unknown fixture %s\n", argv[0], argv[1]);
      return 2;
    }
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "%s: %s\n", argv[0], failure.what());
    return 1;
  }
  return 0;
}
