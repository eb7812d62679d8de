// Texture factories, the normalisation cube, sphere mapping and raw image-file access.
#include "texture/texture_generate.h"
#include "texture/image_decode.h"

#include <FreeImage.h>

#include <cmath>
#include <limits>
#include <string>

// platform/platform.h brings the Win32 subset, whose bitmap structs clash with FreeImage.h's
// own copies; of the platform layer only this one function is needed here.
namespace krvplat {
std::string NativePath(const char* path);
}

static constexpr float kPi = 3.1415927f;
static constexpr float kTwoPi = 6.2831855f;
static constexpr float kHalfPi = 1.5707964f;

CTexture krvGenTexture(int width, int height, int format)
{
    CTexture t;
    t.Create(width, height, format);
    return t;
}

CTexture krvGenTexture(int width, int height, int& bytesPerTexel, int format, uint8*& bits)
{
    CTexture t;
    t.Create(width, height, bytesPerTexel, format, bits);
    return t;
}

CTexture krvLoadTexture(const char* file)
{
    CTexture t;
    t.LoadTexture(file);  // a failed load leaves t empty
    return t;
}

CTexture krvLoadTextureToDot3(const char* file, float scale)
{
    CTexture t;
    t.LoadTextureToDot3(file, scale);
    return t;
}

vec3 krvGetCubeVector(int face, int size, int i, int j)
{
    const float s = (static_cast<float>(i) + 0.5f) / static_cast<float>(size) * 2.0f - 1.0f;
    const float t = (static_cast<float>(j) + 0.5f) / static_cast<float>(size) * 2.0f - 1.0f;
    vec3 v;
    switch (face) {
    case 0: v = vec3(1.0f, -t, -s); break;
    case 1: v = vec3(-1.0f, -t, s); break;
    case 2: v = vec3(s, 1.0f, t); break;
    case 3: v = vec3(s, -1.0f, -t); break;
    case 4: v = vec3(s, -t, 1.0f); break;
    case 5: v = vec3(-s, -t, -1.0f); break;
    default: return vec3(0.0f, 0.0f, 0.0f);
    }
    const float inv = 1.0f / std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    return v * inv;
}

CTexture krvGenCubeMapNormal(int size)
{
    // Faces 0 to 4 are generated in turn into the one texture, each Create releasing the face
    // before it; the +Z face (4) is what the caller gets.
    CTexture t;
    int bytesPerTexel = 3;
    uint8* bits = nullptr;
    for (int face = 0; face < 5; ++face) {
        t.Create(size, size, bytesPerTexel, KrvFormat_BGR, bits);
        if (!t.Bits) continue;
        for (int j = 0; j < size; ++j) {
            uint8* row = t.Bits + static_cast<size_t>(j) * static_cast<size_t>(t.Pitch);
            for (int i = 0; i < size; ++i) {
                vec3 v = krvGetCubeVector(face, size, i, j);
                row[i * 3 + 0] = static_cast<uint8>(TruncToInt(v.x * 127.0f + 128.0f));
                row[i * 3 + 1] = static_cast<uint8>(TruncToInt(v.y * 127.0f + 128.0f));
                row[i * 3 + 2] = static_cast<uint8>(TruncToInt(v.z * 127.0f + 128.0f));
            }
        }
    }
    return t;
}

vec2 krvGenTexSphereMap(float x, float y, float z)
{
    // No direction (or a NaN one) maps to the centre, as n = 0 would, rather than to NaN.
    if (!(x * x + y * y + z * z > 0.0f)) return vec2(0.5f, 0.5f);
    const vec3 n = normalize(vec3(x, y, z));
    const float r = std::sqrt(n.x * n.x + n.z * n.z);
    float e = 0.0f;
    if (n.x > 0.0f)
        e = kHalfPi - 2.0f * std::atan(n.z / (n.x + r));
    else if (n.z != 0.0f)
        e = kHalfPi - 2.0f * std::atan((r - n.x) / n.z);
    if (e > kPi) e -= kTwoPi;
    float s = e / kTwoPi + 0.5f;
    s -= std::floor(s);
    // A unit vector's y can round a hair past 1; asin would give NaN there.
    const float ny = n.y > 1.0f ? 1.0f : (n.y < -1.0f ? -1.0f : n.y);
    const float t = std::asin(ny) / kPi + 0.5f;
    return vec2(s, t);
}

