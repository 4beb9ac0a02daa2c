// A library put in front of libc with LD_PRELOAD that makes one system call of the tool fail:
// the Nth call of one kind (open, openat, read, write, fsync, rename) returns -1 with a chosen
// errno, every other call goes through. Set in the environment:
//   LUMORA_FAULT_CALL     the kind of call
//   LUMORA_FAULT_NTH      which call of that kind fails, counting from 1
//   LUMORA_FAULT_ERRNO    the errno it fails with (a number)
//   LUMORA_FAULT_PROGRAM  only a process of this name fails (the shell and the text tools the
//                         tool runs inherit the library and pass through)
//   LUMORA_FAULT_MARK     a file created when the fault was injected, so the test knows the
//                         run made at least N such calls
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <utility>

namespace {

enum class Kind { kOpen, kOpenat, kRead, kWrite, kFsync, kRename };

struct Fault {
  bool armed = false;
  Kind kind = Kind::kOpen;
  long nth = 0;
  int error = 0;
  const char* mark = nullptr;
};

template <typename Function>
Function real(const char* name) {
  return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

Fault read_fault() {
  Fault fault;
  const char* call = ::getenv("LUMORA_FAULT_CALL");
  const char* nth = ::getenv("LUMORA_FAULT_NTH");
  const char* error = ::getenv("LUMORA_FAULT_ERRNO");
  const char* program = ::getenv("LUMORA_FAULT_PROGRAM");
  if (call == nullptr || nth == nullptr || error == nullptr) return fault;
  if (program != nullptr && std::strcmp(program, program_invocation_short_name) != 0) return fault;
  constexpr std::pair<const char*, Kind> kKinds[] = {
      {"open", Kind::kOpen},   {"openat", Kind::kOpenat}, {"read", Kind::kRead},
      {"write", Kind::kWrite}, {"fsync", Kind::kFsync},   {"rename", Kind::kRename}};
  for (const auto& [name, kind] : kKinds) {
    if (std::strcmp(call, name) == 0) {
      fault.armed = true;
      fault.kind = kind;
    }
  }
  fault.nth = ::strtol(nth, nullptr, 10);
  fault.error = static_cast<int>(::strtol(error, nullptr, 10));
  fault.mark = ::getenv("LUMORA_FAULT_MARK");
  return fault;
}

const Fault& fault() {
  static const Fault configured = read_fault();
  return configured;
}

std::atomic<long> g_counts[6];

// True when this call is the one to fail; errno is then set.
bool fails(Kind kind) {
  const Fault& wanted = fault();
  if (!wanted.armed || wanted.kind != kind) return false;
  if (g_counts[static_cast<int>(kind)].fetch_add(1) + 1 != wanted.nth) return false;
  if (wanted.mark != nullptr) {
    using OpenFunction = int (*)(const char*, int, ...);
    static const auto real_open = real<OpenFunction>("open");
    const int fd = real_open(wanted.mark, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) ::close(fd);
  }
  errno = wanted.error;
  return true;
}

mode_t mode_argument(int flags, va_list arguments) {
  return (flags & (O_CREAT | O_TMPFILE)) != 0 ? static_cast<mode_t>(va_arg(arguments, int)) : 0;
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = mode_argument(flags, arguments);
  va_end(arguments);
  if (fails(Kind::kOpen)) return -1;
  static const auto real_open = real<int (*)(const char*, int, ...)>("open");
  return real_open(path, flags, mode);
}

int openat(int dir_fd, const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = mode_argument(flags, arguments);
  va_end(arguments);
  if (fails(Kind::kOpenat)) return -1;
  static const auto real_openat = real<int (*)(int, const char*, int, ...)>("openat");
  return real_openat(dir_fd, path, flags, mode);
}

ssize_t read(int fd, void* buffer, size_t size) {
  if (fails(Kind::kRead)) return -1;
  static const auto real_read = real<ssize_t (*)(int, void*, size_t)>("read");
  return real_read(fd, buffer, size);
}

ssize_t write(int fd, const void* buffer, size_t size) {
  if (fails(Kind::kWrite)) return -1;
  static const auto real_write = real<ssize_t (*)(int, const void*, size_t)>("write");
  return real_write(fd, buffer, size);
}

int fsync(int fd) {
  if (fails(Kind::kFsync)) return -1;
  static const auto real_fsync = real<int (*)(int)>("fsync");
  return real_fsync(fd);
}

int rename(const char* from, const char* to) {
  if (fails(Kind::kRename)) return -1;
  static const auto real_rename = real<int (*)(const char*, const char*)>("rename");
  return real_rename(from, to);
}

}  // extern "C"
