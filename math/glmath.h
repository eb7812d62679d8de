// Vector and matrix value types of the renderer, the transform builders and the small geometric
// helpers of the public interface.
//
// Conventions: matrices are column-major (row r, column c at flat index c*N + r), vectors are
// column vectors multiplied on the right (M * v), so P * V * M applies M first. operator[] of a
// matrix indexes one float of the flat array: m[12] is the x translation of a mat4x4.
// Angles are degrees in rotate() and perspective(), radians in krvRotationX/Y/Z.
#pragma once

#include "base/compiler.h"

#include <climits>
#include <cmath>
#if defined(__SSE__)
#include <xmmintrin.h>
#endif

// ---------------------------------------------------------------------------------------------
// Float to integer conversion. C++ leaves the conversion of NaN and of values outside the
// target's range undefined; the pipeline converts screen coordinates, depths and colours that
// can be anything a caller fed in, so every truncating conversion goes through here.
// Truncates toward zero; NaN gives 0; values beyond the int range saturate at INT_MIN/INT_MAX.
// Forced inline: the pixel loops convert several values a pixel, and GCC otherwise splits the
// tests into a call once those loops grow large. On x86 the conversion instruction answers
// INT_MIN for NaN and for anything out of range, so the common case costs one test; the tests
// below sort out the rest (and are the whole function elsewhere).
KRV_ALWAYS_INLINE int TruncToInt(float f)
{
#if defined(__SSE__)
    const int i = _mm_cvtt_ss2si(_mm_set_ss(f));
    if (i != INT_MIN) return i;
#endif
    if (f > -2147483648.0f && f < 2147483648.0f) return static_cast<int>(f);
    if (f >= 2147483648.0f) return INT_MAX;
    if (f <= -2147483648.0f) return INT_MIN;
    return 0;  // NaN
}
inline int TruncToInt(double d)
{
    if (!(d == d)) return 0;
    if (d >= 2147483647.0) return INT_MAX;
    if (d <= -2147483648.0) return INT_MIN;
    return static_cast<int>(d);
}

// ---------------------------------------------------------------------------------------------
struct vec2 {
    float x, y;
    vec2() : x(0.0f), y(0.0f) {}
    explicit vec2(float s) : x(s), y(s) {}
    vec2(float x_, float y_) : x(x_), y(y_) {}
    float& operator[](int i) { return (&x)[i]; }
    const float& operator[](int i) const { return (&x)[i]; }
    float* operator&() { return &x; }
    const float* operator&() const { return &x; }
    vec2& operator+=(const vec2& b)
    {
        x += b.x;
        y += b.y;
        return *this;
    }
    vec2& operator-=(const vec2& b)
    {
        x -= b.x;
        y -= b.y;
        return *this;
    }
    vec2& operator*=(float s)
    {
        x *= s;
        y *= s;
        return *this;
    }
    vec2& operator/=(float s)
    {
        x /= s;
        y /= s;
        return *this;
    }
};

struct vec3 {
    float x, y, z;
    vec3() : x(0.0f), y(0.0f), z(0.0f) {}
    explicit vec3(float s) : x(s), y(s), z(s) {}
    vec3(float x_, float y_, float z_) : x(x_), y(y_), z(z_) {}
    vec3(const vec2& v, float z_) : x(v.x), y(v.y), z(z_) {}
    float& operator[](int i) { return (&x)[i]; }
    const float& operator[](int i) const { return (&x)[i]; }
    float* operator&() { return &x; }
    const float* operator&() const { return &x; }
    vec3& operator+=(const vec3& b)
    {
        x += b.x;
        y += b.y;
        z += b.z;
        return *this;
    }
    vec3& operator-=(const vec3& b)
    {
        x -= b.x;
        y -= b.y;
        z -= b.z;
        return *this;
    }
    vec3& operator*=(float s)
    {
        x *= s;
        y *= s;
        z *= s;
        return *this;
    }
    vec3& operator/=(float s)
    {
        x /= s;
        y /= s;
        z /= s;
        return *this;
    }
};

struct vec4 {
    float x, y, z, w;
    vec4() : x(0.0f), y(0.0f), z(0.0f), w(0.0f) {}
    explicit vec4(float s) : x(s), y(s), z(s), w(s) {}
    vec4(float x_, float y_, float z_, float w_) : x(x_), y(y_), z(z_), w(w_) {}
    vec4(const vec3& v, float w_) : x(v.x), y(v.y), z(v.z), w(w_) {}
    float& operator[](int i) { return (&x)[i]; }
    const float& operator[](int i) const { return (&x)[i]; }
    float* operator&() { return &x; }
    const float* operator&() const { return &x; }
    vec4& operator+=(const vec4& b)
    {
        x += b.x;
        y += b.y;
        z += b.z;
        w += b.w;
        return *this;
    }
    vec4& operator-=(const vec4& b)
    {
        x -= b.x;
        y -= b.y;
        z -= b.z;
        w -= b.w;
        return *this;
    }
    vec4& operator*=(float s)
    {
        x *= s;
        y *= s;
        z *= s;
        w *= s;
        return *this;
    }
    vec4& operator/=(float s)
    {
        x /= s;
        y /= s;
        z /= s;
        w /= s;
        return *this;
    }
};

