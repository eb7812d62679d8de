// DrawTriangles: the per-draw state, then every triangle through vertex transform (with colour
// and fog), clipping, set-up and its rows.
//
// On one thread each triangle is set up and drawn before the next. With more, the triangles go
// in batches: each thread transforms, clips and sets up its share of a batch into its own list,
// then every thread walks all the lists in submission order and draws the rows of its own
// bands. Each pixel thus sees the same triangles in the same order as on one thread, and the
// frame has the same bytes whatever the thread count.
#include "core/clip.h"
#include "core/core.h"
#include "core/draw_state.h"
#include "core/rasterize.h"
#include "platform/thread_pool.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

vec4 krvModelViewProjection(const float* m, const CVertex* v)
{
    vec4 out;
    for (int i = 0; i < 4; ++i)
        out[i] = v->x * m[i] + v->y * m[4 + i] + v->z * m[8 + i] + m[12 + i];
    return out;
}

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

// The exponentials take their float argument and are evaluated in double.
static float ExpOf(float x) { return static_cast<float>(std::exp(static_cast<double>(x))); }

// The height and depth fogs scale their term by 1 / the fog colour's component. A component of
// 0 (a fog colour without that primary) leaves its channel without fog: the quotient would be
// infinite, or NaN where the term is 0 too, and a NaN colour spreads over the whole triangle.
static float FogTerm(float term, float fogComponent)
{
    return fogComponent == 0.0f ? 0.0f : term / fogComponent;
}

// Per-vertex fog by `fogMode`; w is the vertex's clip-space w, y its model-space y.
static vec3 FogColor(const float* p, int mode, const CVertex& v, float w)
{
    const float density = p[3], offset = p[4], start = p[5], end = p[6];
    const float vc[3] = {v.r, v.g, v.b};
    const float absW = std::fabs(w);
    vec3 out;
    switch (mode) {
    case KrvFogMode_Height:
        for (int i = 0; i < 3; ++i)
            out[i] = krvi::Clamp01(vc[i] + FogTerm(density * (v.y - offset), p[i]));
        return out;
    case KrvFogMode_Depth:
        for (int i = 0; i < 3; ++i)
            out[i] = krvi::Clamp01(vc[i] - FogTerm(density * (0.5f * w - offset), p[i]));
        return out;
    case KrvFogMode_Linear:
    case KrvFogMode_Exp:
    case KrvFogMode_Exp2: {
        float f;
        if (mode == KrvFogMode_Linear)
            f = start == end ? end - absW : (end - absW) / (end - start);
        else if (mode == KrvFogMode_Exp)
            f = ExpOf(-density * absW);
        else
            f = ExpOf(-((density * absW) * (density * absW)));
        for (int i = 0; i < 3; ++i) out[i] = krvi::Clamp01(f + p[i]);
        return out;
    }
    default:
        // No mode was ever accepted: the fog leaves the vertex colour as it is.
        return vec3(v.r, v.g, v.b);
    }
}

// krvModelViewProjection on four lanes: lane i sums x*m[i] + y*m[4+i] + z*m[8+i] + m[12+i] in
// that order, as the scalar form does.
static inline vec4 Transform(const float* m, const CVertex& v)
{
    Lanes4 c0, c1, c2, c3;
    std::memcpy(&c0, m, sizeof c0);
    std::memcpy(&c1, m + 4, sizeof c1);
    std::memcpy(&c2, m + 8, sizeof c2);
    std::memcpy(&c3, m + 12, sizeof c3);
    const Lanes4 p = c0 * v.x + c1 * v.y + c2 * v.z + c3;
    vec4 out;
    std::memcpy(&out, &p, sizeof out);
    return out;
}

