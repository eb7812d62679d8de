#include "math/glmath.h"

// Degree conversions everywhere use this float value of pi, so rotate(), the vec2 rotate and
// perspective() agree to the bit with each other.
static const float kPi = 3.1415927f;

// ---------------------------------------------------------------------------------------------
// Matrix constructors.

mat2x2::mat2x2() : m{0.0f, 0.0f, 0.0f, 0.0f} {}

mat2x2::mat2x2(float s) : m{s, 0.0f, 0.0f, s} {}

mat2x2::mat2x2(const vec2& c0, const vec2& c1) : m{c0.x, c0.y, c1.x, c1.y} {}

mat2x2::mat2x2(float m0, float m1, float m2, float m3) : m{m0, m1, m2, m3} {}

mat2x2::mat2x2(const mat3x3& b) : m{b.m[0], b.m[1], b.m[3], b.m[4]} {}

mat2x2::mat2x2(const mat4x4& b) : m{b.m[0], b.m[1], b.m[4], b.m[5]} {}

mat3x3::mat3x3() : m{0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f} {}

mat3x3::mat3x3(float s) : m{s, 0.0f, 0.0f, 0.0f, s, 0.0f, 0.0f, 0.0f, s} {}

mat3x3::mat3x3(const vec3& c0, const vec3& c1, const vec3& c2)
    : m{c0.x, c0.y, c0.z, c1.x, c1.y, c1.z, c2.x, c2.y, c2.z}
{
}

mat3x3::mat3x3(float m0, float m1, float m2, float m3, float m4, float m5, float m6, float m7,
               float m8)
    : m{m0, m1, m2, m3, m4, m5, m6, m7, m8}
{
}

mat3x3::mat3x3(const mat2x2& b) : m{b.m[0], b.m[1], 0.0f, b.m[2], b.m[3], 0.0f, 0.0f, 0.0f, 1.0f} {}

mat3x3::mat3x3(const mat4x4& b)
    : m{b.m[0], b.m[1], b.m[2], b.m[4], b.m[5], b.m[6], b.m[8], b.m[9], b.m[10]}
{
}

mat4x4::mat4x4()
    : m{0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f,
        0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f}
{
}

mat4x4::mat4x4(float s)
    : m{s, 0.0f, 0.0f, 0.0f, 0.0f, s, 0.0f, 0.0f, 0.0f, 0.0f, s, 0.0f, 0.0f, 0.0f, 0.0f, s}
{
}

mat4x4::mat4x4(const vec4& c0, const vec4& c1, const vec4& c2, const vec4& c3)
    : m{c0.x, c0.y, c0.z, c0.w, c1.x, c1.y, c1.z, c1.w,
        c2.x, c2.y, c2.z, c2.w, c3.x, c3.y, c3.z, c3.w}
{
}

mat4x4::mat4x4(float m0, float m1, float m2, float m3, float m4, float m5, float m6, float m7,
               float m8, float m9, float m10, float m11, float m12, float m13, float m14, float m15)
    : m{m0, m1, m2, m3, m4, m5, m6, m7, m8, m9, m10, m11, m12, m13, m14, m15}
{
}

mat4x4::mat4x4(const mat2x2& b)
    : m{b.m[0], b.m[1], 0.0f, 0.0f, b.m[2], b.m[3], 0.0f, 0.0f,
        0.0f,   0.0f,   1.0f, 0.0f, 0.0f,   0.0f,   0.0f, 1.0f}
{
}

mat4x4::mat4x4(const mat3x3& b)
    : m{b.m[0], b.m[1], b.m[2], 0.0f, b.m[3], b.m[4], b.m[5], 0.0f,
        b.m[6], b.m[7], b.m[8], 0.0f, 0.0f,   0.0f,   0.0f,   1.0f}
{
}

// ---------------------------------------------------------------------------------------------
// Vector functions.

float length2(const vec2& v) { return dot(v, v); }
float length2(const vec3& v) { return dot(v, v); }

vec2 mix(const vec2& a, const vec2& b, float t) { return b * t + a * (1.0f - t); }
vec3 mix(const vec3& a, const vec3& b, float t) { return b * t + a * (1.0f - t); }

vec2 normalize(const vec2& v) { return v / length(v); }
vec3 normalize(const vec3& v) { return v / length(v); }

vec2 reflect(const vec2& I, const vec2& N) { return I - N * (2.0f * dot(N, I)); }
vec3 reflect(const vec3& I, const vec3& N) { return I - N * (2.0f * dot(N, I)); }

