// The scalar span body: DrawSpanImpl, the pixel loop of one span, instantiated once for every
// feature mask (the routines a draw picks from) and once with the mask tested per pixel (the
// reference). The public DrawSpan, which walks one CSpan with the core's state, is
// rasterize.cpp's.
#include "core/draw_span.h"

#include "core/core.h"
#include "core/shade.h"
#include "core/span.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <utility>

void krvi::SpanTarget::Load(const _3D_Korvane_Core& core, bool withColor)
{
    *this = krvi::SpanTarget();
    lastRow = core.maxY;
    lastColumn = core.maxX;
    if (withColor) {
        color = core.targetColor;
        colorWidth = core.targetColorWidth;
        lastRow = std::min(lastRow, core.targetColorHeight - 1);
        lastColumn = std::min(lastColumn, core.targetColorWidth - 1);
    }
    if (core.targetDepth) {
        depth = core.targetDepth;
        depthWidth = core.targetDepthWidth;
        lastRow = std::min(lastRow, core.targetDepthHeight - 1);
        lastColumn = std::min(lastColumn, core.targetDepthWidth - 1);
    } else if (!withColor) {
        lastRow = -1;
    }
    testDepth = depth && !core.ignoreDepth;
    writeDepth = depth && core.useDepthWrite;
}

// left: the span's left end; delta: right minus left; rightX: the right end's screen x.
template <class Features>
static bool DrawSpanImpl(const krvi::SpanTarget& target, const krvi::ShadeState& shade,
                         const krvi::FlatPoint& left, const krvi::FlatPoint& delta, float rightX,
                         int y, unsigned short& lastDepthOut, Features f)
{
    const float dx = delta.X();
    if (dx == 0.0f || !std::isfinite(dx) || !std::isfinite(left.X())) return false;
    if (y < 0 || y > target.lastRow) return false;
    const int firstColumn = std::max(TruncToInt(left.X()), 0);
    const int lastColumn = std::min(TruncToInt(rightX), target.lastColumn);
    if (firstColumn > lastColumn) return false;
    uint8* const colorRow =
        f.Has(kSpanColor) ? target.color + static_cast<size_t>(y) * target.colorWidth * 3 : nullptr;
    unsigned short* const depthRow =
        target.depth ? target.depth + static_cast<size_t>(y) * target.depthWidth : nullptr;
    const bool testDepth = target.testDepth;
    const bool writeDepth = target.writeDepth;
    const int vectors = krvi::VectorsOf(f.mask());

    const float scale = 1.0f / dx;
    unsigned short lastDepth = lastDepthOut;
    bool reached = false;
    for (int x = firstColumn; x <= lastColumn; ++x) {
        const float t = (static_cast<float>(x) + 0.5f - left.X()) * scale;
        if (t < 0.0f || t > 1.0f) continue;

        const unsigned short d =
            static_cast<unsigned short>(TruncToInt((left.Depth() + delta.Depth() * t) * 65535.0f));
        lastDepth = d;
        reached = true;
        if (testDepth && depthRow[x] < d) continue;

        if (f.Has(kSpanColor)) {
            const float w = 1.0f / (left.W() + delta.W() * t);
            // Attributes (left + delta * t) * w, vectors 1.. into the record's four vectors.
            krvi::PixelAttributes a;
            krvi::ForVectors(vectors, [&](int k) {
                if (k == 0) return;
                const krvi::Lanes4 lanes = (left.v[k] + delta.v[k] * t) * w;
                std::memcpy(reinterpret_cast<char*>(&a) + (k - 1) * sizeof lanes, &lanes,
                            sizeof lanes);
            });
            if (!krvi::ShadePixel(shade, a, colorRow + static_cast<size_t>(x) * 3, d, f)) continue;
        }
        if (writeDepth) depthRow[x] = d;
    }
    lastDepthOut = lastDepth;
    return reached;
}

// ---------------------------------------------------------------------------------------------
// One routine a mask, in a table built at compile time.

template <unsigned Mask>
static bool DrawSpanFixed(const krvi::SpanTarget& target, const krvi::ShadeState& shade,
                          const krvi::FlatPoint& left, const krvi::FlatPoint& delta, float rightX,
                          int y, unsigned short& lastDepth)
{
    return DrawSpanImpl(target, shade, left, delta, rightX, y, lastDepth,
                        krvi::FixedFeatures<Mask>());
}

template <unsigned... Masks>
static constexpr std::array<krvi::SpanRoutine, sizeof...(Masks)> MakeSpanRoutines(
    std::integer_sequence<unsigned, Masks...>)
{
    return {{&DrawSpanFixed<Masks>...}};
}

static constexpr std::array<krvi::SpanRoutine, kSpanFeatureCount> kSpanRoutines =
    MakeSpanRoutines(std::make_integer_sequence<unsigned, kSpanFeatureCount>());

krvi::SpanRoutine krvi::ScalarSpanRoutine(unsigned mask)
{
    return kSpanRoutines[mask % kSpanFeatureCount];
}

bool krvi::ReferenceSpan(unsigned mask, const krvi::SpanTarget& target,
                         const krvi::ShadeState& shade, const krvi::FlatPoint& left,
                         const krvi::FlatPoint& delta, float rightX, int y,
                         unsigned short& lastDepth)
{
    return DrawSpanImpl(target, shade, left, delta, rightX, y, lastDepth,
                        krvi::RuntimeFeatures{mask});
}

// ---------------------------------------------------------------------------------------------
// The public DrawSpan and its reference: one CSpan with the core's state as it stands.
