// Triangle set-up and the row walk.
//
// krvi::SetUpTriangle: perspective divide, face culling, viewport mapping and the edges of one
// clipped triangle, written as a set-up record: its three corners, the long edge's first, and
// the rows each short edge shares with the long one. krvi::DrawSetupTriangle: the rows of a
// record in a row window, one span a row, through the draw's span routine; with several threads
// each region of the target is walked by whichever thread claimed it.
// RasterizeTriangle and DrawSpansBetweenEdges are the same stages for one triangle on the
// calling thread.
#include "core/core.h"
#include "core/draw_span.h"
#include "core/draw_state.h"
#include "core/rasterize.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

void krvi::Deltas::SetDeltas(const _3D_Korvane_Shader& a, const _3D_Korvane_Shader& b,
                             unsigned features)
{
    position = b.position - a.position;
    ForAttributes(features, [&](auto field, int, int) { field(*this) = field(b) - field(a); });
}

void krvi::Lerp(_3D_Korvane_Shader& out, const _3D_Korvane_Shader& a, const Deltas& d, float t,
                unsigned features)
{
    out.position = a.position + d.position * t;
    ForAttributes(features, [&](auto field, int, int) { field(out) = field(a) + field(d) * t; });
}

static bool Finite(const vec4& p)
{
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z) && std::isfinite(p.w);
}

// ---------------------------------------------------------------------------------------------
// Set-up.

// The rows a short edge shares with the long one: from the short edge's top row (raised to 0)
// to its bottom row (lowered to the target's last), even rows only with a step of 2. False when
// there are none, or an edge has no height.
static bool RowsOfPair(const krvi::DrawState& draw, float longDy, float longTop, float shortDy,
                       float shortTop, float shortBottom, krvi::PairRows& rows)
{
    rows = krvi::PairRows();
    if (longDy == 0.0f || shortDy == 0.0f) return false;
    if (!std::isfinite(longTop) || !std::isfinite(shortTop) || !std::isfinite(shortBottom))
        return false;
    const int last = std::min(TruncToInt(shortBottom), draw.target.lastRow);
    int first = std::max(TruncToInt(shortTop), 0);
    if (first > last) return false;
    if (draw.rowStep == 2) {
        first += first & 1;
        if (first > last) return false;
    }
    rows.first = first;
    rows.last = last;
    rows.longTop = longTop;
    rows.longScale = 1.0f / longDy;
    rows.shortTop = shortTop;
    rows.shortScale = 1.0f / shortDy;
    return true;
}

bool krvi::SetUpTriangle(const krvi::DrawState& draw, _3D_Korvane_Shader* v, krvi::Lanes4* out)
{
    for (int k = 0; k < 3; ++k) {
        vec4& p = v[k].position;
        const float rw = 1.0f / p.w;
        p.x = p.x * rw;
        p.y = p.y * rw;
        p.w = rw;
    }

    if (draw.cull) {
        const vec4 &p0 = v[0].position, &p1 = v[1].position, &p2 = v[2].position;
        const float area = p0.x * (p1.y - p2.y) + p1.x * (p2.y - p0.y) + p2.x * (p0.y - p1.y);
        if (draw.cullFace == KrvCullMode_Front && area >= 0.0f) return false;
        if (draw.cullFace == KrvCullMode_Back && area <= 0.0f) return false;
        if (draw.cullFace == KrvCullMode_All) return false;
    }

    for (int k = 0; k < 3; ++k) {
        vec4& p = v[k].position;
        p.x = (p.x * 0.5f + 0.5f) * draw.viewportWidth + draw.viewportX;
        p.y = (p.y * 0.5f + 0.5f) * draw.viewportHeight + draw.viewportY;
        p.z = p.z * p.w * 0.5f + 0.5f;
        // A vertex with w = 0 (or NaN/inf input that reached here) has no place on screen; the
        // whole triangle goes rather than feed non-finite bounds to the row and span loops.
        if (!Finite(p)) return false;
    }

    const unsigned features = draw.features;
    if (features & kSpanColor) {
        for (int k = 0; k < 3; ++k) {
            _3D_Korvane_Shader& s = v[k];
            const float rw = s.position.w;
            s.color *= rw;
            if (features & kSpanTexture) s.texCoord *= rw;
            if (features & kSpanLight) {
                s.normal *= rw;
                s.lightVector *= rw;
            }
            if (features & kSpanShadow) s.shadowCoord *= rw;
        }
    }

    // Edge k runs from v[k] to v[k + 1], its first end the upper one (on equal y, v[k]).
    const krvi::FlatPoint points[3] = {krvi::Flatten(v[0], features), krvi::Flatten(v[1], features),
                                       krvi::Flatten(v[2], features)};
    const int n = draw.vectors;
    int top[3];
    float dy[3];
    for (int k = 0; k < 3; ++k) {
        const int a = k, b = (k + 1) % 3;
        top[k] = points[b].Y() >= points[a].Y() ? a : b;
        dy[k] = points[a + b - top[k]].Y() - points[top[k]].Y();
    }
    // The longest y extent; a tie keeps the earlier edge.
    int longest = dy[0] < dy[1] ? 1 : 0;
    if (dy[longest] < dy[2]) longest = 2;

    // The corners from the long edge's first end on, so that edge e of the record runs from
    // corner e to corner e + 1 as edge (longest + e) % 3 does here.
    krvi::SetupTriangle header;
    bool any = false;
    for (int e = 0; e < 3; ++e) {
        const int edge = (longest + e) % 3;
        krvi::Lanes4* corner = out + krvi::kSetupHeader + e * n;
        for (int k = 0; k < n; ++k) corner[k] = points[edge].v[k];
        if (e == 0) continue;
        const int first = top[edge], second = (edge + (edge + 1) % 3) - first;
        any |= RowsOfPair(draw, dy[longest], points[top[longest]].Y(), dy[edge], points[first].Y(),
                          points[second].Y(), header.pairs[e - 1]);
    }
    std::memcpy(static_cast<void*>(out), &header, sizeof header);
    return any;
}

