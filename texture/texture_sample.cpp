// The CTexture samplers: the inline lookups of texture_sampler.h applied to the texture itself,
// and the four-tap average that only the interface offers.
#include "texture/texture.h"
#include "texture/texture_sampler.h"

void CTexture::GetColorNearest(float u, float v, vec3& color) const
{
    krvi::SampleNearest(krvi::TexelSource(*this), u, v, color);
}

void CTexture::GetColorBilinear(float u, float v, vec3& color) const
{
    krvi::SampleBilinear(krvi::TexelSource(*this), u, v, color);
}

float CTexture::GetShadowNearest(vec4& coord) const
{
    return krvi::ShadowNearest(krvi::TexelSource(*this), coord);
}

float CTexture::GetShadowBilinear(vec4& coord) const
{
    return krvi::ShadowBilinear(krvi::TexelSource(*this), coord);
}

// trunc(trunc(i / k) * k) in double: the texel a coarser level of step k would hold. Never
// more than i, so it stays in range.
static inline int CoarseIndex(int i, double k)
{
    return TruncToInt(static_cast<double>(TruncToInt(static_cast<double>(i) / k)) * k);
}

void CTexture::GetColorMipMapNearest(float u, float v, vec3& color) const
{
    if (!Bits) {
        color = vec3(1.0f, 1.0f, 1.0f);
        return;
    }
    const krvi::TexelSource t(*this);
    int xs[4], ys[4];
    xs[0] = krvi::pixel::WrappedIndex(krvi::Wrap(u), t.width, t.widthF);
    ys[0] = krvi::pixel::WrappedIndex(krvi::Wrap(v), t.height, t.heightF);
    static const double kSteps[3] = {1.1, 1.2, 1.3};
    for (int n = 0; n < 3; ++n) {
        xs[n + 1] = CoarseIndex(xs[0], kSteps[n]);
        ys[n + 1] = CoarseIndex(ys[0], kSteps[n]);
    }
    if (Format == KrvFormat_BGR) {
        float c[3] = {0.0f, 0.0f, 0.0f};
        for (int n = 0; n < 4; ++n) {
            const uint8* p = t.TexelBGR(xs[n], ys[n]);
            for (int k = 0; k < 3; ++k) c[k] += krvi::kByteToUnit.value[p[k]];
        }
        color.x = 0.25f * c[2];
        color.y = 0.25f * c[1];
        color.z = 0.25f * c[0];
    } else if (Format == KrvFormat_Depth16) {
        float sum = 0.0f;
        for (int n = 0; n < 4; ++n) sum += t.Depth(xs[n], ys[n]) * krvi::kDepthScale;
        color = vec3(0.25f * sum);
    }
}
