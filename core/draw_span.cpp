// DrawSpan: the pixel loop of one span, and KrvDrawRows: the rows of one edge pair. One body,
// DrawSpanImpl, instantiated once for every feature mask and once with the mask tested at run
// time (the reference). The routine of the draw's mask is picked from a table built at compile
// time once an edge pair, together with the shading state it reads, so a row costs only its
// two end points and its pixels.
#include "core/core.h"
#include "core/rasterize.h"
#include "core/shade.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <utility>

// The draw's mask, less what the core cannot back right now: a span drawn without a colour
// target is depth-only, and a group whose texture or light is gone is not shaded.
static unsigned SpanFeatures(const _3D_Korvane_Core& core)
{
    unsigned f = core.drawFeatures;
    if (!core.targetColor) return 0;
    if (!core.texture0) f &= ~kSpanTexture;
    if (!core.light) f &= ~(kSpanLight | kSpanShadow);
    if (!core.shadowMap) f &= ~kSpanShadow;
    return f;
}

// ---------------------------------------------------------------------------------------------
// Row and span ends as packed vectors.
//
// A point of a row, or the difference of two, as five four-float vectors in the order of
// KrvDeltas: screen x, y, depth, 1/w | colour, u | v, normal | light vector, shadow x |
// shadow y, z, w, one unused lane. The interpolations and differences of the row loop are then
// a few packed operations, every lane computed exactly as the scalar line of KrvLerp or
// SetDeltas computes it, and vectors 1 to 4 are a pixel's attributes in the order of
// PixelAttributes. Lanes of groups the draw does not use hold zeros and are never read.
typedef float Lanes4 __attribute__((vector_size(16)));  // GCC's generic vectors, not intrinsics
static_assert(sizeof(PixelAttributes) == 4 * sizeof(Lanes4), "PixelAttributes is 16 floats");

struct FlatPoint {
    Lanes4 v[5];

    float X() const { return v[0][0]; }
    float Y() const { return v[0][1]; }
    float Depth() const { return v[0][2]; }
    float W() const { return v[0][3]; }
};

// The vectors that hold the position and the groups of f.
template <class Features>
static int VectorsOf(Features f)
{
    if (!f.Has(kSpanColor)) return 1;
    if (f.Has(kSpanShadow)) return 5;
    if (f.Has(kSpanLight)) return 4;
    return f.Has(kSpanTexture) ? 3 : 2;
}

// op(k) for the first n vectors, written out so that a constant n leaves straight-line code.
template <class Op>
static inline __attribute__((always_inline)) void ForVectors(int n, Op op)
{
    op(0);
    if (n > 1) op(1);
    if (n > 2) op(2);
    if (n > 3) op(3);
    if (n > 4) op(4);
}

template <class Vec>
static void PutGroup(float* lanes, int first, const Vec& g)
{
    for (int i = 0; i < int(sizeof(Vec) / sizeof(float)); ++i) lanes[first + i] = g[i];
}

// The groups of f of a pipeline record (_3D_Korvane_Shader) or of differences (KrvDeltas).
template <class Record, class Features>
static FlatPoint Flatten(const Record& r, Features f)
{
    float lanes[20] = {};
    PutGroup(lanes, 0, r.position);
    if (f.Has(kSpanColor)) {
        PutGroup(lanes, 4, r.color);
        if (f.Has(kSpanTexture)) PutGroup(lanes, 7, r.texCoord);
        if (f.Has(kSpanLight)) {
            PutGroup(lanes, 9, r.normal);
            PutGroup(lanes, 12, r.lightVector);
            if (f.Has(kSpanShadow)) PutGroup(lanes, 15, r.shadowCoord);
        }
    }
    FlatPoint p;
    std::memcpy(p.v, lanes, sizeof lanes);
    return p;
}

// ---------------------------------------------------------------------------------------------
// The span loop.

// What the span loop reads of the core's targets, fixed for a whole edge pair: the rows and
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

    template <class Features>
    void Load(const _3D_Korvane_Core& core, Features f)
    {
        lastRow = core.maxY;
        lastColumn = core.maxX;
        if (f.Has(kSpanColor)) {
            color = core.targetColor;
            colorWidth = core.targetColorWidth;
            lastRow = std::min(lastRow, core.targetColorHeight - 1);
            lastColumn = std::min(lastColumn, core.targetColorWidth - 1);
        }
        if (core.targetDepth) {
            depth = core.targetDepth;
            depthWidth = core.targetDepthWidth;
            lastRow = std::min(lastRow, core.targetDepthHeight - 1);
            lastColumn = std::min(lastColumn, core.targetDepthWidth - 1);
        } else if (!f.Has(kSpanColor)) {
            lastRow = -1;
        }
        testDepth = depth && !core.ignoreDepth;
        writeDepth = depth && core.useDepthWrite;
    }
};

