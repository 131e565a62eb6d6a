// Names the POSIX backend gives its lock files and shared-memory objects.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/posix/unique_fd.h"

namespace vxo::platform::posix {

// `name` as one path component of at most `limit` bytes (limit > 17), with '/' turned into '.'.
// A longer name keeps its last bytes, followed by '.' and the hash of the whole name in hex.
std::string FileComponent(std::string_view name, std::size_t limit);

// "/vexilo-<uid>-<component>": a shared-memory name of at most NAME_MAX bytes after the slash,
// so that users never meet in one object.
std::string SharedMemoryName(std::string_view base, uid_t uid);

// The lock file `name` (one path component) in the user's runtime folder: $XDG_RUNTIME_DIR when
// it is ours and 0700, else /tmp/vexilo-<uid> when it is ours with no group or other bits.
// Opened read-write and created 0600, never through a link; `error` gets errno on failure.
UniqueFd OpenLockFile(const std::string& name, int& error);

}  // namespace vxo::platform::posix
