// _3D_Korvane_Rendering: the renderer as a whole. It derives from the rasterization core and adds
// the system camera, the projection parameters, the current mesh, the immediate-mode vertex
// buffer with its selected range, the light's matrices and the render target of the shadow pass.
// There is one instance, the `rendering` member of the window object _3D_KRV_Wnd
// (window/window.h); every krv function acts on it through krvRendering(), which follows the
// pointer _3D_KRV_Rendering the window sets.
#pragma once

#include "core/core.h"
#include "scene/camera.h"
#include "scene/object.h"

class _3D_Korvane_Rendering : public _3D_Korvane_Core {
public:
    _3D_Korvane_Rendering();
    ~_3D_Korvane_Rendering() {}

    int GetWidth() const { return width; }
    int GetHeight() const { return height; }
    void Resize(int w, int h);
    void Destroy();  // releases the current object, the vertex buffer and the shadow texture

    // The shadow-map pass: renders draw() from the light into ShadowTexture.
    void RenderShadowMap(CLight caster, void (*draw)());
    void LoadTexShadowMatrix();  // shadowMapMatrix = BiasMatrix * LightViewProjection
    void BindTexShadow();        // shadowMap = &ShadowTexture
    CTexture GetTexShadow() const { return ShadowTexture; }

    // Camera translation by 5 * speed along the camera's right axis, world up, or the
    // horizontal viewing direction; direction > 0 forward, < 0 backward, 0 not at all.
    void MoveCameraX(float speed, int direction);
    void MoveCameraY(float speed, int direction);
    void MoveCameraZ(float speed, int direction);

    // The vertex buffer and its selected range. Ranges are clipped to the buffer: the part of
    // a range outside 0..BufferSize changes nothing.
    void SetNumVertex(int n);  // replaces (and releases) the buffer; also stores BufferSize
    void SetModelVertex(int begin, int end);
    void SetGlobalColor3fv(int begin, int end, vec3 colour);
    void SetGlobalColor3f(int begin, int end, float r, float g, float b);
    void Count() { BufferCursor += 1; }
    void Translate3fv(const vec3& v);
    void Translate3f(float x, float y, float z);
    void Scale3fv(vec3 s);
    void Scale3f(float x, float y, float z);
    void Rotate3fv(float angle, const vec3& axis);
    void Rotate3f(float angle, float x, float y, float z);
    void TexTranslate2fv(const vec2& d);
    void TexScale2fv(vec2 s);
    void TexRotate2fv(float angle, const vec3& axis);

    CCamera Camera;
    float FieldOfView = 45.0f;
    float NearPlane = 0.125f;
    float FarPlane = 100.0f;
    int MatrixMode = KrvMatrixMode_BufferModel;
    CObject Object;
    // The arrays krvSetObject lent to Object: the caller's copy owns them, so Destroy leaves
    // them to it (arrays recorded into Object itself are the context's own).
    const CVertex* LentVertex = nullptr;
    const uint8* LentTexels = nullptr;
    CVertex* Buffer = nullptr;
    int BufferSize = 0;
    int BufferCursor = 0;
    int ModelBegin = 0;
    int ModelEnd = 0;
    mat4x4 LightView = mat4x4(1.0f);
    mat4x4 LightProjection = mat4x4(1.0f);
    mat4x4 LightViewProjection = mat4x4(1.0f);
    CTexture ShadowTexture;
    CFrameBuffer ShadowFrameBuffer;
    mat4x4 OrthoMatrix = mat4x4(1.0f);
    bool ObjectOpen = false;
    bool ShadowPass = true;
};

// The one rendering context of the process. The window points this at its own context while
// it is constructed (window/globals.cpp), before any program code runs; the scene only knows
// the pointer, so it never looks up at the window.
extern _3D_Korvane_Rendering* _3D_KRV_Rendering;

inline _3D_Korvane_Rendering& krvRendering() { return *_3D_KRV_Rendering; }

// Mouse handlers that drive the system camera (the one rendering context's): the window passes
// them to krvMouseWheel and krvMouseMove.
void MouseWheel(int delta);
void MouseMove(int dx, int dy);  // orbits only while the left button is down
