// The span stage: what one span routine takes and the routines a draw can choose from.
//
// A draw picks one routine for all its spans (draw_state.cpp): the scalar body specialised for
// its feature mask (draw_span.cpp), or, where the processor and the draw's switches allow, a
// SIMD body that computes 4, 8 or 16 pixels at once (span_simd.h, draw_span_sse2.cpp,
// draw_span_avx2.cpp, draw_span_avx512.cpp). Every routine writes the same bytes as the scalar
// reference: each pixel goes through the same float operations in the same order.
#pragma once

#include "base/compiler.h"
#include "core/shade.h"

namespace krvi {

#include <cstring>

// ---------------------------------------------------------------------------------------------
// Row and span ends as packed vectors.
//
// A point of a row, or the difference of two, as five four-float vectors in the order of
// krvi::Deltas: screen x, y, depth, 1/w | colour, u | v, normal | light vector, shadow x |
// shadow y, z, w, one unused lane. The interpolations and differences of the row loop are then
// a few packed operations, every lane computed exactly as the scalar line of krvi::Lerp or
// SetDeltas computes it, and vectors 1 to 4 are a pixel's attributes in the order of
// PixelAttributes. Lanes of groups the draw does not use hold zeros and are never read.
typedef float Lanes4 KRV_VECTOR(16);  // GCC's generic vectors, not intrinsics
constexpr int kAttributeVectors = (krvi::kAttributeLanes + 3) / 4;
static_assert(sizeof(PixelAttributes) == kAttributeVectors * sizeof(Lanes4),
              "PixelAttributes is the attribute vectors of a FlatPoint");

struct FlatPoint {
    Lanes4 v[1 + kAttributeVectors];

    float X() const { return v[0][0]; }
    float Y() const { return v[0][1]; }
    float Depth() const { return v[0][2]; }
    float W() const { return v[0][3]; }
};

// op(k) for the first n vectors, written out so that a constant n leaves straight-line code.
template <class Op>
KRV_ALWAYS_INLINE void ForVectors(int n, Op op)
{
    op(0);
    if (n > 1) op(1);
    if (n > 2) op(2);
    if (n > 3) op(3);
    if (n > 4) op(4);
}

// The groups of mask of a pipeline record (_3D_Korvane_Shader) or of differences (Deltas):
// the first VectorsOf(mask) vectors are set, lanes of unused groups to 0; the others are
// left as they are.
template <class Record>
KRV_ALWAYS_INLINE FlatPoint Flatten(const Record& r, unsigned mask)
{
    FlatPoint p;
    p.v[0] = Lanes4{r.position.x, r.position.y, r.position.z, r.position.w};
    if (!(mask & kSpanColor)) return p;
    float lanes[4 * kAttributeVectors] = {};
    ForAttributes(mask, [&](auto field, int first, int n) {
        const float* f = &field(r).x;
        for (int k = 0; k < n; ++k) lanes[first + k] = f[k];
    });
    std::memcpy(&p.v[1], lanes, sizeof lanes);
    return p;
}

// ---------------------------------------------------------------------------------------------
// What a span routine reads of the draw's targets, fixed for the whole draw: the rows and
// columns every write stays inside (whatever maxX/maxY and the viewport say), the buffers, and
// whether the depth is tested and written.
struct SpanTarget {
    uint8* color = nullptr;  // null: no colour write (depth-only)
    int colorWidth = 0;
    unsigned short* depth = nullptr;
    int depthWidth = 0;
    int lastRow = -1;  // below 0: nothing can be drawn
    int lastColumn = -1;
    bool testDepth = false;
    bool writeDepth = false;

    // withColor: the draw shades (its mask has kSpanColor).
    void Load(const _3D_Korvane_Core& core, bool withColor);
};

// Pixels whose depth a SIMD body has tested and written but whose colour it has yet to work
// out: their attributes (colour, u, v, normal, light vector, shadow coordinate; struct of
// arrays) and the offsets of their colour bytes in the target. One a thread; shading waits
// until a queue holds kCapacity (a multiple of every width), so that it runs on full vectors.
struct alignas(64) PixelQueue {
    static constexpr int kCapacity = 64;
    static constexpr int kSlack = 16;  // one vector (of the widest body) past the capacity
    float attributes[kAttributeLanes][kCapacity + kSlack];
    int offsets[kCapacity + kSlack];
    int count = 0;
};

// One span of row y: left end, right minus left, and the right end's x. `lastDepth` takes the
// depth of every pixel that passes the coverage test (the last one stays); the routine returns
// whether any did. `shade` is read only where the mask has kSpanColor.
typedef bool (*SpanRoutine)(const SpanTarget& target, const ShadeState& shade,
                            const FlatPoint& left, const FlatPoint& delta, float rightX, int y,
                            unsigned short& lastDepth);

// Shades and writes what a deferring span routine left in shade.queue.
typedef void (*SpanFlush)(const SpanTarget& target, const ShadeState& shade);

}  // namespace krvi
