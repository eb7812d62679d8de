// Frame benchmark: renders the demonstration's scene without a window for a number of frames and
// prints, per configuration, the median and 90th percentile of the milliseconds a frame takes,
// split into shadow pass, scene pass, supersampling filter and presentation, and a hash of the
// last frame's pixels. The light turns by a fixed step a frame, so frames are reproducible: the
// same configuration gives the same hash on every build, thread count and SIMD width.
//
//   frame_bench [--frames N] [--size WxH] [--mode NORMAL|DEVICE|SPEED|BOOST|NEAREST]
//               [--aa OFF|4|9|16] [--step SECONDS] [--all] [--data DIR] [--out FILE.png]
//               [--threads N] [--simd auto|off|sse2|avx2] [--json FILE]
//
// Scripts read the text line by its `| frame <median> <p90>` and `| hash <16 hex digits>`
// fields, which keep their form; --json writes every figure of the run for them instead.
#include "demo/demo_scene.h"
#include "platform/platform.h"
#include "texture/image_save.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Config {
    int width = 800, height = 600;
    int renderMode = KrvRenderMode_Speed;
    int antiAliasing = KrvAA_2x2;
};

struct Timings {
    std::vector<double> frame, shadow, scene, filter, present;
    std::vector<double> shadowTriangles, sceneTriangles;  // submitted per frame
};

// One configuration's figures, for the text line and the JSON file.
struct Figure {
    double median = 0.0, p90 = 0.0;
};
struct Result {
    Config config;
    int threads = 1, simdLanes = 1;
    Figure frame, shadow, scene, filter, present;
    long long shadowTriangles = 0, sceneTriangles = 0;
    uint64_t hash = 0;
};

const char* const kModeNames[5] = {"NORMAL", "DEVICE", "SPEED", "BOOST", "NEAREST"};

int ParseMode(const char* s)
{
    for (int i = 0; i < 5; ++i)
        if (std::strcmp(s, kModeNames[i]) == 0) return KrvRenderMode_Normal + i;
    return -1;
}

