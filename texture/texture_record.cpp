// The texture record and the frame buffer's attachment rules.
#include "texture/texture.h"

#include <cstddef>

// Every format's buffer comes from new uint8[] (a depth buffer is its bytes viewed as 16-bit
// values; array new aligns for any fundamental type), so one delete[] releases any of them,
// whatever the format says. A format '1' buffer is released like the others instead of leaking.
CTexture& CTexture::Init()
{
    Bits = nullptr;
    Width = 0;
    Height = 0;
    Format = 0;
    Pitch = 0;
    return *this;
}

void CTexture::Destroy()
{
    delete[] Bits;
    Init();
}

void CTexture::ReadPixel(const uint8* src, uint8* dst, int x, int y, int bytesPerTexel,
                         int channel) const
{
    // Offsets in ptrdiff_t: the int product of a large row and pitch would overflow first.
    *dst =
        src[static_cast<std::ptrdiff_t>(channel) + static_cast<std::ptrdiff_t>(x) * bytesPerTexel +
            static_cast<std::ptrdiff_t>(y) * Pitch];
}

void CTexture::WritePixel(uint8* dst, const uint8* src, int x, int y, int channel) const
{
    dst[(static_cast<std::ptrdiff_t>(x) + static_cast<std::ptrdiff_t>(y) * Width) * 3 + channel] =
        *src;
}

void CFrameBuffer::SetColorTexture(CTexture* t)
{
    ColorTexture = nullptr;
    if (!t || !t->Bits || t->Format != KrvFormat_BGR) return;
    if (DepthTexture && (DepthTexture->Width != t->Width || DepthTexture->Height != t->Height))
        return;
    ColorTexture = t;
}

void CFrameBuffer::SetDepthTexture(CTexture* t)
{
    DepthTexture = nullptr;
    if (!t || !t->Bits || t->Format != KrvFormat_Depth16) return;
    if (ColorTexture && (ColorTexture->Width != t->Width || ColorTexture->Height != t->Height))
        return;
    DepthTexture = t;
}