// A NaN k fails the k >= 0 test and is treated like total internal reflection.
vec2 refract(const vec2& I, const vec2& N, float eta)
{
    float c = dot(N, I);
    float k = 1.0f - eta * eta * (1.0f - c * c);
    if (!(k >= 0.0f)) return vec2(0.0f, 0.0f);
    return I * eta - N * (eta * c + std::sqrt(k));
}

vec3 refract(const vec3& I, const vec3& N, float eta)
{
    float c = dot(N, I);
    float k = 1.0f - eta * eta * (1.0f - c * c);
    if (!(k >= 0.0f)) return vec3(0.0f, 0.0f, 0.0f);
    return I * eta - N * (eta * c + std::sqrt(k));
}

vec2 rotate(const vec2& v, float angle)
{
    float theta = angle / 180.0f * kPi;
    float c = std::cos(theta);
    float s = std::sin(theta);
    return vec2(c * v.x - s * v.y, s * v.x + c * v.y);
}

vec3 cross(const vec3& a, const vec3& b)
{
    return vec3(a.y * b.z - b.y * a.z, b.x * a.z - a.x * b.z, a.x * b.y - a.y * b.x);
}

// ---------------------------------------------------------------------------------------------
// Matrix products, written out: they run per vertex and per pixel.

mat2x2 operator*(const mat2x2& A, const mat2x2& B)
{
    const float* a = A.m;
    const float* b = B.m;
    mat2x2 res;
    float* r = res.m;
    r[0] = a[0] * b[0] + a[2] * b[1];
    r[1] = a[1] * b[0] + a[3] * b[1];
    r[2] = a[0] * b[2] + a[2] * b[3];
    r[3] = a[1] * b[2] + a[3] * b[3];
    return res;
}

mat3x3 operator*(const mat3x3& A, const mat3x3& B)
{
    const float* a = A.m;
    const float* b = B.m;
    mat3x3 res;
    float* r = res.m;
    r[0] = a[0] * b[0] + a[3] * b[1] + a[6] * b[2];
    r[1] = a[1] * b[0] + a[4] * b[1] + a[7] * b[2];
    r[2] = a[2] * b[0] + a[5] * b[1] + a[8] * b[2];
    r[3] = a[0] * b[3] + a[3] * b[4] + a[6] * b[5];
    r[4] = a[1] * b[3] + a[4] * b[4] + a[7] * b[5];
    r[5] = a[2] * b[3] + a[5] * b[4] + a[8] * b[5];
    r[6] = a[0] * b[6] + a[3] * b[7] + a[6] * b[8];
    r[7] = a[1] * b[6] + a[4] * b[7] + a[7] * b[8];
    r[8] = a[2] * b[6] + a[5] * b[7] + a[8] * b[8];
    return res;
}

mat4x4 operator*(const mat4x4& A, const mat4x4& B)
{
    const float* a = A.m;
    const float* b = B.m;
    mat4x4 res;
    float* r = res.m;
    r[0] = a[0] * b[0] + a[4] * b[1] + a[8] * b[2] + a[12] * b[3];
    r[1] = a[1] * b[0] + a[5] * b[1] + a[9] * b[2] + a[13] * b[3];
    r[2] = a[2] * b[0] + a[6] * b[1] + a[10] * b[2] + a[14] * b[3];
    r[3] = a[3] * b[0] + a[7] * b[1] + a[11] * b[2] + a[15] * b[3];
    r[4] = a[0] * b[4] + a[4] * b[5] + a[8] * b[6] + a[12] * b[7];
    r[5] = a[1] * b[4] + a[5] * b[5] + a[9] * b[6] + a[13] * b[7];
    r[6] = a[2] * b[4] + a[6] * b[5] + a[10] * b[6] + a[14] * b[7];
    r[7] = a[3] * b[4] + a[7] * b[5] + a[11] * b[6] + a[15] * b[7];
    r[8] = a[0] * b[8] + a[4] * b[9] + a[8] * b[10] + a[12] * b[11];
    r[9] = a[1] * b[8] + a[5] * b[9] + a[9] * b[10] + a[13] * b[11];
    r[10] = a[2] * b[8] + a[6] * b[9] + a[10] * b[10] + a[14] * b[11];
    r[11] = a[3] * b[8] + a[7] * b[9] + a[11] * b[10] + a[15] * b[11];
    r[12] = a[0] * b[12] + a[4] * b[13] + a[8] * b[14] + a[12] * b[15];
    r[13] = a[1] * b[12] + a[5] * b[13] + a[9] * b[14] + a[13] * b[15];
    r[14] = a[2] * b[12] + a[6] * b[13] + a[10] * b[14] + a[14] * b[15];
    r[15] = a[3] * b[12] + a[7] * b[13] + a[11] * b[14] + a[15] * b[15];
    return res;
}

