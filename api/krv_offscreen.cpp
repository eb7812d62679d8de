// Rendering without a window: the context's buffers sized as a window's resize would size them,
// and the picture read back or saved. The drawing calls cannot tell the difference, so a frame
// drawn here has the bytes it would have in a window of the NORMAL render mode.
#include "api/krv.h"

#include "core/render_mode.h"
#include "texture/image_save.h"

#include <cerrno>
#include <cstring>
#include <string>

namespace {

// Set by krvCreateOffscreen, cleared by krvDestroyOffscreen: krvResizeOffscreen must not size
// a window's buffers behind its back.
bool offscreen = false;

const int kMaxSide = 16384;

void Report(const std::string& line) { krvReportError((line + "\r\n").c_str()); }

std::string Size(int width, int height)
{
    return std::to_string(width) + " x " + std::to_string(height);
}

// The window's resize with the NORMAL mode, which keeps the buffers the size asked for.
bool SizeBuffers(const char* call, int width, int height)
{
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) {
        Report(std::string(call) + ": " + Size(width, height) +
               " is no image size (1 to 16384 pixels a side)");
        return false;
    }
    _3D_Korvane_Rendering& r = krvRendering();
    r.renderMode = KrvRenderMode_Normal;
    _3D_KRV_Wnd.WMSize(width, height);
    if (r.width != width || r.height != height || !r.colorBuffer) {
        const int f = r.antiAliasing != KrvAA_Off ? krvi::AntiAliasingFactor(r.antiAliasing) : 1;
        Report(std::string(call) + ": no memory for buffers of " + Size(width, height) +
               " pixels sampled " + Size(f, f) + " times");
        return false;
    }
    return true;
}

// The picture's pixels as the core keeps them (blue, green, red; bottom row first), filtered
// down from the supersampled buffer as presentation would; null without buffers.
const uint8* Picture(const char* call)
{
    _3D_Korvane_Rendering& r = krvRendering();
    if (!r.colorBuffer || r.width <= 0 || r.height <= 0) {
        Report(std::string(call) + ": there is no picture (no window or offscreen image)");
        return nullptr;
    }
    if (r.antiAliasing != KrvAA_Off && r.aaColorBuffer) r.SetAntiAliasingFilter(r.antiAliasing);
    return r.colorBuffer;
}

}  // namespace

bool krvCreateOffscreen(int width, int height)
{
    if (_3D_KRV_Wnd.hwnd) {
        Report("krvCreateOffscreen: a window is open; the picture is the window's");
        return false;
    }
    offscreen = SizeBuffers("krvCreateOffscreen", width, height);
    return offscreen;
}

bool krvResizeOffscreen(int width, int height)
{
    if (!offscreen) {
        Report("krvResizeOffscreen: there is no offscreen image (krvCreateOffscreen makes one)");
        return false;
    }
    offscreen = SizeBuffers("krvResizeOffscreen", width, height);
    return offscreen;
}

void krvDestroyOffscreen()
{
    if (!offscreen) return;
    offscreen = false;
    _3D_Korvane_Rendering& r = krvRendering();
    r.Destroy();
    // The vertex buffer is gone: a new one is written from its start.
    r.BufferCursor = r.ModelBegin = r.ModelEnd = 0;
    r.ResizeBuffers(0, 0);  // no size: releases the buffers
    r.sizeWidth = r.sizeHeight = 0;
    _3D_KRV_Wnd.width = _3D_KRV_Wnd.height = 0;
}

int krvGetImageWidth() { return krvRendering().colorBuffer ? krvRendering().width : 0; }

int krvGetImageHeight() { return krvRendering().colorBuffer ? krvRendering().height : 0; }

bool krvReadPixels(unsigned char* rgb, size_t bytes)
{
    const uint8* bgr = Picture("krvReadPixels");
    if (!bgr) return false;
    const _3D_Korvane_Rendering& r = krvRendering();
    const size_t rowBytes = static_cast<size_t>(r.width) * 3u;
    const size_t needed = rowBytes * static_cast<size_t>(r.height);
    if (!rgb || bytes < needed) {
        Report("krvReadPixels: the " + Size(r.width, r.height) + " picture needs " +
               std::to_string(needed) + " bytes, the buffer holds " +
               std::to_string(rgb ? bytes : 0));
        return false;
    }
    const size_t stride = static_cast<size_t>(r.colorWidth) * 3u;
    for (int y = 0; y < r.height; ++y) {
        const uint8* src = bgr + static_cast<size_t>(r.height - 1 - y) * stride;
        unsigned char* dst = rgb + static_cast<size_t>(y) * rowBytes;
        for (size_t x = 0; x < rowBytes; x += 3) {
            dst[x + 0] = src[x + 2];
            dst[x + 1] = src[x + 1];
            dst[x + 2] = src[x + 0];
        }
    }
    return true;
}

bool krvSavePixelsPNG(const char* path)
{
    if (!path || !*path) {
        Report("krvSavePixelsPNG: no file name");
        return false;
    }
    const uint8* bgr = Picture("krvSavePixelsPNG");
    if (!bgr) return false;
    const _3D_Korvane_Rendering& r = krvRendering();
    errno = 0;
    if (krvSaveImagePNG(path, r.width, r.height, bgr, r.colorWidth * 3, true)) return true;
    const int error = errno;
    Report(std::string("krvSavePixelsPNG: could not write ") + path +
           (error ? std::string(": ") + std::strerror(error) : std::string()));
    return false;
}
