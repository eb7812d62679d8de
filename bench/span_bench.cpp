// Span benchmark: the span routines a draw can pick (scalar, SSE2, AVX2) on the same random
// spans, textured, lit and shadowed as the demo's car is, and depth-only as its shadow pass is.
// Prints nanoseconds a span and a covered pixel for each routine and span length, interleaved
// round by round so that a noisy machine affects all alike.
//
//   span_bench [--spans N] [--rounds N]
#include "core/core.h"
#include "core/draw_span.h"
#include "core/draw_span_simd.h"
#include "core/rasterize.h"
#include "core/shade.h"
#include "core/span.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

struct Span {
    krvi::FlatPoint left, delta;
    float rightX;
    int y;
};

double Now()
{
    using namespace std::chrono;
    return duration<double, std::nano>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

int main(int argc, char** argv)
{
    int spanCount = 20000, rounds = 7;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--spans"))
            spanCount = std::max(1, std::atoi(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--rounds"))
            rounds = std::max(1, std::atoi(argv[i + 1]));
        else {
            std::fprintf(stderr, "usage: %s [--spans N] [--rounds N]\n", argv[0]);
            return 2;
        }
    }
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);

    // A 512 x 512 colour texture and a 1024 x 1024 shadow map, as the demo binds them.
    std::vector<uint8> texels(512 * 512 * 3), shadowBytes(1024 * 1024 * 2);
    for (uint8& b : texels) b = uint8(rng());
    for (size_t i = 0; i < shadowBytes.size(); i += 2) {
        const uint16_t d = uint16_t(30000 + rng() % 30000);
        std::memcpy(&shadowBytes[i], &d, 2);
    }
    CTexture texture, shadow;
    texture.Bits = texels.data();
    texture.Width = texture.Height = 512;
    texture.Pitch = 512 * 3;
    texture.Format = KrvFormat_BGR;
    shadow.Bits = shadowBytes.data();
    shadow.Width = shadow.Height = 1024;
    shadow.Format = KrvFormat_Depth16;
    CLight light{};
    light.position = vec3(0.0f, 2.6f, 3.5f);
    light.ambient = vec3(0.5f);
    light.diffuse = vec3(0.75f);
    light.specular = vec3(0.95f);
    light.constantAttenuation = 1.0f;

    const int width = 1066, height = 800;
    std::vector<uint8> color(size_t(width) * height * 3);
    std::vector<unsigned short> depth(size_t(width) * height);
    _3D_Korvane_Core core;
    core.texture0 = &texture;
    core.shadowMap = &shadow;
    core.light = &light;
    core.texturing = core.lighting = true;
    core.bilinearFilter = true;
    core.targetColor = color.data();
    core.targetColorWidth = width;
    core.targetColorHeight = height;
    core.targetDepth = depth.data();
    core.targetDepthWidth = width;
    core.targetDepthHeight = height;
    core.maxX = width - 1;
    core.maxY = height - 1;
    core.useDepthWrite = true;
    core.ignoreDepth = false;

    const unsigned shaded = kSpanColor | kSpanTexture | kSpanLight | kSpanShadow;
    struct Case {
        const char* name;
        unsigned mask;
        float length;  // mean span length in pixels
    };
    const Case cases[] = {{"shaded, 6 px", shaded, 6.0f},
                          {"shaded, 40 px", shaded, 40.0f},
                          {"depth only, 6 px", 0u, 6.0f},
                          {"depth only, 40 px", 0u, 40.0f}};
    std::printf("%d spans a case, %d rounds; median ns a span and a covered pixel\n", spanCount,
                rounds);
    for (const Case& c : cases) {
        std::vector<Span> spans(static_cast<size_t>(spanCount));
        double pixels = 0.0;
        for (Span& s : spans) {
            _3D_Korvane_Shader a, b;
            const float x = unit(rng) * (width - 60.0f);
            const float len = c.length * (0.5f + unit(rng));
            pixels += static_cast<double>(len);
            a.position = vec4(x, 0.0f, 0.3f + 0.2f * unit(rng), 0.25f);
            b.position = vec4(x + len, 0.0f, 0.3f + 0.2f * unit(rng), 0.25f);
            for (_3D_Korvane_Shader* e : {&a, &b}) {
                e->color = vec3(0.25f);
                e->texCoord = vec2(unit(rng), unit(rng)) * 0.25f;
                e->normal = vec3(unit(rng) - 0.5f, 1.0f, unit(rng) - 0.5f) * 0.25f;
                e->lightVector = vec3(unit(rng), 2.0f, 3.0f) * 0.25f;
                e->shadowCoord = vec4(0.25f + 0.5f * unit(rng), 0.25f + 0.5f * unit(rng),
                                      0.4f * unit(rng), 1.0f) *
                                 0.25f;
            }
            krvi::Deltas d;
            d.SetDeltas(a, b, c.mask);
            s.left = krvi::Flatten(a, c.mask);
            s.delta = krvi::Flatten(d, c.mask);
            s.rightX = b.position.x;
            s.y = static_cast<int>(rng() % height);
        }
        krvi::SpanTarget target;
        target.Load(core, c.mask != 0);
        krvi::ShadeState shade;
        shade.Load(core);

        std::vector<std::pair<std::string, krvi::SpanRoutine>> routines = {
            {"scalar", krvi::ScalarSpanRoutine(c.mask)}};
        // A width with no body for the case (the draw keeps the scalar one) is left out.
        if (krvi::SimdLanesAvailable() >= 4 && krvi::SimdSpanRoutine(4, c.mask, shade))
            routines.push_back({"sse2", krvi::SimdSpanRoutine(4, c.mask, shade)});
        if (krvi::SimdLanesAvailable() >= 8 && krvi::SimdSpanRoutine(8, c.mask, shade))
            routines.push_back({"avx2", krvi::SimdSpanRoutine(8, c.mask, shade)});
        if (krvi::SimdLanesAvailable() >= 16 && krvi::SimdSpanRoutine(16, c.mask, shade))
            routines.push_back({"avx512", krvi::SimdSpanRoutine(16, c.mask, shade)});
        std::vector<std::vector<double>> times(routines.size());
        for (int r = 0; r < rounds; ++r) {
            for (size_t k = 0; k < routines.size(); ++k) {
                std::fill(depth.begin(), depth.end(), 0xFFFF);
                unsigned short last = 0;
                const double t0 = Now();
                for (const Span& s : spans)
                    routines[k].second(target, shade, s.left, s.delta, s.rightX, s.y, last);
                times[k].push_back(Now() - t0);
            }
        }
        std::printf("%-18s", c.name);
        for (size_t k = 0; k < routines.size(); ++k) {
            std::sort(times[k].begin(), times[k].end());
            const double ns = times[k][times[k].size() / 2];
            std::printf(" | %s %6.1f %5.2f", routines[k].first.c_str(), ns / spanCount,
                        ns / pixels);
        }
        std::printf("\n");
    }
    return 0;
}
