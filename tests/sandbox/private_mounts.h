// A mount namespace of this process's own whose mounts propagate nowhere, so that the binds the
// tests put over /etc/opt, /opt and /tmp can never show up in the host's namespace. Shared by
// the end-to-end sandbox and by lumora_private_ns, which the shell-level tests run under.
#pragma once

#include <string>

namespace lumora::testing {

// Moves the calling process into a new mount namespace (as root; otherwise together with a
// user namespace mapping the caller to root) and makes every mount in it private. Inside a
// chroot, whose / is not a mount point, the namespace's own root is made private instead.
// Returns an empty string on success, else why the namespace cannot be had. Meant for a
// single-threaded child: it may leave the process in a half-made namespace on failure.
std::string enter_private_mount_namespace();

}  // namespace lumora::testing
