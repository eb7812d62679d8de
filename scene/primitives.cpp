// Primitive generators of CObject and the two billboards of the public interface.
//
// Every point is computed directly from its angles; neighbouring triangles recompute shared
// points rather than share them. Several bands are emitted in a mirrored order (the second
// triangle of step j taken at -theta_j, -theta_j+1, which is the other half of quad n - j - 1):
// that order fixes which array entries hold which triangle, so it is kept exactly.
#include "scene/object.h"

#include "scene/rendering.h"
#include "texture/texture_generate.h"

#include <climits>
#include <cmath>
#include <new>

static const float kPi = 3.1415927f;
static const float kTwoPi = 6.2831855f;

// Makes a new zero-filled array of n vertices the object's array. The previous array is not
// released (the owner does that). A count below 1, beyond the int range, or one that cannot be
// allocated leaves the object empty rather than half-built.
static bool NewVertexArray(CObject& o, long long n)
{
    o.Vertex = nullptr;
    o.NumVertex = 0;
    if (n < 1 || n > INT_MAX) return false;
    o.Vertex = new (std::nothrow) CVertex[static_cast<size_t>(n)]();
    if (!o.Vertex) return false;
    o.NumVertex = static_cast<int>(n);
    return true;
}

// unit * m * n vertices, or 0 when a count is below 1 or the product leaves the int range (both
// give an empty object).
static long long VertexCount(long long unit, int m, int n = 1)
{
    if (m < 1 || n < 1) return 0;
    long long um = unit * m;  // unit is at most 12: no overflow here
    if (um > INT_MAX / n) return 0;
    return um * n;
}

static void Put(CVertex& v, const vec3& p, const vec3& n, const vec2& t)
{
    v.x = p.x;
    v.y = p.y;
    v.z = p.z;
    v.r = 1.0f;
    v.g = 1.0f;
    v.b = 1.0f;
    v.u = t.x;
    v.v = t.y;
    v.nx = n.x;
    v.ny = n.y;
    v.nz = n.z;
}

// Step k of n around a full turn.
static float Angle(int k, int n) { return static_cast<float>(k) * kTwoPi / static_cast<float>(n); }

static vec2 SphereMap(const vec3& offset, float su, float sv)
{
    vec2 t = krvGenTexSphereMap(offset.x, offset.y, offset.z);
    return vec2(t.x / su, t.y / sv);
}

// ---------------------------------------------------------------------------------------------

void CObject::Cube(float cx, float cy, float cz, float h)
{
    // Corner signs of each face's six vertices, faces -x, +x, -y, +y, -z, +z.
    static const signed char kCorners[6][6][3] = {
        {{-1, -1, -1}, {-1, -1, 1}, {-1, 1, 1}, {-1, 1, 1}, {-1, 1, -1}, {-1, -1, -1}},
        {{1, -1, 1}, {1, -1, -1}, {1, 1, -1}, {1, 1, -1}, {1, 1, 1}, {1, -1, 1}},
        {{-1, -1, -1}, {1, -1, -1}, {1, -1, 1}, {1, -1, 1}, {-1, -1, 1}, {-1, -1, -1}},
        {{-1, 1, 1}, {1, 1, 1}, {1, 1, -1}, {1, 1, -1}, {-1, 1, -1}, {-1, 1, 1}},
        {{1, -1, -1}, {-1, -1, -1}, {-1, 1, -1}, {-1, 1, -1}, {1, 1, -1}, {1, -1, -1}},
        {{-1, -1, 1}, {1, -1, 1}, {1, 1, 1}, {1, 1, 1}, {-1, 1, 1}, {-1, -1, 1}},
    };
    static const float kNormals[6][3] = {{-1, 0, 0}, {1, 0, 0},  {0, -1, 0},
                                         {0, 1, 0},  {0, 0, -1}, {0, 0, 1}};
    static const float kUV[6][2] = {{0, 0}, {1, 0}, {1, 1}, {1, 1}, {0, 1}, {0, 0}};

    if (!NewVertexArray(*this, 36)) return;
    for (int f = 0; f < 6; ++f) {
        vec3 n(kNormals[f][0], kNormals[f][1], kNormals[f][2]);
        for (int k = 0; k < 6; ++k) {
            const signed char* s = kCorners[f][k];
            vec3 p(cx + (s[0] < 0 ? -h : h), cy + (s[1] < 0 ? -h : h), cz + (s[2] < 0 ? -h : h));
            Put(Vertex[6 * f + k], p, n, vec2(kUV[k][0], kUV[k][1]));
        }
    }
    GetMinMax();
}

