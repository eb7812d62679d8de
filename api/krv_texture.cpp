// Texture binds and render-to-texture: the texture camera and the shadow projection, both
// through the rendering context's one frame buffer.
#include "api/krv.h"

// ---------------------------------------------------------------------------------------------
// Binds. The core applies the switch rules (base texture flag, bump mapping, multitexturing).

void krvBindTexture(CTexture* t) { krvRendering().BindTexture(t); }

void krvBindMultiTexture(int unit, CTexture* t)
{
    _3D_Korvane_Rendering& r = krvRendering();
    switch (unit) {
    case 0: r.BindTexture(t); break;
    case 1: r.BindTexture1(t); break;
    case 2: r.BindTexture2(t); break;
    default: break;
    }
}

void krvSetBumpMapTexture(float factor) { krvRendering().BumpMapFactor = factor; }

// ---------------------------------------------------------------------------------------------
// The texture camera.

// Render targets obey the side limit of image files: a size beyond it is a mistake (a
// transposed or uninitialised argument) that would otherwise allocate gigabytes. It is reported
// and the texture left empty, as for any bad size.
static bool TargetTooLarge(int width, int height)
{
    if (width <= kMaxImageSide && height <= kMaxImageSide) return false;
    krvReportError("Error generating texture  -> Texture is larger than 8192 pixels a side!\r\n");
    return true;
}

CTexture krvGenTextureCamera(int width, int height)
{
    CTexture t;
    if (!TargetTooLarge(width, height)) t.Create(width, height, KrvFormat_BGR);
    return t;
}

// The colour texture is detached once the pass is over: the shadow pass binds the same frame
// buffer and would otherwise draw colour into it too, or into freed texels once the caller has
// released it.
void krvBindTextureCamera(int width, int height, CTexture* texture, void (*draw)())
{
    _3D_Korvane_Rendering& r = krvRendering();
    r.ShadowFrameBuffer.SetColorTexture(texture);
    r.BindFrameBuffer(&r.ShadowFrameBuffer);
    r.Viewport(0, 0, width, height);
    if (draw) draw();
    r.Viewport(0, 0, r.width, r.height);
    r.BindFrameBuffer(nullptr);
    r.ShadowFrameBuffer.SetColorTexture(nullptr);
}

// ---------------------------------------------------------------------------------------------
// The shadow projection.

// A 45-degree square frustum from 2.85 to 8.5: the light circles the scene at that distance.
void krvGenTextureShadowProjection(int width, int height)
{
    _3D_Korvane_Rendering& r = krvRendering();
    r.LightProjection = perspective(45.0f, 1.0f, 2.85f, 8.5f);
    if (TargetTooLarge(width, height))
        r.ShadowTexture.Create(0, 0, KrvFormat_Depth16);  // released and left empty
    else
        r.ShadowTexture.Create(width, height, KrvFormat_Depth16);
    r.ShadowFrameBuffer.SetDepthTexture(&r.ShadowTexture);
}

void krvRenderTextureShadowProjection(CLight light, void (*draw)())
{
    krvRendering().RenderShadowMap(light, draw);
}

void krvBindTextureShadowProjection()
{
    _3D_Korvane_Rendering& r = krvRendering();
    if (!r.shadowMapping) return;
    r.LoadTexShadowMatrix();
    r.BindTexShadow();
}
