// Names the POSIX backend gives its lock files and shared-memory objects.
#include "platform/posix/names.h"

#include <climits>
#include <cstdio>

namespace vxo::platform::posix {

namespace {
constexpr std::size_t kHashDigits = 16;
}

std::uint64_t Fnv1a64(std::string_view text) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

std::string FileComponent(std::string_view name, std::size_t limit) {
    std::string component;
    if (name.size() <= limit) {
        component.assign(name);
    } else {
        std::size_t keep = limit > kHashDigits + 1 ? limit - kHashDigits - 1 : 0;
        char hex[kHashDigits + 1];
        std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(Fnv1a64(name)));
        component.reserve(keep + 1 + kHashDigits);
        component.append(name.substr(name.size() - keep)).append(1, '.').append(hex, kHashDigits);
    }
    for (char& c : component) {
        if (c == '/') c = '.';
    }
    return component;
}

std::string SharedMemoryName(std::string_view base, uid_t uid) {
    std::string name = "/vexilo-" + std::to_string(uid) + "-";
    // The slash does not count: the object is a file of that name in the shm folder.
    return name + FileComponent(base, NAME_MAX - (name.size() - 1));
}

}  // namespace vxo::platform::posix
