// Views benchmark: loads a model as krv-render does and renders a turntable of views of it, the
// colour picture read back and the depth pass, into memory (no files), as the Python module's
// render_views does, after two untimed views. Prints the medians over the rounds of the frames a
// second, the milliseconds a frame and the processor milliseconds a frame (every thread of the
// process: with one drawing thread the work alone, whatever else the machine runs), and a hash
// of the last view's pixels (FNV-1a over red, green, blue, the top row first), so that
// bench/python_bench.py can compare the same frames from Python.
//
//   views_bench MODEL [--size WxH] [--aa off|4x|9x|16x] [--views N] [--rounds N]
//               [--threads N] [--outputs color|color+depth] [--help]
//
// The line scripts read:
//   views_bench: ... | fps <median> | frame_ms <median> | cpu_ms <median> | hash <16 hex>
#include "api/krv.h"
#include "base/options.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

void Help(const char* program)
{
    std::printf(
        "usage: %s MODEL [--size WxH] [--aa off|4x|9x|16x] [--views N] [--rounds N]\n"
        "       [--threads N] [--outputs color|color+depth]\n"
        "Renders N views of MODEL (yaw turned 360/N a view, pitch 20, the distance that fits)\n"
        "each round, colour read back and depth, into memory; prints the median frames a\n"
        "second and milliseconds a frame over the rounds and the last view's pixel hash.\n"
        "Defaults: --size 256x256 --aa 4x --views 32 --rounds 3 --threads 0 (one a core)\n"
        "--outputs color+depth.\n",
        program);
}

int ParseAA(const char* s)
{
    static const struct {
        const char* name;
        int aa;
    } names[] = {{"off", KrvAA_Off}, {"4x", KrvAA_2x2}, {"9x", KrvAA_3x3}, {"16x", KrvAA_4x4}};
    for (const auto& n : names)
        if (krvopt::SameName(s, n.name)) return n.aa;
    return -1;
}

double ProcessSeconds()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

uint64_t Fnv1a(const std::vector<unsigned char>& bytes)
{
    uint64_t h = 1469598103934665603ull;
    for (unsigned char b : bytes) h = (h ^ b) * 1099511628211ull;
    return h;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

}  // namespace

int main(int argc, char** argv)
{
    const char* program = krvopt::ProgramName(argv[0]);
    const char* model = nullptr;
    int width = 256, height = 256, aa = KrvAA_2x2, views = 32, rounds = 3, threads = 0;
    bool depth = true;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            Help(program);
            return 0;
        }
        if (a[0] != '-') {
            if (model) return krvopt::BadOption(program, "one model only, not also '%s'", a);
            model = a;
            continue;
        }
        static const char* const kWithValue[] = {"--size",   "--aa",      "--views",
                                                 "--rounds", "--threads", "--outputs"};
        bool known = false;
        for (const char* name : kWithValue) known = known || std::strcmp(a, name) == 0;
        if (!known) return krvopt::BadOption(program, "unknown option '%s'", a);
        if (i + 1 >= argc) return krvopt::BadOption(program, "%s needs a value", a);
        const char* v = argv[++i];
        if (std::strcmp(a, "--size") == 0) {
            if (!krvopt::ParseSize(v, 8192, width, height))
                return krvopt::BadOption(program, "--size '%s': not WxH with sides 1 to 8192", v);
        } else if (std::strcmp(a, "--aa") == 0) {
            aa = ParseAA(v);
            if (aa < 0) return krvopt::BadOption(program, "--aa '%s': not off, 4x, 9x or 16x", v);
        } else if (std::strcmp(a, "--views") == 0) {
            if (!krvopt::ParseInt(v, 1, 100000, views))
                return krvopt::BadOption(program, "--views '%s': not a count of 1 or more", v);
        } else if (std::strcmp(a, "--rounds") == 0) {
            if (!krvopt::ParseInt(v, 1, 1000, rounds))
                return krvopt::BadOption(program, "--rounds '%s': not a count of 1 or more", v);
        } else if (std::strcmp(a, "--threads") == 0) {
            if (!krvopt::ParseInt(v, 0, 256, threads))
                return krvopt::BadOption(program, "--threads '%s': not a count from 0 to 256", v);
        } else {
            if (std::strcmp(v, "color") != 0 && std::strcmp(v, "color+depth") != 0)
                return krvopt::BadOption(program, "--outputs '%s': not color or color+depth", v);
            depth = std::strcmp(v, "color+depth") == 0;
        }
    }
    if (!model) return krvopt::BadOption(program, "no model given");

    krvSetErrorEcho(false);
    CModel m;
    if (!krvLoadModel(&m, model)) {
        std::fprintf(stderr, "%s: cannot load %s: %s", program, model, krvGetErrorReport());
        return 1;
    }
    if (threads > 0) krvSetThreads(threads);
    krvSetAntiAliasing(aa);
    if (!krvCreateOffscreen(width, height)) {
        std::fprintf(stderr, "%s: %s", program, krvGetErrorReport());
        krvDestroyModel(&m);
        return 1;
    }
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    std::vector<unsigned char> rgb(pixels * 3u);
    std::vector<float> z(pixels);
    auto render = [&](int i) {
        CModelView view;
        view.yaw = 360.0f * static_cast<float>(i) / static_cast<float>(views);
        view.pitch = 20.0f;
        return krvRenderModelView(&m, &view) && krvReadPixels(rgb.data(), rgb.size()) &&
               (!depth || krvRenderModelDepth(&m, &view, z.data(), z.size()));
    };
    // Two untimed views first: the drawing threads start and the buffers are touched.
    bool ok = render(0) && render(views > 1 ? 1 : 0);
    std::vector<double> fps, ms, cpu;
    for (int r = 0; r < rounds && ok; ++r) {
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = ProcessSeconds();
        for (int i = 0; i < views && ok; ++i) ok = render(i);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        fps.push_back(views / seconds);
        ms.push_back(seconds * 1000.0 / views);
        cpu.push_back((ProcessSeconds() - cpuStart) * 1000.0 / views);
    }
    if (!ok) std::fprintf(stderr, "%s: %s", program, krvGetErrorReport());
    const int usedThreads = krvGetThreads();
    krvDestroyOffscreen();
    krvDestroyModel(&m);
    if (!ok) return 1;
    std::printf(
        "views_bench: %s %dx%d views %d rounds %d threads %d %s | fps %.2f | frame_ms %.3f "
        "| cpu_ms %.3f | hash %016" PRIx64 "\n",
        model, width, height, views, rounds, usedThreads, depth ? "color+depth" : "color",
        Median(fps), Median(ms), Median(cpu), Fnv1a(rgb));
    return 0;
}
