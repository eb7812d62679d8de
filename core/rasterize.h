// Rasterization (rasterize.cpp): the edge and span records with their differences and
// interpolation, which the clipper also uses; triangle set-up into the record the row walk reads;
// the row walk; and the serial draw of one clipped triangle.
#pragma once

#include "core/attributes.h"
#include "core/draw_state.h"
#include "core/features.h"
#include "core/vertex.h"

#include <climits>
#include <cstdint>

namespace krvi {

// ---------------------------------------------------------------------------------------------
// Second minus first end of every group, filled for the position always and for the
// attributes of `features` only (attributes.h); the others stay stale.
struct Deltas {
    vec4 position;  // screen x, y, depth, 1/w (clip space inside the clipper)
#define KRV_ATTRIBUTE_FIELD(field, n, feature, needs) VectorOf<n>::type field;
    KRV_ATTRIBUTES(KRV_ATTRIBUTE_FIELD)
#undef KRV_ATTRIBUTE_FIELD

    void SetDeltas(const _3D_Korvane_Shader& a, const _3D_Korvane_Shader& b, unsigned features);
};

}  // namespace krvi

// A triangle edge: first end is the top (smaller screen y), second the bottom.
struct CEdge : krvi::Deltas {
    _3D_Korvane_Shader* first = nullptr;
    _3D_Korvane_Shader* second = nullptr;

    // On equal y the first argument stays first. Stores only the two ends.
    void Set(_3D_Korvane_Shader* a, _3D_Korvane_Shader* b)
    {
        bool keep = b->position.y >= a->position.y;
        first = keep ? a : b;
        second = keep ? b : a;
    }
};

// One row's span: first end is the left point (smaller screen x), second the right.
struct CSpan : krvi::Deltas {
    _3D_Korvane_Shader* first = nullptr;
    _3D_Korvane_Shader* second = nullptr;

    void Set(_3D_Korvane_Shader* a, _3D_Korvane_Shader* b)
    {
        bool keep = b->position.x >= a->position.x;
        first = keep ? a : b;
        second = keep ? b : a;
    }
};

namespace krvi {

// out = a + d * t for the position and the groups of `features` (out may be a).
void Lerp(_3D_Korvane_Shader& out, const _3D_Korvane_Shader& a, const Deltas& d, float t,
          unsigned features);

// ---------------------------------------------------------------------------------------------
// A triangle after set-up: its two edge pairs, each with its rows, then its three corners as
// packed vectors, the long edge's two first. The row walk takes each edge's top end and
// difference from the corners (the same comparison and subtraction as set-up would), so a
// record is half the size it would be with them stored: the threads that share a draw write
// and read every record through memory. Only the first `vectors` of each corner's five are
// stored, so a depth-only record is a third the size of a shaded one.
struct PairRows {
    int first = 0, last = -1;  // rows first, first + step, ... <= last; none when first > last
    float longTop = 0.0f, longScale = 0.0f;    // top y and 1 / dy of the long edge
    float shortTop = 0.0f, shortScale = 0.0f;  // the same of the short edge
};

struct SetupTriangle {
    PairRows pairs[2];
    // Then, `vectors` Lanes4 each, the corners c0, c1, c2: the long edge runs between c0 and
    // c1, the first short edge between c1 and c2, the second between c2 and c0.
};

constexpr int kSetupHeader = 3;  // Lanes4 that hold a SetupTriangle
static_assert(sizeof(SetupTriangle) <= kSetupHeader * sizeof(krvi::Lanes4), "header fits");

inline int SetupStride(int vectors) { return kSetupHeader + 3 * vectors; }
constexpr int kSetupMaxStride = kSetupHeader + 3 * 5;

// Set-up of one clipped triangle (divide, cull, viewport, edges): writes the record at out
// (SetupStride lanes) and returns true, or false when nothing of it can be drawn.
bool SetUpTriangle(const krvi::DrawState& draw, _3D_Korvane_Shader* v, krvi::Lanes4* out);

// ---------------------------------------------------------------------------------------------
// The rows [first, last] a row walk draws of a triangle: the whole target on one thread, one
// screen region (a band of consecutive rows) when threads share the target by regions.
struct RowWindow {
    int first = 0;
    int last = INT_MAX;
};

// The last fragment that reached the depth test, in the order one thread would draw it:
// the record's place in the draw, its edge pair, its row. Threads keep their own and the
// largest key wins when the draw ends.
struct LastDepth {
    uint64_t key = 0;
    int row = -1;
    unsigned short depth = 0;
    bool set = false;

    void Take(uint64_t k, int y, unsigned short d)
    {
        key = k;
        row = y;
        depth = d;
        set = true;
    }
    bool After(const LastDepth& o) const
    {
        return set && (!o.set || key > o.key || (key == o.key && row > o.row));
    }
};

// Draws the rows of one set-up triangle that lie in the window. `ordinal` is the
// record's place in the draw (the same on every thread); shade is this thread's copy of the
// draw's shading state (the Dot3 term reads a per-row value from it).
void DrawSetupTriangle(const krvi::DrawState& draw, krvi::ShadeState& shade,
                       const krvi::Lanes4* record, uint64_t ordinal, const RowWindow& window,
                       LastDepth& last);

// ---------------------------------------------------------------------------------------------
// The core's stage entry points (ClipTriangle, RasterizeTriangle, DrawSpansBetweenEdges) draw
// on the calling thread with the state as the core's fields stand: the viewport unscaled, the
// mask of SpanFeatures. The last depth goes back to the core when this ends.
struct SerialDraw {
    explicit SerialDraw(_3D_Korvane_Core& core);
    ~SerialDraw();
    SerialDraw(const SerialDraw&) = delete;
    SerialDraw& operator=(const SerialDraw&) = delete;

    // Set-up and rows of one clipped triangle.
    void Triangle(_3D_Korvane_Shader* v);
    uint64_t NextOrdinal() { return ordinal++; }

    _3D_Korvane_Core& core;
    krvi::DrawState state;
    krvi::ShadeState shade;
    PixelQueue queue;
    LastDepth last;
    uint64_t ordinal = 0;
};

// The span loop with the feature bits tested at run time, for one CSpan with the core's state:
// the reference that the public DrawSpan (and every routine a draw can pick) must match.
void DrawSpanReference(_3D_Korvane_Core& core, CSpan* span, int y);

}  // namespace krvi
