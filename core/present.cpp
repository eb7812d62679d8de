#include "base/compiler.h"
#include "core/core.h"

#include "platform/platform.h"

#include <algorithm>
#include <cstdint>

void _3D_Korvane_Core::SwapBuffers(HDC hdc)
{
    if (!colorBuffer) return;
    if (antiAliasing != 0 && aaColorBuffer) SetAntiAliasingFilter(antiAliasing);

    const int blit = krvi::RenderModeOf(renderMode).blit;
    if (blit == krvi::Blit_Device) {
        SetDIBitsToDevice(hdc, 0, 0, static_cast<DWORD>(width), static_cast<DWORD>(height), 0, 0, 0,
                          static_cast<UINT>(height), colorBuffer, &bitmapInfo, DIB_RGB_COLORS);
    } else if (blit != krvi::Blit_None) {
        if (blit == krvi::Blit_Halftone) SetStretchBltMode(hdc, HALFTONE);
        StretchDIBits(hdc, 0, 0, krvi::WindowSize(renderMode, width),
                      krvi::WindowSize(renderMode, height), 0, 0, width, height, colorBuffer,
                      &bitmapInfo, DIB_RGB_COLORS, SRCCOPY);
    }

    GdiFlush();
    ReleaseDC(WindowFromDC(hdc), hdc);
    DeleteDC(hdc);
}

// Each component is truncated and only its low 8 bits kept, so out-of-range values wrap.
static COLORREF PackColor(float r, float g, float b)
{
    const DWORD cr = static_cast<DWORD>(TruncToInt(r)) & 0xFFu;
    const DWORD cg = static_cast<DWORD>(TruncToInt(g)) & 0xFFu;
    const DWORD cb = static_cast<DWORD>(TruncToInt(b)) & 0xFFu;
    return cr + cg * 256u + cb * 65536u;
}

void _3D_Korvane_Core::SetPixel(int x, int y, float r, float g, float b)
{
    if (!windowDC) return;
    SetPixelV(windowDC, x, y, PackColor(r, g, b));
}

static int64_t Abs64(int64_t v) { return v < 0 ? -v : v; }

// Lines whose major extent exceeds this are longer than any image the platform makes.
static const int64_t kLongLine = int64_t{1} << 16;

// The size of the image behind the device context: pixels outside it are not drawn, so the line
// routines walk only the part of a line that can land inside.
static bool TargetSize(HDC dc, int64_t& w, int64_t& h)
{
    int iw = 0, ih = 0;
    const unsigned char* pixels = nullptr;
    if (!krvplat::GetImage(dc, iw, ih, pixels) || iw <= 0 || ih <= 0) return false;
    w = iw;
    h = ih;
    return true;
}

void _3D_Korvane_Core::SetLineBresenham(int x0, int y0, int x1, int y1, float r, float g, float b)
{
    if (!windowDC) return;
    const COLORREF colour = PackColor(r, g, b);
    // 64-bit deltas: the ends may be any two ints.
    const int64_t dx = static_cast<int64_t>(x1) - x0;
    const int64_t dy = static_cast<int64_t>(y1) - y0;
    const int sx = dx < 0 ? -1 : 1;
    const int sy = dy < 0 ? -1 : 1;
    const bool xMajor = 2 * Abs64(dy) < 2 * Abs64(dx);

    SetPixelV(windowDC, x0, y0, colour);
    if (xMajor ? x0 == x1 : y0 == y1) return;

    const int64_t major = xMajor ? Abs64(dx) : Abs64(dy);
    const int64_t minor = xMajor ? Abs64(dy) : Abs64(dx);
    const int majorStep = xMajor ? sx : sy;
    const int64_t major0 = xMajor ? x0 : y0;

    // Step k (1..major) plots at major0 + k * majorStep; only the steps whose major coordinate
    // lies inside the image are walked. After k steps the minor coordinate has advanced
    // floor((2 minor k + major) / (2 major)) times and the error term follows from it, so the
    // walk can start at its first visible step with exactly the state the full walk would have.
    int64_t w, h;
    if (!TargetSize(windowDC, w, h)) return;
    const int64_t limit = xMajor ? w : h;
    int64_t kLo = majorStep > 0 ? -major0 : major0 - (limit - 1);
    int64_t kHi = majorStep > 0 ? limit - 1 - major0 : major0;
    kLo = std::max<int64_t>(kLo, 1);
    kHi = std::min<int64_t>(kHi, major);
    if (kLo > kHi) return;

    const krvi::Int128 k = kLo - 1;
    const krvi::Int128 advanced = (2 * static_cast<krvi::Int128>(minor) * k + major) / (2 * major);
    int64_t e = static_cast<int64_t>(2 * minor - major + 2 * minor * k - 2 * major * advanced);
    int64_t x = x0, y = y0;
    if (xMajor) {
        x += sx * static_cast<int64_t>(k);
        y += sy * static_cast<int64_t>(advanced);
    } else {
        y += sy * static_cast<int64_t>(k);
        x += sx * static_cast<int64_t>(advanced);
    }
    for (int64_t step = kLo; step <= kHi; ++step) {
        const bool minorStep = e >= 0;
        if (xMajor) {
            x += sx;
            if (minorStep) y += sy;
        } else {
            y += sy;
            if (minorStep) x += sx;
        }
        SetPixelV(windowDC, static_cast<int>(x), static_cast<int>(y), colour);
        e += 2 * minor;
        if (minorStep) e -= 2 * major;
    }
}

