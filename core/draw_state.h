// DrawState: everything a draw derives from the core, prepared once by PrepareDraw before the
// first triangle and read, never written, by every stage after it (submit.cpp, clip.h,
// rasterize.cpp, the span routines). Worker threads read the same DrawState, so a draw sees one
// consistent state whichever thread walks which rows.
// The set-up record and the row walk that read it are rasterize.cpp's (rasterize.h).
#pragma once

#include "core/core.h"
#include "core/span.h"

namespace krvi {

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
    krvi::SpanTarget target;
    krvi::ShadeState shade;
    krvi::SpanRoutine span = nullptr;
    krvi::SpanFlush flush =
        nullptr;  // each thread's queue at the end of the draw, when span defers

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

// The lanes a draw's span routine may use: 0 picks the widest the processor has (the default),
// 1 forces the scalar body, 4, 8 or 16 ask for at most that many. SimdLanes answers the lanes
// in use (1 for the scalar body). Process-wide; the first use reads KRV_SIMD.
void SetSimdLanes(int lanes);
int SimdLanes();

}  // namespace krvi
