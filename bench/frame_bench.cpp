// Frame benchmark: renders the demonstration's scene without a window for a number of frames and
// prints, per configuration, the median and 90th percentile of the milliseconds a frame takes,
// split into shadow pass, scene pass, supersampling filter and presentation, the processor time
// a frame (every thread), and a hash of the
// last frame's pixels. The light turns by a fixed step a frame, so frames are reproducible: the
// same configuration gives the same hash on every build, thread count and SIMD width.
//
//   frame_bench [--frames N] [--size WxH] [--mode NORMAL|DEVICE|SPEED|BOOST|NEAREST]
//               [--aa off|4x|9x|16x] [--step SECONDS] [--all] [--data DIR] [--out FILE.png]
//               [--threads N] [--simd auto|off|sse2|avx2|avx512] [--json FILE] [--help]
//               [--version]
//
// Scripts read the text line by its `| frame <median> <p90>` and `| hash <16 hex digits>`
// fields, which keep their form; --json writes every figure of the run for them instead.
#include "demo/demo_scene.h"
#include "platform/platform.h"
#include "base/options.h"

#include <korvane/version.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Config {
    int width = 800, height = 600;
    int renderMode = KrvRenderMode_Speed;
    int antiAliasing = KrvAA_2x2;
};

struct Timings {
    std::vector<double> frame, shadow, scene, filter, present;
    std::vector<double> cpu;  // processor time of every thread of the process
    std::vector<double> shadowTriangles, sceneTriangles;  // submitted per frame
};

// One configuration's figures, for the text line and the JSON file.
struct Figure {
    double median = 0.0, p90 = 0.0;
};
struct Result {
    Config config;
    int threads = 1, simdLanes = 1;
    Figure frame, shadow, scene, filter, present, cpu;
    long long shadowTriangles = 0, sceneTriangles = 0;
    uint64_t hash = 0;
};

const char* const kModeNames[5] = {"NORMAL", "DEVICE", "SPEED", "BOOST", "NEAREST"};

// Names as the lines print them, in any case.
int ParseMode(const char* s)
{
    for (int i = 0; i < 5; ++i)
        if (krvopt::SameName(s, kModeNames[i])) return KrvRenderMode_Normal + i;
    return -1;
}

// "off" or "0", and each factor as the lines print it ("4x") or as a sample count ("4").
int ParseAA(const char* s)
{
    static const struct {
        const char* name;
        int aa;
    } names[] = {{"off", KrvAA_Off}, {"0", KrvAA_Off}, {"4x", KrvAA_2x2},  {"4", KrvAA_2x2},
                 {"9x", KrvAA_3x3},  {"9", KrvAA_3x3}, {"16x", KrvAA_4x4}, {"16", KrvAA_4x4}};
    for (const auto& n : names)
        if (krvopt::SameName(s, n.name)) return n.aa;
    return -1;
}

const char* AAName(int aa)
{
    switch (aa) {
    case KrvAA_2x2: return "4x";
    case KrvAA_3x3: return "9x";
    case KrvAA_4x4: return "16x";
    default: return "OFF";
    }
}

double Now()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// Processor milliseconds the whole process (every thread) has used. With more threads than
// processors the wall time measures the scheduler as much as the renderer; the processor time
// a frame shows what the threads cost between them.
double CpuNow()
{
    timespec ts;
    if (clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts) != 0) return 0.0;
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) * 1e-6;
}

