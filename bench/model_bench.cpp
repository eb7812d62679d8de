// Model benchmark: writes a finely tessellated model (a rippled torus, about a million
// triangles by default) as a binary PLY or an OBJ into a temporary folder, imports it through
// krvLoadModel (the sandboxed parser, the flat arrays, the parts), then renders it with the
// model view (shadow, floor, light) and reads the picture back, a number of frames with the
// camera turning. Prints the import's milliseconds, the first frame's (which draws the shadow
// map), the median and fastest of the frames after it, and the import's share of a run that
// loads the model and renders one picture.
//
//   model_bench [--triangles N] [--frames N] [--size WxH] [--aa off|4x|9x|16x]
//               [--format ply|obj] [--out FILE.png] [--help] [--version]
#include "api/krv.h"
#include "base/options.h"

#include <korvane/version.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

double Now()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

struct Options {
    long long triangles = 1000000;
    int frames = 6;
    int width = 1024, height = 768;
    int antiAliasing = KrvAA_2x2;
    bool obj = false;
    std::string out;  // the last frame, when given
};

// The torus's grid: around x tube quads, two triangles each, as near the asked count as the
// proportions 2 : 1 allow.
void Grid(long long triangles, int& around, int& tube)
{
    tube = std::max(3, static_cast<int>(std::sqrt(static_cast<double>(triangles) / 4.0)));
    around = std::max(3, static_cast<int>(triangles / (2LL * tube)));
}

void Position(int i, int j, int around, int tube, float out[3])
{
    const double pi = 3.14159265358979;
    const double u = 2.0 * pi * i / around, v = 2.0 * pi * j / tube;
    const double r = 0.35 + 0.03 * std::sin(12.0 * u) * std::cos(9.0 * v);
    out[0] = static_cast<float>((1.0 + r * std::cos(v)) * std::cos(u));
    out[1] = static_cast<float>(r * std::sin(v));
    out[2] = static_cast<float>((1.0 + r * std::cos(v)) * std::sin(u));
}

// Writes the model; false with a line on stderr.
bool WriteModel(const std::string& path, const Options& o, int around, int tube)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::fprintf(stderr, "model_bench: cannot write %s\n", path.c_str());
        return false;
    }
    const long long vertices = static_cast<long long>(around) * tube;
    const long long faces = 2LL * vertices;
    if (!o.obj)
        std::fprintf(f,
                     "ply\nformat binary_little_endian 1.0\nelement vertex %lld\n"
                     "property float x\nproperty float y\nproperty float z\nelement face %lld\n"
                     "property list uchar int vertex_indices\nend_header\n",
                     vertices, faces);
    for (int i = 0; i < around; ++i)
        for (int j = 0; j < tube; ++j) {
            float p[3];
            Position(i, j, around, tube, p);
            if (o.obj)
                std::fprintf(f, "v %.6f %.6f %.6f\n", static_cast<double>(p[0]),
                             static_cast<double>(p[1]), static_cast<double>(p[2]));
            else
                std::fwrite(p, sizeof p, 1, f);
        }
    for (int i = 0; i < around; ++i)
        for (int j = 0; j < tube; ++j) {
            const int32_t a = i * tube + j, b = ((i + 1) % around) * tube + j,
                          c = ((i + 1) % around) * tube + (j + 1) % tube,
                          d = i * tube + (j + 1) % tube;
            const int32_t tris[2][3] = {{a, d, c}, {a, c, b}};
            for (const auto& t : tris) {
                if (o.obj) {
                    std::fprintf(f, "f %d %d %d\n", t[0] + 1, t[1] + 1, t[2] + 1);
                } else {
                    const unsigned char three = 3;
                    std::fwrite(&three, 1, 1, f);
                    std::fwrite(t, sizeof t, 1, f);
                }
            }
        }
    const bool ok = std::fclose(f) == 0;
    if (!ok) std::fprintf(stderr, "model_bench: cannot write %s\n", path.c_str());
    return ok;
}

