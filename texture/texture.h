// CTexture, the one image type of the renderer, and CFrameBuffer, a colour-plus-depth render
// target that the core can draw into instead of the window's buffers.
//
// Who calls what: meshes and the demo load textures (texture_load.cpp), the pixel shader samples
// them (texture_sample.cpp), the shadow pass and the texture camera draw into them through a
// CFrameBuffer (texture_record.cpp, api/krv_texture.cpp).
//
// Records are copied by value and copies share the texel buffer: nothing is released by a
// destructor, only by an explicit Destroy (or by Create replacing the contents).
#pragma once

#include "base/codes.h"
#include "math/glmath.h"

typedef unsigned char uint8;

class CTexture {
public:
    CTexture() : Bits(nullptr), Width(0), Height(0), Format(0), Pitch(0) {}
    ~CTexture() {}

    // Creation and loading (texture_load.cpp). The unchecked Create leaves the texture empty on
    // a bad size or format and reports nothing; the validating form reports through the error
    // report and leaves the texture untouched on a zero size or a texel size other than 3 or 4.
    void Create(int width, int height, int format);
    void Create(int width, int height, int& bytesPerTexel, int format, uint8*& bits);
    // Loads an image file, named relative to the program's directory, into a format '0' texture.
    bool LoadTexture(const char* file);
    // Builds a tangent-space normal map (x in red, y in green, z in blue) from a height image.
    bool LoadTextureToDot3(const char* file, float scale);

    // Sampling (texture_sample.cpp). Colours are (red, green, blue) in 0..1; coordinates wrap.
    void GetColorNearest(float u, float v, vec3& color) const;
    void GetColorBilinear(float u, float v, vec3& color) const;
    void GetColorMipMapNearest(float u, float v, vec3& color) const;
    // Shadow tests on a format '2' texture: 1 lit, 0 shadowed. They divide coord by its w and
    // scale its depth in place, so callers pass a temporary.
    float GetShadowNearest(vec4& coord) const;
    float GetShadowBilinear(vec4& coord) const;

    // The record (texture_record.cpp).
    CTexture& Init();  // all fields zero, nothing released
    void Destroy();    // releases the buffer (any format), then all fields zero
    uint8* GetBits() const { return Bits; }
    int GetWidth() const { return Width; }
    int GetHeight() const { return Height; }
    int GetFormat() const { return Format; }
    void ReadPixel(const uint8* src, uint8* dst, int x, int y, int bytesPerTexel,
                   int channel) const;
    void WritePixel(uint8* dst, const uint8* src, int x, int y, int channel) const;

    uint8* Bits;
    int Width;
    int Height;
    int Format;
    int Pitch;
};

class CFrameBuffer {
public:
    CFrameBuffer() : ColorTexture(nullptr), DepthTexture(nullptr) {}
    ~CFrameBuffer() {}

    CTexture* GetColorTexture() const { return ColorTexture; }
    CTexture* GetDepthTexture() const { return DepthTexture; }
    // Attach a texture, or detach: an unsuitable texture (null, empty, wrong format, or a size
    // other than the other attachment's) leaves no target of that kind.
    void SetColorTexture(CTexture* t);
    void SetDepthTexture(CTexture* t);

    CTexture* ColorTexture;
    CTexture* DepthTexture;
};