// The three pipeline records of the triangle whose first vertex is cv[0].
static void TransformTriangle(const DrawState& d, const CVertex* cv, _3D_Korvane_Shader* tri)
{
    const unsigned features = d.features;
    for (int k = 0; k < 3; ++k) {
        const CVertex& v = cv[k];
        _3D_Korvane_Shader& out = tri[k];
        out.position = Transform(d.modelViewProjection, v);
        if (!(features & kSpanColor)) continue;
        if (d.fogged) {
            out.color = FogColor(d.fogParameters, d.fogMode, v, out.position.w);
            out.fogColor = out.color;
        } else {
            out.color = vec3(v.r, v.g, v.b);
        }
        if (features & kSpanTexture) out.texCoord = vec2(v.u, v.v);
        if (features & kSpanLight) {
            out.normal = vec3(v.nx, v.ny, v.nz);
            out.lightVector = d.lightPosition - vec3(v.x, v.y, v.z);
            if (features & kSpanShadow) out.shadowCoord = Transform(d.shadowMapMatrix, v);
        }
    }
}

// The draw's work, kept from draw to draw so that a frame allocates nothing once the lists have
// grown to the scene.
//
// With several threads the triangles go in chunks of kChunkTriangles. A chunk is set up by
// whichever thread claims it (claims go in order) into one of kSlots record lists, a ring:
// chunk c takes slot c % kSlots once every thread has drawn chunk c - kSlots from it. Every
// thread draws every chunk in order, its own bands only; a thread whose next chunk is not ready
// sets up the next unclaimed one meanwhile, so set-up flows to whichever thread has time.

namespace {

const int64_t kChunkTriangles = 128;

inline void Pause()
{
#if defined(__SSE2__)
    _mm_pause();
#endif
}
const int kSlots = 16;

struct RecordList {
    std::vector<Lanes4> lanes;
    size_t used = 0;

    Lanes4* Reserve(size_t n)
    {
        if (used + n > lanes.size()) lanes.resize(std::max(lanes.size() * 2, used + n + 4096));
        return lanes.data() + used;
    }
};

struct Slot {
    RecordList list;
    std::atomic<int64_t> ready{-1};     // the chunk whose records the list holds
    std::atomic<int64_t> released{-1};  // the last chunk every thread has drawn from it
    std::atomic<int> drawn{0};          // threads done with the chunk in it
};

struct WorkerState {
    ShadeState shade;
    krvi::LastDepth last;
    krvi::PixelQueue queue;
};

}  // namespace

struct krvi::DrawWork {
    DrawState state;
    std::vector<WorkerState> workers;
    Slot slots[kSlots];
};

void krvi::ReleaseDrawWork(krvi::DrawWork* work) { delete work; }

