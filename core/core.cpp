#include "core/core.h"

#include "platform/thread_pool.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

// Sides beyond this are no window or texture size the program can have; refusing them keeps
// every buffer small enough for the pipeline's int pixel indices.
static const int kMaxBufferSide = 16384;

// Bytes a slice of Clear should have at least: below that, waking a worker costs more than the
// memset it would take over. On two threads 2.4 MB of targets cleared no faster, 4.3 MB (the
// default window's supersampled buffers) in 0.11 ms instead of 0.16.
static const int64_t kMinClearBytes = 1536 * 1024;

_3D_Korvane_Core::_3D_Korvane_Core() {}

_3D_Korvane_Core::~_3D_Korvane_Core()
{
    // The targets alias these buffers or a frame buffer's textures: they are not released here.
    delete[] aaColorBuffer;
    delete[] colorBuffer;
    delete[] depthBuffer;
}

// True when a w x h output with supersampling factor f (0 for none) fits the limits: every
// buffer's byte count, and so every pixel index into it, stays within int.
static bool BufferSizeAcceptable(int w, int h, int f)
{
    if (w <= 0 || h <= 0 || w > kMaxBufferSide || h > kMaxBufferSide) return false;
    const size_t limit = static_cast<size_t>(INT_MAX);
    const size_t paddedWidth = static_cast<size_t>(w) + 3u;
    if (paddedWidth * static_cast<size_t>(h) * 3u > limit) return false;
    if (f > 0) {
        const size_t sw = static_cast<size_t>(w) * static_cast<size_t>(f);
        const size_t sh = static_cast<size_t>(h) * static_cast<size_t>(f);
        if (sw > limit / sh / 3u) return false;
    }
    return true;
}

// Releases the three owned buffers and forgets their sizes and the bitmap description.
static void ReleaseBuffers(_3D_Korvane_Core& c)
{
    delete[] c.aaColorBuffer;
    c.aaColorBuffer = nullptr;
    c.aaWidth = c.aaHeight = 0;
    delete[] c.colorBuffer;
    c.colorBuffer = nullptr;
    c.colorWidth = c.colorHeight = 0;
    delete[] c.depthBuffer;
    c.depthBuffer = nullptr;
    c.depthWidth = c.depthHeight = 0;
    std::memset(&c.bitmapInfo, 0, sizeof c.bitmapInfo);
}

void _3D_Korvane_Core::ResizeBuffers(int w, int h)
{
    width = w;
    height = h;

    ReleaseBuffers(*this);
    if (!frameBuffer) maxX = maxY = 0;

    const int f = antiAliasing != 0 ? krvi::AntiAliasingFactor(antiAliasing) : 0;
    if (BufferSizeAcceptable(w, h, f)) {
        int dw = w, dh = h;
        bool ok = true;
        if (f > 0) {
            aaWidth = w * f;
            aaHeight = h * f;
            // Every buffer starts as a clear leaves it (black, the far depth): a program that
            // draws before it clears gets the same bytes every time, not what the memory held.
            aaColorBuffer = new (std::nothrow)
                uint8[static_cast<size_t>(aaWidth) * static_cast<size_t>(aaHeight) * 3u]();
            ok = aaColorBuffer != nullptr;
            dw = aaWidth;
            dh = aaHeight;
        }

        colorHeight = h;
        colorWidth = (w % 4 != 0) ? w + 4 - (w % 4) : w;
        if (ok) {
            colorBuffer = new (std::nothrow)
                uint8[static_cast<size_t>(colorWidth) * static_cast<size_t>(h) * 3u]();
            ok = colorBuffer != nullptr;
        }

        bitmapInfo.bmiHeader.biSize = 40;
        bitmapInfo.bmiHeader.biWidth = colorWidth;
        bitmapInfo.bmiHeader.biHeight = colorHeight;
        bitmapInfo.bmiHeader.biPlanes = 1;
        bitmapInfo.bmiHeader.biBitCount = 24;
        bitmapInfo.bmiHeader.biCompression = BI_RGB;

        depthWidth = dw;
        depthHeight = dh;
        if (ok) {
            const size_t depths = static_cast<size_t>(dw) * static_cast<size_t>(dh);
            depthBuffer = new (std::nothrow) unsigned short[depths];
            ok = depthBuffer != nullptr;
            if (ok)
                std::fill(depthBuffer, depthBuffer + depths, static_cast<unsigned short>(0xFFFF));
        }

        // An allocation that failed leaves the core without buffers, as a bad size does,
        // rather than with some of them.
        if (!ok) {
            ReleaseBuffers(*this);
            width = height = 0;
        }
    } else {
        // No buffers: no size either, so nothing reads a width that has no memory behind it.
        width = height = 0;
    }

    if (!frameBuffer) BindFrameBuffer(nullptr);
}

void _3D_Korvane_Core::Viewport(int x, int y, int w, int h)
{
    viewportX = x;
    viewportY = y;
    viewportWidth = w;
    viewportHeight = h;
}