void CObject::Sphere(float cx, float cy, float cz, float r, int stacks, int slices, float su,
                     float sv)
{
    if (!NewVertexArray(*this, VertexCount(6, stacks, slices))) return;

    auto point = [&](float theta, float phi, CVertex& v) {
        float sp = std::sin(phi), cp = std::cos(phi);
        float st = std::sin(theta), ct = std::cos(theta);
        vec3 offset(r * sp * ct, r * cp, r * sp * st);
        vec3 p(cx + offset.x, cy + offset.y, cz + offset.z);
        Put(v, p, vec3(sp * ct, cp, sp * st), SphereMap(offset, su, sv));
    };
    for (int i = 0; i < stacks; ++i) {
        float phi0 = static_cast<float>(i) * kPi / static_cast<float>(stacks);
        float phi1 = static_cast<float>(i + 1) * kPi / static_cast<float>(stacks);
        for (int j = 0; j < slices; ++j) {
            float th0 = Angle(j, slices), th1 = Angle(j + 1, slices);
            CVertex* v = Vertex + 6 * (static_cast<size_t>(i) * slices + j);
            point(th0, phi0, v[0]);
            point(th1, phi0, v[1]);
            point(th0, phi1, v[2]);
            point(-th0, phi0, v[3]);
            point(-th0, phi1, v[4]);
            point(-th1, phi1, v[5]);
        }
    }
}

// Ring 0 pairs angle 0 with itself, so its band has zero width; with rings + 1 bands written the
// last 6 * sides * (rings - 1) entries of the array stay zero. NumVertex keeps counting them.
void CObject::Torus(float cx, float cy, float cz, float R, float r, int sides, int rings, float su,
                    float sv)
{
    if (!NewVertexArray(*this, VertexCount(12, sides, rings))) return;

    auto point = [&](float theta, float phi, CVertex& v) {
        float ct = std::cos(theta), st = std::sin(theta);
        float cf = std::cos(phi), sf = std::sin(phi);
        float rho = R + r * ct;
        vec3 p(cx + rho * cf, cy - rho * sf, cz + r * st);
        vec3 n(ct * cf, -ct * sf, st);
        Put(v, p, n, SphereMap(vec3(rho * cf, r * st, -rho * sf), su, sv));
    };
    for (int i = 0; i <= rings; ++i) {
        float phi = Angle(i, rings);
        float prev = i == 0 ? 0.0f : Angle(i - 1, rings);
        for (int j = 0; j < sides; ++j) {
            float th0 = Angle(j, sides), th1 = Angle(j + 1, sides);
            CVertex* v = Vertex + 6 * (static_cast<size_t>(sides) * i + j);
            point(th0, phi, v[0]);
            point(th0, prev, v[1]);
            point(th1, prev, v[2]);
            point(-th0, phi, v[3]);
            point(-th1, phi, v[4]);
            point(-th0, prev, v[5]);
        }
    }
}

