// What differs between the two images, decided at link time by image_gui.cpp or image_console.cpp.
#pragma once

#include <cstddef>

namespace vxo {

struct NativeTable;

// True in launcher-gui: failures in a message box, the native splash window.
bool IsGuiImage();

// The native tables only this image serves (the splash natives of launcher-gui).
const NativeTable* ImageNatives(std::size_t& count);

}  // namespace vxo
