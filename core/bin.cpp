// The draw's work distribution: set-up in chunks, each record binned by the screen regions it
// touches, then whole regions drawn by whichever thread claims them (see bin.h).
#include "core/bin.h"

#include "core/clip.h"
#include "core/core.h"
#include "core/rasterize.h"
#include "core/vertex_stage.h"
#include "platform/thread_pool.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// Triangles a set-up chunk: enough to make a claim's cost small, few enough that the chunks of
// a draw spread over the threads: a draw takes the largest size in this range that gives each
// thread kChunksAThread chunks. On two threads that drew the demo's frame 3 % faster than
// chunks of 128 throughout (each chunk costs every region a visit and the set-up a bin count),
// and chunks of 512 throughout no faster than it.
const int64_t kMinChunkTriangles = 128, kMaxChunkTriangles = 512;
const int64_t kChunksAThread = 4;
// Triangles a pass of the pool: a draw larger than this goes in several passes, so that the
// records held at once stay bounded (a few megabytes) whatever the draw's size.
const int64_t kPassTriangles = 32768;
// A record's place in the draw: its chunk's index above these bits, its place in the chunk
// below (a chunk's triangles clip into at most 7 records each).
const int kRecordBits = 24;
static_assert(kMaxChunkTriangles * 7 < (int64_t{1} << kRecordBits), "a chunk's records fit");

// The chunk size of a pass of `triangles` on `threads` threads.
int64_t ChunkTriangles(int64_t triangles, int threads)
{
    const int64_t per = kChunksAThread * threads;
    const int64_t share = (triangles + per - 1) / per;
    return std::min(kMaxChunkTriangles, std::max(kMinChunkTriangles, share));
}

inline void Pause()
{
#if defined(__SSE2__)
    _mm_pause();
#endif
}

// One chunk's records and their bins. The vectors keep their size from draw to draw, so that
// a frame allocates nothing once they have grown to the scene.
struct Chunk {
    std::vector<krvi::Lanes4> records;
    size_t used = 0;  // Lanes4 in use
    // Region r's records are entries[start[r]] .. entries[start[r + 1] - 1], in submission
    // order, as indices of records (a record is `stride` Lanes4).
    std::vector<uint32_t> start;
    std::vector<uint32_t> entries;
    std::vector<uint32_t> fill;  // scratch of the binning
    // Each record's regions, kept beside the records: those go to memory past the caches, and
    // the binning would read every one of them back.
    struct Bins {
        int lo0, hi0, lo1, hi1;  // of its first and second edge pair; none where lo > hi
        bool Has(int r) const { return (lo0 <= r && r <= hi0) || (lo1 <= r && r <= hi1); }
        int First() const
        {
            return std::min(lo0 <= hi0 ? lo0 : INT_MAX, lo1 <= hi1 ? lo1 : INT_MAX);
        }
        int Last() const { return std::max(hi0, hi1); }
    };
    std::vector<Bins> bins;

    // A chunk's record count follows the view (clipping splits, culling drops), so a frame can
    // set a new high mark long after the first: the first reservation leaves room for two
    // pieces a triangle, which the scenes never exceed, so the growth stops with it.
    krvi::Lanes4* Reserve(size_t n, int64_t triangles)
    {
        if (used + n > records.size())
            records.resize(
                std::max({records.size() * 2, used + n + 1024, size_t{2} * size_t(triangles) * n}));
        return records.data() + used;
    }
};

// A cache line apart from its neighbours: each thread writes its own queue and reads its own
// shading state at every pixel.
struct alignas(64) WorkerState {
    krvi::ShadeState shade;
    krvi::LastDepth last;
    krvi::PixelQueue queue;
};

}  // namespace

struct krvi::DrawWork {
    krvi::DrawState state;
    std::vector<WorkerState> workers;
    std::vector<std::unique_ptr<Chunk>> chunks;
    std::vector<int> order;        // the regions of a pass, in the order they are handed out
    std::vector<uint32_t> weight;  // scratch of that order: each region's records
};

krvi::DrawWorkPtr krvi::NewDrawWork() { return {new krvi::DrawWork(), krvi::ReleaseDrawWork}; }
void krvi::ReleaseDrawWork(krvi::DrawWork* work) { delete work; }

krvi::DrawState& krvi::StateOf(krvi::DrawWork& work) { return work.state; }

