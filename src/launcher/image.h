// What differs between the two images, decided at link time by image_gui.cpp or image_console.cpp.
#pragma once

namespace vxo {

// True in launcher-gui: failures in a message box, the native splash window.
bool IsGuiImage();

}  // namespace vxo