void CObject::Cylinder(float cx, float cy, float cz, float rt, float rb, float height, int slices,
                       float su, float sv)
{
    if (!NewVertexArray(*this, VertexCount(12, slices))) return;

    // A rim point of radius rad at height y above the base. Side normals are the horizontal
    // offset itself, so their length is the radius.
    auto capRim = [&](float rad, float y, float theta, const vec3& n, CVertex& v) {
        float ox = rad * std::cos(theta), oz = rad * std::sin(theta);
        Put(v, vec3(cx + ox, cy + y, cz + oz), n, vec2(ox / su, oz / sv));
    };
    auto sideRim = [&](float rad, float y, float theta, CVertex& v) {
        float ox = rad * std::cos(theta), oz = rad * std::sin(theta);
        Put(v, vec3(cx + ox, cy + y, cz + oz), vec3(ox, 0.0f, oz),
            SphereMap(vec3(ox, y, oz), su, sv));
    };
    const vec3 up(0.0f, 1.0f, 0.0f), down(0.0f, -1.0f, 0.0f);
    CVertex* top = Vertex;
    CVertex* side = Vertex + 3 * static_cast<size_t>(slices);
    CVertex* bottom = Vertex + 9 * static_cast<size_t>(slices);
    for (int k = 0; k < slices; ++k) {
        float th0 = Angle(k, slices), th1 = Angle(k + 1, slices);
        CVertex* t = top + 3 * k;
        Put(t[0], vec3(cx, cy + height, cz), up, vec2());
        capRim(rt, height, -th0, up, t[1]);
        capRim(rt, height, -th1, up, t[2]);

        CVertex* s = side + 6 * k;
        sideRim(rt, height, th0, s[0]);
        sideRim(rt, height, th1, s[1]);
        sideRim(rb, 0.0f, th0, s[2]);
        sideRim(rt, height, -th0, s[3]);
        sideRim(rb, 0.0f, -th0, s[4]);
        sideRim(rb, 0.0f, -th1, s[5]);

        CVertex* b = bottom + 3 * k;
        Put(b[0], vec3(cx, cy, cz), down, vec2());
        capRim(rb, 0.0f, th0, down, b[1]);
        capRim(rb, 0.0f, th1, down, b[2]);
    }
}

// The cone has no texture divisors: rim coordinates are the plain offsets.
void CObject::Cone(float cx, float cy, float cz, float r, float height, int slices)
{
    if (!NewVertexArray(*this, VertexCount(6, slices))) return;

    const vec3 down(0.0f, -1.0f, 0.0f);
    // Side rim points carry their own radial direction; base rim points the base's normal.
    auto rim = [&](float theta, bool onBase, CVertex& v) {
        float c = std::cos(theta), s = std::sin(theta);
        Put(v, vec3(cx + r * c, cy, cz + r * s), onBase ? down : vec3(c, 0.0f, s),
            vec2(r * c, r * s));
    };
    CVertex* base = Vertex + 3 * static_cast<size_t>(slices);
    for (int k = 0; k < slices; ++k) {
        float th0 = Angle(k, slices), th1 = Angle(k + 1, slices);
        CVertex* s = Vertex + 3 * k;
        Put(s[0], vec3(cx, cy + height, cz), vec3(), vec2());
        rim(-th0, false, s[1]);
        rim(-th1, false, s[2]);

        CVertex* b = base + 3 * k;
        Put(b[0], vec3(cx, cy, cz), down, vec2());
        rim(th0, true, b[1]);
        rim(th1, true, b[2]);
    }
}

// Each non-zero selector overwrites the rim point, so the last one wins; with none the rim
// points keep position zero. Every normal holds its vertex's own position.
void CObject::Disck(float cx, float cy, float cz, int slices, float r, float ax, float ay, float az)
{
    if (!NewVertexArray(*this, VertexCount(3, slices))) return;

    auto rim = [&](float theta, CVertex& v) {
        vec3 p;
        if (ax != 0.0f) p = vec3(cx, cy + r * std::cos(ax * theta), cz + r * std::sin(ax * theta));
        if (ay != 0.0f) p = vec3(cx + r * std::cos(ay * theta), cy, cz + r * std::sin(ay * theta));
        if (az != 0.0f) p = vec3(cx + r * std::cos(az * theta), cy + r * std::sin(az * theta), cz);
        Put(v, p, p, vec2(r * std::cos(theta), r * std::sin(theta)));
    };
    const vec3 centre(cx, cy, cz);
    for (int k = 0; k < slices; ++k) {
        CVertex* v = Vertex + 3 * k;
        Put(v[0], centre, centre, vec2());
        rim(Angle(k, slices), v[1]);
        rim(Angle(k + 1, slices), v[2]);
    }
}

