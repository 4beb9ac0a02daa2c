// Registering a network scanner: "-a name=... model=... ip=... | nodename=...".
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumora {

// How the add's checks treat a name that is already registered: the add refuses it; a
// replace ("-r NAME", then the add) finds it gone by the time the add runs.
enum class RegisteredName : std::uint8_t { kRefused, kReplaced };

// Fills the five settings of a new device from the key=value words, checking the name (rule
// and not yet registered) and that an address or node name was given, and forms the model's
// identifier from the catalogue. Prints the message of the first check that fails and returns
// -1; returns 0 on success. Returns -1 at once, printing nothing, when a capacity is too small
// for what it must hold (id below 15, nodename below 17, model below 33). With
// RegisteredName::kReplaced a registered name passes the duplicate test.
std::int32_t gather_device_settings(int argc, char* const* argv, char* name, std::size_t name_size,
                                    char* model, std::size_t model_size, char* ip,
                                    std::size_t ip_size, char* nodename, std::size_t nodename_size,
                                    char* id, std::size_t id_size,
                                    RegisteredName registered = RegisteredName::kRefused);

enum class DevicePlan : std::uint8_t {
  kPlanned,  // line holds the DEVICE= line, its line feed included
  kRefused,  // the add's refusal is printed on standard output
  kNoRoom,   // line is too small for the line; nothing printed
};

// Everything the add does before it writes: its checks on the key=value words (argv as the
// add gets it; only words beginning with a key count) and the catalogue look-up, forming the
// line it would put at the top of the configuration file. Reads the catalogue and the device
// file at their built-in paths and changes nothing.
DevicePlan plan_device_line(int argc, char* const* argv, RegisteredName registered, char* line,
                            std::size_t line_size);

// The room plan_device_line needs: the five fields of 63 characters at most and the fixed
// words around them.
inline constexpr std::size_t kDeviceLineSize = 512;

// Puts one new DEVICE= line at the top of the configuration file. Returns -1 when the scratch
// file cannot be made or written, 1 on every other outcome (saved or refused with a message).
std::int32_t add_net_device(int argc, char* const* argv);

// The key=value words of the add command and the checks on their values.

// Copies into dest the value of the first argument (argv[0] included) that begins with key:
// the characters after the key up to a NUL, tab or blank, at most capacity - 1 of them, then
// a terminator. dest is left as it was when no argument begins with key.
void get_arg_value(int argc, char* const* argv, const char* key, char* dest, std::size_t capacity);

// 1 when name is non-empty and every byte is a letter, a digit, '-' or '_', else 0.
std::int32_t is_valid_name(const char* name);

// 1 when text is four runs of decimal digits, each 0 to 255, joined by single dots, else 0.
std::int32_t is_valid_ipv4(const char* text);

}  // namespace lumora
