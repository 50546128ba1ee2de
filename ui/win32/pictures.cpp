#include "pictures.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

namespace vellork::win32 {

namespace {

// Pixels top-down, 0xAARRGGBB with straight alpha.
struct Pixels {
    int width = 0, height = 0;
    std::vector<std::uint32_t> argb;
};

BITMAPINFO topDown32(int width, int height) {
    BITMAPINFO format{};
    format.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    return format;
}

Pixels readPixels(HINSTANCE instance, int resource) {
    Pixels read;
    auto* bitmap = static_cast<HBITMAP>(::LoadImageW(instance, MAKEINTRESOURCEW(resource),
                                                     IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    BITMAP info;
    if (!bitmap || !::GetObjectW(bitmap, sizeof info, &info)) return read;
    BITMAPINFO format = topDown32(info.bmWidth, info.bmHeight);
    read.argb.resize(static_cast<std::size_t>(info.bmWidth) * info.bmHeight);
    HDC screen = ::GetDC(nullptr);
    if (::GetDIBits(screen, bitmap, 0, info.bmHeight, read.argb.data(), &format, DIB_RGB_COLORS) ==
        info.bmHeight) {
        read.width = info.bmWidth;
        read.height = info.bmHeight;
    }
    ::ReleaseDC(nullptr, screen);
    ::DeleteObject(bitmap);
    if (info.bmBitsPixel != 32)  // a picture without an alpha channel is opaque
        for (std::uint32_t& pixel : read.argb) pixel |= 0xFF000000;
    return read;
}

HBITMAP makeBitmap(const Pixels& pixels) {
    BITMAPINFO format = topDown32(pixels.width, pixels.height);
    void* bits = nullptr;
    HBITMAP made = ::CreateDIBSection(nullptr, &format, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (made) std::copy(pixels.argb.begin(), pixels.argb.end(), static_cast<std::uint32_t*>(bits));
    return made;
}

// Where one target pixel of a resampled axis reads from: the first source pixel and the weight
// of each from there. Going down in size a target pixel averages the source pixels under it,
// going up it blends its nearest neighbours, so edges come out smooth either way.
struct Tap {
    int first = 0;
    std::vector<float> weights;
};

std::vector<Tap> taps(int source, int target) {
    const double step = static_cast<double>(source) / target, reach = std::max(1.0, step);
    std::vector<Tap> axis(static_cast<std::size_t>(target));
    for (int t = 0; t < target; ++t) {
        const double centre = (t + 0.5) * step - 0.5;
        Tap& tap = axis[t];
        tap.first = std::max(0, static_cast<int>(std::ceil(centre - reach)));
        const int last = std::min(source - 1, static_cast<int>(std::floor(centre + reach)));
        float sum = 0;
        for (int s = tap.first; s <= last; ++s)
            sum += tap.weights.emplace_back(std::max(0.0, 1 - std::abs(s - centre) / reach));
        for (float& weight : tap.weights) weight /= sum;
    }
    return axis;
}

// Blue, green, red premultiplied by alpha, and alpha, so that transparent pixels lend no colour.
using Colour = std::array<float, 4>;

Colour colour(std::uint32_t argb) {
    const float alpha = static_cast<float>(argb >> 24) / 255;
    return {(argb & 0xFF) * alpha, (argb >> 8 & 0xFF) * alpha, (argb >> 16 & 0xFF) * alpha, alpha};
}

std::uint32_t argb(const Colour& c) {
    if (c[3] <= 0) return 0;
    const auto channel = [&](float value) {
        return static_cast<std::uint32_t>(std::clamp(value, 0.f, 255.f) + 0.5f);
    };
    return channel(c[0] / c[3]) | channel(c[1] / c[3]) << 8 | channel(c[2] / c[3]) << 16 |
           channel(c[3] * 255) << 24;
}

template <typename Read>
Colour blend(const Tap& tap, Read read) {
    Colour sum{};
    for (std::size_t i = 0; i < tap.weights.size(); ++i) {
        const Colour c = read(tap.first + static_cast<int>(i));
        for (std::size_t k = 0; k < sum.size(); ++k) sum[k] += c[k] * tap.weights[i];
    }
    return sum;
}

Pixels resample(const Pixels& source, int width, int height) {
    const std::vector<Tap> across = taps(source.width, width), down = taps(source.height, height);
    std::vector<Colour> rows(static_cast<std::size_t>(width) * source.height);
    for (int y = 0; y < source.height; ++y)
        for (int x = 0; x < width; ++x)
            rows[y * width + x] =
                blend(across[x], [&](int s) { return colour(source.argb[y * source.width + s]); });
    Pixels target{width, height,
                  std::vector<std::uint32_t>(static_cast<std::size_t>(width) * height)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            target.argb[y * width + x] =
                argb(blend(down[y], [&](int s) { return rows[s * width + x]; }));
    return target;
}

}  // namespace

HBITMAP loadPicture(HINSTANCE instance, std::span<const int> versions, int width, int height) {
    // The versions come smallest first: the first as wide as the picture asked for, or the
    // largest.
    Pixels chosen;
    for (const int resource : versions) {
        chosen = readPixels(instance, resource);
        if (chosen.width >= width) break;
    }
    if (chosen.width == 0 || width <= 0 || height <= 0) return nullptr;
    if (chosen.width != width || chosen.height != height) chosen = resample(chosen, width, height);
    return makeBitmap(chosen);
}

}  // namespace vellork::win32