// ---------------------------------------------------------------------------------------------
// The subdivided tetrahedron stores the triangles of the finest level only, each once:
// 4 faces * 4^depth triangles * 3 vertices.

namespace {

struct TetraWriter {
    CVertex* out;
    float su, sv;

    void Emit(const vec3& p) { Put(*out++, p, p, vec2(p.x / su, p.y / sv)); }

    void DivideTriangle(const vec3& a, const vec3& b, const vec3& c, int depth)
    {
        if (depth <= 0) {
            Emit(a);
            Emit(b);
            Emit(c);
            return;
        }
        vec3 ab = normalize(a + b), ac = normalize(a + c), bc = normalize(b + c);
        DivideTriangle(a, ab, ac, depth - 1);
        DivideTriangle(c, ac, bc, depth - 1);
        DivideTriangle(b, bc, ab, depth - 1);
        DivideTriangle(ab, bc, ac, depth - 1);
    }
};

}  // namespace

void CObject::Tetrahedron(float a, float b, float c, float d, int depth, int unused, float su,
                          float sv)
{
    (void)a;
    (void)b;
    (void)c;
    (void)d;
    (void)unused;
    long long count = 12;
    for (int i = 0; i < depth && count <= INT_MAX; ++i) count *= 4;
    if (depth < 0) count = 0;
    if (!NewVertexArray(*this, count)) return;

    const vec3 v[4] = {vec3(0.0f, 0.0f, 1.0f), vec3(0.0f, 0.942809f, -0.33333f),
                       vec3(-0.816497f, -0.471405f, -0.333333f),
                       vec3(0.816497f, -0.471405f, -0.333333f)};
    TetraWriter w{Vertex, su, sv};
    w.DivideTriangle(v[0], v[1], v[2], depth);
    w.DivideTriangle(v[3], v[2], v[1], depth);
    w.DivideTriangle(v[0], v[3], v[1], depth);
    w.DivideTriangle(v[0], v[2], v[3], depth);
}

// ---------------------------------------------------------------------------------------------
// Billboards: two triangles built on the stack and drawn at once through the current state.

static void DrawQuad(const vec3& p0, const vec3& p1, const vec3& p2, const vec3& p3, const vec3& n,
                     float tu, float tv)
{
    const float u = 1.0f / tu, v = 1.0f / tv;
    CVertex quad[6] = {};
    Put(quad[0], p0, n, vec2(0.0f, 0.0f));
    Put(quad[1], p1, n, vec2(u, 0.0f));
    Put(quad[2], p2, n, vec2(u, v));
    Put(quad[3], p2, n, vec2(u, v));
    Put(quad[4], p3, n, vec2(0.0f, v));
    Put(quad[5], p0, n, vec2(0.0f, 0.0f));
    krvRendering().DrawTriangles(quad, 0, 6);
}

// Parallel to the screen: the right and up directions are the first two rows of the current
// model-view-projection matrix.
void krvBillboard(vec3 p, float s, float tu, float tv)
{
    const mat4x4& m = krvRendering().modelViewProjection;
    vec3 R = normalize(vec3(m[0], m[4], m[8])) * s;
    vec3 U = normalize(vec3(m[1], m[5], m[9])) * s;
    vec3 q1 = p - R - U, q2 = p + R - U, q3 = p + R + U, q4 = p - R + U;
    DrawQuad(q1, q2, q3, q4, krvFindNormal(q1, q2, q3), tu, tv);
}

// Upright on p and turned about the vertical towards the system camera, 2 * hh high.
void krvBillboardy(vec3 p, float w, float hh, float tu, float tv)
{
    vec3 g = normalize(krvRendering().Camera.Position - vec3(p.x, p.y + hh, p.z));
    vec3 t = normalize(cross(g, vec3(0.0f, 1.0f, 0.0f)));
    vec3 p0 = p + w * t, p1 = p - w * t;
    vec3 lift(0.0f, 2.0f * hh, 0.0f);
    vec3 p2 = p1 + lift, p3 = p0 + lift;
    DrawQuad(p0, p1, p2, p3, krvFindNormal(p0, p1, p2), tu, tv);
}