int ParseOptions(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help") {
            std::printf(
                "usage: model_bench [--triangles N] [--frames N] [--size WxH] "
                "[--aa off|4x|9x|16x] [--format ply|obj] [--out FILE.png]\n"
                "Imports a generated model of N triangles (default 1000000) through krvLoadModel\n"
                "and renders it N frames (default 6) at WxH (default 1024x768) with the given\n"
                "supersampling (default 4x); prints the import, first-frame and steady frame\n"
                "milliseconds and the import's share of loading and rendering one picture.\n");
            return -1;
        }
        if (a == "--version") {
            std::printf("model_bench (korvane) %s\n", KRV_VERSION);
            return -1;
        }
        if (i + 1 >= argc) return krvopt::BadOption("model_bench", "unknown option '%s'", argv[i]);
        const char* v = argv[++i];
        int n = 0;
        if (a == "--triangles" && krvopt::ParseInt(v, 100, 10000000, n)) {
            o.triangles = n;
        } else if (a == "--frames" && krvopt::ParseInt(v, 1, 1000, o.frames)) {
        } else if (a == "--size" && krvopt::ParseSize(v, 8192, o.width, o.height)) {
        } else if (a == "--aa") {
            const char* names[] = {"off", "4x", "9x", "16x"};
            const int codes[] = {KrvAA_Off, KrvAA_2x2, KrvAA_3x3, KrvAA_4x4};
            o.antiAliasing = -1;
            for (int k = 0; k < 4; ++k)
                if (krvopt::SameName(v, names[k])) o.antiAliasing = codes[k];
            if (o.antiAliasing < 0)
                return krvopt::BadOption("model_bench", "--aa '%s': not off, 4x, 9x or 16x", v);
        } else if (a == "--out" && *v) {
            o.out = v;
        } else if (a == "--format" && (std::strcmp(v, "ply") == 0 || std::strcmp(v, "obj") == 0)) {
            o.obj = std::strcmp(v, "obj") == 0;
        } else {
            return krvopt::BadOption("model_bench", "bad option %s '%s'", a.c_str(), v);
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    Options o;
    const int status = ParseOptions(argc, argv, o);
    if (status != 0) return status < 0 ? 0 : status;

    const char* tmp = std::getenv("TMPDIR");
    std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/krv-model-bench-XXXXXX";
    if (!mkdtemp(&dir[0])) {
        std::fprintf(stderr, "model_bench: no temporary folder\n");
        return 1;
    }
    const std::string path = dir + (o.obj ? "/torus.obj" : "/torus.ply");
    int around = 0, tube = 0;
    Grid(o.triangles, around, tube);
    const double written = Now();
    const bool wrote = WriteModel(path, o, around, tube);
    const double writeMs = Now() - written;

    CModel model;
    const double started = Now();
    const bool loaded = wrote && krvLoadModel(&model, path.c_str());
    const double importMs = Now() - started;
    unlink(path.c_str());
    rmdir(dir.c_str());
    if (!loaded) {
        if (wrote) std::fprintf(stderr, "model_bench: %s", krvGetErrorReport());
        return 1;
    }

    krvSetErrorEcho(false);
    krvSetAntiAliasing(o.antiAliasing);
    if (!krvCreateOffscreen(o.width, o.height)) {
        std::fprintf(stderr, "model_bench: %s", krvGetErrorReport());
        krvDestroyModel(&model);
        return 1;
    }
    std::vector<unsigned char> rgb(static_cast<size_t>(o.width) * o.height * 3u);
    std::vector<double> frames;
    uint64_t hash = 1469598103934665603ull;
    for (int i = 0; i < o.frames; ++i) {
        CModelView view;
        view.yaw = 30.0f + 5.0f * static_cast<float>(i);
        const double t0 = Now();
        if (!krvRenderModelView(&model, &view) || !krvReadPixels(rgb.data(), rgb.size())) {
            std::fprintf(stderr, "model_bench: %s", krvGetErrorReport());
            krvDestroyModel(&model);
            return 1;
        }
        frames.push_back(Now() - t0);
        if (i == o.frames - 1)
            for (unsigned char b : rgb) {
                hash ^= b;
                hash *= 1099511628211ull;
            }
    }
    if (!o.out.empty() && !krvSavePixelsPNG(o.out.c_str()))
        std::fprintf(stderr, "model_bench: %s", krvGetErrorReport());
    const double first = frames[0];
    std::vector<double> steady(frames.begin() + 1, frames.end());
    std::sort(steady.begin(), steady.end());
    const double median = steady.empty() ? first : steady[steady.size() / 2];
    const double fastest = steady.empty() ? first : steady[0];
    std::printf("model_bench: %d triangles (%s, %.0f ms to write), %dx%d, aa %s, %d threads\n",
                model.triangles, o.obj ? "OBJ" : "binary PLY", writeMs, o.width, o.height,
                o.antiAliasing == KrvAA_Off   ? "off"
                : o.antiAliasing == KrvAA_2x2 ? "4x"
                : o.antiAliasing == KrvAA_3x3 ? "9x"
                                              : "16x",
                krvGetThreads());
    std::printf("  import       %8.1f ms\n", importMs);
    std::printf("  first frame  %8.1f ms (with the shadow map)\n", first);
    std::printf("  steady frame %8.1f ms median, %.1f fastest, of %zu\n", median, fastest,
                steady.size());
    std::printf("  import share %8.1f %% of loading and rendering one picture\n",
                100.0 * importMs / (importMs + first));
    std::printf("  hash         %016llx\n", static_cast<unsigned long long>(hash));
    krvDestroyModel(&model);
    krvDestroyOffscreen();
    return 0;
}
