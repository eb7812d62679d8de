// DrawSpan: the pixel loop of one span. One body, DrawSpanImpl, instantiated once for every
// feature mask and once with the mask tested at run time (the reference); DrawSpan picks the
// instance of the draw's mask from a table built at compile time.
#include "core/core.h"
#include "core/rasterize.h"
#include "core/shade.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <utility>

// The draw's mask, less what the core cannot back right now: a span drawn without a colour
// target is depth-only, and a group whose texture or light is gone is not shaded.
static unsigned SpanFeatures(const _3D_Korvane_Core& core)
{
    unsigned f = core.drawFeatures;
    if (!core.targetColor) return 0;
    if (!core.texture0) f &= ~kSpanTexture;
    if (!core.light) f &= ~(kSpanLight | kSpanShadow);
    if (!core.shadowMap) f &= ~kSpanShadow;
    return f;
}

template <class Features>
static void DrawSpanImpl(_3D_Korvane_Core& core, const CSpan& span, int y, Features f)
{
    const _3D_Korvane_Shader& left = *span.first;
    const float dx = span.position.x;
    if (dx == 0.0f || !std::isfinite(dx) || !std::isfinite(left.position.x)) return;

    // Every write below stays inside both targets, whatever maxX/maxY and the viewport say.
    uint8* colorRow = nullptr;
    unsigned short* depthRow = nullptr;
    int lastColumn = core.maxX;
    if (f.Has(kSpanColor)) {
        if (y >= core.targetColorHeight) return;
        lastColumn = std::min(lastColumn, core.targetColorWidth - 1);
    }
    if (core.targetDepth) {
        if (y >= core.targetDepthHeight) return;
        lastColumn = std::min(lastColumn, core.targetDepthWidth - 1);
    } else if (!f.Has(kSpanColor)) {
        return;
    }
    if (y < 0 || y > core.maxY) return;
    const int firstColumn = std::max(TruncToInt(left.position.x), 0);
    lastColumn = std::min(TruncToInt(span.second->position.x), lastColumn);
    if (firstColumn > lastColumn) return;
    if (f.Has(kSpanColor))
        colorRow = core.targetColor + static_cast<size_t>(y) * core.targetColorWidth * 3;
    if (core.targetDepth)
        depthRow = core.targetDepth + static_cast<size_t>(y) * core.targetDepthWidth;

    const bool testDepth = depthRow && !core.ignoreDepth;
    const bool writeDepth = depthRow && core.useDepthWrite;
    ShadeState shade;
    if (f.Has(kSpanColor)) shade.Load(core, span);

    const float scale = 1.0f / dx;
    unsigned short lastDepth = core.lastDepth;
    for (int x = firstColumn; x <= lastColumn; ++x) {
        const float t = (static_cast<float>(x) + 0.5f - left.position.x) * scale;
        if (t < 0.0f || t > 1.0f) continue;

        const unsigned short d = static_cast<unsigned short>(
            TruncToInt((left.position.z + span.position.z * t) * 65535.0f));
        lastDepth = d;
        if (testDepth && depthRow[x] < d) continue;

        if (f.Has(kSpanColor)) {
            const float w = 1.0f / (left.position.w + span.position.w * t);
            PixelAttributes a;
            a.color = (left.color + span.color * t) * w;
            if (f.Has(kSpanTexture)) a.texCoord = (left.texCoord + span.texCoord * t) * w;
            if (f.Has(kSpanLight)) {
                a.normal = (left.normal + span.normal * t) * w;
                a.lightVector = (left.lightVector + span.lightVector * t) * w;
                if (f.Has(kSpanShadow))
                    a.shadowCoord = (left.shadowCoord + span.shadowCoord * t) * w;
            }
            if (!ShadePixel(shade, a, colorRow + static_cast<size_t>(x) * 3, d, f)) continue;
        }
        if (writeDepth) depthRow[x] = d;
    }
    core.lastDepth = lastDepth;
}

typedef void (*SpanRoutine)(_3D_Korvane_Core& core, const CSpan& span, int y);

template <unsigned Mask>
static void DrawSpanFixed(_3D_Korvane_Core& core, const CSpan& span, int y)
{
    DrawSpanImpl(core, span, y, FixedFeatures<Mask>());
}

template <unsigned... Masks>
static constexpr std::array<SpanRoutine, sizeof...(Masks)>
MakeSpanRoutines(std::integer_sequence<unsigned, Masks...>)
{
    return {{&DrawSpanFixed<Masks>...}};
}

static constexpr std::array<SpanRoutine, kSpanFeatureCount> kSpanRoutines =
    MakeSpanRoutines(std::make_integer_sequence<unsigned, kSpanFeatureCount>());

void _3D_Korvane_Core::DrawSpan(CSpan* span, int y)
{
    kSpanRoutines[SpanFeatures(*this)](*this, *span, y);
}

void KrvDrawSpanReference(_3D_Korvane_Core& core, CSpan* span, int y)
{
    DrawSpanImpl(core, *span, y, RuntimeFeatures{SpanFeatures(core)});
}