vec2 operator*(const mat2x2& M, const vec2& v)
{
    const float* m = M.m;
    return vec2(m[0] * v.x + m[2] * v.y, m[1] * v.x + m[3] * v.y);
}

vec3 operator*(const mat3x3& M, const vec3& v)
{
    const float* m = M.m;
    return vec3(m[0] * v.x + m[3] * v.y + m[6] * v.z, m[1] * v.x + m[4] * v.y + m[7] * v.z,
                m[2] * v.x + m[5] * v.y + m[8] * v.z);
}

vec4 operator*(const mat4x4& M, const vec4& v)
{
    const float* m = M.m;
    return vec4(m[0] * v.x + m[4] * v.y + m[8] * v.z + m[12] * v.w,
                m[1] * v.x + m[5] * v.y + m[9] * v.z + m[13] * v.w,
                m[2] * v.x + m[6] * v.y + m[10] * v.z + m[14] * v.w,
                m[3] * v.x + m[7] * v.y + m[11] * v.z + m[15] * v.w);
}

// ---------------------------------------------------------------------------------------------
// Inverses by cofactors. The determinant is not checked: a singular matrix gives non-finite
// elements, and the callers that can meet one guard it themselves.

float det2x2sub(const float* m, int i0, int i1, int i2, int i3)
{
    return m[i0] * m[i3] - m[i2] * m[i1];
}

float det3x3sub(const float* m, int i0, int i1, int i2, int i3, int i4, int i5, int i6, int i7,
                int i8)
{
    return m[i0] * (m[i4] * m[i8] - m[i7] * m[i5]) - m[i3] * (m[i8] * m[i1] - m[i7] * m[i2]) +
           m[i6] * (m[i5] * m[i1] - m[i4] * m[i2]);
}

mat2x2 inverse(const mat2x2& M)
{
    const float* m = M.m;
    float det = m[3] * m[0] - m[2] * m[1];
    return mat2x2(m[3] / det, -m[1] / det, -m[2] / det, m[0] / det);
}

mat3x3 inverse(const mat3x3& M)
{
    const float* m = M.m;
    float det = m[0] * (m[4] * m[8] - m[7] * m[5]) - m[3] * (m[1] * m[8] - m[7] * m[2]) +
                m[6] * (m[5] * m[1] - m[4] * m[2]);
    return mat3x3((m[4] * m[8] - m[7] * m[5]) / det, -(m[1] * m[8] - m[7] * m[2]) / det,
                  (m[5] * m[1] - m[4] * m[2]) / det, -(m[8] * m[3] - m[5] * m[6]) / det,
                  (m[8] * m[0] - m[6] * m[2]) / det, -(m[5] * m[0] - m[2] * m[3]) / det,
                  (m[7] * m[3] - m[6] * m[4]) / det, -(m[7] * m[0] - m[1] * m[6]) / det,
                  (m[0] * m[4] - m[1] * m[3]) / det);
}

