// Names the POSIX backend gives its files, and the per-user folder that holds them.
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

// Where the per-user folder may be, tried in order. Chosen from the user id alone (never from
// the environment), so every copy of a program this user starts, from a desktop, ssh, sudo or
// cron, meets the others in one folder.
struct UserFolderPlaces {
    std::string runtime;  // the user's own runtime folder: "/run/user/<uid>"
    std::string shared;   // made if missing in a folder open to everyone: "/tmp/vexilo-<uid>"
    std::string home;     // the user's home from the password database; empty when there is none
    std::string inHome;   // the folder made inside `home` when `shared` is someone else's
};
UserFolderPlaces DefaultUserFolderPlaces(uid_t uid);

// The per-user folder: `runtime` when it is a real folder of this user with mode 0700, else
// `shared` (made 0700 if missing) when it is ours with no group or other bits, else `inHome`
// (made likewise). Opened without following links; owner and mode checked on the open folder,
// so a swap after the check does not matter. On failure `error` says why (errno).
UniqueFd OpenUserFolder(const UserFolderPlaces& places, int& error, std::string* chosen = nullptr);
// The same for this process's user, chosen once per process.
UniqueFd OpenUserFolder(int& error, std::string* chosen = nullptr);

// The file `name` (one path component) in `folder`: a regular file of ours without group or
// other bits and with one link, opened read-write, created 0600, never through a link.
UniqueFd OpenPrivateFile(int folder, const std::string& name, int& error);

// OpenPrivateFile in the per-user folder.
UniqueFd OpenLockFile(const std::string& name, int& error);

}  // namespace vxo::platform::posix
