// PrepareDraw: the one place where a draw's state is derived from the core.
#include "core/draw_state.h"

#include "core/draw_span.h"
#include "core/draw_span_simd.h"

#include <atomic>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// The lanes asked for: -1 until the first draw or krvSetSimdWidth, which reads KRV_SIMD
// ("1" or "off": scalar; "4" or "sse2"; "8" or "avx2"; "16" or "avx512"; anything else: the
// widest there is).
std::atomic<int> gSimdLanes{-1};

int LanesFromEnvironment()
{
    const char* s = std::getenv("KRV_SIMD");
    if (!s) return 0;
    if (!std::strcmp(s, "1") || !std::strcmp(s, "off") || !std::strcmp(s, "0")) return 1;
    if (!std::strcmp(s, "4") || !std::strcmp(s, "sse2")) return 4;
    if (!std::strcmp(s, "8") || !std::strcmp(s, "avx2")) return 8;
    if (!std::strcmp(s, "16") || !std::strcmp(s, "avx512")) return 16;
    return 0;
}

// [begin, end) of a buffer, for the overlap test of textures and targets.
struct Range {
    uintptr_t begin = 0, end = 0;
    bool Overlaps(const Range& o) const { return begin < o.end && o.begin < end; }
};

Range TextureRange(const CTexture* t)
{
    Range r;
    if (!t || !t->Bits || t->Width <= 0 || t->Height <= 0) return r;
    const size_t texel =
        t->Format == KrvFormat_Depth16 ? 2u : (t->Format == KrvFormat_RGBA32 ? 4u : 3u);
    size_t row =
        t->Pitch > 0 ? static_cast<size_t>(t->Pitch) : static_cast<size_t>(t->Width) * texel;
    r.begin = reinterpret_cast<uintptr_t>(t->Bits);
    r.end = r.begin + row * static_cast<size_t>(t->Height);
    return r;
}

}  // namespace

void krvi::SetSimdLanes(int lanes) { gSimdLanes.store(lanes < 0 ? 0 : lanes); }

int krvi::SimdLanes()
{
    int wanted = gSimdLanes.load();
    if (wanted < 0) {
        int expected = -1;
        gSimdLanes.compare_exchange_strong(expected, LanesFromEnvironment());
        wanted = gSimdLanes.load();
    }
    const int available = krvi::SimdLanesAvailable();
    if (wanted <= 0) return available;
    if (wanted < 4) return 1;
    if (wanted >= available) return available;
    return wanted >= 16 ? 16 : (wanted >= 8 ? 8 : 4);
}

void krvi::PrepareDraw(const _3D_Korvane_Core& core, unsigned features, const int viewport[4],
                       krvi::DrawState& d)
{
    d.features = features;
    d.vectors = krvi::VectorsOf(features);

    d.modelViewProjection = core.modelViewProjection.m;
    d.shadowMapMatrix = core.shadowMapMatrix.m;
    d.lightPosition = core.light ? core.light->position : vec3(0.0f);
    d.fogged = core.FogSet && core.fog;
    d.fogMode = core.fogMode;
    d.fogParameters = core.FogParameters;

    d.viewportX = static_cast<float>(viewport[0]);
    d.viewportY = static_cast<float>(viewport[1]);
    d.viewportWidth = static_cast<float>(viewport[2]);
    d.viewportHeight = static_cast<float>(viewport[3]);
    d.cull = core.cullEnabled && core.cullFace != KrvCullMode_None;
    d.cullFace = core.cullFace;
    d.rowStep = core.interlace || (core.transparency && !core.TransparencySet) ? 2 : 1;

    const bool color = (features & kSpanColor) != 0;
    d.target.Load(core, color);
    d.shade = krvi::ShadeState();
    if (color) d.shade.Load(core);

    // A draw that samples a texture it also draws into, or whose colour and depth targets
    // share bytes, reads what its own pixels write: it keeps one thread's order, pixel by pixel,
    // so it runs the scalar body on one thread. So does the depth-colour compare, which reads
    // the byte after the pixel (the next row's first, at the end of a row).
    bool aliased = false;
    if (color) {
        Range targets[2];
        if (d.target.color)
            targets[0] = {reinterpret_cast<uintptr_t>(d.target.color),
                          reinterpret_cast<uintptr_t>(d.target.color) +
                              static_cast<size_t>(core.targetColorWidth) *
                                  static_cast<size_t>(core.targetColorHeight) * 3u};
        if (d.target.depth)
            targets[1] = {reinterpret_cast<uintptr_t>(d.target.depth),
                          reinterpret_cast<uintptr_t>(d.target.depth) +
                              static_cast<size_t>(core.targetDepthWidth) *
                                  static_cast<size_t>(core.targetDepthHeight) * 2u};
        aliased = targets[0].Overlaps(targets[1]);
        const CTexture* sampled[5] = {core.texture0, core.texture1, core.texture2, core.bumpTexture,
                                      core.shadowMap};
        for (const CTexture* t : sampled)
            for (const Range& target : targets)
                if (TextureRange(t).Overlaps(target)) aliased = true;
    }
    d.serialOnly = aliased || (color && d.shade.blendTransparency && d.shade.depthColorCompare);

    d.span = nullptr;
    d.flush = nullptr;
    const int lanes = krvi::SimdLanes();
    // The SIMD bodies address colour bytes by int offsets.
    const bool smallTarget = static_cast<size_t>(core.targetColorWidth) *
                                 static_cast<size_t>(core.targetColorHeight) * 3u <=
                             static_cast<size_t>(INT_MAX);
    if (lanes > 1 && !aliased && smallTarget)
        d.span = krvi::SimdDrawRoutine(lanes, features, d.shade, d.flush);
    if (!d.span) d.span = krvi::ScalarSpanRoutine(features);
}