void _3D_Korvane_Core::SetLineOptimized(int x0, int y0, int x1, int y1, float r, float g, float b)
{
    if (!windowDC) return;
    const COLORREF colour = PackColor(r, g, b);
    int64_t w, h;
    if (!TargetSize(windowDC, w, h)) return;
    // Runs outside the image draw nothing: they are cut to it.
    if (x0 == x1) {
        const int64_t lo = std::max<int64_t>(y0 < y1 ? y0 : y1, 0);
        const int64_t hi = std::min<int64_t>(y0 < y1 ? y1 : y0, h - 1);
        for (int64_t y = lo; y <= hi; ++y) SetPixelV(windowDC, x0, static_cast<int>(y), colour);
        return;
    }
    if (y0 == y1) {
        const int64_t lo = std::max<int64_t>(x0 < x1 ? x0 : x1, 0);
        const int64_t hi = std::min<int64_t>(x0 < x1 ? x1 : x0, w - 1);
        for (int64_t x = lo; x <= hi; ++x) SetPixelV(windowDC, static_cast<int>(x), y0, colour);
        return;
    }

    const int64_t dx = static_cast<int64_t>(x1) - x0;
    const int64_t dy = static_cast<int64_t>(y1) - y0;
    const bool yMajor = Abs64(dx) < Abs64(dy);
    const int64_t majorExtent = yMajor ? Abs64(dy) : Abs64(dx);
    const int64_t minorExtent = yMajor ? Abs64(dx) : Abs64(dy);
    const int majorStep = (yMajor ? dy : dx) < 0 ? -1 : 1;
    const int minorStep = (yMajor ? dx : dy) < 0 ? -1 : 1;
    // A line longer than any image is walked by the Bresenham routine, which skips what lies
    // outside; the run walk below would take time in proportion to the whole length.
    if (majorExtent > kLongLine) {
        SetLineBresenham(x0, y0, x1, y1, r, g, b);
        return;
    }

    // Runs of R = |dx||dy| against the threshold m = R - major, lowered by the major extent after
    // each run. The product overflows 64 bits for far-apart ends, so the loop keeps R - m (which
    // starts at the major extent and stays within [-minor, major]) and the number of runs left
    // (the line ends after the run that leaves m <= 0, the minorExtent-th one).
    int64_t excess = majorExtent;
    int64_t runsLeft = minorExtent;
    int64_t major = yMajor ? y0 : x0;
    int64_t minor = yMajor ? x0 : y0;
    for (;;) {
        do {
            excess -= minorExtent;
            if (yMajor)
                SetPixelV(windowDC, static_cast<int>(minor), static_cast<int>(major), colour);
            else
                SetPixelV(windowDC, static_cast<int>(major), static_cast<int>(minor), colour);
            major += majorStep;
        } while (excess >= 0);
        if (--runsLeft <= 0) break;
        minor += minorStep;
        excess += majorExtent;
    }
}
