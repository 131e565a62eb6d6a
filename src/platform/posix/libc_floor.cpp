// What keeps the Linux images on the oldest C library they can run on. The static libstdc++
// refers to arc4random (new in the C library 2.36) only for std::random_device, which the
// launcher never uses; the images' link sends that reference here (--wrap), so 2.34 suffices.
#include <sys/random.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

extern "C" std::uint32_t __wrap_arc4random() {
    std::uint32_t value = 0;
    auto* bytes = reinterpret_cast<unsigned char*>(&value);
    std::size_t filled = 0;
    // Four bytes come in one call once the pool is ready; only signals interrupt it.
    for (int attempt = 0; attempt < 64 && filled < sizeof value; ++attempt) {
        ssize_t n = getrandom(bytes + filled, sizeof value - filled, 0);
        if (n > 0) filled += static_cast<std::size_t>(n);
        else if (errno != EINTR) break;
    }
    if (filled < sizeof value) std::abort();  // as the C library's own: it never fails quietly
    return value;
}
