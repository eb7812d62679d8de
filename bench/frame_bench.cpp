// Frame benchmark: renders the demonstration's scene without a window for a number of frames and
// prints, per configuration, the median and 90th percentile of the milliseconds a frame takes,
// split into shadow pass, scene pass, supersampling filter and presentation, and a hash of the
// last frame's pixels. The light turns by a fixed step a frame, so frames are reproducible: the
// same configuration gives the same hash on every build.
//
//   frame_bench [--frames N] [--size WxH] [--mode NORMAL|DEVICE|SPEED|BOOST|NEAREST]
//               [--aa OFF|4|9|16] [--step SECONDS] [--all] [--data DIR] [--out FILE.png]
#include "demo/demo_scene.h"
#include "platform/platform.h"
#include "texture/image_save.h"

#include <algorithm>
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

void Run(const Config& c, int frames, float step, const CLight& initialLight, const char* out)
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
        double t0 = Now();
        DemoMoveCamera();
        DemoShadowPass();
        double t1 = Now();
        DemoScenePass();
        double t2 = Now();
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
    }

    std::printf("%4dx%-4d %-7s AA %-3s | frame %7.2f %7.2f | shadow %6.2f %6.2f | scene %7.2f "
                "%7.2f | filter %6.2f %6.2f | present %6.2f %6.2f | hash %016llx\n",
                c.width, c.height, kModeNames[c.renderMode - KrvRenderMode_Normal],
                AAName(c.antiAliasing), Percentile(t.frame, 0.5), Percentile(t.frame, 0.9),
                Percentile(t.shadow, 0.5), Percentile(t.shadow, 0.9), Percentile(t.scene, 0.5),
                Percentile(t.scene, 0.9), Percentile(t.filter, 0.5), Percentile(t.filter, 0.9),
                Percentile(t.present, 0.5), Percentile(t.present, 0.9),
                static_cast<unsigned long long>(FrameHash(r)));
    std::fflush(stdout);
    if (out) {
        if (krvSaveImagePNG(out, r.width, r.height, r.colorBuffer, r.colorWidth * 3, true))
            std::fprintf(stderr, "wrote %s\n", out);
        else
            std::fprintf(stderr, "could not write %s\n", out);
    }
    _3D_KRV_Wnd.hdc = nullptr;
    krvplat::DestroyImageDC(dc);
}

int Usage(const char* argv0)
{
    std::fprintf(stderr,
                 "usage: %s [--frames N] [--size WxH] [--mode NORMAL|DEVICE|SPEED|BOOST|NEAREST]\n"
                 "          [--aa OFF|4|9|16] [--step SECONDS] [--all] [--data DIR] "
                 "[--out FILE.png]\n",
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
        } else {
            return Usage(argv[0]);
        }
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
    if (!all) {
        Run(config, frames, step, initialLight, out);
    } else {
        static const int modes[] = {KrvRenderMode_Normal, KrvRenderMode_Speed,
                                    KrvRenderMode_Boost, KrvRenderMode_Nearest};
        static const int aas[] = {KrvAA_Off, KrvAA_2x2, KrvAA_3x3};
        for (int m : modes)
            for (int a : aas) {
                Config c = config;
                c.renderMode = m;
                c.antiAliasing = a;
                Run(c, frames, step, initialLight, nullptr);
            }
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
    return 0;
}
