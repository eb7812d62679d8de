// Scaling benchmark: what the demonstration's frame would gain from more processors than this
// machine has, from shares measured here.
//
// Two figures decide how a frame scales with N threads on N processors:
//  - the work each added thread brings with it (its share of the set-up it waits for, its
//    queue's flush, smaller regions): the processor time of a frame on T threads against one
//    thread, per added thread. Measured with T threads on however many processors there are, it
//    also holds what sharing them costs (switches between threads), so it is an upper bound;
//  - the balance of the regions: every pass hands its regions out in order to whichever thread
//    is free, so the busiest of N threads does the average plus at most one region. The regions'
//    processor times are measured on T threads (the region height follows the thread count), and
//    the hand-out is replayed for N threads.
//
//   scaling_bench [--threads T] [--frames N] [--data DIR]   (T default 64, N default 5)
#include "core/bin.h"
#include "demo/demo_scene.h"
#include "platform/platform.h"
#include "platform/thread_pool.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <map>
#include <queue>
#include <string>
#include <vector>

namespace {

double ThreadCpuNs()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

double ProcessCpuMs()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) * 1e-6;
}

struct Event {
    uint64_t pass;
    int region;
    double cpu;  // the thread's processor time, ns
};

// One list a worker, written by that worker only.
std::vector<Event> gEvents[256];

void Record(int worker, uint64_t pass, int region)
{
    if (worker >= 0 && worker < 256) gEvents[worker].push_back({pass, region, ThreadCpuNs()});
}

void Frames(int frames)
{
    for (int i = 0; i < frames; ++i) {
        DemoMoveCamera();
        DemoShadowPass();
        DemoScenePass();
        _3D_Korvane_Rendering& r = krvRendering();
        if (r.antiAliasing != 0 && r.aaColorBuffer) r.SetAntiAliasingFilter(r.antiAliasing);
    }
}

double CpuPerFrame(int threads, int frames)
{
    krvSetThreads(threads);
    // Every one of the T threads in every draw: the share the pool would otherwise shrink to
    // on fewer processors is not what T processors would see.
    krvi::ThreadPool::Shared().SetAdaptive(false);
    Frames(2);
    const double c0 = ProcessCpuMs();
    Frames(frames);
    return (ProcessCpuMs() - c0) / frames;
}

// The time at which the last of n threads finishes, when each takes the next of `costs` in
// order as soon as it is free.
double HandOut(const std::vector<double>& costs, int n)
{
    std::priority_queue<double, std::vector<double>, std::greater<double>> free;
    for (int i = 0; i < n; ++i) free.push(0.0);
    double end = 0.0;
    for (double c : costs) {
        const double start = free.top();
        free.pop();
        free.push(start + c);
        end = std::max(end, start + c);
    }
    return end;
}

}  // namespace

int main(int argc, char** argv)
{
    int threads = 64, frames = 5;
    std::string data = KRV_DEMO_DATA_DIR;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--threads" && i + 1 < argc)
            threads = std::atoi(argv[++i]);
        else if (a == "--frames" && i + 1 < argc)
            frames = std::atoi(argv[++i]);
        else if (a == "--data" && i + 1 < argc)
            data = argv[++i];
        else {
            std::fprintf(stderr, "usage: scaling_bench [--threads T] [--frames N] [--data DIR]\n");
            return 2;
        }
    }
    if (threads < 2 || threads > 256 || frames < 1) {
        std::fprintf(stderr, "scaling_bench: --threads 2..256, --frames >= 1\n");
        return 2;
    }
    if (!data.empty() && data.back() != '/') data += '/';
    ModuleDirectory = data.c_str();
    InitScene();
    if (MdlOBJ.NumVertex == 0) {
        std::fprintf(stderr, "scaling_bench: the demo's car did not load from %s\n", data.c_str());
        return 1;
    }
    // frame_bench's default configuration: 800 x 600, SPEED, AA 4x.
    _3D_Korvane_Rendering& rendering = krvRendering();
    rendering.renderMode = KrvRenderMode_Speed;
    rendering.antiAliasing = KrvAA_2x2;
    _3D_KRV_Wnd.WMSize(800, 600);
    _3D_KRV_Wnd.hdc = krvplat::CreateImageDC(800, 600);

    const double one = CpuPerFrame(1, frames);
    const double many = CpuPerFrame(threads, frames);
    std::printf("processor time a frame: %.2f ms on 1 thread, %.2f ms on %d threads\n", one, many,
                threads);
    std::printf("added work per added thread: %.3f ms, %.2f %% of a one-thread frame\n",
                (many - one) / (threads - 1), 100.0 * (many - one) / (threads - 1) / one);

    for (std::vector<Event>& e : gEvents) e.reserve(1 << 16);
    krvi::SetRegionHook(Record);
    Frames(frames);
    krvi::SetRegionHook(nullptr);

    // Each region's processor time, by pass, in region order.
    std::map<uint64_t, std::map<int, double>> passes;
    for (const std::vector<Event>& list : gEvents)
        for (size_t i = 0; i + 1 < list.size(); ++i)
            if (list[i].region >= 0 && list[i + 1].pass == list[i].pass)
                passes[list[i].pass][list[i].region] = (list[i + 1].cpu - list[i].cpu) * 1e-6;
    double total = 0.0, largest = 0.0;
    size_t regions = 0;
    for (const auto& p : passes)
        for (const auto& r : p.second) {
            total += r.second;
            largest = std::max(largest, r.second);
            ++regions;
        }
    std::printf(
        "regions: %zu in %zu passes over %d frames, %.2f ms a frame in all, the largest "
        "%.3f ms\n",
        regions, passes.size(), frames, total / frames, largest);
    for (int n : {2, 16, 64}) {
        double busiest = 0.0;
        for (const auto& p : passes) {
            std::vector<double> costs;
            for (const auto& r : p.second) costs.push_back(r.second);
            busiest += HandOut(costs, n);
        }
        std::printf(
            "%2d threads: the busiest draws regions for %.3f ms a frame, %.2f times the "
            "average %.3f ms\n",
            n, busiest / frames, busiest / (total / n), total / n / frames);
    }
    return 0;
}
