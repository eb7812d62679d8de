#include "texture/image_save.h"

#include "platform/platform.h"

#include <FreeImage.h>
#include <cstring>

bool krvSaveImagePNG(const char* path, int width, int height, const unsigned char* bgr,
                     int rowBytes, bool bottomUp)
{
    if (!path || !bgr || width <= 0 || height <= 0 || rowBytes < width * 3) return false;
    FIBITMAP* dib = FreeImage_Allocate(width, height, 24);
    if (!dib) return false;
    // FreeImage keeps rows bottom-up; its 24-bit pixels are blue, green, red on this platform.
    for (int y = 0; y < height; ++y) {
        int srcRow = bottomUp ? y : height - 1 - y;
        BYTE* dst = FreeImage_GetScanLine(dib, y);
        const unsigned char* src = bgr + static_cast<size_t>(srcRow) * rowBytes;
        for (int x = 0; x < width; ++x) {
            dst[x * 3 + FI_RGBA_BLUE] = src[x * 3 + 0];
            dst[x * 3 + FI_RGBA_GREEN] = src[x * 3 + 1];
            dst[x * 3 + FI_RGBA_RED] = src[x * 3 + 2];
        }
    }
    bool ok = FreeImage_Save(FIF_PNG, dib, krvplat::NativePath(path).c_str(), PNG_DEFAULT) != 0;
    FreeImage_Unload(dib);
    return ok;
}

bool krvSaveWindowImage(HWND hwnd, const char* path)
{
    int w = 0, h = 0;
    const unsigned char* pixels = nullptr;
    if (!krvplat::GetWindowImage(hwnd, w, h, pixels)) return false;
    return krvSaveImagePNG(path, w, h, pixels, w * 3, false);
}