mat4x4 inverse(const mat4x4& M)
{
    const float* m = M.m;
    float c0 = det3x3sub(m, 5, 6, 7, 9, 10, 11, 13, 14, 15);
    float c1 = -det3x3sub(m, 1, 2, 3, 9, 10, 11, 13, 14, 15);
    float c2 = det3x3sub(m, 1, 2, 3, 5, 6, 7, 13, 14, 15);
    float c3 = -det3x3sub(m, 1, 2, 3, 5, 6, 7, 9, 10, 11);
    float det = m[0] * c0 + m[4] * c1 + m[8] * c2 + m[12] * c3;

    mat4x4 res;
    float* r = res.m;
    r[0] = c0 / det;
    r[1] = c1 / det;
    r[2] = c2 / det;
    r[3] = c3 / det;
    r[4] = -det3x3sub(m, 4, 6, 7, 8, 10, 11, 12, 14, 15) / det;
    r[5] = det3x3sub(m, 0, 2, 3, 8, 10, 11, 12, 14, 15) / det;
    r[6] = -det3x3sub(m, 0, 2, 3, 4, 6, 7, 12, 14, 15) / det;
    r[7] = det3x3sub(m, 0, 2, 3, 4, 6, 7, 8, 10, 11) / det;
    r[8] = det3x3sub(m, 4, 5, 7, 8, 9, 11, 12, 13, 15) / det;
    r[9] = -det3x3sub(m, 0, 1, 3, 8, 9, 11, 12, 13, 15) / det;
    r[10] = det3x3sub(m, 0, 1, 3, 4, 5, 7, 12, 13, 15) / det;
    r[11] = -det3x3sub(m, 0, 1, 3, 4, 5, 7, 8, 9, 11) / det;
    r[12] = -det3x3sub(m, 4, 5, 6, 8, 9, 10, 12, 13, 14) / det;
    r[13] = det3x3sub(m, 0, 1, 2, 8, 9, 10, 12, 13, 14) / det;
    r[14] = -det3x3sub(m, 0, 1, 2, 4, 5, 6, 12, 13, 14) / det;
    r[15] = det3x3sub(m, 0, 1, 2, 4, 5, 6, 8, 9, 10) / det;
    return res;
}

mat2x2 transpose(const mat2x2& M)
{
    const float* m = M.m;
    return mat2x2(m[0], m[2], m[1], m[3]);
}

mat3x3 transpose(const mat3x3& M)
{
    const float* m = M.m;
    return mat3x3(m[0], m[3], m[6], m[1], m[4], m[7], m[2], m[5], m[8]);
}

mat4x4 transpose(const mat4x4& M)
{
    const float* m = M.m;
    return mat4x4(m[0], m[4], m[8], m[12], m[1], m[5], m[9], m[13], m[2], m[6], m[10], m[14], m[3],
                  m[7], m[11], m[15]);
}

// ---------------------------------------------------------------------------------------------
// Transform builders.

mat4x4 look(const vec3& eye, const vec3& center, const vec3& up)
{
    vec3 Z = normalize(eye - center);
    vec3 X = normalize(cross(up, Z));
    vec3 Y = cross(Z, X);  // unit already: Z and X are unit and perpendicular
    return mat4x4(X.x, Y.x, Z.x, 0.0f, X.y, Y.y, Z.y, 0.0f, X.z, Y.z, Z.z, 0.0f, -dot(X, eye),
                  -dot(Y, eye), -dot(Z, eye), 1.0f);
}

mat4x4 ortho(float left, float right, float bottom, float top, float n, float f)
{
    mat4x4 r;
    r[0] = 2.0f / (right - left);
    r[5] = 2.0f / (top - bottom);
    r[10] = -2.0f / (f - n);
    r[12] = -(right + left) / (right - left);
    r[13] = -(top + bottom) / (top - bottom);
    r[14] = -(f + n) / (f - n);
    r[15] = 1.0f;
    return r;
}

mat4x4 perspective(float fovy, float aspect, float n, float f)
{
    float tau = std::tan(fovy * kPi / 360.0f);
    mat4x4 r;
    r[0] = (1.0f / tau) / aspect;
    r[5] = 1.0f / tau;
    r[10] = (n + f) / (n - f);
    r[11] = -1.0f;
    r[14] = 2.0f * f * n / (n - f);
    return r;
}

mat4x4 rotate(float angle, const vec3& axis)
{
    float theta = angle / 180.0f * kPi;
    float c = std::cos(theta);
    float s = std::sin(theta);
    float g = 1.0f - c;
    vec3 u = axis / length(axis);
    float x = u.x, y = u.y, z = u.z;
    mat4x4 r;
    r[0] = g * (x * x - 1.0f) + 1.0f;
    r[1] = g * x * y + s * z;
    r[2] = g * x * z - s * y;
    r[4] = g * x * y - s * z;
    r[5] = g * (y * y - 1.0f) + 1.0f;
    r[6] = g * y * z + s * x;
    r[8] = g * x * z + s * y;
    r[9] = g * y * z - s * x;
    r[10] = g * (z * z - 1.0f) + 1.0f;
    r[15] = 1.0f;
    return r;
}

vec3 rotate(const vec3& v, float angle, const vec3& axis)
{
    vec4 p = rotate(angle, axis) * vec4(v, 1.0f);
    return vec3(p.x, p.y, p.z);
}

mat4x4 scale(float x, float y, float z)
{
    mat4x4 r(1.0f);
    r[0] = x;
    r[5] = y;
    r[10] = z;
    return r;
}