// ---------------------------------------------------------------------------------------------
// The row walk.

// The rows of one edge pair inside the window, N vectors a point.
template <int N>
static void DrawPair(const krvi::DrawState& draw, krvi::ShadeState& shade,
                     const krvi::PairRows& rows, const krvi::Lanes4* longTop,
                     const krvi::Lanes4* longDelta, const krvi::Lanes4* shortTop,
                     const krvi::Lanes4* shortDelta, uint64_t key, const krvi::RowWindow& window,
                     krvi::LastDepth& last)
{
    if (rows.first > rows.last) return;
    const krvi::SpanRoutine span = draw.span;
    krvi::FlatPoint p, q, delta;
    auto row = [&](int y) {
        const float centre = static_cast<float>(y) + 0.5f;
        // Both ends of 0..1 are accepted: there is no top-left rule, and a row whose centre lies
        // exactly on a shared vertex or edge is drawn by both triangles.
        const float tL = (centre - rows.longTop) * rows.longScale;
        const float tS = (centre - rows.shortTop) * rows.shortScale;
        if (!(tL >= 0.0f && tL <= 1.0f && tS >= 0.0f && tS <= 1.0f)) return;
        // P on the long edge, Q on the short one; P is the left end unless Q lies left of it
        // (CSpan::Set); the span's differences are right minus left (SetDeltas).
        for (int k = 0; k < N; ++k) {
            p.v[k] = longTop[k] + longDelta[k] * tL;
            q.v[k] = shortTop[k] + shortDelta[k] * tS;
        }
        const bool pLeft = q.X() >= p.X();
        const krvi::FlatPoint& left = pLeft ? p : q;
        const krvi::FlatPoint& right = pLeft ? q : p;
        for (int k = 0; k < N; ++k) delta.v[k] = right.v[k] - left.v[k];
        if (N > 1) shade.SetSpanRight(vec3(right.X(), right.Y(), right.Depth()));
        if (span(draw.target, shade, left, delta, right.X(), y, last.depth)) {
            last.key = key;
            last.row = y;
            last.set = true;
        }
    };

    // The window's first row of the pair's sequence (the step's parity kept) and its last.
    // Rows are at most a target's height, far from overflow.
    const int step = draw.rowStep;
    int y = rows.first;
    if (y < window.first) y += (window.first - y + step - 1) / step * step;
    const int lastRow = std::min(rows.last, window.last);
    if (y > lastRow) return;
    for (;;) {
        row(y);
        if (lastRow - y < step) break;
        y += step;
    }
}

typedef void (*PairRoutine)(const krvi::DrawState&, krvi::ShadeState&, const krvi::PairRows&,
                            const krvi::Lanes4*, const krvi::Lanes4*, const krvi::Lanes4*,
                            const krvi::Lanes4*, uint64_t, const krvi::RowWindow&,
                            krvi::LastDepth&);
static const PairRoutine kPairRoutines[5] = {DrawPair<1>, DrawPair<2>, DrawPair<3>, DrawPair<4>,
                                             DrawPair<5>};