void _3D_Korvane_Core::Clear(bool color, bool depth)
{
    uint8* c = color && targetColor && targetColorWidth > 0 && targetColorHeight > 0 ? targetColor
                                                                                     : nullptr;
    unsigned short* d = depth && targetDepth && targetDepthWidth > 0 && targetDepthHeight > 0
                            ? targetDepth
                            : nullptr;
    if (!c && !d) return;
    const size_t colorRow = static_cast<size_t>(targetColorWidth) * 3u;
    const size_t depthPitch = static_cast<size_t>(targetDepthWidth);
    const size_t depthRow = depthPitch * sizeof(unsigned short);
    const int colorRows = c ? targetColorHeight : 0;
    const int depthRows = d ? targetDepthHeight : 0;
    // A bound frame buffer's two targets may differ in size: each slice takes the same share
    // of the rows of both.
    const int64_t bytes =
        int64_t(colorRows) * int64_t(colorRow) + int64_t(depthRows) * int64_t(depthRow);
    const int rows = colorRows > depthRows ? colorRows : depthRows;
    krvi::RunSlices(rows, krvi::SlicesFor(bytes, kMinClearBytes), [=](int first, int end, int) {
        auto share = [&](int of, int at) { return static_cast<size_t>(int64_t(of) * at / rows); };
        if (c) {
            const size_t lo = share(colorRows, first), hi = share(colorRows, end);
            std::memset(c + lo * colorRow, 0, (hi - lo) * colorRow);
        }
        if (d) {
            const size_t lo = share(depthRows, first), hi = share(depthRows, end);
            std::memset(d + lo * depthPitch, 0xFF, (hi - lo) * depthRow);
        }
    });
}

void _3D_Korvane_Core::BindFrameBuffer(CFrameBuffer* fb)
{
    if (fb) {
        CTexture* ct = fb->GetColorTexture();
        CTexture* dt = fb->GetDepthTexture();
        if (ct) {
            targetColor = ct->GetBits();
            targetColorWidth = ct->GetWidth();
            targetColorHeight = ct->GetHeight();
            maxX = targetColorWidth - 1;
            maxY = targetColorHeight - 1;
        } else {
            targetColor = nullptr;
            targetColorWidth = targetColorHeight = 0;
        }
        if (dt) {
            targetDepth = reinterpret_cast<unsigned short*>(dt->GetBits());
            targetDepthWidth = dt->GetWidth();
            targetDepthHeight = dt->GetHeight();
            maxX = targetDepthWidth - 1;
            maxY = targetDepthHeight - 1;
        } else {
            targetDepth = nullptr;
            targetDepthWidth = targetDepthHeight = 0;
        }
        if (!ct && !dt) maxX = maxY = 0;
    } else {
        if (antiAliasing != 0) {
            targetColor = aaColorBuffer;
            targetColorWidth = aaWidth;
            targetColorHeight = aaHeight;
        } else {
            targetColor = colorBuffer;
            targetColorWidth = colorWidth;
            targetColorHeight = colorHeight;
        }
        targetDepth = depthBuffer;
        targetDepthWidth = depthWidth;
        targetDepthHeight = depthHeight;
        maxX = depthWidth - 1;
        maxY = depthHeight - 1;
        // Without a depth buffer there is nothing to draw into: no -1 limits.
        if (!depthBuffer) maxX = maxY = 0;
    }
    frameBuffer = fb;
}

void _3D_Korvane_Core::BindLight(CLight* l)
{
    if (lighting) light = l;
}

void _3D_Korvane_Core::BindTexture(CTexture* t)
{
    if (bindBaseTexture) texture0 = t;
    if (bumpMapping) bumpTexture = t;
}

void _3D_Korvane_Core::BindTexture1(CTexture* t)
{
    if (multiTexture) texture1 = t;
}

void _3D_Korvane_Core::BindTexture2(CTexture* t)
{
    if (multiTexture) texture2 = t;
}

void _3D_Korvane_Core::SetCullFace(int mode)
{
    if (mode == KrvCullMode_None || mode == KrvCullMode_Front || mode == KrvCullMode_Back ||
        mode == KrvCullMode_All)
        cullFace = mode;
}

void _3D_Korvane_Core::SetFogMode(int mode)
{
    if (mode >= KrvFogMode_Height && mode <= KrvFogMode_Exp2) fogMode = mode;
}

// The pixel index is y * width + x whatever the target's row length is (the padded colour
// buffer, the supersampled one or a texture); reads are limited to the target's own bytes.
vec3 _3D_Korvane_Core::getPixel(int x, int y, int which) const
{
    if (x < 0 || y < 0 || x >= width || y >= height || !targetColor) return vec3(0.0f);
    if (x >= targetColorWidth || y >= targetColorHeight) return vec3(0.0f);
    const size_t index =
        static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x);
    const size_t bytes =
        static_cast<size_t>(targetColorWidth) * static_cast<size_t>(targetColorHeight) * 3u;
    if (which == KrvPixelRead_Color) {
        if (index * 3u + 3u > bytes) return vec3(0.0f);
        const uint8* p = targetColor + index * 3u;
        return vec3(static_cast<float>(p[0]), static_cast<float>(p[1]) * 256.0f,
                    static_cast<float>(p[2]) * 65536.0f);
    }
    if (which == KrvPixelRead_Byte) {
        if (index >= bytes) return vec3(0.0f);
        const float v = static_cast<float>(255 - targetColor[index]);
        return vec3(v, v * 256.0f, v * 65536.0f);
    }
    const uint32_t bits = 0x7FC00000u;
    float nan;
    std::memcpy(&nan, &bits, sizeof nan);
    return vec3(nan);
}