mat4x4 translate(float x, float y, float z)
{
    mat4x4 r(1.0f);
    r[12] = x;
    r[13] = y;
    r[14] = z;
    return r;
}

mat4x4 krvRotationX(float a)
{
    float c = std::cos(a);
    float s = std::sin(a);
    return mat4x4(1.0f, 0.0f, 0.0f, 0.0f, 0.0f, c, s, 0.0f, 0.0f, -s, c, 0.0f, 0.0f, 0.0f, 0.0f,
                  1.0f);
}

mat4x4 krvRotationY(float a)
{
    float c = std::cos(a);
    float s = std::sin(a);
    return mat4x4(c, 0.0f, -s, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, s, 0.0f, c, 0.0f, 0.0f, 0.0f, 0.0f,
                  1.0f);
}

mat4x4 krvRotationZ(float a)
{
    float c = std::cos(a);
    float s = std::sin(a);
    return mat4x4(c, s, 0.0f, 0.0f, -s, c, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f,
                  1.0f);
}

// Powers of two only, so BiasMatrix * BiasMatrixInverse is the identity to the bit. The
// constructor is not constexpr, so these are dynamically initialised; the priority runs them
// before the other units' globals, which may read them from their own constructors.
KRV_INIT_PRIORITY(101)
const mat4x4 BiasMatrix(0.5f, 0.0f, 0.0f, 0.0f, 0.0f, 0.5f, 0.0f, 0.0f, 0.0f, 0.0f, 0.5f, 0.0f,
                        0.5f, 0.5f, 0.5f, 1.0f);

KRV_INIT_PRIORITY(101)
const mat4x4 BiasMatrixInverse(2.0f, 0.0f, 0.0f, 0.0f, 0.0f, 2.0f, 0.0f, 0.0f, 0.0f, 0.0f, 2.0f,
                               0.0f, -1.0f, -1.0f, -1.0f, 1.0f);

// ---------------------------------------------------------------------------------------------
// Tangent frame.

// The cases are decided on n.y alone; |n.y| > 1 or NaN matches none and leaves X and Y as the
// caller had them.
void GetXY(const vec3& n, vec3& X, vec3& Y)
{
    const vec3 U(0.0f, 1.0f, 0.0f);
    if (n.y == -1.0f) {
        X = vec3(1.0f, 0.0f, 0.0f);
        Y = vec3(0.0f, 0.0f, 1.0f);
    } else if (n.y == 1.0f) {
        X = vec3(1.0f, 0.0f, 0.0f);
        Y = vec3(0.0f, 0.0f, -1.0f);
    } else if (n.y == 0.0f) {
        Y = vec3(0.0f, 1.0f, 0.0f);
        X = cross(U, n);
    } else if ((n.y > -1.0f && n.y < 0.0f) || (n.y > 0.0f && n.y < 1.0f)) {
        X = cross(U, n);
        Y = cross(n, X);
    }
}

mat3x3 GetTBNMatrix(const vec3& n)
{
    vec3 X, Y;
    GetXY(n, X, Y);
    return inverse(mat3x3(X, Y, n));
}

// ---------------------------------------------------------------------------------------------
// Helpers of the public interface.

vec3 krvReflect(vec3 I, vec3 N) { return I - N * (2.0f * dot(N, I)); }

vec2 krvSubtractProduct2f(vec2 a, vec2 b, float t) { return (b - a) * t; }
vec3 krvSubtractProduct3f(vec3 a, vec3 b, float t) { return (b - a) * t; }
vec4 krvSubtractProduct4f(vec4 a, vec4 b, float t) { return (b - a) * t; }

vec3 krvUnProject(const vec3& win, const mat4x4& modelview, const mat4x4& projection,
                  const vec4& viewport)
{
    mat4x4 m = inverse(projection * modelview);
    vec4 ndc((win.x - viewport.x) / viewport.z * 2.0f - 1.0f,
             (win.y - viewport.y) / viewport.w * 2.0f - 1.0f, win.z * 2.0f - 1.0f, 1.0f);
    vec4 p = m * ndc;
    return vec3(p.x, p.y, p.z) / p.w;
}

vec3 krvFindNormal(vec3 a, vec3 b, vec3 c)
{
    vec3 n = cross(a - b, b - c);
    float l = length(n);
    if (l == 0.0f) l = 1.0f;
    return n / l;
}
