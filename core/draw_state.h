// DrawState: everything a draw derives from the core, prepared once by PrepareDraw before the
// first triangle and read, never written, by every stage after it (submit.cpp, clip.h,
// rasterize.cpp, the span routines). Worker threads read the same DrawState, so a draw sees one
// consistent state whichever thread walks which rows.
//
// Also here: the set-up triangle, the record that triangle set-up (rasterize.cpp) hands to the
// row walk, and the row window by which threads share a target.
#pragma once

#include "core/core.h"
#include "core/span.h"

#include <climits>
#include <cstdint>

struct DrawState {
    // The attribute groups the draw carries, clips, interpolates and shades (kSpan* bits).
    unsigned features = 0;
    int vectors = 1;  // krvi::VectorsOf(features): packed vectors a point takes

    // Submission.
    const float* modelViewProjection = nullptr;  // the core's matrices, 16 floats each
    const float* shadowMapMatrix = nullptr;
    vec3 lightPosition;
    bool fogged = false;  // the fog switch on and fog parameters set
    int fogMode = 0;
    const float* fogParameters = nullptr;

    // Set-up: the viewport as the draw addresses its target (scaled for supersampling), culling
    // and the row step.
    float viewportX = 0.0f, viewportY = 0.0f, viewportWidth = 0.0f, viewportHeight = 0.0f;
    bool cull = false;
    int cullFace = 0;
    int rowStep = 1;  // 2: even rows only (interlace, or screen-door transparency)

    // The span stage.
    SpanTarget target;
    ShadeState shade;
    SpanRoutine span = nullptr;
    SpanFlush flush = nullptr;  // each thread's queue at the end of the draw, when span defers

    // The draw must run on one thread: a pixel reads what another row writes (the depth-colour
    // compare reads the next pixel, which can start the next row), or a sampled texture is also
    // a target of the draw.
    bool serialOnly = false;
};

// viewport: x, y, width, height as the draw addresses the target.
// features: the groups to carry (krvi::DrawFeatures after DrawTriangles has set the per-draw flags,
// krvi::SpanFeatures for the stage entry points).
void PrepareDraw(const _3D_Korvane_Core& core, unsigned features, const int viewport[4],
                 DrawState& draw);

namespace krvi {

// The lanes a draw's span routine may use: 0 picks the widest the processor has (the default),
// 1 forces the scalar body, 4 or 8 ask for at most that many. SimdLanes answers the lanes
// in use (1 for the scalar body). Process-wide; the first use reads KRV_SIMD.
void SetSimdLanes(int lanes);
int SimdLanes();

// ---------------------------------------------------------------------------------------------
// A triangle after set-up: its two edge pairs, each with its rows and its ends as packed
// vectors. Only the first `vectors` of each point's five are stored, so a depth-only draw keeps
// a sixth of what a shaded one does.
struct PairRows {
    int first = 0, last = -1;  // rows first, first + step, ... <= last; none when first > last
    float longTop = 0.0f, longScale = 0.0f;    // top y and 1 / dy of the long edge
    float shortTop = 0.0f, shortScale = 0.0f;  // the same of the short edge
};

struct SetupTriangle {
    PairRows pairs[2];
    // Then, `vectors` Lanes4 each: long top, long delta, then top and delta of the first short
    // edge and of the second.
};

constexpr int kSetupHeader = 3;  // Lanes4 that hold a SetupTriangle
static_assert(sizeof(SetupTriangle) <= kSetupHeader * sizeof(Lanes4), "header fits");

inline int SetupStride(int vectors) { return kSetupHeader + 6 * vectors; }
inline const Lanes4* SetupPoint(const Lanes4* record, int vectors, int which)
{
    return record + kSetupHeader + which * vectors;
}

// Set-up of one clipped triangle (divide, cull, viewport, edges): writes the record at out
// (SetupStride lanes) and returns true, or false when nothing of it can be drawn.
bool SetUpTriangle(const DrawState& draw, _3D_Korvane_Shader* v, Lanes4* out);

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
void DrawSetupTriangle(const DrawState& draw, ShadeState& shade, const Lanes4* record,
                       uint64_t ordinal, const RowWindow& window, LastDepth& last);

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
    DrawState state;
    ShadeState shade;
    PixelQueue queue;
    LastDepth last;
    uint64_t ordinal = 0;
};

}  // namespace krvi