float ArcTan2(float a, float b)
{
    const float r = std::sqrt(a * a + b * b);
    float g;
    if (a > 0.0f) {
        g = kHalfPi - 2.0f * std::atan(b / (a + r));
    } else if (b != 0.0f) {
        g = kHalfPi - 2.0f * std::atan((r - a) / b);
    } else {
        // Both half-angle forms divide by zero on the negative a axis; these are the limits
        // (and atan2's values) there: -pi/2 below the origin, 0 at it. NaN stays NaN.
        if (a < 0.0f) return -kHalfPi;
        if (a == 0.0f) return 0.0f;
        return std::numeric_limits<float>::quiet_NaN();
    }
    if (g > kPi) g -= kTwoPi;
    return g;
}

float arctan2(float a, float b)
{
    // In double: the 1e-10 offset must survive next to |a| and b, or arctan2(0, 1) collapses to
    // 0 instead of keeping the sign the rule below gives it.
    const double bd = static_cast<double>(b);
    const double d = std::fabs(static_cast<double>(a)) + 1e-10;
    double e;
    if (bd >= 0.0)
        e = 0.7853982 - 0.7853982 * (bd - d) / (bd + d);
    else
        e = 2.3561945 - 0.7853982 * (bd + d) / (d - bd);
    return static_cast<float>(a <= 0.0f ? -e : e);
}

vec3 mapCoordsToFace(vec2 p, int face)
{
    const float u = p.x;
    const float v = p.y;
    switch (face) {
    case 0: return vec3(u, v, -1.0f);
    case 1: return vec3(v, u, 1.0f);
    case 2: return vec3(-1.0f, u, v);
    case 3: return vec3(1.0f, v, u);
    case 4: return vec3(v, -1.0f, u);
    case 5: return vec3(u, 1.0f, v);
    default: return vec3(0.0f, 0.0f, 0.0f);
    }
}

vec3 getSphereCoords(vec3 p)
{
    const float x2 = p.x * p.x;
    const float y2 = p.y * p.y;
    const float z2 = p.z * p.z;
    return vec3(p.x * std::sqrt(1.0f - y2 / 2.0f - z2 / 2.0f + y2 * z2 / 3.0f),
                p.y * std::sqrt(1.0f - z2 / 2.0f - x2 / 2.0f + z2 * x2 / 3.0f),
                p.z * std::sqrt(1.0f - x2 / 2.0f - y2 / 2.0f + x2 * y2 / 3.0f));
}

FIBITMAP* krvGetBitmap(const char* file, int& width, int& height, int& bpp)
{
    if (!file) return nullptr;
    const std::string native = krvplat::NativePath(file);
    krvi::DecodedImage image;
    if (krvDecodeImage(native.c_str(), krvi::Rows_Bitmap, image) != krvi::Image_Ok) return nullptr;
    width = image.width;
    height = image.height;
    bpp = static_cast<int>(FreeImage_GetBPP(image.dib));
    return image.dib;
}

// Non-negative remainder: the results are byte values.
static float Mod256(int k)
{
    int m = k % 256;
    return static_cast<float>(m < 0 ? m + 256 : m);
}

vec3 krvGetRgbBits(int a1, int a2, int a3, int a4, int a5, int a6, unsigned char a7)
{
    if (a5 == 0 || a6 == 0) return vec3(0.0f, 0.0f, 0.0f);
    // Every step in int as the formula reads; an overflowing step (INT_MIN / -1 included)
    // gives (0, 0, 0) rather than undefined behaviour.
    auto div = [](int n, int d, int& q) {
        if (n == std::numeric_limits<int>::min() && d == -1) return false;
        q = n / d;
        return true;
    };
    int q43, q35, p1, p2, q1, q2, q, k;
    bool ok = div(a4, a5, q43) && div(a3, a5, q35) && !__builtin_mul_overflow(a2, a5, &p1) &&
              !__builtin_mul_overflow(p1, q43, &p1) && div(p1, a6, q1) &&
              !__builtin_mul_overflow(q1, a4, &q1) && !__builtin_mul_overflow(a1, a5, &p2) &&
              !__builtin_mul_overflow(p2, q35, &p2) && div(p2, a6, q2) &&
              !__builtin_add_overflow(q1, q2, &q) && !__builtin_mul_overflow(q, 3, &k) &&
              !__builtin_add_overflow(k, int(a7), &k) && k <= std::numeric_limits<int>::max() - 2;
    if (!ok) return vec3(0.0f, 0.0f, 0.0f);
    return vec3(Mod256(k), Mod256(k + 1), Mod256(k + 2));
}
