#include "scene/rendering.h"

#include "platform/win32.h"
#include "scene/vertex_transform.h"

#include <cstdint>
#include <cstdlib>

// The render switches, shading parameters and the other flags live in the core under the same
// names and start there with their defaults; the lens and range fields have theirs in the class.
// Culling is on by default for the context.
_3D_Korvane_Rendering* _3D_KRV_Rendering = nullptr;

// Any object's ObjectBegin .. ObjectEnd opens and closes the current context's recording, the
// one krvRendering() names.
static void NoteObjectOpen(bool open) { krvRendering().ObjectOpen = open; }

_3D_Korvane_Rendering::_3D_Korvane_Rendering()
{
    cullEnabled = true;
    krvi::ObjectOpenChanged = NoteObjectOpen;
}

// A zero-sized view (a minimised window) keeps the previous lens: its aspect would be 0/0 and
// turn every later frame's matrices into NaN.
void _3D_Korvane_Rendering::Resize(int w, int h)
{
    width = w;
    height = h;
    Viewport(0, 0, w, h);
    if (w <= 0 || h <= 0) return;
    Camera.ProjectionMatrix = perspective(
        FieldOfView, static_cast<float>(w) / static_cast<float>(h), NearPlane, FarPlane);
    Camera.ViewProjectionMatrix = Camera.ProjectionMatrix * Camera.ViewMatrix;
}

// Safe to call twice: every released pointer is forgotten. Arrays that krvSetObject lent to
// Object are only forgotten; the caller's own copy releases them.
void _3D_Korvane_Rendering::Destroy()
{
    if (Object.Texture.Bits && Object.Texture.Bits == LentTexels) Object.Texture.Init();
    Object.Texture.Destroy();
    if (Object.Vertex && Object.Vertex == LentVertex) Object.Init();
    Object.Destroy();
    LentVertex = nullptr;
    LentTexels = nullptr;

    std::free(Buffer);
    Buffer = nullptr;
    BufferSize = 0;

    // Nothing may keep pointing into the released shadow map.
    if (frameBuffer == &ShadowFrameBuffer) BindFrameBuffer(nullptr);
    if (ShadowFrameBuffer.DepthTexture == &ShadowTexture) ShadowFrameBuffer.DepthTexture = nullptr;
    if (shadowMap == &ShadowTexture) shadowMap = nullptr;
    ShadowTexture.Destroy();
}

// ---------------------------------------------------------------------------------------------
// The shadow pass.

void _3D_Korvane_Rendering::RenderShadowMap(CLight caster, void (*draw)())
{
    if (!ShadowPass || !shadowMapping) return;
    // The light always looks at the world origin.
    LightView = look(caster.position, vec3(0.0f, 0.0f, 0.0f), vec3(0.0f, 1.0f, 0.0f));
    LightViewProjection = LightProjection * LightView;
    BindFrameBuffer(&ShadowFrameBuffer);
    Viewport(0, 0, ShadowTexture.Width, ShadowTexture.Height);
    Clear(true, true);
    LoadModelViewProjectionMatrix(LightViewProjection);
    if (draw) draw();
    Viewport(0, 0, width, height);
    BindFrameBuffer(nullptr);
}

void _3D_Korvane_Rendering::LoadTexShadowMatrix()
{
    shadowMapMatrix = BiasMatrix * LightViewProjection;
}

void _3D_Korvane_Rendering::BindTexShadow() { shadowMap = &ShadowTexture; }

// ---------------------------------------------------------------------------------------------
// Camera moves: position and reference move together, so the camera translates without turning.

static void MoveCamera(CCamera& camera, const vec3& axis, float speed, int direction)
{
    vec3 step = axis * (5.0f * speed);
    if (direction > 0) {
        camera.Position += step;
        camera.Reference += step;
    } else if (direction < 0) {
        camera.Position -= step;
        camera.Reference -= step;
    }
    camera.CalculateViewMatrix();
}

void _3D_Korvane_Rendering::MoveCameraX(float speed, int direction)
{
    MoveCamera(Camera, Camera.X, speed, direction);
}

void _3D_Korvane_Rendering::MoveCameraY(float speed, int direction)
{
    MoveCamera(Camera, vec3(0.0f, 1.0f, 0.0f), speed, direction);
}

// The horizontal viewing direction: the move keeps the camera's height.
void _3D_Korvane_Rendering::MoveCameraZ(float speed, int direction)
{
    MoveCamera(Camera, cross(vec3(0.0f, 1.0f, 0.0f), Camera.X), speed, direction);
}

