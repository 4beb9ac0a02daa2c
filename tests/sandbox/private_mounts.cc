#include "sandbox/private_mounts.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

namespace lumora::testing {
namespace {

std::string failure(const std::string& what) { return what + ": " + std::strerror(errno); }

bool write_proc(const char* path, const std::string& text) {
  const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fd);
  return written;
}

bool same_directory(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// In a chroot the mount holding / has its root outside the chroot, so / cannot be named as a
// mount and the kernel refuses to change its propagation (EINVAL). The namespace is a copy of
// our own, though, and as root we may leave the chroot for a moment: step into a directory
// below /, so that the old root is now outside the process root, climb from it with ".." to the
// namespace's root, make the whole namespace private there, and go back into the chroot. Only
// mounts of this new namespace change; the host's keep their propagation.
std::string make_namespace_root_private() {
  const int chroot_fd = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (chroot_fd < 0) return failure("open /");
  std::string error;
  if (::chroot("/etc") != 0) {
    error = failure("chroot /etc");
  } else if (::fchdir(chroot_fd) != 0) {
    error = failure("fchdir to the chroot");
  } else {
    // ".." of the namespace's root is itself; a path is at most PATH_MAX bytes, so it has fewer
    // than PATH_MAX / 2 levels.
    bool at_top = false;
    for (int level = 0; level < PATH_MAX / 2 && !at_top; ++level) {
      struct stat here {}, parent {};
      if (::stat(".", &here) != 0 || ::stat("..", &parent) != 0) break;
      at_top = same_directory(here, parent);
      if (!at_top && ::chdir("..") != 0) break;
    }
    if (!at_top) {
      error = failure("climb to the namespace's root");
    } else if (::chroot(".") != 0) {
      error = failure("chroot to the namespace's root");
    } else if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      error = failure("make the namespace's root private");
    }
  }
  // Back into the chroot whatever happened above: the caller must never run outside it.
  if (::fchdir(chroot_fd) != 0 || ::chroot(".") != 0 || ::chdir("/") != 0) {
    if (error.empty()) error = failure("return into the chroot");
    error += " (and the chroot could not be re-entered)";
    ::close(chroot_fd);
    return error;
  }
  ::close(chroot_fd);
  return error;
}

}  // namespace

std::string enter_private_mount_namespace() {
  const uid_t uid = ::geteuid();
  const gid_t gid = ::getegid();
  if (uid == 0) {
    if (::unshare(CLONE_NEWNS) != 0) return failure("unshare(CLONE_NEWNS)");
  } else {
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
      // The kernel refuses new user namespaces to a chrooted process.
      return failure("unshare(CLONE_NEWUSER|CLONE_NEWNS)") +
             (errno == EPERM ? " (inside a chroot only root can run the sandbox)" : "");
    }
    if (!write_proc("/proc/self/setgroups", "deny")) return failure("/proc/self/setgroups");
    if (!write_proc("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1")) {
      return failure("/proc/self/uid_map");
    }
    if (!write_proc("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
      return failure("/proc/self/gid_map");
    }
  }
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0) return {};
  if (errno != EINVAL) return failure("make / private");
  if (uid != 0) {
    return "make / private: / is not a mount point (a chroot?), and only root can reach the "
           "namespace's own root to make it private";
  }
  std::string error = make_namespace_root_private();
  if (!error.empty()) {
    return "/ is not a mount point (a chroot?) and the namespace's root could not be made "
           "private: " + error;
  }
  return {};
}

}  // namespace lumora::testing