namespace {

struct DrawJob {
    krvi::DrawWork* work = nullptr;
    const CVertex* vertices = nullptr;
    int64_t first = 0;      // the first triangle's first vertex
    int64_t triangles = 0;  // whole triangles from there
    int64_t chunks = 0;
    int threads = 1;
    std::atomic<int64_t> nextClaim{0};  // the next chunk to set up
};

// Transform, clipping and set-up of triangles [lo, hi) into list.
void SetUpTriangles(const DrawJob& job, int64_t lo, int64_t hi, RecordList& list)
{
    const DrawState& d = job.work->state;
    const size_t stride = static_cast<size_t>(krvi::SetupStride(d.vectors));
    list.used = 0;
    auto sink = [&](_3D_Korvane_Shader* v) {
        Lanes4* out = list.Reserve(stride);
        if (krvi::SetUpTriangle(d, v, out)) list.used += stride;
    };
    _3D_Korvane_Shader tri[3];
    for (int64_t t = lo; t < hi; ++t) {
        TransformTriangle(d, job.vertices + job.first + 3 * t, tri);
        krvi::ClipTriangle(tri, 1, d.features, sink);
    }
}

// Claims and sets up the next chunk if its slot is free; false when there was nothing to do.
bool SetUpNextChunk(DrawJob& job)
{
    int64_t c = job.nextClaim.load(std::memory_order_relaxed);
    if (c >= job.chunks) return false;
    Slot& slot = job.work->slots[c % kSlots];
    if (slot.released.load(std::memory_order_acquire) != c - kSlots) return false;
    if (!job.nextClaim.compare_exchange_strong(c, c + 1, std::memory_order_acq_rel)) return true;
    const int64_t lo = c * kChunkTriangles;
    SetUpTriangles(job, lo, std::min(lo + kChunkTriangles, job.triangles), slot.list);
    slot.ready.store(c, std::memory_order_release);
    return true;
}

// One thread's part of a draw. With one thread, set-up and rows alternate triangle by
// triangle.
void DrawJobRun(void* context, int index, int count)
{
    DrawJob& job = *static_cast<DrawJob*>(context);
    if (count != job.threads) {
        // The pool changed size under the draw: one thread draws it all.
        if (index != 0) return;
        count = 1;
    }
    const DrawState& d = job.work->state;
    WorkerState& self = job.work->workers[static_cast<size_t>(index)];
    self.shade = d.shade;
    self.shade.queue = &self.queue;
    self.queue.count = 0;
    self.last = krvi::LastDepth();
    krvi::Bands bands;
    bands.count = count;
    bands.index = index;
    uint64_t ordinal = 0;

    if (count == 1) {
        Lanes4 record[krvi::kSetupHeader + 6 * 5];
        auto sink = [&](_3D_Korvane_Shader* v) {
            if (krvi::SetUpTriangle(d, v, record))
                krvi::DrawSetupTriangle(d, self.shade, record, ordinal++, bands, self.last);
        };
        _3D_Korvane_Shader tri[3];
        for (int64_t t = 0; t < job.triangles; ++t) {
            TransformTriangle(d, job.vertices + job.first + 3 * t, tri);
            krvi::ClipTriangle(tri, 1, d.features, sink);
        }
        if (d.flush) d.flush(d.target, self.shade);
        return;
    }

    const size_t stride = static_cast<size_t>(krvi::SetupStride(d.vectors));
    for (int64_t c = 0; c < job.chunks; ++c) {
        Slot& slot = job.work->slots[c % kSlots];
        for (int spins = 0; slot.ready.load(std::memory_order_acquire) != c; ++spins) {
            if (SetUpNextChunk(job)) continue;
            if (spins < 2000)
                Pause();
            else
                std::this_thread::yield();
        }
        const RecordList& list = slot.list;
        for (size_t r = 0; r < list.used; r += stride)
            krvi::DrawSetupTriangle(d, self.shade, list.lanes.data() + r, ordinal++, bands,
                                    self.last);
        if (slot.drawn.fetch_add(1, std::memory_order_acq_rel) + 1 == count) {
            slot.drawn.store(0, std::memory_order_relaxed);
            slot.released.store(c, std::memory_order_release);
        }
    }
    if (d.flush) d.flush(d.target, self.shade);
}

}  // namespace

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
    if (!drawWork) drawWork = new krvi::DrawWork();
    krvi::DrawWork& work = *drawWork;
    PrepareDraw(*this, drawFeatures, viewport, work.state);
    if (work.state.target.lastRow < 0) return;

    krvi::ThreadPool& pool = krvi::ThreadPool::Shared();
    const int threads = work.state.serialOnly ? 1 : pool.Threads();
    if (work.workers.size() < static_cast<size_t>(threads))
        work.workers.resize(static_cast<size_t>(threads));

    DrawJob job;
    job.work = &work;
    job.vertices = vertices;
    job.first = firstVertex;
    job.triangles = vertexCount / 3;
    job.chunks = (job.triangles + kChunkTriangles - 1) / kChunkTriangles;
    job.threads = threads;
    // A fresh ring: slot s is free for chunk s.
    for (int i = 0; i < kSlots; ++i) {
        work.slots[i].ready.store(-1, std::memory_order_relaxed);
        work.slots[i].released.store(i - kSlots, std::memory_order_relaxed);
        work.slots[i].drawn.store(0, std::memory_order_relaxed);
    }
    if (threads == 1)
        DrawJobRun(&job, 0, 1);
    else
        pool.Run(DrawJobRun, &job);

    // The last fragment of the draw is the latest one any thread saw.
    const krvi::LastDepth* latest = nullptr;
    for (int i = 0; i < threads; ++i) {
        const krvi::LastDepth& l = work.workers[static_cast<size_t>(i)].last;
        if (l.set && (!latest || l.After(*latest))) latest = &l;
    }
    if (latest) lastDepth = latest->depth;
}