int ParseAA(const char* s)
{
    if (std::strcmp(s, "OFF") == 0 || std::strcmp(s, "0") == 0) return KrvAA_Off;
    if (std::strcmp(s, "4") == 0) return KrvAA_2x2;
    if (std::strcmp(s, "9") == 0) return KrvAA_3x3;
    if (std::strcmp(s, "16") == 0) return KrvAA_4x4;
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
    static const struct { const char* name; int lanes; } names[] = {
        {"auto", 0}, {"0", 0}, {"off", 1}, {"1", 1}, {"sse2", 4}, {"4", 4}, {"avx2", 8}, {"8", 8}};
    for (const auto& n : names)
        if (std::strcmp(s, n.name) == 0) return n.lanes;
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

Result Run(const Config& c, int frames, float step, const CLight& initialLight, const char* out)
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
        if (i < warmup) continue;
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
    res.shadowTriangles = static_cast<long long>(Percentile(t.shadowTriangles, 0.5));
    res.sceneTriangles = static_cast<long long>(Percentile(t.sceneTriangles, 0.5));
    res.hash = FrameHash(r);

    std::printf("%4dx%-4d %-7s AA %-3s | threads %d simd %d | triangles %lld | frame %7.2f %7.2f "
                "| shadow %6.2f %6.2f | scene %7.2f %7.2f | filter %6.2f %6.2f | present %6.2f "
                "%6.2f | hash %016llx\n",
                c.width, c.height, kModeNames[c.renderMode - KrvRenderMode_Normal],
                AAName(c.antiAliasing), res.threads, res.simdLanes,
                res.shadowTriangles + res.sceneTriangles, res.frame.median, res.frame.p90,
                res.shadow.median, res.shadow.p90, res.scene.median, res.scene.p90,
                res.filter.median, res.filter.p90, res.present.median, res.present.p90,
                static_cast<unsigned long long>(res.hash));
    std::fflush(stdout);
    if (out) {
        if (krvSaveImagePNG(out, r.width, r.height, r.colorBuffer, r.colorWidth * 3, true))
            std::fprintf(stderr, "wrote %s\n", out);
        else
            std::fprintf(stderr, "could not write %s\n", out);
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
    std::fprintf(f, "{\n  \"frames\": %d,\n  \"step\": %.6f,\n", frames,
                 static_cast<double>(step));
    std::fprintf(f, "  \"size\": {\"width\": %d, \"height\": %d},\n", size.width, size.height);
    std::fprintf(f, "  \"configurations\": [");
    for (size_t i = 0; i < results.size(); ++i) {
        const Result& r = results[i];
        std::fprintf(f, "%s\n    {\"mode\": \"%s\", \"aa\": \"%s\", \"threads\": %d, "
                        "\"simd_lanes\": %d,\n",
                     i ? "," : "", kModeNames[r.config.renderMode - KrvRenderMode_Normal],
                     AAName(r.config.antiAliasing), r.threads, r.simdLanes);
        std::fprintf(f, "     \"triangles\": {\"shadow\": %lld, \"scene\": %lld, "
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
        std::fprintf(f, ",\n     \"hash\": \"%016llx\"}",
                     static_cast<unsigned long long>(r.hash));
    }
    std::fprintf(f, "\n  ]\n}\n");
    const bool ok = !std::ferror(f);
    return std::fclose(f) == 0 && ok;
}

int Usage(const char* argv0)
{
    std::fprintf(stderr,
                 "usage: %s [--frames N] [--size WxH] [--mode NORMAL|DEVICE|SPEED|BOOST|NEAREST]\n"
                 "          [--aa OFF|4|9|16] [--step SECONDS] [--all] [--data DIR] "
                 "[--out FILE.png]\n"
                 "          [--threads N] [--simd auto|off|sse2|avx2] [--json FILE]\n"
                 "  --threads N   threads in all, this one included (0: one a hardware thread;\n"
                 "                default: KRV_THREADS, else one a hardware thread)\n"
                 "  --simd W      lanes of the pixel loop: auto (the widest there is), off, sse2,\n"
                 "                avx2, or 0, 1, 4, 8 (default: KRV_SIMD, else auto)\n"
                 "  --json FILE   also write every figure of the run to FILE\n",
                 argv0);
    return 2;
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
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        if (std::strcmp(a, "--all") == 0) {
            all = true;
            continue;
        }
        if (!v) return Usage(argv[0]);
        ++i;
        if (std::strcmp(a, "--frames") == 0) {
            frames = std::atoi(v);
            if (frames < 1) return Usage(argv[0]);
        } else if (std::strcmp(a, "--size") == 0) {
            if (std::sscanf(v, "%dx%d", &config.width, &config.height) != 2 ||
                config.width < 1 || config.height < 1 || config.width > 8192 ||
                config.height > 8192)
                return Usage(argv[0]);
        } else if (std::strcmp(a, "--mode") == 0) {
            config.renderMode = ParseMode(v);
            if (config.renderMode < 0) return Usage(argv[0]);
        } else if (std::strcmp(a, "--aa") == 0) {
            config.antiAliasing = ParseAA(v);
            if (config.antiAliasing < 0) return Usage(argv[0]);
        } else if (std::strcmp(a, "--step") == 0) {
            step = static_cast<float>(std::atof(v));
        } else if (std::strcmp(a, "--data") == 0) {
            data = v;
        } else if (std::strcmp(a, "--out") == 0) {
            out = v;
        } else if (std::strcmp(a, "--threads") == 0) {
            char* end = nullptr;
            const long n = std::strtol(v, &end, 10);
            if (end == v || *end != '\0' || n < 0 || n > 256) return Usage(argv[0]);
            krvSetThreads(static_cast<int>(n));
        } else if (std::strcmp(a, "--simd") == 0) {
            const int lanes = ParseSimd(v);
            if (lanes < 0) return Usage(argv[0]);
            krvSetSimdWidth(lanes);
        } else if (std::strcmp(a, "--json") == 0) {
            json = v;
        } else {
            return Usage(argv[0]);
        }
    }
    // Opened before the run, so that a path that cannot be written fails at once rather than
    // after minutes of frames.
    FILE* jsonFile = nullptr;
    if (json && !(jsonFile = std::fopen(json, "w"))) {
        std::fprintf(stderr, "could not open %s: %s\n", json, std::strerror(errno));
        return 1;
    }
    if (!data.empty() && data.back() != '/') data += '/';
    ModuleDirectory = data.c_str();
    if (!InitScene() || !_3D_KRV_Report_Error.IsEmpty()) {
        std::fprintf(stderr, "%s", _3D_KRV_Report_Error.c_str());
        if (MdlOBJ.NumVertex == 0) return 1;
    }
    const CLight initialLight = Light0;

    std::printf("%d frames a configuration, light step %.4f s; milliseconds: median p90\n", frames,
                static_cast<double>(step));
    std::vector<Result> results;
    if (!all) {
        results.push_back(Run(config, frames, step, initialLight, out));
    } else {
        static const int modes[] = {KrvRenderMode_Normal, KrvRenderMode_Speed,
                                    KrvRenderMode_Boost, KrvRenderMode_Nearest};
        static const int aas[] = {KrvAA_Off, KrvAA_2x2, KrvAA_3x3};
        for (int m : modes)
            for (int a : aas) {
                Config c = config;
                c.renderMode = m;
                c.antiAliasing = a;
                results.push_back(Run(c, frames, step, initialLight, nullptr));
            }
    }
    int status = 0;
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