// Component-wise arithmetic.
inline vec2 operator+(const vec2& a, const vec2& b) { return vec2(a.x + b.x, a.y + b.y); }
inline vec2 operator-(const vec2& a, const vec2& b) { return vec2(a.x - b.x, a.y - b.y); }
inline vec2 operator*(const vec2& a, const vec2& b) { return vec2(a.x * b.x, a.y * b.y); }
inline vec2 operator/(const vec2& a, const vec2& b) { return vec2(a.x / b.x, a.y / b.y); }
inline vec2 operator*(const vec2& a, float s) { return vec2(a.x * s, a.y * s); }
inline vec2 operator*(float s, const vec2& a) { return vec2(s * a.x, s * a.y); }
inline vec2 operator/(const vec2& a, float s) { return vec2(a.x / s, a.y / s); }
inline vec2 operator-(const vec2& a) { return vec2(-a.x, -a.y); }

inline vec3 operator+(const vec3& a, const vec3& b)
{
    return vec3(a.x + b.x, a.y + b.y, a.z + b.z);
}
inline vec3 operator-(const vec3& a, const vec3& b)
{
    return vec3(a.x - b.x, a.y - b.y, a.z - b.z);
}
inline vec3 operator*(const vec3& a, const vec3& b)
{
    return vec3(a.x * b.x, a.y * b.y, a.z * b.z);
}
inline vec3 operator/(const vec3& a, const vec3& b)
{
    return vec3(a.x / b.x, a.y / b.y, a.z / b.z);
}
inline vec3 operator*(const vec3& a, float s) { return vec3(a.x * s, a.y * s, a.z * s); }
inline vec3 operator*(float s, const vec3& a) { return vec3(s * a.x, s * a.y, s * a.z); }
inline vec3 operator/(const vec3& a, float s) { return vec3(a.x / s, a.y / s, a.z / s); }
inline vec3 operator-(const vec3& a) { return vec3(-a.x, -a.y, -a.z); }

inline vec4 operator+(const vec4& a, const vec4& b)
{
    return vec4(a.x + b.x, a.y + b.y, a.z + b.z, a.w + b.w);
}
inline vec4 operator-(const vec4& a, const vec4& b)
{
    return vec4(a.x - b.x, a.y - b.y, a.z - b.z, a.w - b.w);
}
inline vec4 operator*(const vec4& a, const vec4& b)
{
    return vec4(a.x * b.x, a.y * b.y, a.z * b.z, a.w * b.w);
}
inline vec4 operator*(const vec4& a, float s) { return vec4(a.x * s, a.y * s, a.z * s, a.w * s); }
inline vec4 operator*(float s, const vec4& a) { return vec4(s * a.x, s * a.y, s * a.z, s * a.w); }
inline vec4 operator/(const vec4& a, float s) { return vec4(a.x / s, a.y / s, a.z / s, a.w / s); }
inline vec4 operator-(const vec4& a) { return vec4(-a.x, -a.y, -a.z, -a.w); }

// ---------------------------------------------------------------------------------------------
// Square matrices. The default constructor zero-fills (a defined value is cheap and keeps
// half-set records out of undefined behaviour); mat(s) puts s on the diagonal.
struct mat3x3;
struct mat4x4;

struct mat2x2 {
    float m[4];
    mat2x2();
    explicit mat2x2(float s);
    mat2x2(const vec2& c0, const vec2& c1);
    mat2x2(float m0, float m1, float m2, float m3);
    explicit mat2x2(const mat3x3& b);
    explicit mat2x2(const mat4x4& b);
    float& operator[](int i) { return m[i]; }
    const float& operator[](int i) const { return m[i]; }
    float* operator&() { return m; }
    const float* operator&() const { return m; }
};

struct mat3x3 {
    float m[9];
    mat3x3();
    explicit mat3x3(float s);
    mat3x3(const vec3& c0, const vec3& c1, const vec3& c2);
    mat3x3(float m0, float m1, float m2, float m3, float m4, float m5, float m6, float m7,
           float m8);
    explicit mat3x3(const mat2x2& b);
    explicit mat3x3(const mat4x4& b);
    float& operator[](int i) { return m[i]; }
    const float& operator[](int i) const { return m[i]; }
    float* operator&() { return m; }
    const float* operator&() const { return m; }
};

