// The draw's binning: records set up in chunks and binned by row regions, regions drawn by
// whichever thread claims them. Every thread count must give the bytes and the last depth of one
// thread, for triangles that cross many regions, end on the target's edges or cover it all, for
// draws longer than one pass of the pool, and while a thread stalls inside its region; and the
// pool's share of workers follows the processor time its threads lose.
#include "core/bin.h"
#include "core/core.h"
#include "tests/execution.h"
#include "tests/golden.h"
#include "platform/thread_pool.h"

#include <gtest/gtest.h>

#if defined(__linux__)
#include <pthread.h>
#include <sched.h>
#include <time.h>
#endif

#include <atomic>
#include <chrono>
#include <random>
#include <thread>
#include <vector>

namespace {

TEST(Regions, HeightIsAnEvenPowerOfTwoWithThreeRegionsAThreadWhereTheRowsAllow)
{
    struct Case {
        int rows, threads, height;
    };
    const Case cases[] = {
        {800, 1, 32},  {800, 2, 32}, {800, 16, 16}, {800, 64, 4}, {1024, 2, 32}, {1024, 16, 16},
        {1024, 64, 4}, {61, 2, 8},   {61, 7, 2},    {1, 16, 2},   {3, 1, 2},     {0, 4, 2},
    };
    for (const Case& c : cases)
        EXPECT_EQ(krvi::RegionRows(c.rows, c.threads), c.height)
            << c.rows << " rows, " << c.threads << " threads";
}

struct Result {
    std::vector<uint8> color;
    std::vector<unsigned short> depth;
    unsigned short lastDepth = 0;
};

enum class Scene {
    Tall,      // thin triangles from the top row to the bottom one: every region
    Edges,     // triangles on the first and last rows and columns, and past them
    Huge,      // one triangle far larger than the view, clipped, under smaller ones
    Overlaps,  // depth test off: each pixel keeps the later triangle
    Long,      // more triangles than one pass of the pool takes
};

Result Draw(Scene scene, int width, int height, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    _3D_Korvane_Core core;
    TestTarget target(width, height);
    target.Bind(core);
    core.depthTest = scene != Scene::Overlaps;
    const float w = float(width), h = float(height);
    std::vector<CVertex> v;
    auto add = [&](float x, float y, float z) {
        const vec3 rgb(unit(rng), unit(rng), unit(rng));
        v.push_back(ScreenVertex(core, x, y, z, rgb));
    };
    auto randomTriangle = [&](float size) {
        const float cx = w * unit(rng), cy = h * unit(rng);
        for (int k = 0; k < 3; ++k)
            add(cx + size * (unit(rng) - 0.5f), cy + size * (unit(rng) - 0.5f),
                unit(rng) * 1.8f - 0.9f);
    };
    switch (scene) {
    case Scene::Tall:
        for (int i = 0; i < 60; ++i) {
            const float x = w * unit(rng);
            add(x, -0.5f, 0.2f * unit(rng));
            add(x + 3.0f, h + 0.5f, 0.2f * unit(rng));
            add(x - 2.0f, 0.5f * h, 0.2f * unit(rng));
        }
        break;
    case Scene::Edges:
        for (int i = 0; i < 40; ++i) {
            const float y = i % 2 ? h - 0.5f : 0.5f, x = w * unit(rng);
            add(x, y, 0.0f);
            add(x + 9.0f, y + (i % 2 ? -3.0f : 3.0f), 0.1f);
            add(i % 4 < 2 ? -4.0f : w + 4.0f, y, -0.1f);
        }
        break;
    case Scene::Huge:
        add(-40.0f * w, -30.0f * h, 0.5f);
        add(40.0f * w, -30.0f * h, 0.5f);
        add(0.5f * w, 40.0f * h, 0.5f);
        for (int i = 0; i < 200; ++i) randomTriangle(12.0f);
        break;
    case Scene::Overlaps:
        for (int i = 0; i < 400; ++i) randomTriangle(0.4f * h);
        break;
    case Scene::Long:
        for (int i = 0; i < 40000; ++i) randomTriangle(3.0f);
        break;
    }
    core.DrawTriangles(v.data(), 0, int(v.size()));
    return {target.color, target.depth, core.GetDepthBuffer()};
}

void ExpectSame(const Result& got, const Result& expected, const std::string& what)
{
    EXPECT_EQ(got.color, expected.color) << what;
    EXPECT_EQ(got.depth, expected.depth) << what;
    EXPECT_EQ(got.lastDepth, expected.lastDepth) << what;
}

TEST(Binning, EveryThreadCountGivesTheBytesOfOneThread)
{
    const Scene scenes[] = {Scene::Tall, Scene::Edges, Scene::Huge, Scene::Overlaps};
    // 61 rows end in a part-filled region; 200 rows give 64 regions to 16 threads.
    const int sizes[][2] = {{97, 61}, {64, 200}};
    for (Scene scene : scenes)
        for (const auto& size : sizes) {
            Result expected;
            {
                ScopedExecution serial({1, 1});
                expected = Draw(scene, size[0], size[1], 7);
            }
            for (int threads = 2; threads <= 16; ++threads) {
                ScopedExecution execution({threads, 1});
                ExpectSame(Draw(scene, size[0], size[1], 7), expected,
                           "scene " + std::to_string(int(scene)) + ", " + std::to_string(size[1]) +
                               " rows, " + std::to_string(threads) + " threads");
            }
        }
}

TEST(Binning, DrawsLongerThanAPassKeepTheirOrder)
{
    Result expected;
    {
        ScopedExecution serial({1, 1});
        expected = Draw(Scene::Long, 80, 60, 3);
    }
    for (int threads : {2, 5}) {
        ScopedExecution execution({threads, 1});
        ExpectSame(Draw(Scene::Long, 80, 60, 3), expected, std::to_string(threads) + " threads");
    }
}

// A worker that stalls in its first region (as one the system deschedules would) holds up that
// region only: the others draw the rest meanwhile, and the bytes stay those of one thread.
std::atomic<int> gRegionsOfWorker[4];
std::atomic<bool> gStalled{false};

void StallWorkerOne(int worker, uint64_t, int region)
{
    if (region == krvi::kPassDone) return;
    gRegionsOfWorker[worker].fetch_add(1);
    if (worker == 1 && !gStalled.exchange(true))
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
}

TEST(Binning, AStalledThreadHoldsUpOnlyItsRegion)
{
    Result expected;
    {
        ScopedExecution serial({1, 1});
        expected = Draw(Scene::Overlaps, 64, 200, 11);
    }
    ScopedExecution execution({4, 1});
    for (int attempt = 0; attempt < 20; ++attempt) {
        for (std::atomic<int>& n : gRegionsOfWorker) n.store(0);
        gStalled.store(false);
        krvi::SetRegionHook(StallWorkerOne);
        const Result got = Draw(Scene::Overlaps, 64, 200, 11);
        krvi::SetRegionHook(nullptr);
        ExpectSame(got, expected, "with a stalled thread");
        // Worker 1 may not have joined the draw at all (the others can finish first).
        if (!gStalled.load()) continue;
        EXPECT_EQ(gRegionsOfWorker[1].load(), 1);
        const int height = krvi::RegionRows(200, 4);
        const int regions = (200 + height - 1) / height;
        EXPECT_EQ(
            gRegionsOfWorker[0].load() + gRegionsOfWorker[2].load() + gRegionsOfWorker[3].load(),
            regions - 1);
        return;
    }
    GTEST_SKIP() << "worker 1 never joined a draw";
}

// The pool's share: jobs in which the caller loses its processor to another thread (here one
// that spins on the same processor) halve the workers that take part, and a rest later they
// are all back. Held fixed, the share stays whole whatever a job loses.
#if defined(__linux__)
// Runs a job whose caller burns 20 ms of processor time while a second thread spins on the
// caller's processor.
void RunLosingJob()
{
    cpu_set_t old;
    CPU_ZERO(&old);
    ASSERT_EQ(pthread_getaffinity_np(pthread_self(), sizeof old, &old), 0);
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(sched_getcpu(), &one);
    ASSERT_EQ(pthread_setaffinity_np(pthread_self(), sizeof one, &one), 0);
    std::atomic<bool> spin{true};
    std::thread spinner([&] {
        pthread_setaffinity_np(pthread_self(), sizeof one, &one);
        while (spin.load()) {}
    });
    krvi::ThreadPool::Shared().Run(
        [](void*, int worker, int) {
            if (worker != 0) return;
            timespec start, now;
            clock_gettime(CLOCK_THREAD_CPUTIME_ID, &start);
            do clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
            while ((now.tv_sec - start.tv_sec) * 1000000000L + (now.tv_nsec - start.tv_nsec) <
                   20000000L);
        },
        nullptr);
    spin.store(false);
    spinner.join();
    pthread_setaffinity_np(pthread_self(), sizeof old, &old);
}

TEST(ThreadPool, LostTimeHalvesTheShareUntilARest)
{
    krvi::ThreadPool& pool = krvi::ThreadPool::Shared();
    const int threads = krvGetThreads();
    krvSetThreads(4);
    pool.SetAdaptive(false);
    ASSERT_EQ(pool.Threads(), 4);
    EXPECT_EQ(pool.Available(), 4);
    RunLosingJob();
    EXPECT_EQ(pool.Available(), 4) << "a fixed share";

    // One losing job may be a moment's noise; a second soon after halves the share, once.
    pool.SetAdaptive(true);
    RunLosingJob();
    EXPECT_EQ(pool.Available(), 4);
    RunLosingJob();
    EXPECT_EQ(pool.Available(), 2);
    // Empty jobs until the share is whole again (the first rest is a few milliseconds).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (pool.Available() < 4 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        pool.Run([](void*, int, int) {}, nullptr);
    }
    EXPECT_EQ(pool.Available(), 4);
    krvSetThreads(threads);
}
#endif

}  // namespace