void krvi::DrawSetupTriangle(const krvi::DrawState& draw, krvi::ShadeState& shade,
                             const krvi::Lanes4* record, uint64_t ordinal,
                             const krvi::RowWindow& window, krvi::LastDepth& last)
{
    krvi::SetupTriangle header;
    std::memcpy(&header, static_cast<const void*>(record), sizeof header);
    const bool any0 = header.pairs[0].first <= header.pairs[0].last;
    const bool any1 = header.pairs[1].first <= header.pairs[1].last;
    if (!any0 && !any1) return;
    const int n = draw.vectors;
    const krvi::Lanes4* corners = record + krvi::kSetupHeader;
    // Each edge's top end (on equal y, the edge's own first corner) and its difference: the
    // long edge's, and those of the short edges whose pairs have rows.
    krvi::Lanes4 delta[3 * 5];
    const krvi::Lanes4* top[3] = {};
    for (int e = 0; e < 3; ++e) {
        if ((e == 1 && !any0) || (e == 2 && !any1)) continue;
        const krvi::Lanes4* a = corners + e * n;
        const krvi::Lanes4* b = corners + (e + 1) % 3 * n;
        const bool keep = b[0][1] >= a[0][1];
        const krvi::Lanes4* first = keep ? a : b;
        const krvi::Lanes4* second = keep ? b : a;
        top[e] = first;
        for (int k = 0; k < n; ++k) delta[e * n + k] = second[k] - first[k];
    }
    const PairRoutine pair = kPairRoutines[n - 1];
    if (any0)
        pair(draw, shade, header.pairs[0], top[0], delta, top[1], delta + n, ordinal * 2, window,
             last);
    if (any1)
        pair(draw, shade, header.pairs[1], top[0], delta, top[2], delta + 2 * n, ordinal * 2 + 1,
             window, last);
}

// ---------------------------------------------------------------------------------------------
// The stages for one triangle on the calling thread, with the core's state as it stands.

krvi::SerialDraw::SerialDraw(_3D_Korvane_Core& c) : core(c)
{
    const int viewport[4] = {c.viewportX, c.viewportY, c.viewportWidth, c.viewportHeight};
    krvi::PrepareDraw(c, krvi::SpanFeatures(c), viewport, state);
    shade = state.shade;
    shade.queue = &queue;
}

krvi::SerialDraw::~SerialDraw()
{
    if (state.flush) state.flush(state.target, shade);
    if (last.set) core.lastDepth = last.depth;
}

void krvi::SerialDraw::Triangle(_3D_Korvane_Shader* v)
{
    krvi::Lanes4 record[krvi::kSetupMaxStride];
    if (krvi::SetUpTriangle(state, v, record))
        krvi::DrawSetupTriangle(state, shade, record, NextOrdinal(), krvi::RowWindow(), last);
}

void _3D_Korvane_Core::RasterizeTriangle(_3D_Korvane_Shader* v)
{
    krvi::SerialDraw draw(*this);
    draw.Triangle(v);
}

void _3D_Korvane_Core::DrawSpansBetweenEdges(CEdge* longEdge, CEdge* shortEdge)
{
    krvi::SerialDraw draw(*this);
    const krvi::DrawState& s = draw.state;
    krvi::PairRows rows;
    if (!RowsOfPair(s, longEdge->position.y, longEdge->first->position.y, shortEdge->position.y,
                    shortEdge->first->position.y, shortEdge->second->position.y, rows))
        return;
    const unsigned f = s.features;
    const krvi::FlatPoint points[4] = {
        krvi::Flatten(*longEdge->first, f), krvi::Flatten(*longEdge, f),
        krvi::Flatten(*shortEdge->first, f), krvi::Flatten(*shortEdge, f)};
    krvi::Lanes4 packed[4 * 5];
    for (int i = 0; i < 4; ++i)
        for (int k = 0; k < s.vectors; ++k) packed[i * s.vectors + k] = points[i].v[k];
    const int n = s.vectors;
    kPairRoutines[n - 1](s, draw.shade, rows, packed, packed + n, packed + 2 * n, packed + 3 * n,
                         draw.NextOrdinal() * 2, krvi::RowWindow(), draw.last);
}

// ---------------------------------------------------------------------------------------------
// One CSpan with the core's state, through the routine of its mask or the reference.

static void DrawOneSpan(_3D_Korvane_Core& core, const CSpan& span, int y, bool reference)
{
    const unsigned mask = krvi::SpanFeatures(core);
    krvi::SpanTarget target;
    target.Load(core, (mask & kSpanColor) != 0);
    krvi::ShadeState shade;
    if (mask & kSpanColor) shade.Load(core, span);
    const krvi::FlatPoint left = krvi::Flatten(*span.first, mask),
                          delta = krvi::Flatten(span, mask);
    const float rightX = span.second->position.x;
    if (reference)
        krvi::ReferenceSpan(mask, target, shade, left, delta, rightX, y, core.lastDepth);
    else
        krvi::ScalarSpanRoutine(mask)(target, shade, left, delta, rightX, y, core.lastDepth);
}

void _3D_Korvane_Core::DrawSpan(CSpan* span, int y) { DrawOneSpan(*this, *span, y, false); }

void krvi::DrawSpanReference(_3D_Korvane_Core& core, CSpan* span, int y)
{
    DrawOneSpan(core, *span, y, true);
}