// ---------------------------------------------------------------------------------------------
// The vertex buffer.

// calloc, not new: the buffer is the C heap's, zero-filled, and free releases it.
void _3D_Korvane_Rendering::SetNumVertex(int n)
{
    std::free(Buffer);
    Buffer = nullptr;
    BufferSize = 0;
    if (n <= 0 || static_cast<size_t>(n) > SIZE_MAX / sizeof(CVertex)) return;
    Buffer = static_cast<CVertex*>(std::calloc(static_cast<size_t>(n), sizeof(CVertex)));
    if (Buffer) BufferSize = n;
}

void _3D_Korvane_Rendering::SetModelVertex(int begin, int end)
{
    ModelBegin = begin;
    ModelEnd = end;
}

// The part of begin .. end - 1 inside the buffer; false when none of it is.
static bool ClipToBuffer(const _3D_Korvane_Rendering& r, int begin, int end, int& lo, int& hi)
{
    if (!r.Buffer) return false;
    lo = begin < 0 ? 0 : begin;
    hi = end > r.BufferSize ? r.BufferSize : end;
    return lo < hi;
}

void _3D_Korvane_Rendering::SetGlobalColor3fv(int begin, int end, vec3 colour)
{
    int lo, hi;
    if (!ClipToBuffer(*this, begin, end, lo, hi)) return;
    for (int i = lo; i < hi; ++i) {
        Buffer[i].r = colour.x;
        Buffer[i].g = colour.y;
        Buffer[i].b = colour.z;
    }
}

void _3D_Korvane_Rendering::SetGlobalColor3f(int begin, int end, float r, float g, float b)
{
    SetGlobalColor3fv(begin, end, vec3(r, g, b));
}

// ---------------------------------------------------------------------------------------------
// Transforms of the selected range (ModelBegin .. ModelEnd - 1, clipped to the buffer).

void _3D_Korvane_Rendering::Translate3fv(const vec3& v)
{
    int lo, hi;
    if (ClipToBuffer(*this, ModelBegin, ModelEnd, lo, hi))
        krvi::TranslatePositions(Buffer + lo, hi - lo, v);
}

void _3D_Korvane_Rendering::Translate3f(float x, float y, float z) { Translate3fv(vec3(x, y, z)); }

void _3D_Korvane_Rendering::Scale3fv(vec3 s)
{
    int lo, hi;
    if (ClipToBuffer(*this, ModelBegin, ModelEnd, lo, hi))
        krvi::ScalePositions(Buffer + lo, hi - lo, s);
}

void _3D_Korvane_Rendering::Scale3f(float x, float y, float z) { Scale3fv(vec3(x, y, z)); }

void _3D_Korvane_Rendering::Rotate3fv(float angle, const vec3& axis)
{
    int lo, hi;
    if (ClipToBuffer(*this, ModelBegin, ModelEnd, lo, hi))
        krvi::RotateVertices(Buffer + lo, hi - lo, angle, axis);
}

void _3D_Korvane_Rendering::Rotate3f(float angle, float x, float y, float z)
{
    Rotate3fv(angle, vec3(x, y, z));
}

void _3D_Korvane_Rendering::TexTranslate2fv(const vec2& d)
{
    int lo, hi;
    if (ClipToBuffer(*this, ModelBegin, ModelEnd, lo, hi))
        krvi::TranslateTexCoords(Buffer + lo, hi - lo, d);
}

void _3D_Korvane_Rendering::TexScale2fv(vec2 s)
{
    int lo, hi;
    if (ClipToBuffer(*this, ModelBegin, ModelEnd, lo, hi))
        krvi::ScaleTexCoords(Buffer + lo, hi - lo, s);
}

void _3D_Korvane_Rendering::TexRotate2fv(float angle, const vec3& axis)
{
    int lo, hi;
    if (ClipToBuffer(*this, ModelBegin, ModelEnd, lo, hi))
        krvi::RotateTexCoords(Buffer + lo, hi - lo, angle, axis);
}

void MouseWheel(int delta) { krvRendering().Camera.ZoomView(static_cast<float>(delta)); }

// The platform reports a held key with bit 0x100 of GetKeyState.
void MouseMove(int dx, int dy)
{
    if (GetKeyState(VK_LBUTTON) & 0x100) krvRendering().Camera.MoveView(dx, dy);
}
