// State, view and lighting: the setters and getters of the render switches, the render and
// anti-aliasing modes, clearing, the viewport and projections, the camera, the light, the
// material and fog; the threads and SIMD lanes the renderer uses.
#include "api/krv.h"

#include "core/draw_state.h"
#include "platform/thread_pool.h"

#include <cstdint>

// ---------------------------------------------------------------------------------------------
// Render mode, anti-aliasing and the switches.

void krvSetRenderingMode(int mode) { krvRendering().renderMode = mode; }

int krvGetAntiAliasing() { return krvRendering().antiAliasing; }

void krvSetAntiAliasing(int mode)
{
    _3D_Korvane_Rendering& r = krvRendering();
    if (mode != KrvAA_Off && mode != KrvAA_2x2 && mode != KrvAA_3x3 && mode != KrvAA_4x4) return;
    if (mode == r.antiAliasing) return;
    r.antiAliasing = mode;
    r.ResizeBuffers(r.sizeWidth, r.sizeHeight);
}

bool krvGetBilinearFilter() { return krvRendering().bilinearFilter; }

bool krvGetDepthTest() { return krvRendering().depthTest; }

// The switch of a code, or null for a code outside 1..15.
static bool* SwitchField(_3D_Korvane_Rendering& r, int code)
{
    switch (code) {
    case KrvSwitch_Interlace: return &r.interlace;
    case KrvSwitch_Texturing: return &r.texturing;
    case KrvSwitch_Lighting: return &r.lighting;
    case KrvSwitch_Material: return &r.material;
    case KrvSwitch_ShadowMapping: return &r.shadowMapping;
    case KrvSwitch_DepthTest: return &r.depthTest;
    case KrvSwitch_CullFace: return &r.cullEnabled;
    case KrvSwitch_BilinearFilter: return &r.bilinearFilter;
    case KrvSwitch_Fog: return &r.fog;
    case KrvSwitch_MultiTexture: return &r.multiTexture;
    case KrvSwitch_BumpMapping: return &r.bumpMapping;
    case KrvSwitch_Dot3: return &r.dot3;
    case KrvSwitch_Transparency: return &r.transparency;
    case KrvSwitch_AlphaBlend: return &r.alphaBlend;
    case KrvSwitch_DepthColorCompare: return &r.depthColorCompare;
    default: return nullptr;
    }
}

// Switching transparency (on or off) forgets a value set by krvSetTransparency, so it starts
// again as screen-door transparency.
void krvSwitch(int code, bool on)
{
    _3D_Korvane_Rendering& r = krvRendering();
    bool* field = SwitchField(r, code);
    if (!field) return;
    *field = on;
    if (code == KrvSwitch_Transparency) r.TransparencySet = false;
}

// ---------------------------------------------------------------------------------------------
// Clearing and targets.

void krvClear(int what)
{
    _3D_Korvane_Rendering& r = krvRendering();
    switch (what) {
    case KrvClear_Color: r.Clear(true, false); break;
    case KrvClear_Depth: r.Clear(false, true); break;
    case KrvClear_Both: r.Clear(true, true); break;
    default: break;
    }
}

void krvBindFrameBuffer(CFrameBuffer* fb) { krvRendering().BindFrameBuffer(fb); }

// ---------------------------------------------------------------------------------------------
// Viewport and projections.

// Window pixels to pixels of the internal image by the rule the window sizes the buffers by,
// so krvViewport(0, 0, client size) covers them exactly.
void krvViewport(int x, int y, int w, int h)
{
    _3D_Korvane_Rendering& r = krvRendering();
    const int m = r.renderMode;
    r.Viewport(krvi::InternalSize(m, x), krvi::InternalSize(m, y), krvi::InternalSize(m, w),
               krvi::InternalSize(m, h));
}

// The client size the window's last resize stored; before there is one, the internal image
// scaled back up by the render mode.
int krvViewWidth()
{
    if (_3D_KRV_Wnd.width > 0) return _3D_KRV_Wnd.width;
    const _3D_Korvane_Rendering& r = krvRendering();
    return krvi::WindowSize(r.renderMode, r.width);
}

int krvViewHeight()
{
    if (_3D_KRV_Wnd.height > 0) return _3D_KRV_Wnd.height;
    const _3D_Korvane_Rendering& r = krvRendering();
    return krvi::WindowSize(r.renderMode, r.height);
}

// A zero divisor has no quotient: the call is ignored.
void krvSetView2D(int a, int b, float zNear, float zFar)
{
    if (b == 0) return;
    const int64_t q = (2 * static_cast<int64_t>(a)) / b;
    const float t = static_cast<float>(q);
    krvRendering().OrthoMatrix = ortho(-2.0f, 2.0f, -t, t, zNear, zFar);
}

