// The pixel size of a splash image, read from its header before the runtime's splash library
// decodes it: that library holds every frame in full, four bytes a pixel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vxo::splash {

struct ImageSize {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t frames = 0;  // 0: not a GIF, PNG or JPEG header that could be read
};

// GIF (the logical screen and its count of images), PNG (IHDR) or JPEG (the first frame
// header). Reads no byte outside data; every walk moves forward.
ImageSize ReadImageSize(const std::uint8_t* data, std::size_t size);

// The largest picture handed to the library: each side and the pixels of all frames together.
constexpr std::uint32_t kMaxSplashSide = 8192;
constexpr std::uint64_t kMaxSplashPixels = std::uint64_t{kMaxSplashSide} * kMaxSplashSide;

// Empty when the image may be shown (an unrecognised one too: the library judges it), else
// the one line that says why it is not.
std::string SplashRefusal(const ImageSize& size, const std::string& name);

}  // namespace vxo::splash