struct mat4x4 {
    float m[16];
    mat4x4();
    explicit mat4x4(float s);
    mat4x4(const vec4& c0, const vec4& c1, const vec4& c2, const vec4& c3);
    mat4x4(float m0, float m1, float m2, float m3, float m4, float m5, float m6, float m7, float m8,
           float m9, float m10, float m11, float m12, float m13, float m14, float m15);
    explicit mat4x4(const mat2x2& b);
    explicit mat4x4(const mat3x3& b);
    float& operator[](int i) { return m[i]; }
    const float& operator[](int i) const { return m[i]; }
    float* operator&() { return m; }
    const float* operator&() const { return m; }
};

// ---------------------------------------------------------------------------------------------
// Vector functions.
// Inline: the pixel stage computes lengths per pixel and must get these very sums.
inline float dot(const vec2& a, const vec2& b) { return a.x * b.x + a.y * b.y; }
inline float dot(const vec3& a, const vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline float length(const vec2& v) { return std::sqrt(dot(v, v)); }
KRV_ALWAYS_INLINE float length(const vec3& v) { return std::sqrt(dot(v, v)); }
float length2(const vec2& v);
float length2(const vec3& v);
vec2 mix(const vec2& a, const vec2& b, float t);
vec3 mix(const vec3& a, const vec3& b, float t);
vec2 normalize(const vec2& v);
vec3 normalize(const vec3& v);
vec2 reflect(const vec2& I, const vec2& N);
vec3 reflect(const vec3& I, const vec3& N);
vec2 refract(const vec2& I, const vec2& N, float eta);
vec3 refract(const vec3& I, const vec3& N, float eta);
vec2 rotate(const vec2& v, float angle);  // degrees, counter-clockwise
vec3 cross(const vec3& a, const vec3& b);

// Matrix functions.
mat2x2 operator*(const mat2x2& a, const mat2x2& b);
mat3x3 operator*(const mat3x3& a, const mat3x3& b);
mat4x4 operator*(const mat4x4& a, const mat4x4& b);
vec2 operator*(const mat2x2& m, const vec2& v);
vec3 operator*(const mat3x3& m, const vec3& v);
vec4 operator*(const mat4x4& m, const vec4& v);
mat2x2 inverse(const mat2x2& m);
mat3x3 inverse(const mat3x3& m);
mat4x4 inverse(const mat4x4& m);
mat2x2 transpose(const mat2x2& m);
mat3x3 transpose(const mat3x3& m);
mat4x4 transpose(const mat4x4& m);
float det2x2sub(const float* m, int i0, int i1, int i2, int i3);
float det3x3sub(const float* m, int i0, int i1, int i2, int i3, int i4, int i5, int i6, int i7,
                int i8);

// ---------------------------------------------------------------------------------------------
// Transform builders.
mat4x4 look(const vec3& eye, const vec3& center, const vec3& up);
mat4x4 ortho(float left, float right, float bottom, float top, float n, float f);
mat4x4 perspective(float fovy, float aspect, float n, float f);  // fovy in degrees
mat4x4 rotate(float angle, const vec3& axis);                    // degrees; axis need not be unit
vec3 rotate(const vec3& v, float angle, const vec3& axis);  // xyz of rotate(angle, axis) * (v, 1)
mat4x4 scale(float x, float y, float z);
mat4x4 translate(float x, float y, float z);
mat4x4 krvRotationX(float a);  // radians
mat4x4 krvRotationY(float a);
mat4x4 krvRotationZ(float a);

// Shadow-mapping matrices: clip space -1..1 to texture space 0..1 and back.
extern const mat4x4 BiasMatrix;
extern const mat4x4 BiasMatrixInverse;

// Tangent frame: two vectors perpendicular to the unit direction n, and the matrix that takes a
// vector from object space into the tangent space of a surface with normal n.
void GetXY(const vec3& n, vec3& X, vec3& Y);
mat3x3 GetTBNMatrix(const vec3& n);

// Helpers of the public interface.

// The one clamp of the program. NaN passes through (both tests fail), so callers that turn the
// result into an integer get TruncToInt's 0 for it.
inline float krvClamp(float value, float lo, float hi)
{
    float m = (value > hi) ? hi : value;
    return (lo > m) ? lo : m;
}
namespace krvi {
inline float Clamp01(float t) { return krvClamp(t, 0.0f, 1.0f); }
}  // namespace krvi

vec3 krvReflect(vec3 I, vec3 N);
vec2 krvSubtractProduct2f(vec2 a, vec2 b, float t);
vec3 krvSubtractProduct3f(vec3 a, vec3 b, float t);
vec4 krvSubtractProduct4f(vec4 a, vec4 b, float t);
vec3 krvUnProject(const vec3& win, const mat4x4& modelview, const mat4x4& projection,
                  const vec4& viewport);
vec3 krvFindNormal(vec3 a, vec3 b, vec3 c);  // unit normal; (0,0,0) for a degenerate triangle