int krvi::RegionRows(int rows, int threads)
{
    // Taller regions cost less a record (a triangle crosses fewer of them); with the regions
    // handed out most records first, three a thread are enough to end the threads together.
    // On two threads 32-row regions drew the demo's frame 6 % faster than 16-row ones; on 16,
    // 16 rows beat both 8 and 32.
    int height = 32;
    while (height > 2 && rows / height < 3 * threads) height /= 2;
    return height;
}

namespace {

std::atomic<krvi::RegionHook> gRegionHook{nullptr};
std::atomic<uint64_t> gPasses{0};

struct PassJob {
    krvi::DrawWork* work = nullptr;
    const CVertex* vertices = nullptr;  // the pass's first triangle
    int64_t triangles = 0;              // in the pass
    int64_t firstChunk = 0;             // the pass's first chunk in the draw
    int64_t chunkTriangles = 0;         // triangles a chunk
    int chunks = 0;
    int threads = 1;
    int regions = 0;
    int shift = 4;        // regions of 2^shift rows
    int spins = 0;        // a wait's spins before it sleeps
    uint64_t number = 0;  // for the region hook
    std::atomic<int> nextChunk{0};
    std::atomic<int> nextRegion{0};
    // Chunks set up; the thread that completes the last one orders the regions and sets
    // `ordered` (kOrdering, kWaited with a thread asleep on it, then kOrdered). On a cache line
    // of its own, away from the counters every claim writes.
    alignas(64) std::atomic<int> chunksDone{0};
    std::atomic<int> ordered{0};
};

// The states of PassJob::ordered.
const int kOrdering = 0, kWaited = 1, kOrdered = 2;

// Copies a record with stores that go around the caches (the chunk's vectors are 16-byte
// aligned); StreamFence orders them before the stores that follow, which publish the chunk.
inline void StreamRecord(krvi::Lanes4* out, const krvi::Lanes4* record, size_t stride)
{
#if defined(__SSE2__)
    for (size_t k = 0; k < stride; ++k)
        _mm_stream_ps(reinterpret_cast<float*>(out + k), static_cast<__m128>(record[k]));
#else
    std::memcpy(static_cast<void*>(out), record, stride * sizeof *record);
#endif
}

inline void StreamFence()
{
#if defined(__SSE2__)
    _mm_sfence();
#endif
}

// Transform, clipping, set-up and binning of chunk c of the pass.
void SetUpChunk(const PassJob& job, int c)
{
    const krvi::DrawState& d = job.work->state;
    Chunk& chunk = *job.work->chunks[static_cast<size_t>(c)];
    const size_t stride = static_cast<size_t>(krvi::SetupStride(d.vectors));
    chunk.used = 0;
    chunk.bins.clear();
    // Set up on the stack, then streamed to the chunk past the caches: the record's lines were
    // last read by whichever threads drew the regions of the previous draw, and a plain store
    // would wait for each of them to give its copy up.
    krvi::Lanes4 record[krvi::kSetupMaxStride];
    const int shift = job.shift;
    auto sink = [&](_3D_Korvane_Shader* v) {
        if (!krvi::SetUpTriangle(d, v, record)) return;
        StreamRecord(chunk.Reserve(stride, job.chunkTriangles), record, stride);
        chunk.used += stride;
        krvi::SetupTriangle header;
        std::memcpy(&header, static_cast<const void*>(record), sizeof header);
        const krvi::PairRows &a = header.pairs[0], &b = header.pairs[1];
        const bool hasA = a.first <= a.last, hasB = b.first <= b.last;
        chunk.bins.push_back({hasA ? a.first >> shift : 0, hasA ? a.last >> shift : -1,
                              hasB ? b.first >> shift : 0, hasB ? b.last >> shift : -1});
    };
    const int64_t lo = c * job.chunkTriangles;
    const int64_t hi = std::min(lo + job.chunkTriangles, job.triangles);
    _3D_Korvane_Shader tri[3];
    for (int64_t t = lo; t < hi; ++t) {
        krvi::TransformTriangle(d, job.vertices + 3 * t, tri);
        krvi::ClipTriangle(tri, 1, d.features, sink);
    }

    StreamFence();

    // The bins: a count a region, their running sum, then the records in order.
    const size_t regions = static_cast<size_t>(job.regions);
    chunk.start.assign(regions + 1, 0);
    const uint32_t records = static_cast<uint32_t>(chunk.bins.size());
    for (uint32_t i = 0; i < records; ++i) {
        const Chunk::Bins& b = chunk.bins[i];
        for (int r = b.First(), last = b.Last(); r <= last; ++r)
            if (b.Has(r)) ++chunk.start[static_cast<size_t>(r) + 1];
    }
    for (size_t r = 0; r < regions; ++r) chunk.start[r + 1] += chunk.start[r];
    if (chunk.entries.capacity() < chunk.start[regions])
        chunk.entries.reserve(
            std::max(size_t{chunk.start[regions]} * 2, size_t{8} * size_t(job.chunkTriangles)));
    chunk.entries.resize(chunk.start[regions]);
    chunk.fill.assign(chunk.start.begin(), chunk.start.end() - 1);
    for (uint32_t i = 0; i < records; ++i) {
        const Chunk::Bins& b = chunk.bins[i];
        for (int r = b.First(), last = b.Last(); r <= last; ++r)
            if (b.Has(r)) chunk.entries[chunk.fill[static_cast<size_t>(r)]++] = i;
    }
}

// The order the regions are handed out in: the most records first, so that the draw ends on
// the cheapest regions and the threads finish together; equal counts keep their top-down
// order. Run once all chunks are binned.
void OrderRegions(PassJob& job)
{
    krvi::DrawWork& work = *job.work;
    const size_t regions = static_cast<size_t>(job.regions);
    work.weight.assign(regions, 0);
    for (int c = 0; c < job.chunks; ++c) {
        const Chunk& chunk = *work.chunks[static_cast<size_t>(c)];
        for (size_t r = 0; r < regions; ++r) work.weight[r] += chunk.start[r + 1] - chunk.start[r];
    }
    work.order.resize(regions);
    for (size_t r = 0; r < regions; ++r) work.order[r] = static_cast<int>(r);
    // std::sort with the index as the tie-break, not std::stable_sort, which allocates.
    std::sort(work.order.begin(), work.order.end(), [&](int a, int b) {
        const uint32_t wa = work.weight[static_cast<size_t>(a)];
        const uint32_t wb = work.weight[static_cast<size_t>(b)];
        return wa > wb || (wa == wb && a < b);
    });
}

// Waits for the order of the regions, which needs every chunk: a short spin, then sleep, so
// that with more threads than processors the thread still setting up gets a processor rather
// than share it with threads that only wait.
void WaitOrdered(PassJob& job)
{
    for (int spins = 0;; ++spins) {
        int state = job.ordered.load(std::memory_order_acquire);
        if (state == kOrdered) return;
        if (spins < job.spins) {
            Pause();
            continue;
        }
        if (state == kOrdering &&
            !job.ordered.compare_exchange_strong(state, kWaited, std::memory_order_acq_rel))
            continue;  // ordered meanwhile, or another waiter marked it
        krvi::WaitWhile(job.ordered, kWaited);
    }
}

// Region r's rows: every chunk's records for it, in order.
void DrawRegion(const PassJob& job, int r, WorkerState& self)
{
    const krvi::DrawState& d = job.work->state;
    const size_t stride = static_cast<size_t>(krvi::SetupStride(d.vectors));
    krvi::RowWindow window;
    window.first = r << job.shift;
    window.last = std::min(((r + 1) << job.shift) - 1, d.target.lastRow);
    krvi::LastDepth last;
    for (int c = 0; c < job.chunks; ++c) {
        const Chunk& chunk = *job.work->chunks[static_cast<size_t>(c)];
        const uint64_t base = static_cast<uint64_t>(job.firstChunk + c) << kRecordBits;
        const uint32_t* e = chunk.entries.data() + chunk.start[static_cast<size_t>(r)];
        const uint32_t* end = chunk.entries.data() + chunk.start[static_cast<size_t>(r) + 1];
        for (; e < end; ++e)
            krvi::DrawSetupTriangle(d, self.shade, chunk.records.data() + *e * stride, base | *e,
                                    window, last);
    }
    if (last.After(self.last)) self.last = last;
}

// One thread's part of a pass: set-up chunks while any is unclaimed, then regions.
void PassRun(void* context, int index, int)
{
    PassJob& job = *static_cast<PassJob*>(context);
    // A worker the pool gained after the draw counted its threads has no state; the others
    // leave it nothing to do.
    if (index >= job.threads) return;
    const krvi::DrawState& d = job.work->state;
    WorkerState& self = job.work->workers[static_cast<size_t>(index)];
    self.shade = d.shade;
    self.shade.queue = &self.queue;
    self.queue.count = 0;
    for (int c; (c = job.nextChunk.fetch_add(1, std::memory_order_relaxed)) < job.chunks;) {
        SetUpChunk(job, c);
        if (job.chunksDone.fetch_add(1, std::memory_order_acq_rel) + 1 == job.chunks) {
            OrderRegions(job);
            if (job.ordered.exchange(kOrdered, std::memory_order_acq_rel) == kWaited)
                krvi::Wake(job.ordered);
        }
    }
    WaitOrdered(job);
    const krvi::RegionHook hook = gRegionHook.load(std::memory_order_relaxed);
    for (int i; (i = job.nextRegion.fetch_add(1, std::memory_order_relaxed)) < job.regions;) {
        const int r = job.work->order[static_cast<size_t>(i)];
        if (hook) hook(index, job.number, r);
        DrawRegion(job, r, self);
    }
    if (hook) hook(index, job.number, krvi::kPassDone);
    if (d.flush) d.flush(d.target, self.shade);
}

}  // namespace

