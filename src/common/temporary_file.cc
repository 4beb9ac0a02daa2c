#include "common/temporary_file.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace lumora {
namespace {

// The signals that end a run from outside without leaving it a say (SIGKILL aside, which no
// handler sees): an interrupt from the terminal, a kill, a hang-up of the session.
constexpr int kCleanedUpSignals[] = {SIGINT, SIGTERM, SIGHUP};

// A run holds at most two such files at once (the scratch file and one pending file); two
// more leave room without making the handler's walk long.
constexpr int kSlotCount = 4;

// What the handler may touch: each slot's path is written whole before the slot is marked
// used and is never changed while it is; an async-signal-safe unlink is all it does with it.
struct Slot {
  char path[PATH_MAX];
  volatile sig_atomic_t used;
};
Slot g_slots[kSlotCount];

volatile sig_atomic_t g_pipeline_group = 0;
volatile sig_atomic_t g_pipeline_alive_fd = -1;

// Kills the running pipeline's whole group and waits until no process of it is left, so that
// none of them can make a file after the handler removed it. The shell is waited for itself;
// its stages are reaped by whoever inherits them, maybe never, but each closes its end of the
// pipe as it dies.
void end_pipeline() {
  const pid_t group = g_pipeline_group;
  if (group <= 0) return;
  ::kill(-group, SIGKILL);
  int status = 0;
  while (::waitpid(group, &status, 0) < 0 && errno == EINTR) {}
  const int alive_fd = g_pipeline_alive_fd;
  if (alive_fd < 0) return;
  char byte = 0;
  ssize_t got = 0;
  while ((got = ::read(alive_fd, &byte, 1)) > 0 || (got < 0 && errno == EINTR)) {}
}

void remove_and_end(int signal_number) {
  end_pipeline();
  for (Slot& slot : g_slots) {
    if (slot.used != 0) ::unlink(slot.path);
  }
  // The default action of these signals ends the process, so the parent sees that it was
  // killed by this signal, as without the handler. The signal stays blocked until the handler
  // returns, and is delivered then: nothing the interrupted code does runs again.
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);
}

void install_handlers_once() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  for (int signal_number : kCleanedUpSignals) {
    struct sigaction old {};
    if (::sigaction(signal_number, nullptr, &old) != 0) continue;
    // An ignored signal stays ignored: a run under nohup must not die of the hang-up.
    if (old.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = remove_and_end;
    sigemptyset(&action.sa_mask);
    for (int other : kCleanedUpSignals) sigaddset(&action.sa_mask, other);
    ::sigaction(signal_number, &action, nullptr);
  }
}

}  // namespace

CleanupSignalsHeld::CleanupSignalsHeld() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal_number : kCleanedUpSignals) sigaddset(&set, signal_number);
  ::sigprocmask(SIG_BLOCK, &set, &previous_);
}

CleanupSignalsHeld::~CleanupSignalsHeld() { ::sigprocmask(SIG_SETMASK, &previous_, nullptr); }

void set_pipeline_group(pid_t group, int alive_fd) {
  g_pipeline_group = group;
  g_pipeline_alive_fd = alive_fd;
}

bool TemporaryFile::create(std::string_view path_template) {
  remove();
  if (path_template.size() >= sizeof path_) {
    errno = ENAMETOOLONG;
    return false;
  }
  install_handlers_once();
  const CleanupSignalsHeld held;
  int free_slot = -1;
  for (int i = 0; i < kSlotCount && free_slot < 0; ++i) {
    if (g_slots[i].used == 0) free_slot = i;
  }
  if (free_slot < 0) {
    errno = EMFILE;
    return false;
  }
  std::memcpy(path_, path_template.data(), path_template.size());
  path_[path_template.size()] = '\0';
  fd_.reset(::mkostemp(path_, O_CLOEXEC));
  if (!fd_) {
    path_[0] = '\0';
    return false;
  }
  Slot& slot = g_slots[free_slot];
  std::memcpy(slot.path, path_, sizeof path_);
  slot.used = 1;
  slot_ = free_slot;
  return true;
}

bool TemporaryFile::close() {
  if (!fd_) return true;
  return ::close(fd_.release()) == 0;
}

void TemporaryFile::keep() {
  const CleanupSignalsHeld held;
  if (slot_ >= 0) g_slots[slot_].used = 0;
  slot_ = -1;
  fd_.reset();
  path_[0] = '\0';
}

void TemporaryFile::remove() {
  if (!made()) return;
  const CleanupSignalsHeld held;
  fd_.reset();
  ::unlink(path_);
  if (slot_ >= 0) g_slots[slot_].used = 0;
  slot_ = -1;
  path_[0] = '\0';
}

}  // namespace lumora
