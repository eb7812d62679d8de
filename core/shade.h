// Pixel shading: the colour of one covered, depth-tested pixel from its perspective-corrected
// attributes, and the write of that colour into the target. Inlined into every specialisation
// of the span loop (draw_span.cpp); nothing else calls it.
#pragma once

#include "core/core.h"
#include "core/rasterize.h"

// Feature sets of the span loop. FixedFeatures lets the compiler drop the branches of a draw's
// unused groups; RuntimeFeatures is the reference body that the fixed ones must match.
template <unsigned Mask>
struct FixedFeatures {
    static constexpr bool Has(unsigned f) { return (Mask & f) != 0; }
};
struct RuntimeFeatures {
    unsigned mask;
    bool Has(unsigned f) const { return (mask & f) != 0; }
};

// One pixel's attributes, already multiplied back by w. Only the groups of the draw's features
// are set.
struct PixelAttributes {
    vec3 color;
    vec2 texCoord;
    vec3 normal;
    vec3 lightVector;
    vec4 shadowCoord;
};

// What the shading reads from the core, copied once a span: the loop's byte stores may alias
// any field, so reading the core inside the loop would reload it every pixel.
struct ShadeState {
    void Load(const _3D_Korvane_Core& core) { (void)core; }
};

// ===== Pixel shading =========================================================================
// Turns the attributes into the final colour F and writes it over dst (blue, green, red).
// Returns whether the pixel's depth may be written.
template <class Features>
inline bool ShadePixel(const ShadeState& state, const PixelAttributes& a, uint8* dst, Features f)
{
    (void)state;
    (void)f;
    // Colours are expected in 0..1: no clamping, the low 8 bits of the truncated value are kept.
    dst[0] = static_cast<uint8>(TruncToInt(a.color.z * 255.0f));
    dst[1] = static_cast<uint8>(TruncToInt(a.color.y * 255.0f));
    dst[2] = static_cast<uint8>(TruncToInt(a.color.x * 255.0f));
    return true;
}
