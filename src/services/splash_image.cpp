// Splash image headers: GIF, PNG and JPEG sizes, and the bound the launcher keeps to.
#include "services/splash_image.h"

#include <cstring>

namespace vxo::splash {

namespace {

std::uint32_t Le16(const std::uint8_t* p) { return p[0] | (p[1] << 8); }
std::uint32_t Be16(const std::uint8_t* p) { return (p[0] << 8) | p[1]; }
std::uint32_t Be32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

// Skips a run of GIF data sub-blocks (a size byte, then that many bytes; 0 ends the run).
std::size_t SkipSubBlocks(const std::uint8_t* data, std::size_t size, std::size_t at) {
    while (at < size && data[at] != 0) at += std::size_t{data[at]} + 1;
    return at + 1;
}

// The logical screen, and every image descriptor up to the trailer or the end of the data.
ImageSize ReadGif(const std::uint8_t* data, std::size_t size) {
    ImageSize image;
    if (size < 13) return image;
    image.width = Le16(data + 6);
    image.height = Le16(data + 8);
    std::size_t at = 13;
    if (data[10] & 0x80) at += 3u << ((data[10] & 7) + 1);
    std::uint32_t frames = 0;
    while (at < size && data[at] != 0x3B) {
        if (data[at] == 0x21) {  // extension: label, then sub-blocks
            at = SkipSubBlocks(data, size, at + 2);
        } else if (data[at] == 0x2C) {  // image: descriptor, local colours, code size, data
            if (at + 10 > size) break;
            const std::uint8_t flags = data[at + 9];
            at += 10;
            if (flags & 0x80) at += 3u << ((flags & 7) + 1);
            at = SkipSubBlocks(data, size, at + 1);
            ++frames;
        } else {
            break;  // damaged: the library stops here too
        }
    }
    image.frames = frames > 0 ? frames : 1;
    return image;
}

ImageSize ReadPng(const std::uint8_t* data, std::size_t size) {
    ImageSize image;
    if (size < 24 || std::memcmp(data + 12, "IHDR", 4) != 0) return image;
    image.width = Be32(data + 16);
    image.height = Be32(data + 20);
    image.frames = 1;
    return image;
}

// Markers up to the first frame header (SOF0 to SOF15 but DHT, JPG and DAC); none before the
// scan starts means the header could not be read.
ImageSize ReadJpeg(const std::uint8_t* data, std::size_t size) {
    ImageSize image;
    std::size_t at = 2;
    while (at + 4 <= size) {
        if (data[at] != 0xFF) return image;
        const std::uint8_t marker = data[at + 1];
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // no length
            at += 2;
            continue;
        }
        if (marker == 0xD9 || marker == 0xDA) return image;
        const std::uint32_t length = Be16(data + at + 2);
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (length < 7 || at + 9 > size) return image;
            image.height = Be16(data + at + 5);
            image.width = Be16(data + at + 7);
            image.frames = 1;
            return image;
        }
        if (length < 2) return image;
        at += 2 + length;
    }
    return image;
}

}  // namespace

ImageSize ReadImageSize(const std::uint8_t* data, std::size_t size) {
    if (data == nullptr) return ImageSize{};
    if (size >= 6 && (std::memcmp(data, "GIF87a", 6) == 0 || std::memcmp(data, "GIF89a", 6) == 0))
        return ReadGif(data, size);
    if (size >= 8 && std::memcmp(data, "\x89PNG\r\n\x1a\n", 8) == 0) return ReadPng(data, size);
    if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) return ReadJpeg(data, size);
    return ImageSize{};
}

std::string SplashRefusal(const ImageSize& size, const std::string& name) {
    if (size.frames == 0) return std::string();
    // Sides first: within them the product of all three fits in 64 bits.
    if (size.width <= kMaxSplashSide && size.height <= kMaxSplashSide &&
        std::uint64_t{size.width} * size.height * size.frames <= kMaxSplashPixels)
        return std::string();
    std::string line = "Splash image " + name + " is " + std::to_string(size.width) + " x " +
                       std::to_string(size.height) + " pixels";
    if (size.frames > 1) line += " in " + std::to_string(size.frames) + " frames";
    return line + ", more than " + std::to_string(kMaxSplashSide) + " x " + std::to_string(kMaxSplashSide) +
           ": it is not shown.";
}

}  // namespace vxo::splash
