// Internals of the triangle pipeline shared by submission, clipping, rasterization and the span
// loop: the per-draw feature bits, the edge and span records, and the stage entry points that
// tests drive directly.
#pragma once

#include "core/vertex.h"

class _3D_Korvane_Core;

// ---------------------------------------------------------------------------------------------
// Per-draw feature bits (`drawFeatures`). Each names an attribute group that is filled, clipped,
// interpolated and shaded only while its bit is set, and together they select the span routine.
constexpr unsigned kSpanColor = 1u;    // colour target: `color`, shading and colour write
constexpr unsigned kSpanTexture = 2u;  // `texCoord`: useTexture and the texturing switch
constexpr unsigned kSpanLight = 4u;    // `normal`, `lightVector`: useLight and lighting
constexpr unsigned kSpanShadow = 8u;   // `shadowCoord`: the light bit and useShadowMap
constexpr unsigned kSpanFeatureCount = 16u;

// The bits that the core's per-draw flags and switches select. Every bit but kSpanColor needs
// kSpanColor (a depth-only draw carries no attributes), and kSpanShadow needs kSpanLight.
unsigned KrvDrawFeatures(const _3D_Korvane_Core& core);

// ---------------------------------------------------------------------------------------------
// Second minus first end of every group, filled for the position always and for the groups
// of `features` only; the others stay stale.
struct KrvDeltas {
    vec4 position;  // screen x, y, depth, 1/w (clip space inside the clipper)
    vec3 color;
    vec2 texCoord;
    vec3 normal;
    vec3 lightVector;
    vec4 shadowCoord;

    void SetDeltas(const _3D_Korvane_Shader& a, const _3D_Korvane_Shader& b, unsigned features);
};

// A triangle edge: first end is the top (smaller screen y), second the bottom.
struct CEdge : KrvDeltas {
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
struct CSpan : KrvDeltas {
    _3D_Korvane_Shader* first = nullptr;
    _3D_Korvane_Shader* second = nullptr;

    void Set(_3D_Korvane_Shader* a, _3D_Korvane_Shader* b)
    {
        bool keep = b->position.x >= a->position.x;
        first = keep ? a : b;
        second = keep ? b : a;
    }
};

// out = a + d * t for the position and the groups of `features` (out may be a).
void KrvLerp(_3D_Korvane_Shader& out, const _3D_Korvane_Shader& a, const KrvDeltas& d, float t,
             unsigned features);

// ---------------------------------------------------------------------------------------------
// The clipper on its own: cuts v (three records, changed in place) against planes plane..6 and
// hands every surviving piece, in order, to sink. `ClipTriangle` is this with the rasterizer
// as the sink. At most 64 pieces, at most seven levels deep, no allocation.
typedef void (*KrvTriangleSink)(void* context, _3D_Korvane_Shader* v);
void KrvClipTriangle(_3D_Korvane_Shader* v, int plane, unsigned features, KrvTriangleSink sink,
                     void* context);

// The rows of one edge pair: rows first, first + step, ... up to last, each sampled at its
// centre on both edges; a row whose parameters fall outside 0..1 on either edge is skipped.
// `DrawSpansBetweenEdges` finds the range and hands it to KrvDrawRows (draw_span.cpp), which
// walks it with the span routine and shading state of the draw picked once for the pair.
struct KrvRows {
    int first, last, step;
    float longTop, longScale;    // top y and 1 / dy of the long edge
    float shortTop, shortScale;  // the same of the short edge
};
void KrvDrawRows(_3D_Korvane_Core& core, const CEdge& longEdge, const CEdge& shortEdge,
                 const KrvRows& rows);
// The same rows through the scalar records, one CSpan a row (KrvLerp, CSpan::Set, SetDeltas)
// and the reference span loop: what KrvDrawRows must match byte for byte.
void KrvDrawRowsReference(_3D_Korvane_Core& core, const CEdge& longEdge, const CEdge& shortEdge,
                          const KrvRows& rows);

// The span loop with the feature bits tested at run time: the reference that every specialised
// routine of `DrawSpan` must match byte for byte.
void KrvDrawSpanReference(_3D_Korvane_Core& core, CSpan* span, int y);