double Percentile(std::vector<double> v, double p)
{
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    size_t i = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

Figure FigureOf(const std::vector<double>& v) { return {Percentile(v, 0.5), Percentile(v, 0.9)}; }

// --simd: a name or the lane count; -1 for neither.
int ParseSimd(const char* s)
{
    static const struct {
        const char* name;
        int lanes;
    } names[] = {{"auto", 0}, {"0", 0},    {"off", 1}, {"1", 1},       {"sse2", 4},
                 {"4", 4},    {"avx2", 8}, {"8", 8},   {"avx512", 16}, {"16", 16}};
    for (const auto& n : names)
        if (krvopt::SameName(s, n.name)) return n.lanes;
    return -1;
}

// FNV-1a over the visible pixels of the output colour buffer (not the row padding).
uint64_t FrameHash(const _3D_Korvane_Rendering& r)
{
    uint64_t h = 1469598103934665603ull;
    if (!r.colorBuffer) return h;
    for (int y = 0; y < r.height; ++y) {
        const uint8* row = r.colorBuffer + static_cast<size_t>(y) * r.colorWidth * 3;
        for (int i = 0; i < r.width * 3; ++i) {
            h ^= row[i];
            h *= 1099511628211ull;
        }
    }
    return h;
}

void ResetScene(const CLight& initialLight)
{
    // Every configuration starts from the same light and camera.
    Light0 = initialLight;
    _3D_Korvane_Rendering& r = krvRendering();
    r.Camera = CCamera();
}

// Writes the last frame to out when given; outWritten says whether that worked.
Result Run(const Config& c, int frames, float step, const CLight& initialLight, const char* out,
           bool* outWritten = nullptr)
{
    _3D_Korvane_Rendering& r = krvRendering();
    ResetScene(initialLight);
    r.renderMode = c.renderMode;
    r.antiAliasing = c.antiAliasing;
    _3D_KRV_Wnd.WMSize(c.width, c.height);
    HDC dc = krvplat::CreateImageDC(c.width, c.height);
    _3D_KRV_Wnd.hdc = dc;
    _3D_KRV_Wnd.frameTime = step;

    Timings t;
    const int warmup = 2;
    for (int i = 0; i < warmup + frames; ++i) {
        const uint64_t n0 = r.submittedTriangles;
        const double c0 = CpuNow();
        double t0 = Now();
        DemoMoveCamera();
        DemoShadowPass();
        double t1 = Now();
        const uint64_t n1 = r.submittedTriangles;
        DemoScenePass();
        double t2 = Now();
        const uint64_t n2 = r.submittedTriangles;
        if (r.antiAliasing != 0 && r.aaColorBuffer) r.SetAntiAliasingFilter(r.antiAliasing);
        double t3 = Now();
        int aa = r.antiAliasing;
        r.antiAliasing = 0;  // the filter ran above: time the blit alone
        r.SwapBuffers(dc);
        r.antiAliasing = aa;
        double t4 = Now();
        const double c4 = CpuNow();
        if (i < warmup) continue;
        t.cpu.push_back(c4 - c0);
        t.frame.push_back(t4 - t0);
        t.shadow.push_back(t1 - t0);
        t.scene.push_back(t2 - t1);
        t.filter.push_back(t3 - t2);
        t.present.push_back(t4 - t3);
        t.shadowTriangles.push_back(static_cast<double>(n1 - n0));
        t.sceneTriangles.push_back(static_cast<double>(n2 - n1));
    }

    Result res;
    res.config = c;
    res.threads = krvGetThreads();
    res.simdLanes = krvGetSimdWidth();
    res.frame = FigureOf(t.frame);
    res.shadow = FigureOf(t.shadow);
    res.scene = FigureOf(t.scene);
    res.filter = FigureOf(t.filter);
    res.present = FigureOf(t.present);
    res.cpu = FigureOf(t.cpu);
    res.shadowTriangles = static_cast<long long>(Percentile(t.shadowTriangles, 0.5));
    res.sceneTriangles = static_cast<long long>(Percentile(t.sceneTriangles, 0.5));
    res.hash = FrameHash(r);

    std::printf(
        "%4dx%-4d %-7s AA %-3s | threads %d simd %d | triangles %lld | frame %7.2f %7.2f "
        "| shadow %6.2f %6.2f | scene %7.2f %7.2f | filter %6.2f %6.2f | present %6.2f "
        "%6.2f | cpu %7.2f %7.2f | hash %016llx\n",
        c.width, c.height, kModeNames[c.renderMode - KrvRenderMode_Normal], AAName(c.antiAliasing),
        res.threads, res.simdLanes, res.shadowTriangles + res.sceneTriangles, res.frame.median,
        res.frame.p90, res.shadow.median, res.shadow.p90, res.scene.median, res.scene.p90,
        res.filter.median, res.filter.p90, res.present.median, res.present.p90, res.cpu.median,
        res.cpu.p90, static_cast<unsigned long long>(res.hash));
    std::fflush(stdout);
    if (out) {
        // The report's echo has said why when it fails.
        const bool written = krvSavePixelsPNG(out);
        if (written) std::fprintf(stderr, "wrote %s\n", out);
        if (outWritten) *outWritten = written;
    }
    _3D_KRV_Wnd.hdc = nullptr;
    krvplat::DestroyImageDC(dc);
    return res;
}

void WriteFigure(FILE* f, const char* name, const Figure& v)
{
    std::fprintf(f, "\"%s\": {\"median\": %.4f, \"p90\": %.4f}", name, v.median, v.p90);
}

// Every figure of the run; milliseconds, triangles a frame. Returns false when the file could
// not be written whole.
bool WriteJson(FILE* f, int frames, float step, const Config& size,
               const std::vector<Result>& results)
{
    std::fprintf(f, "{\n  \"version\": \"%s\",\n  \"frames\": %d,\n  \"step\": %.6f,\n",
                 KRV_VERSION, frames, static_cast<double>(step));
    std::fprintf(f, "  \"size\": {\"width\": %d, \"height\": %d},\n", size.width, size.height);
    std::fprintf(f, "  \"configurations\": [");
    for (size_t i = 0; i < results.size(); ++i) {
        const Result& r = results[i];
        std::fprintf(f,
                     "%s\n    {\"mode\": \"%s\", \"aa\": \"%s\", \"threads\": %d, "
                     "\"simd_lanes\": %d,\n",
                     i ? "," : "", kModeNames[r.config.renderMode - KrvRenderMode_Normal],
                     AAName(r.config.antiAliasing), r.threads, r.simdLanes);
        std::fprintf(f,
                     "     \"triangles\": {\"shadow\": %lld, \"scene\": %lld, "
                     "\"frame\": %lld},\n     ",
                     r.shadowTriangles, r.sceneTriangles, r.shadowTriangles + r.sceneTriangles);
        WriteFigure(f, "frame", r.frame);
        std::fprintf(f, ", ");
        WriteFigure(f, "shadow", r.shadow);
        std::fprintf(f, ",\n     ");
        WriteFigure(f, "scene", r.scene);
        std::fprintf(f, ", ");
        WriteFigure(f, "filter", r.filter);
        std::fprintf(f, ",\n     ");
        WriteFigure(f, "present", r.present);
        std::fprintf(f, ", ");
        WriteFigure(f, "cpu", r.cpu);
        std::fprintf(f, ",\n     \"hash\": \"%016llx\"}", static_cast<unsigned long long>(r.hash));
    }
    std::fprintf(f, "\n  ]\n}\n");
    const bool ok = !std::ferror(f);
    return std::fclose(f) == 0 && ok;
}

void Help(const char* argv0)
{
    std::printf(
        "usage: %s [options]\n"
        "Renders the demonstration's scene without a window and prints, per configuration, the\n"
        "median and 90th percentile of a frame's milliseconds (shadow pass, scene pass,\n"
        "supersampling filter, presentation) and a hash of the last frame's pixels.\n"
        "\n"
        "  --frames N      frames timed a configuration, after 2 untimed ones (default 20)\n"
        "  --size WxH      window size, 1 to 8192 a side (default 800x600); the render mode\n"
        "                  sizes the internal image from it\n"
        "  --mode M        render mode: NORMAL, DEVICE, SPEED, BOOST or NEAREST, in any case\n"
        "                  (default SPEED: the image 1/1.5 of the window)\n"
        "  --aa A          supersampling: off, 4x, 9x or 16x (also 0, 4, 9, 16; default 4x)\n"
        "  --step SECONDS  the light's turn a frame, 0 to 10 (default 0.016667, 60 a second)\n"
        "  --all           every render mode with every supersampling level instead of one\n"
        "                  configuration: the first twelve lines are NORMAL, SPEED, BOOST and\n"
        "                  NEAREST with off, 4x and 9x, then the 16x and DEVICE ones follow\n"
        "  --data DIR      the demo's data folder (default: the source tree's data/)\n"
        "  --out FILE.png  save the last frame (the internal image) as a PNG; not with --all\n"
        "  --threads N     threads in all, this one included, 0 to 256 (0: one a hardware\n"
        "                  thread; default: KRV_THREADS, else one a hardware thread)\n"
        "  --simd W        lanes of the pixel loop: auto (the widest there is), off, sse2,\n"
        "                  avx2, avx512, or 0, 1, 4, 8, 16 (default: KRV_SIMD, else auto)\n"
        "  --json FILE     also write every figure of the run to FILE\n"
        "  --help          this text\n"
        "  --version       the renderer's version\n"
        "\n"
        "Exit status: 0, 1 when the data, the PNG or the JSON file fail, 2 for a bad option.\n",
        argv0);
}

}  // namespace

