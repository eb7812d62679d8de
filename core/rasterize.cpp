// RasterizeTriangle: perspective divide, face culling, viewport mapping and the edges of one
// clipped triangle; DrawSpansBetweenEdges: one span a row between the long edge and a short one.
#include "core/core.h"
#include "core/rasterize.h"

#include <algorithm>
#include <climits>
#include <cmath>

void KrvDeltas::SetDeltas(const _3D_Korvane_Shader& a, const _3D_Korvane_Shader& b,
                          unsigned features)
{
    position = b.position - a.position;
    if (!(features & kSpanColor)) return;
    color = b.color - a.color;
    if (features & kSpanTexture) texCoord = b.texCoord - a.texCoord;
    if (features & kSpanLight) {
        normal = b.normal - a.normal;
        lightVector = b.lightVector - a.lightVector;
    }
    if (features & kSpanShadow) shadowCoord = b.shadowCoord - a.shadowCoord;
}

void KrvLerp(_3D_Korvane_Shader& out, const _3D_Korvane_Shader& a, const KrvDeltas& d, float t,
             unsigned features)
{
    out.position = a.position + d.position * t;
    if (!(features & kSpanColor)) return;
    out.color = a.color + d.color * t;
    if (features & kSpanTexture) out.texCoord = a.texCoord + d.texCoord * t;
    if (features & kSpanLight) {
        out.normal = a.normal + d.normal * t;
        out.lightVector = a.lightVector + d.lightVector * t;
    }
    if (features & kSpanShadow) out.shadowCoord = a.shadowCoord + d.shadowCoord * t;
}

static bool Finite(const vec4& p)
{
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z) && std::isfinite(p.w);
}

void _3D_Korvane_Core::RasterizeTriangle(_3D_Korvane_Shader* v)
{
    for (int k = 0; k < 3; ++k) {
        vec4& p = v[k].position;
        float rw = 1.0f / p.w;
        p.x = p.x * rw;
        p.y = p.y * rw;
        p.w = rw;
    }

    if (cullEnabled && cullFace != KrvCullMode_None) {
        const vec4 &p0 = v[0].position, &p1 = v[1].position, &p2 = v[2].position;
        float area = p0.x * (p1.y - p2.y) + p1.x * (p2.y - p0.y) + p2.x * (p0.y - p1.y);
        if (cullFace == KrvCullMode_Front && area >= 0.0f) return;
        if (cullFace == KrvCullMode_Back && area <= 0.0f) return;
        if (cullFace == KrvCullMode_All) return;
    }

    const float vx = static_cast<float>(viewportX), vy = static_cast<float>(viewportY);
    const float vw = static_cast<float>(viewportWidth), vh = static_cast<float>(viewportHeight);
    for (int k = 0; k < 3; ++k) {
        vec4& p = v[k].position;
        p.x = (p.x * 0.5f + 0.5f) * vw + vx;
        p.y = (p.y * 0.5f + 0.5f) * vh + vy;
        p.z = p.z * p.w * 0.5f + 0.5f;
        // A vertex with w = 0 (or NaN/inf input that reached here) has no place on screen; the
        // whole triangle goes rather than feed non-finite bounds to the row and span loops.
        if (!Finite(p)) return;
    }

    const unsigned features = drawFeatures;
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

    CEdge edges[3];
    for (int k = 0; k < 3; ++k) {
        CEdge& e = edges[k];
        e.Set(&v[k], &v[(k + 1) % 3]);
        e.SetDeltas(*e.first, *e.second, features);
    }

    // The longest y extent; a tie keeps the earlier edge.
    int longest = edges[0].position.y < edges[1].position.y ? 1 : 0;
    if (edges[longest].position.y < edges[2].position.y) longest = 2;
    CEdge* longEdge = &edges[longest];
    DrawSpansBetweenEdges(longEdge, &edges[(longest + 1) % 3]);
    DrawSpansBetweenEdges(longEdge, &edges[(longest + 2) % 3]);
}

// The last row and column that every target of the draw can take. maxX/maxY follow the depth
// target when there is one, so a smaller colour target bounds the draw as well.
static int WritableLimit(int maxValue, const void* color, int colorSize, const void* depth,
                         int depthSize)
{
    int limit = maxValue;
    if (color) limit = std::min(limit, colorSize - 1);
    if (depth) limit = std::min(limit, depthSize - 1);
    return (color || depth) ? limit : -1;
}

void _3D_Korvane_Core::DrawSpansBetweenEdges(CEdge* longEdge, CEdge* shortEdge)
{
    const float longDy = longEdge->position.y, shortDy = shortEdge->position.y;
    if (longDy == 0.0f || shortDy == 0.0f) return;
    const float longTop = longEdge->first->position.y, shortTop = shortEdge->first->position.y;
    const float shortBottom = shortEdge->second->position.y;
    if (!std::isfinite(longTop) || !std::isfinite(shortTop) || !std::isfinite(shortBottom))
        return;

    const void* color = (drawFeatures & kSpanColor) ? targetColor : nullptr;
    int lastRow = std::min(TruncToInt(shortBottom),
                           WritableLimit(maxY, color, targetColorHeight, targetDepth,
                                         targetDepthHeight));
    int firstRow = std::max(TruncToInt(shortTop), 0);

    if (firstRow > lastRow) return;
    int step = 1;
    if (interlace || (transparency && !TransparencySet)) {
        step = 2;
        firstRow += firstRow & 1;
        if (firstRow > lastRow) return;
    }

    KrvRows rows;
    rows.first = firstRow;
    rows.last = lastRow;
    rows.step = step;
    rows.longTop = longTop;
    rows.longScale = 1.0f / longDy;
    rows.shortTop = shortTop;
    rows.shortScale = 1.0f / shortDy;
    KrvDrawRows(*this, *longEdge, *shortEdge, rows);
}