// left: the span's left end; delta: right minus left; rightX: the right end's screen x.
// lastDepth: the depth of the last pixel computed, carried from span to span.
template <class Features>
static void DrawSpanImpl(const SpanTarget& target, const ShadeState& shade, const FlatPoint& left,
                         const FlatPoint& delta, float rightX, int y, unsigned short& lastDepthOut,
                         Features f)
{
    const float dx = delta.X();
    if (dx == 0.0f || !std::isfinite(dx) || !std::isfinite(left.X())) return;
    if (y < 0 || y > target.lastRow) return;
    const int firstColumn = std::max(TruncToInt(left.X()), 0);
    const int lastColumn = std::min(TruncToInt(rightX), target.lastColumn);
    if (firstColumn > lastColumn) return;
    uint8* const colorRow =
        f.Has(kSpanColor) ? target.color + static_cast<size_t>(y) * target.colorWidth * 3
                          : nullptr;
    unsigned short* const depthRow =
        target.depth ? target.depth + static_cast<size_t>(y) * target.depthWidth : nullptr;
    const bool testDepth = target.testDepth;
    const bool writeDepth = target.writeDepth;
    const int vectors = VectorsOf(f);

    const float scale = 1.0f / dx;
    unsigned short lastDepth = lastDepthOut;
    for (int x = firstColumn; x <= lastColumn; ++x) {
        const float t = (static_cast<float>(x) + 0.5f - left.X()) * scale;
        if (t < 0.0f || t > 1.0f) continue;

        const unsigned short d = static_cast<unsigned short>(
            TruncToInt((left.Depth() + delta.Depth() * t) * 65535.0f));
        lastDepth = d;
        if (testDepth && depthRow[x] < d) continue;

        if (f.Has(kSpanColor)) {
            const float w = 1.0f / (left.W() + delta.W() * t);
            // Attributes (left + delta * t) * w, vectors 1.. into the record's four vectors.
            PixelAttributes a;
            ForVectors(vectors, [&](int k) {
                if (k == 0) return;
                const Lanes4 lanes = (left.v[k] + delta.v[k] * t) * w;
                std::memcpy(reinterpret_cast<char*>(&a) + (k - 1) * sizeof lanes, &lanes,
                            sizeof lanes);
            });
            if (!ShadePixel(shade, a, colorRow + static_cast<size_t>(x) * 3, d, f)) continue;
        }
        if (writeDepth) depthRow[x] = d;
    }
    lastDepthOut = lastDepth;
}

// ---------------------------------------------------------------------------------------------
// The row loop.

template <class Features>
static void DrawRowsImpl(_3D_Korvane_Core& core, const CEdge& longEdge, const CEdge& shortEdge,
                         const KrvRows& rows, Features f)
{
    SpanTarget target;
    target.Load(core, f);
    if (target.lastRow < 0) return;
    ShadeState shade;
    if (f.Has(kSpanColor)) shade.Load(core);
    unsigned short lastDepth = core.lastDepth;
    const int n = VectorsOf(f);
    const FlatPoint longTop = Flatten(*longEdge.first, f);
    const FlatPoint longDelta = Flatten(longEdge, f);
    const FlatPoint shortTop = Flatten(*shortEdge.first, f);
    const FlatPoint shortDelta = Flatten(shortEdge, f);
    FlatPoint p, q, delta;
    for (int y = rows.first;; y += rows.step) {
        const float centre = static_cast<float>(y) + 0.5f;
        // Both ends of 0..1 are accepted: there is no top-left rule, and a row whose centre lies
        // exactly on a shared vertex or edge is drawn by both triangles.
        const float tL = (centre - rows.longTop) * rows.longScale;
        const float tS = (centre - rows.shortTop) * rows.shortScale;
        if (tL >= 0.0f && tL <= 1.0f && tS >= 0.0f && tS <= 1.0f) {
            // P on the long edge, Q on the short one; P is the left end unless Q lies left of it
            // (CSpan::Set); the span's differences are right minus left (SetDeltas).
            ForVectors(n, [&](int k) {
                p.v[k] = longTop.v[k] + longDelta.v[k] * tL;
                q.v[k] = shortTop.v[k] + shortDelta.v[k] * tS;
            });
            const bool pLeft = q.X() >= p.X();
            const FlatPoint& left = pLeft ? p : q;
            const FlatPoint& right = pLeft ? q : p;
            ForVectors(n, [&](int k) { delta.v[k] = right.v[k] - left.v[k]; });
            if (f.Has(kSpanColor)) shade.SetSpanRight(vec3(right.X(), right.Y(), right.Depth()));
            DrawSpanImpl(target, shade, left, delta, right.X(), y, lastDepth, f);
        }
        if (rows.last - y < rows.step) break;
    }
    core.lastDepth = lastDepth;
}

