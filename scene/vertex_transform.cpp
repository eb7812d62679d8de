#include "scene/vertex_transform.h"

#include <cmath>

void krvi::TranslatePositions(CVertex* v, int n, const vec3& d)
{
    for (int i = 0; v && i < n; ++i) {
        v[i].x += d.x;
        v[i].y += d.y;
        v[i].z += d.z;
    }
}

void krvi::ScalePositions(CVertex* v, int n, const vec3& s)
{
    for (int i = 0; v && i < n; ++i) {
        v[i].x *= s.x;
        v[i].y *= s.y;
        v[i].z *= s.z;
    }
}

void krvi::RotateVertices(CVertex* v, int n, float angle, const vec3& axis)
{
    if (!v || n <= 0) return;
    const mat3x3 m(rotate(angle, axis));
    for (int i = 0; i < n; ++i) {
        CVertex& c = v[i];
        vec3 p = m * vec3(c.x, c.y, c.z);
        vec3 nn = m * vec3(c.nx, c.ny, c.nz);
        c.x = p.x;
        c.y = p.y;
        c.z = p.z;
        c.nx = nn.x;
        c.ny = nn.y;
        c.nz = nn.z;
    }
}

void krvi::TranslateTexCoords(CVertex* v, int n, const vec2& d)
{
    for (int i = 0; v && i < n; ++i) {
        v[i].u += d.x;
        v[i].v += d.y;
    }
}

void krvi::ScaleTexCoords(CVertex* v, int n, const vec2& s)
{
    for (int i = 0; v && i < n; ++i) {
        v[i].u *= s.x;
        v[i].v *= s.y;
    }
}

void krvi::RotateTexCoords(CVertex* v, int n, float angle, const vec3& axis)
{
    char which = 0;
    if (axis.x == 1.0f) which = 'x';
    if (axis.y == 1.0f) which = 'y';
    if (axis.z == 1.0f) which = 'z';
    if (which == 0 || !v || n <= 0) return;

    const float c = std::cos(angle);
    const float s = std::sin(angle);
    for (int i = 0; i < n; ++i) {
        CVertex& t = v[i];
        if (which == 'x') {
            t.v = c * t.v;
        } else if (which == 'y') {
            t.u = c * t.u;
        } else {
            const float u = t.u;
            t.u = c * u - s * t.v;
            t.v = s * u + c * t.v;
        }
    }
}