int main(int argc, char** argv)
{
    Config config;
    int frames = 20;
    float step = 1.0f / 60.0f;
    bool all = false;
    std::string data = KRV_DEMO_DATA_DIR;
    const char* out = nullptr;
    const char* json = nullptr;
    const char* program = krvopt::ProgramName(argv[0]);
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            Help(program);
            return 0;
        }
        if (std::strcmp(a, "--version") == 0) {
            std::printf("frame_bench (korvane) %s\n", KRV_VERSION);
            return 0;
        }
        if (std::strcmp(a, "--all") == 0) {
            all = true;
            continue;
        }
        static const char* const kWithValue[] = {"--frames", "--size", "--mode", "--aa",
                                                 "--step",   "--data", "--out",  "--threads",
                                                 "--simd",   "--json"};
        bool known = false;
        for (const char* name : kWithValue) known = known || std::strcmp(a, name) == 0;
        if (!known) return krvopt::BadOption(program, "unknown option '%s'", a);
        if (i + 1 >= argc) return krvopt::BadOption(program, "%s needs a value", a);
        const char* v = argv[++i];
        if (std::strcmp(a, "--frames") == 0) {
            if (!krvopt::ParseInt(v, 1, 1000000, frames))
                return krvopt::BadOption(program, "--frames '%s': not a count of 1 or more", v);
        } else if (std::strcmp(a, "--size") == 0) {
            if (!krvopt::ParseSize(v, 8192, config.width, config.height))
                return krvopt::BadOption(program, "--size '%s': not WxH with sides 1 to 8192", v);
        } else if (std::strcmp(a, "--mode") == 0) {
            config.renderMode = ParseMode(v);
            if (config.renderMode < 0)
                return krvopt::BadOption(program,
                                         "--mode '%s': not NORMAL, DEVICE, SPEED, "
                                         "BOOST or NEAREST",
                                         v);
        } else if (std::strcmp(a, "--aa") == 0) {
            config.antiAliasing = ParseAA(v);
            if (config.antiAliasing < 0)
                return krvopt::BadOption(program, "--aa '%s': not off, 4x, 9x or 16x", v);
        } else if (std::strcmp(a, "--step") == 0) {
            double seconds = 0.0;
            if (!krvopt::ParseFloat(v, 0.0, 10.0, seconds))
                return krvopt::BadOption(program, "--step '%s': not seconds from 0 to 10", v);
            step = static_cast<float>(seconds);
        } else if (std::strcmp(a, "--data") == 0) {
            data = v;
        } else if (std::strcmp(a, "--out") == 0) {
            out = v;
        } else if (std::strcmp(a, "--threads") == 0) {
            int n = 0;
            if (!krvopt::ParseInt(v, 0, 256, n))
                return krvopt::BadOption(program, "--threads '%s': not a count from 0 to 256", v);
            krvSetThreads(n);
        } else if (std::strcmp(a, "--simd") == 0) {
            const int lanes = ParseSimd(v);
            if (lanes < 0)
                return krvopt::BadOption(program,
                                         "--simd '%s': not auto, off, sse2, avx2 or avx512", v);
            krvSetSimdWidth(lanes);
        } else {
            json = v;
        }
    }
    if (all && out)
        return krvopt::BadOption(program, "--out saves one configuration's frame, not --all's");
    // Opened before the run, so that a path that cannot be written fails at once rather than
    // after minutes of frames.
    FILE* jsonFile = nullptr;
    if (json && !(jsonFile = std::fopen(json, "w"))) {
        std::fprintf(stderr, "could not open %s: %s\n", json, std::strerror(errno));
        return 1;
    }
    if (!data.empty() && data.back() != '/') data += '/';
    ModuleDirectory = data.c_str();
    // The report's echo has named what failed; without the car there is nothing to measure.
    InitScene();
    if (MdlOBJ.NumVertex == 0) {
        std::fprintf(stderr, "%s: the demo's car did not load from %s\n", program, data.c_str());
        return 1;
    }
    const CLight initialLight = Light0;

    std::printf("%d frames a configuration, light step %.4f s; milliseconds: median p90\n", frames,
                static_cast<double>(step));
    std::vector<Result> results;
    int status = 0;
    if (!all) {
        bool written = true;
        results.push_back(Run(config, frames, step, initialLight, out, &written));
        if (!written) status = 1;
    } else {
        // The first twelve configurations keep the order scripts compare them in; the ones
        // added later follow, so each line keeps its place.
        static const int modes[] = {KrvRenderMode_Normal, KrvRenderMode_Speed, KrvRenderMode_Boost,
                                    KrvRenderMode_Nearest};
        static const int aas[] = {KrvAA_Off, KrvAA_2x2, KrvAA_3x3};
        std::vector<std::pair<int, int>> sweep;
        for (int m : modes)
            for (int a : aas) sweep.emplace_back(m, a);
        for (int m : modes) sweep.emplace_back(m, KrvAA_4x4);
        for (int a : {KrvAA_Off, KrvAA_2x2, KrvAA_3x3, KrvAA_4x4})
            sweep.emplace_back(KrvRenderMode_Device, a);
        for (const auto& ma : sweep) {
            Config c = config;
            c.renderMode = ma.first;
            c.antiAliasing = ma.second;
            results.push_back(Run(c, frames, step, initialLight, nullptr));
        }
    }
    if (jsonFile && !WriteJson(jsonFile, frames, step, config, results)) {
        std::fprintf(stderr, "could not write %s: %s\n", json, std::strerror(errno));
        status = 1;
    }
    MdlOBJ.Destroy();
    Mdlvetri.Destroy();
    Mdlruota1.Destroy();
    Mdlruota2.Destroy();
    Mdlruota3.Destroy();
    Mdlruota4.Destroy();
    testmdl.Destroy();
    Texture0.Destroy();
    krvRendering().Destroy();
    return status;
}