// One span given as a CSpan, as the public DrawSpan and the reference take it.
template <class Features>
static void DrawOneSpan(_3D_Korvane_Core& core, const CSpan& span, int y, Features f)
{
    SpanTarget target;
    target.Load(core, f);
    ShadeState shade;
    if (f.Has(kSpanColor)) shade.Load(core, span);
    DrawSpanImpl(target, shade, Flatten(*span.first, f), Flatten(span, f),
                 span.second->position.x, y, core.lastDepth, f);
}

// ---------------------------------------------------------------------------------------------
// The tables of routines, one entry a mask.

typedef void (*SpanRoutine)(_3D_Korvane_Core& core, const CSpan& span, int y);
typedef void (*RowsRoutine)(_3D_Korvane_Core& core, const CEdge& longEdge,
                            const CEdge& shortEdge, const KrvRows& rows);

template <unsigned Mask>
static void DrawSpanFixed(_3D_Korvane_Core& core, const CSpan& span, int y)
{
    DrawOneSpan(core, span, y, FixedFeatures<Mask>());
}

template <unsigned Mask>
static void DrawRowsFixed(_3D_Korvane_Core& core, const CEdge& longEdge, const CEdge& shortEdge,
                          const KrvRows& rows)
{
    DrawRowsImpl(core, longEdge, shortEdge, rows, FixedFeatures<Mask>());
}

template <unsigned... Masks>
static constexpr std::array<SpanRoutine, sizeof...(Masks)>
MakeSpanRoutines(std::integer_sequence<unsigned, Masks...>)
{
    return {{&DrawSpanFixed<Masks>...}};
}

template <unsigned... Masks>
static constexpr std::array<RowsRoutine, sizeof...(Masks)>
MakeRowsRoutines(std::integer_sequence<unsigned, Masks...>)
{
    return {{&DrawRowsFixed<Masks>...}};
}

static constexpr std::array<SpanRoutine, kSpanFeatureCount> kSpanRoutines =
    MakeSpanRoutines(std::make_integer_sequence<unsigned, kSpanFeatureCount>());
static constexpr std::array<RowsRoutine, kSpanFeatureCount> kRowsRoutines =
    MakeRowsRoutines(std::make_integer_sequence<unsigned, kSpanFeatureCount>());

void _3D_Korvane_Core::DrawSpan(CSpan* span, int y)
{
    kSpanRoutines[SpanFeatures(*this)](*this, *span, y);
}

void KrvDrawRows(_3D_Korvane_Core& core, const CEdge& longEdge, const CEdge& shortEdge,
                 const KrvRows& rows)
{
    kRowsRoutines[SpanFeatures(core)](core, longEdge, shortEdge, rows);
}

void KrvDrawSpanReference(_3D_Korvane_Core& core, CSpan* span, int y)
{
    DrawOneSpan(core, *span, y, RuntimeFeatures{SpanFeatures(core)});
}

void KrvDrawRowsReference(_3D_Korvane_Core& core, const CEdge& longEdge, const CEdge& shortEdge,
                          const KrvRows& rows)
{
    const unsigned features = core.drawFeatures;
    _3D_Korvane_Shader p, q;
    CSpan span;
    for (int y = rows.first;; y += rows.step) {
        const float centre = static_cast<float>(y) + 0.5f;
        const float tL = (centre - rows.longTop) * rows.longScale;
        const float tS = (centre - rows.shortTop) * rows.shortScale;
        if (tL >= 0.0f && tL <= 1.0f && tS >= 0.0f && tS <= 1.0f) {
            KrvLerp(p, *longEdge.first, longEdge, tL, features);
            KrvLerp(q, *shortEdge.first, shortEdge, tS, features);
            span.Set(&p, &q);
            span.SetDeltas(*span.first, *span.second, features);
            KrvDrawSpanReference(core, &span, y);
        }
        if (rows.last - y < rows.step) break;
    }
}
