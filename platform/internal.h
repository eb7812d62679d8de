// State shared by the platform layer's own files: device contexts and the images behind them.
// Nothing outside platform/ includes this.
#pragma once

#include "platform/platform.h"

#include <cstdint>
#include <vector>

namespace krvplat {
namespace detail {

struct Image {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> pixels;  // top-down rows of width * 3 bytes, blue, green, red
    bool changed = false;               // drawn into since it was last presented

    void Resize(int w, int h);
};

struct DeviceContext {
    HDC handle = nullptr;
    HWND window = nullptr;   // null for an image DC
    Image* image = nullptr;  // the window's client image, or ownImage
    Image ownImage;
    int stretchMode = COLORONCOLOR;
    COLORREF textColor = RGB(0, 0, 0);
    COLORREF bkColor = RGB(255, 255, 255);
    int bkMode = OPAQUE;
};

// Null for an unknown or released handle.
DeviceContext* FindDC(HDC hdc);
// Presents every window whose image changed since its last presentation.
void PresentChangedWindows();

// Milliseconds of the monotonic clock, without the 32-bit wrap of GetTickCount.
uint64_t NowMilliseconds();

// The built-in bitmap font of TextOutA: kGlyphWidth x kGlyphHeight glyphs for ASCII 32..126,
// drawn in cells of kCellWidth x kCellHeight pixels.
constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 7;
constexpr int kCellWidth = 6;
constexpr int kCellHeight = 8;
// Row bits of a glyph, top row first; bit 4 is the leftmost column. Characters without a glyph
// get the one of '?'.
const unsigned char* GlyphRows(unsigned char c);

}  // namespace detail
}  // namespace krvplat
