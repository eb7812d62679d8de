// DrawTriangles: the draw's feature bits and state, then its triangles, on one thread
// (clip.cpp's serial draw) or shared out to the threads by bin.cpp. Each triangle first goes
// through the vertex stage (vertex_stage.cpp).
#include "core/submit.h"

#include "core/bin.h"
#include "core/core.h"
#include "core/draw_state.h"
#include "core/rasterize.h"
#include "core/vertex_stage.h"
#include "platform/thread_pool.h"

#include <climits>
#include <cstdint>
#include <cstring>

unsigned krvi::DrawFeatures(const _3D_Korvane_Core& core)
{
    if (!core.useColor) return 0;
    unsigned f = kSpanColor;
    if (core.useTexture && core.texturing) f |= kSpanTexture;
    if (core.useLight && core.lighting) {
        f |= kSpanLight;
        if (core.useShadowMap) f |= kSpanShadow;
    }
    return f;
}

// ---------------------------------------------------------------------------------------------

void _3D_Korvane_Core::DrawTriangles(CVertex* array, int first, int count)
{
    if ((!targetColor && !targetDepth) || viewportWidth <= 0 || viewportHeight <= 0 || !array ||
        first < 0 || count <= 2)
        return;

    useColor = targetColor != nullptr;
    useDepthWrite = targetDepth != nullptr && depthTest;
    ignoreDepth = !useDepthWrite;
    useTexture = texture0 != nullptr;
    useTexture1 = texture1 != nullptr;
    useTexture2 = texture2 != nullptr;
    useBump = bumpTexture != nullptr;
    useLight = light != nullptr;
    useShadowMap = shadowMap != nullptr;
    drawFeatures = krvi::DrawFeatures(*this);

    vertices = array;
    firstVertex = first;
    endVertex = count > INT_MAX - first ? INT_MAX : first + count;

    // The supersampled target is addressed with a scaled viewport; the caller's stays in output
    // pixels. A product that does not fit an int saturates.
    const int factor = frameBuffer ? 1 : krvi::AntiAliasingFactor(antiAliasing);
    const int fields[4] = {viewportX, viewportY, viewportWidth, viewportHeight};
    int viewport[4];
    for (int i = 0; i < 4; ++i) {
        const long long scaled = static_cast<long long>(fields[i]) * factor;
        viewport[i] = scaled > INT_MAX ? INT_MAX : (scaled < INT_MIN ? INT_MIN : int(scaled));
    }
    RunDraw(viewport);
}

void _3D_Korvane_Core::DrawTriangles()
{
    const int viewport[4] = {viewportX, viewportY, viewportWidth, viewportHeight};
    RunDraw(viewport);
}

void _3D_Korvane_Core::RunDraw(const int viewport[4])
{
    // The stored range may hold any two ints (DrawTriangles() takes them as they are): their
    // difference is formed in 64 bits, where it cannot overflow.
    const int64_t vertexCount = static_cast<int64_t>(endVertex) - firstVertex;
    if (!vertices || firstVertex < 0 || vertexCount < 3) return;
    submittedTriangles += static_cast<uint64_t>(vertexCount) / 3u;
    if (!drawWork) drawWork = krvi::NewDrawWork();
    krvi::DrawState& state = krvi::StateOf(*drawWork);
    krvi::PrepareDraw(*this, drawFeatures, viewport, state);
    if (state.target.lastRow < 0) return;
    // The pool's share, not its count: with no worker there to share the draw it goes the
    // one-thread way (binning only pays with a second thread); the bytes are the same on any
    // count.
    krvi::ThreadPool& pool = krvi::ThreadPool::Shared();
    const int threads = state.serialOnly ? 1 : pool.Available();
    krvi::RunBinnedDraw(*drawWork, vertices + firstVertex, vertexCount / 3, threads, lastDepth);
}
