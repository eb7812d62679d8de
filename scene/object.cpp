#include "scene/object.h"

#include "scene/vertex_transform.h"

// The number of vertices the transforms may touch: a record whose count was set without an
// array (or whose count went negative) has none.
static int VertexCount(const CObject& o) { return (o.Vertex && o.NumVertex > 0) ? o.NumVertex : 0; }

void CObject::Init()
{
    Vertex = nullptr;
    NumVertex = 0;
}

void CObject::Destroy()
{
    Texture.Destroy();
    delete[] Vertex;
    Vertex = nullptr;
    NumVertex = 0;
}

static void SetVertex(CVertex& v, const vec3& p, const vec3& n, const vec3& c, const vec2& t)
{
    v.x = p.x;
    v.y = p.y;
    v.z = p.z;
    v.r = c.x;
    v.g = c.y;
    v.b = c.z;
    v.u = t.x;
    v.v = t.y;
    v.nx = n.x;
    v.ny = n.y;
    v.nz = n.z;
}

// The previous array is not released: the owner calls Destroy (or Init) before refilling.
void CObject::Triangle3f(vec3 p0, vec3 p1, vec3 p2, vec3 n0, vec3 n1, vec3 n2, vec3 c0, vec3 c1,
                         vec3 c2, vec2 t0, vec2 t1, vec2 t2)
{
    Vertex = new CVertex[3]();
    NumVertex = 3;
    SetVertex(Vertex[0], p0, n0, c0, t0);
    SetVertex(Vertex[1], p1, n1, c1, t1);
    SetVertex(Vertex[2], p2, n2, c2, t2);
    GetMinMax();
}

// Strict comparisons: a coordinate equal to the current bound leaves it alone. With no
// vertices there is nothing to read and the box stays as it was.
void CObject::GetMinMax()
{
    int n = VertexCount(*this);
    if (n == 0) return;
    Min = vec3(Vertex[0].x, Vertex[0].y, Vertex[0].z);
    Max = Min;
    for (int i = 1; i < n; ++i) {
        const CVertex& v = Vertex[i];
        if (Min.x > v.x) Min.x = v.x;
        if (Max.x < v.x) Max.x = v.x;
        if (Min.y > v.y) Min.y = v.y;
        if (Max.y < v.y) Max.y = v.y;
        if (Min.z > v.z) Min.z = v.z;
        if (Max.z < v.z) Max.z = v.z;
    }
}

// ---------------------------------------------------------------------------------------------
// Transforms of the whole array.

void CObject::Translate3fv(const vec3& d)
{
    krvi::TranslatePositions(Vertex, VertexCount(*this), d);
    Min += d;
    Max += d;
}

// The box is scaled, not recomputed: a negative factor leaves Min and Max swapped on that axis.
void CObject::Scale3fv(vec3 s)
{
    krvi::ScalePositions(Vertex, VertexCount(*this), s);
    Min = Min * s;
    Max = Max * s;
}

void CObject::Rotate3fv(float angle, const vec3& axis)
{
    krvi::RotateVertices(Vertex, VertexCount(*this), angle, axis);
    GetMinMax();
}

void CObject::TexTranslate2fv(const vec2& d)
{
    krvi::TranslateTexCoords(Vertex, VertexCount(*this), d);
}

void CObject::TexScale2fv(vec2 s) { krvi::ScaleTexCoords(Vertex, VertexCount(*this), s); }

void CObject::TexRotate2fv(float angle, const vec3& axis)
{
    krvi::RotateTexCoords(Vertex, VertexCount(*this), angle, axis);
}

// ---------------------------------------------------------------------------------------------
// Recording through the immediate-mode calls.

void (*krvi::ObjectOpenChanged)(bool open) = nullptr;

// Like Triangle3f, the previous array is not released here: the owner calls Destroy (or Init,
// when another copy owns the array) before opening the object again.
void CObject::ObjectBegin(int n)
{
    if (n < 0) n = 0;
    NumVertex = n;
    Vertex = n > 0 ? new CVertex[n]() : nullptr;
    Cursor = 0;
    if (krvi::ObjectOpenChanged) krvi::ObjectOpenChanged(true);
}

void CObject::ObjectEnd()
{
    if (krvi::ObjectOpenChanged) krvi::ObjectOpenChanged(false);
    GetMinMax();
}