void krvSetView3D(float fieldOfView, float zNear, float zFar)
{
    _3D_Korvane_Rendering& r = krvRendering();
    r.FieldOfView = fieldOfView;
    r.NearPlane = zNear;
    r.FarPlane = zFar;
}

void krvOrtho(float left, float right, float bottom, float top, float zNear, float zFar)
{
    krvViewport(0, 0, krvViewWidth(), krvViewHeight());
    krvRendering().Camera.SetOrtho(left, right, bottom, top, zNear, zFar);
}

void krvPerspective(float fieldOfView, float aspect, float zNear, float zFar)
{
    krvViewport(0, 0, krvViewWidth(), krvViewHeight());
    krvRendering().Camera.SetPerspective(fieldOfView, aspect, zNear, zFar);
}

// ---------------------------------------------------------------------------------------------
// Matrices and camera.

mat4x4 krvGetViewMatrix() { return krvRendering().Camera.ViewMatrix; }

mat4x4 krvGetProjectionMatrix() { return krvRendering().Camera.ProjectionMatrix; }

mat4x4 krvGetViewProjectionMatrix() { return krvRendering().Camera.ViewProjectionMatrix; }

mat4x4 krvGetModelViewProjectionMatrix() { return krvRendering().modelViewProjection; }

mat4x4 krvGetOrthoMatrix() { return krvRendering().OrthoMatrix; }

// Minus the transposed rotation times the translation.
void krvGetViewPort(vec3& out)
{
    const mat4x4 m = krvRendering().modelViewProjection;
    out.x = -m[0] * m[12] - m[1] * m[13] - m[2] * m[14];
    out.y = -m[4] * m[12] - m[5] * m[13] - m[6] * m[14];
    out.z = -m[8] * m[12] - m[9] * m[13] - m[10] * m[14];
}

void krvCameraMove(int dx, int dy) { krvRendering().Camera.MoveView(dx, dy); }

void krvCameraZoom(int delta) { krvRendering().Camera.ZoomView(static_cast<float>(delta)); }

// ---------------------------------------------------------------------------------------------
// Light, material and fog.

// The trailing floats are not attenuation terms: the light gets the unattenuated 1, 0, 0.
CLight krvSetLight(vec3 position, vec3 ambient, vec3 diffuse, vec3 specular, float, float, float)
{
    CLight l;
    l.position = position;
    l.ambient = ambient;
    l.diffuse = diffuse;
    l.specular = specular;
    l.shininess = 0.0f;
    l.constantAttenuation = 1.0f;
    l.linearAttenuation = 0.0f;
    l.quadraticAttenuation = 0.0f;
    return l;
}

void krvTranslateLight3fv(CLight* l, const vec3& p)
{
    if (l) l->position = p;
}

void krvTranslateLight3f(CLight* l, float x, float y, float z)
{
    krvTranslateLight3fv(l, vec3(x, y, z));
}

void krvRotateLight3fv(CLight* l, float angle, const vec3& axis)
{
    if (l) l->position = rotate(l->position, angle, axis);
}

void krvRotateLight3f(CLight* l, float angle, float x, float y, float z)
{
    krvRotateLight3fv(l, angle, vec3(x, y, z));
}

void krvAddLight(CLight* l)
{
    _3D_Korvane_Rendering& r = krvRendering();
    if (r.lighting) r.light = l;
}

void krvResetLight()
{
    _3D_Korvane_Rendering& r = krvRendering();
    r.shadowMap = nullptr;
    if (r.lighting) r.light = nullptr;
}

void krvSetMaterial(vec3 ambient, vec3 diffuse, vec3 specular, float emission)
{
    CMaterial& m = krvRendering().Material;
    m.ambient = ambient;
    m.diffuse = diffuse;
    m.specular = specular;
    m.emission = emission;
}

void krvSetFog(int mode, vec3 color, float start, float end, float density, float offset)
{
    _3D_Korvane_Rendering& r = krvRendering();
    if (!r.fog) return;
    r.FogSet = true;
    r.SetFogMode(mode);
    float* p = r.FogParameters;
    p[0] = color.x;
    p[1] = color.y;
    p[2] = color.z;
    p[3] = density;
    p[4] = offset;
    p[5] = start;
    p[6] = end;
}

// ---------------------------------------------------------------------------------------------
// Threads and SIMD lanes: process-wide, like the pool and the span routines they pick.

void krvSetThreads(int n) { krvi::ThreadPool::Shared().SetThreads(n); }

int krvGetThreads() { return krvi::ThreadPool::Shared().Threads(); }

void krvSetSimdWidth(int lanes)
{
    if (lanes != 0 && lanes != 1 && lanes != 4 && lanes != 8 && lanes != 16) return;
    krvi::SetSimdLanes(lanes);
}

int krvGetSimdWidth() { return krvi::SimdLanes(); }
