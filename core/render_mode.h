// The render modes as one table: how much smaller than the window the internal image is, and
// how it is blitted back up. The window sizes its buffers by it, the interface maps window
// pixels by it and the presentation stretches by it, so the three can never disagree. The
// anti-aliasing factor, the other ratio between two images, is here too.
#pragma once

#include "base/codes.h"
#include "math/glmath.h"

#include <climits>

namespace krvi {

// How SwapBuffers hands the colour buffer to the window.
enum Blit_ {
    Blit_None = 0,  // a mode outside 128..132: nothing is shown
    Blit_Stretch,   // StretchDIBits in the device's current stretch mode
    Blit_Device,    // SetDIBitsToDevice, 1:1
    Blit_Halftone   // StretchDIBits after SetStretchBltMode(HALFTONE)
};

struct RenderModeInfo {
    float factor;  // window size / internal size
    int blit;      // a Blit_ value
};

constexpr int kFirstRenderMode = KrvRenderMode_Normal;
constexpr RenderModeInfo kRenderModes[] = {
    {1.0f, Blit_Stretch},   // KrvRenderMode_Normal
    {1.0f, Blit_Device},    // KrvRenderMode_Device
    {1.5f, Blit_Stretch},   // KrvRenderMode_Speed
    {2.0f, Blit_Halftone},  // KrvRenderMode_Boost
    {2.75f, Blit_Halftone}  // KrvRenderMode_Nearest
};

// Modes outside the table keep the window's size (a defined choice for values the interface
// does not list) and blit nothing.
inline RenderModeInfo RenderModeOf(int mode)
{
    const int n = static_cast<int>(sizeof kRenderModes / sizeof kRenderModes[0]);
    // Tested before subtracting: any int may arrive, and INT_MIN - 128 would overflow.
    if (mode < kFirstRenderMode || mode - kFirstRenderMode >= n) return {1.0f, Blit_None};
    return kRenderModes[mode - kFirstRenderMode];
}

// A window length in internal pixels. A whole factor divides in integers, a fractional one in
// float and truncates: 800 / 2.75 is 290.
inline int InternalSize(int mode, int windowSize)
{
    const float f = RenderModeOf(mode).factor;
    const int whole = static_cast<int>(f);
    if (static_cast<float>(whole) == f) return windowSize / whole;
    return TruncToInt(static_cast<float>(windowSize) / f);
}

// An internal length in window pixels, the inverse of InternalSize up to truncation.
inline int WindowSize(int mode, int internalSize)
{
    const float f = RenderModeOf(mode).factor;
    const int whole = static_cast<int>(f);
    if (static_cast<float>(whole) == f) {
        // Saturating, as the fractional factors' TruncToInt does: any int may arrive.
        const long long v = static_cast<long long>(internalSize) * whole;
        return v > INT_MAX ? INT_MAX : (v < INT_MIN ? INT_MIN : static_cast<int>(v));
    }
    return TruncToInt(f * static_cast<float>(internalSize));
}

// Supersampling in each direction: 2, 3, 4 for 64, 65, 66; 1 for any other value (the caller
// tests for 0, no anti-aliasing, first).
constexpr int AntiAliasingFactor(int mode)
{
    return mode == KrvAA_2x2 ? 2 : mode == KrvAA_3x3 ? 3 : mode == KrvAA_4x4 ? 4 : 1;
}

}  // namespace krvi
