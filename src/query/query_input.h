// How the companion tells an input it may treat as empty from one it cannot read. The
// product's readers pass over a file they cannot open, as the backend does; a program asking
// what is registered must learn the difference between "nothing there" and "cannot look".
#pragma once

#include <cstdint>
#include <string>

namespace lumora {

enum class InputState : std::uint8_t {
  kReadable,
  kMissing,     // the path does not exist: the backend sees nothing there either
  kUnreadable,  // exists but cannot be read, or is not what it should be; see the message
};

enum class InputKind : std::uint8_t { kFile, kDirectory };

// Opens path (and closes it again) to learn its state. On kUnreadable, error holds
// "PATH: REASON".
InputState probe_input(const char* path, InputKind kind, std::string& error);

// Every file the model catalogue is read from: the models directory, each of its catalogue
// files, and the default file. False with error set when one of them exists but cannot be
// read; an entry that passes the name filter but is no regular file is passed over, as the
// catalogue reader does.
bool catalogue_readable(const char* models_dir, const char* default_file, std::string& error);

}  // namespace lumora
