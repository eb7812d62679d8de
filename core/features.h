// The per-draw feature mask: the attribute groups a draw fills, clips, interpolates and shades,
// and the feature sets by which the span bodies are specialised for a mask. The attributes of
// each bit are in attributes.h; which bits a draw sets is krvi::DrawFeatures (draw_state.cpp).
#pragma once

// Per-draw feature bits (`drawFeatures`). Each names an attribute group that is filled, clipped,
// interpolated and shaded only while its bit is set, and together they select the span routine.
constexpr unsigned kSpanColor = 1u;    // colour target: `color`, shading and colour write
constexpr unsigned kSpanTexture = 2u;  // `texCoord`: useTexture and the texturing switch
constexpr unsigned kSpanLight = 4u;    // `normal`, `lightVector`: useLight and lighting
constexpr unsigned kSpanShadow = 8u;   // `shadowCoord`: the light bit and useShadowMap
constexpr unsigned kSpanFeatureCount = 16u;

// Feature sets of the span loop. FixedFeatures lets the compiler drop the branches of a draw's
// unused groups; RuntimeFeatures is the reference body that the fixed ones must match.
namespace krvi {

template <unsigned Mask>
struct FixedFeatures {
    static constexpr bool Has(unsigned f) { return (Mask & f) != 0; }
    static constexpr unsigned mask() { return Mask; }
};
struct RuntimeFeatures {
    unsigned bits;
    bool Has(unsigned f) const { return (bits & f) != 0; }
    unsigned mask() const { return bits; }
};

// The core's drawFeatures less what it cannot back right now (no colour target: depth only; a
// group whose texture or light is unbound is not shaded): the mask of the stage entry points.
// A template so that this header needs no core.h: Core is _3D_Korvane_Core.
template <class Core>
unsigned SpanFeatures(const Core& core)
{
    unsigned f = core.drawFeatures;
    if (!core.targetColor) return 0;
    if (!core.texture0) f &= ~kSpanTexture;
    if (!core.light) f &= ~(kSpanLight | kSpanShadow);
    if (!core.shadowMap) f &= ~kSpanShadow;
    return f;
}

}  // namespace krvi