void krvi::SetRegionHook(krvi::RegionHook hook) { gRegionHook.store(hook); }

bool krvi::RunBinnedDraw(krvi::DrawWork& work, const CVertex* vertices, int64_t triangles,
                         int threads, unsigned short& lastDepth)
{
    const krvi::DrawState& d = work.state;
    if (work.workers.size() < static_cast<size_t>(threads))
        work.workers.resize(static_cast<size_t>(threads));

    if (threads <= 1) {
        // Set-up and rows alternate triangle by triangle.
        WorkerState& self = work.workers[0];
        self.shade = d.shade;
        self.shade.queue = &self.queue;
        self.queue.count = 0;
        krvi::LastDepth last;
        uint64_t ordinal = 0;
        const krvi::RowWindow all;
        krvi::Lanes4 record[krvi::kSetupMaxStride];
        auto sink = [&](_3D_Korvane_Shader* v) {
            if (krvi::SetUpTriangle(d, v, record))
                krvi::DrawSetupTriangle(d, self.shade, record, ordinal++, all, last);
        };
        _3D_Korvane_Shader tri[3];
        for (int64_t t = 0; t < triangles; ++t) {
            TransformTriangle(d, vertices + 3 * t, tri);
            krvi::ClipTriangle(tri, 1, d.features, sink);
        }
        if (d.flush) d.flush(d.target, self.shade);
        if (last.set) lastDepth = last.depth;
        return last.set;
    }

    for (int i = 0; i < threads; ++i) work.workers[static_cast<size_t>(i)].last = krvi::LastDepth();
    const int rows = d.target.lastRow + 1;
    const int height = krvi::RegionRows(rows, threads);
    int shift = 1;
    while ((1 << shift) < height) ++shift;
    const int regions = (rows - 1) / height + 1;

    krvi::ThreadPool& pool = krvi::ThreadPool::Shared();
    const int64_t chunkTriangles = ChunkTriangles(std::min(triangles, kPassTriangles), threads);
    const int64_t passTriangles = kPassTriangles / chunkTriangles * chunkTriangles;
    for (int64_t first = 0; first < triangles; first += passTriangles) {
        PassJob job;
        job.work = &work;
        job.vertices = vertices + 3 * first;
        job.triangles = std::min(passTriangles, triangles - first);
        job.firstChunk = first / chunkTriangles;
        job.chunkTriangles = chunkTriangles;
        job.chunks = static_cast<int>((job.triangles + chunkTriangles - 1) / chunkTriangles);
        job.threads = threads;
        job.regions = regions;
        job.shift = shift;
        job.spins = pool.Oversubscribed() ? 0 : 2000;
        job.number = gPasses.fetch_add(1, std::memory_order_relaxed);
        while (work.chunks.size() < static_cast<size_t>(job.chunks))
            work.chunks.emplace_back(new Chunk());
        pool.Run(PassRun, &job);
    }

    // The last fragment of the draw is the latest one any region saw.
    const krvi::LastDepth* latest = nullptr;
    for (int i = 0; i < threads; ++i) {
        const krvi::LastDepth& l = work.workers[static_cast<size_t>(i)].last;
        if (l.set && (!latest || l.After(*latest))) latest = &l;
    }
    if (latest) lastDepth = latest->depth;
    return latest != nullptr;
}
