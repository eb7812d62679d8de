// Internals of the triangle pipeline shared by submission, clipping, rasterization and the span
// loop: the per-draw feature bits and the edge and span records.
#pragma once

#include "core/attributes.h"
#include "core/features.h"
#include "core/vertex.h"

class _3D_Korvane_Core;

namespace krvi {

// The bits that the core's per-draw flags and switches select. Every bit but kSpanColor needs
// kSpanColor (a depth-only draw carries no attributes), and kSpanShadow needs kSpanLight.
unsigned DrawFeatures(const _3D_Korvane_Core& core);

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

// The span loop with the feature bits tested at run time, for one CSpan with the core's state:
// the reference that the public DrawSpan (and every routine a draw can pick) must match.
void DrawSpanReference(_3D_Korvane_Core& core, CSpan* span, int y);

// The core's drawFeatures less what it cannot back right now (no colour target: depth only; a
// group whose texture or light is unbound is not shaded): the mask of the stage entry points.
unsigned SpanFeatures(const _3D_Korvane_Core& core);

}  // namespace krvi
