// Immediate-mode geometry: the vertex buffer and the current object, their transforms by
// matrix mode, and drawing. Every index is checked against the array it addresses: the part of
// a call that falls outside does nothing.
#include "api/krv.h"

#include <climits>
#include <cstdint>

// Saturates a 64-bit index into int: ranges far outside any buffer stay far outside.
static int SaturateToInt(int64_t v)
{
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

// Vertices a primitive of a model kind; 0 for an unknown kind.
static int VerticesPerPrimitive(int kind)
{
    switch (kind) {
    case KrvModel_Triangles: return 3;
    case KrvModel_Quads: return 6;
    default: return 0;
    }
}

// ---------------------------------------------------------------------------------------------
// Input target: the current object while one is being recorded, else the buffer.

// The vertex under the input target's cursor, or null when the cursor is outside the array.
static CVertex* CursorVertex()
{
    _3D_Korvane_Rendering& r = krvRendering();
    if (r.ObjectOpen) {
        CObject& o = r.Object;
        if (!o.Vertex || o.Cursor < 0 || o.Cursor >= o.NumVertex) return nullptr;
        return &o.Vertex[o.Cursor];
    }
    if (!r.Buffer || r.BufferCursor < 0 || r.BufferCursor >= r.BufferSize) return nullptr;
    return &r.Buffer[r.BufferCursor];
}

void krvSetVertex(int n) { krvRendering().SetNumVertex(n); }

void krvVertex3f(float x, float y, float z)
{
    if (CVertex* v = CursorVertex()) {
        v->x = x;
        v->y = y;
        v->z = z;
    }
}

void krvVertex3fv(const vec3& p) { krvVertex3f(p.x, p.y, p.z); }

void krvColor3f(float r, float g, float b)
{
    if (CVertex* v = CursorVertex()) {
        v->r = r;
        v->g = g;
        v->b = b;
    }
}

void krvColor3fv(const vec3& c) { krvColor3f(c.x, c.y, c.z); }

void krvTexture2f(float u, float v)
{
    if (CVertex* p = CursorVertex()) {
        p->u = u;
        p->v = v;
    }
}

void krvTexture2fv(const vec2& t) { krvTexture2f(t.x, t.y); }

void krvNormal3f(float x, float y, float z)
{
    if (CVertex* v = CursorVertex()) {
        v->nx = x;
        v->ny = y;
        v->nz = z;
    }
}

void krvNormal3fv(const vec3& n) { krvNormal3f(n.x, n.y, n.z); }

// The cursor may run past the end (later writes are then dropped) but never wraps around.
void krvCount()
{
    _3D_Korvane_Rendering& r = krvRendering();
    int& cursor = r.ObjectOpen ? r.Object.Cursor : r.BufferCursor;
    if (cursor < INT_MAX) cursor += 1;
}

void krvGlobalColor3fv(int first, int end, const vec3& c)
{
    _3D_Korvane_Rendering& r = krvRendering();
    if (!r.ObjectOpen) {
        r.SetGlobalColor3fv(first, end, c);
        return;
    }
    CObject& o = r.Object;
    if (!o.Vertex) return;
    const int lo = first < 0 ? 0 : first;
    const int hi = end > o.NumVertex ? o.NumVertex : end;
    for (int i = lo; i < hi; ++i) {
        o.Vertex[i].r = c.x;
        o.Vertex[i].g = c.y;
        o.Vertex[i].b = c.z;
    }
}

void krvGlobalColor3f(int first, int end, float r, float g, float b)
{
    krvGlobalColor3fv(first, end, vec3(r, g, b));
}

// ---------------------------------------------------------------------------------------------
// Matrix modes and transforms.

void krvMatrixMode(int mode)
{
    switch (mode) {
    case KrvMatrixMode_BufferModel:
    case KrvMatrixMode_Object:
    case KrvMatrixMode_BufferTexture:
    case KrvMatrixMode_ObjectTexture: krvRendering().MatrixMode = mode; break;
    default: break;
    }
}

// The range is stored as given (saturated to int); the transforms clip it to the buffer when
// they apply it.
void krvSetVertexModel(int kind, int first, int end)
{
    const int per = VerticesPerPrimitive(kind);
    if (per == 0) return;
    krvRendering().SetModelVertex(SaturateToInt(static_cast<int64_t>(per) * first),
                                  SaturateToInt(static_cast<int64_t>(per) * end));
}

void krvTranslate3fv(const vec3& v)
{
    _3D_Korvane_Rendering& r = krvRendering();
    switch (r.MatrixMode) {
    case KrvMatrixMode_BufferModel: r.Translate3fv(v); break;
    case KrvMatrixMode_Object: r.Object.Translate3fv(v); break;
    case KrvMatrixMode_BufferTexture: r.TexTranslate2fv(vec2(v.x, v.y)); break;
    case KrvMatrixMode_ObjectTexture: r.Object.TexTranslate2fv(vec2(v.x, v.y)); break;
    default: break;
    }
}

void krvTranslate3f(float x, float y, float z) { krvTranslate3fv(vec3(x, y, z)); }

void krvScale3fv(vec3 s)
{
    _3D_Korvane_Rendering& r = krvRendering();
    switch (r.MatrixMode) {
    case KrvMatrixMode_BufferModel: r.Scale3fv(s); break;
    case KrvMatrixMode_Object: r.Object.Scale3fv(s); break;
    case KrvMatrixMode_BufferTexture: r.TexScale2fv(vec2(s.x, s.y)); break;
    case KrvMatrixMode_ObjectTexture: r.Object.TexScale2fv(vec2(s.x, s.y)); break;
    default: break;
    }
}

void krvScale3f(float x, float y, float z) { krvScale3fv(vec3(x, y, z)); }

// Model modes take degrees, texture modes radians (as the object's texture rotation does).
void krvRotate3fv(float angle, const vec3& axis)
{
    _3D_Korvane_Rendering& r = krvRendering();
    switch (r.MatrixMode) {
    case KrvMatrixMode_BufferModel: r.Rotate3fv(angle, axis); break;
    case KrvMatrixMode_Object: r.Object.Rotate3fv(angle, axis); break;
    case KrvMatrixMode_BufferTexture: r.TexRotate2fv(angle, axis); break;
    case KrvMatrixMode_ObjectTexture: r.Object.TexRotate2fv(angle, axis); break;
    default: break;
    }
}

void krvRotate3f(float angle, float x, float y, float z) { krvRotate3fv(angle, vec3(x, y, z)); }

// ---------------------------------------------------------------------------------------------
// Drawing.

void krvLoadMatrix(const mat4x4& m) { krvRendering().LoadModelViewProjectionMatrix(m); }

// The caller's array has no known size; only an end index beyond int is cut off.
void krvDrawArray(CVertex* vertices, int first, int count)
{
    if (first >= 0 && count > INT_MAX - first) count = INT_MAX - first;
    krvRendering().DrawTriangles(vertices, first, count);
}

void krvDrawModel(int kind, int first, int count)
{
    _3D_Korvane_Rendering& r = krvRendering();
    const int per = VerticesPerPrimitive(kind);
    if (per == 0 || !r.Buffer || count <= 0) return;
    int64_t begin = static_cast<int64_t>(per) * first;
    int64_t end = begin + static_cast<int64_t>(per) * count;
    // begin is a multiple of 3, so cutting it to 0 keeps the triangles aligned.
    if (begin < 0) begin = 0;
    if (end > r.BufferSize) end = r.BufferSize;
    int64_t n = end - begin;
    n -= n % 3;
    if (n < 3) return;
    r.DrawTriangles(r.Buffer, static_cast<int>(begin), static_cast<int>(n));
}

// ---------------------------------------------------------------------------------------------
// The current object and the per-draw settings.

void krvSetObject(CObject o)
{
    _3D_Korvane_Rendering& r = krvRendering();
    r.Object = o;
    r.LentVertex = o.Vertex;
    r.LentTexels = o.Texture.Bits;
}

vec3 krvGetObjectMin() { return krvRendering().Object.Min; }

vec3 krvGetObjectMax() { return krvRendering().Object.Max; }

void krvCullFace(int mode) { krvRendering().SetCullFace(mode); }

void krvSetAlpha(int what, bool on)
{
    if (what == KrvAlpha_Invert) krvRendering().AlphaFlag = on;
}

void krvSetAlpha(float alpha) { krvRendering().AlphaValue = alpha; }

void krvSetTransparency(float t)
{
    _3D_Korvane_Rendering& r = krvRendering();
    r.TransparencySet = true;
    r.Transparency = t;
}

void krvSetTransparecy(float t) { krvSetTransparency(t); }
