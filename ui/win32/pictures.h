#pragma once

#include <windows.h>

#include <span>

namespace vellork::win32 {

// The window's pictures, each as the resources of the versions drawn for 96, 144 and 192 dots per
// inch (pictures.rc): the banner, and the page every row of the list shows.
inline constexpr int kBannerVersions[] = {201, 203, 204};
inline constexpr int kRowPictureVersions[] = {202, 205, 206};

// A picture at `width` x `height` pixels, as a 32-bit bitmap with its alpha channel: the version
// drawn at that size where there is one, otherwise the nearest larger version (or the largest)
// resampled smoothly. Null when no version can be loaded.
HBITMAP loadPicture(HINSTANCE instance, std::span<const int> versions, int width, int height);

}  // namespace vellork::win32
