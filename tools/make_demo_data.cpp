// Writes the data files of the shadow-mapping demo: the floor texture "ceiling.jpg" and, under
// "Models/golf/", the car body, its glass and one wheel as OBJ + MTL files with their textures.
// Everything is generated from code and fixed seeds, so a run reproduces the committed files
// byte for byte.
//
//   make_demo_data [output-folder] [--preview picture.png]
//
// The output folder defaults to the repository's data/ folder. After writing, the tool reads the
// OBJ files back, applies the placement the demo gives each model and aborts (exit code 1) when
// the car does not fit it: wheels on the floor, axles in the arches, glass on the cabin. The
// preview is a picture of the placed scene (side, front, rear and top views, two perspective
// views) drawn by a tiny rasterizer here, for looking at the result.

#include <FreeImage.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "math/glmath.h"

// ---------------------------------------------------------------------------------------------
// The placement the demo applies (rotate about y, translate, scale by s) fixes these numbers:
// a body 1.4 high gives s = 0.975 / 1.4; the wheel radius r satisfies (r + 0.32) s = 0.5 so the
// tyres touch the floor at y = -0.5; the axles sit 0.25 above the body's lowest point, 0.7 to
// either side of its centre, 1.18 behind and 1.1 ahead of the middle of its length.
static const double kBodyHeight = 1.4;
static const double kScale = 0.975 / kBodyHeight;
static const double kWheelRadius = 0.5 / kScale - 0.32;
static const double kWheelHalfWidth = 0.15;
static const double kAxleY = 0.25;
static const double kAxleX = 0.7;
static const double kAxleZFront = -1.1; // the car's nose points to -z
static const double kAxleZRear = 1.18;
static const double kGlassOffsetZ = 0.42;

// Body outline along z: bumper faces, and the planes where the glass begins and ends. The glass
// runs from the foot of the windscreen to the foot of the rear window; its middle must lie
// kGlassOffsetZ behind the body's middle, which is 0.
static const double kZFront = -1.9;
static const double kZRear = 1.9;
static const double kZCowl = -0.86;
static const double kZHatchGlass = 2.0 * kGlassOffsetZ - kZCowl;
static const double kZRoofFront = -0.05;
static const double kZRoofRear = 1.47;
static const double kZRoofTop = 0.6; // where the roof is highest
static const double kZSideGlassFront = -0.74;
static const double kZPillarBFront = 0.20;
static const double kZPillarBRear = 0.34;

// The rear side window ends in an edge leaning forward: z + kQuarterLean y <= kQuarterEdge.
static const double kQuarterLean = 0.5;
static const double kQuarterEdge = 1.16 + kQuarterLean * 0.9;

static const double kArchRadius = 0.46;
static const double kWellInnerX = 0.5;
static const int kArchSides = 40;

// ---------------------------------------------------------------------------------------------
// Vector maths in double: the data is built once, so precision matters more than speed.
struct V2 {
    double x = 0.0, y = 0.0;
};
struct V3 {
    double x = 0.0, y = 0.0, z = 0.0;
};

static inline V2 operator+(V2 a, V2 b) { return {a.x + b.x, a.y + b.y}; }
static inline V2 operator-(V2 a, V2 b) { return {a.x - b.x, a.y - b.y}; }
static inline V2 operator*(V2 a, double s) { return {a.x * s, a.y * s}; }
static inline double Length(V2 a) { return std::sqrt(a.x * a.x + a.y * a.y); }
static inline V3 operator+(V3 a, V3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
static inline V3 operator-(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
static inline V3 operator*(V3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }
static inline V3 Mul(V3 a, V3 b) { return {a.x * b.x, a.y * b.y, a.z * b.z}; }
static inline double Dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
static inline V3 Cross(V3 a, V3 b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
static inline double Length(V3 a) { return std::sqrt(Dot(a, a)); }
static inline V3 Normalize(V3 a)
{
    double l = Length(a);
    return l > 0.0 ? a * (1.0 / l) : V3{0.0, 0.0, 0.0};
}
static inline double Clamp(double v, double lo, double hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}
static inline double Lerp(double a, double b, double t) { return a + (b - a) * t; }
static inline V3 Lerp(V3 a, V3 b, double t) { return a + (b - a) * t; }
static inline V2 Lerp(V2 a, V2 b, double t) { return a + (b - a) * t; }
static inline double SmoothStep(double e0, double e1, double x)
{
    double t = Clamp((x - e0) / (e1 - e0), 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}
static inline V3 Grey(double g) { return {g, g, g}; }

static const double kPi = 3.14159265358979323846;

// ---------------------------------------------------------------------------------------------
// Deterministic noise. The standard library's distributions differ between implementations, so
// the random numbers come from an integer hash; lattice noise wraps with a period so that the
// floor texture tiles.
static uint32_t HashMix(uint32_t h)
{
    h ^= h >> 16;
    h *= 0x7feb352dU;
    h ^= h >> 15;
    h *= 0x846ca68bU;
    h ^= h >> 16;
    return h;
}

static double Rand01(uint32_t a, uint32_t b = 0, uint32_t c = 0)
{
    uint32_t h =
        HashMix(a * 0x9E3779B1U ^ HashMix(b + 0x85EBCA77U) ^ HashMix(c * 0xC2B2AE3DU + 1U));
    return static_cast<double>(h >> 8) * (1.0 / 16777216.0);
}

static int WrapIndex(int i, int n)
{
    int r = i % n;
    return r < 0 ? r + n : r;
}

static double ValueNoise(double x, double y, int periodX, int periodY, uint32_t seed)
{
    double fx = std::floor(x), fy = std::floor(y);
    int ix = TruncToInt(fx), iy = TruncToInt(fy);
    double tx = x - fx, ty = y - fy;
    tx = tx * tx * (3.0 - 2.0 * tx);
    ty = ty * ty * (3.0 - 2.0 * ty);
    auto h = [&](int i, int j) {
        return Rand01(static_cast<uint32_t>(WrapIndex(i, periodX)),
                      static_cast<uint32_t>(WrapIndex(j, periodY)), seed);
    };
    double a = Lerp(h(ix, iy), h(ix + 1, iy), tx);
    double b = Lerp(h(ix, iy + 1), h(ix + 1, iy + 1), tx);
    return Lerp(a, b, ty);
}

// Fractal sum in 0..1; x and y are in lattice cells of the first octave, which repeats after
// period cells.
static double Fbm(double x, double y, int period, int octaves, uint32_t seed)
{
    double sum = 0.0, amp = 0.5, norm = 0.0;
    int p = period;
    double f = 1.0;
    for (int o = 0; o < octaves; ++o) {
        sum += amp * ValueNoise(x * f, y * f, p, p, seed + static_cast<uint32_t>(o) * 101U);
        norm += amp;
        amp *= 0.5;
        f *= 2.0;
        p *= 2;
    }
    return sum / norm;
}

// ---------------------------------------------------------------------------------------------
// Painting. A canvas holds linear RGB in 0..1 with row 0 at the top of the picture; shapes are
// painted from signed distance functions with one pixel of anti-aliasing.
struct Canvas {
    int w = 0, h = 0;
    std::vector<double> c;
    Canvas(int width, int height, V3 fill) : w(width), h(height), c(width * height * 3)
    {
        for (int i = 0; i < w * h; ++i) {
            c[i * 3] = fill.x;
            c[i * 3 + 1] = fill.y;
            c[i * 3 + 2] = fill.z;
        }
    }
    V3 Get(int x, int y) const
    {
        const double* p = &c[(y * w + x) * 3];
        return {p[0], p[1], p[2]};
    }
    void Put(int x, int y, V3 v)
    {
        double* p = &c[(y * w + x) * 3];
        p[0] = v.x;
        p[1] = v.y;
        p[2] = v.z;
    }
    void Blend(int x, int y, V3 v, double a) { Put(x, y, Lerp(Get(x, y), v, a)); }
};

// A rectangle of a texture atlas and the world rectangle painted into it: a runs along the
// columns (right to left when flipA), b up the rows.
struct AtlasRegion {
    int c0, r0, c1, r1;
    double a0, b0, a1, b1;
    bool flipA;
    double PxPerA() const { return (c1 - c0) / (a1 - a0); }
    double PxPerB() const { return (r1 - r0) / (b1 - b0); }
    double Col(double a) const
    {
        return flipA ? c0 + (a1 - a) * PxPerA() : c0 + (a - a0) * PxPerA();
    }
    double Row(double b) const { return r0 + (b1 - b) * PxPerB(); }
    double A(double col) const
    {
        return flipA ? a1 - (col - c0) / PxPerA() : a0 + (col - c0) / PxPerA();
    }
    double B(double row) const { return b1 - (row - r0) / PxPerB(); }
    // Texture coordinates of a world point: v = 0 is the bottom row of the picture.
    V2 Uv(double a, double b, int texW, int texH) const
    {
        double u = Col(a) / texW, v = 1.0 - Row(b) / texH;
        return {Clamp(u, 0.0, 1.0), Clamp(v, 0.0, 1.0)};
    }
};

// Regions bleed this many pixels into their neighbourhood so bilinear filtering at their edges
// never reaches a foreign colour.
static const int kBleed = 4;

template <class F>
static void PaintSdf(Canvas& cv, const AtlasRegion& rg, double amin, double bmin, double amax,
                     double bmax, F sdf, V3 col, double alpha = 1.0)
{
    double ca = rg.Col(amin), cb = rg.Col(amax);
    int x0 = std::max(rg.c0 - kBleed, TruncToInt(std::floor(std::min(ca, cb))) - 2);
    int x1 = std::min(rg.c1 + kBleed, TruncToInt(std::ceil(std::max(ca, cb))) + 2);
    int y0 = std::max(rg.r0 - kBleed, TruncToInt(std::floor(rg.Row(bmax))) - 2);
    int y1 = std::min(rg.r1 + kBleed, TruncToInt(std::ceil(rg.Row(bmin))) + 2);
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, cv.w);
    y1 = std::min(y1, cv.h);
    double k = std::min(rg.PxPerA(), rg.PxPerB());
    for (int y = y0; y < y1; ++y) {
        double b = rg.B(y + 0.5);
        for (int x = x0; x < x1; ++x) {
            double a = rg.A(x + 0.5);
            double cover = Clamp(0.5 - sdf(a, b) * k, 0.0, 1.0);
            if (cover > 0.0) cv.Blend(x, y, col, cover * alpha);
        }
    }
}

// Runs a colour function over the region and its bleed.
template <class F> static void PaintField(Canvas& cv, const AtlasRegion& rg, F fn)
{
    for (int y = std::max(0, rg.r0 - kBleed); y < std::min(cv.h, rg.r1 + kBleed); ++y) {
        double b = rg.B(y + 0.5);
        for (int x = std::max(0, rg.c0 - kBleed); x < std::min(cv.w, rg.c1 + kBleed); ++x) {
            double a = rg.A(x + 0.5);
            V3 col = cv.Get(x, y);
            fn(a, b, x, y, col);
            cv.Put(x, y, col);
        }
    }
}

static double SdBox(double a, double b, double ca, double cb, double ha, double hb, double r)
{
    double qa = std::fabs(a - ca) - ha + r, qb = std::fabs(b - cb) - hb + r;
    double outside =
        std::sqrt(std::max(qa, 0.0) * std::max(qa, 0.0) + std::max(qb, 0.0) * std::max(qb, 0.0));
    return outside + std::min(std::max(qa, qb), 0.0) - r;
}

static double SdCircle(double a, double b, double ca, double cb, double r)
{
    return std::sqrt((a - ca) * (a - ca) + (b - cb) * (b - cb)) - r;
}

static double SdSegment(double a, double b, V2 p, V2 q, double halfWidth)
{
    V2 pa = {a - p.x, b - p.y}, ba = q - p;
    double t =
        Clamp((pa.x * ba.x + pa.y * ba.y) / std::max(1e-12, ba.x * ba.x + ba.y * ba.y), 0.0, 1.0);
    return Length(pa - ba * t) - halfWidth;
}

// Signed distance to a simple polygon, negative inside.
static double SdPolygon(double a, double b, const std::vector<V2>& poly)
{
    double d = 1e30;
    bool inside = false;
    for (size_t i = 0, j = poly.size() - 1; i < poly.size(); j = i++) {
        d = std::min(d, SdSegment(a, b, poly[j], poly[i], 0.0));
        if ((poly[i].y > b) != (poly[j].y > b) &&
            a < (poly[j].x - poly[i].x) * (b - poly[i].y) / (poly[j].y - poly[i].y) + poly[i].x)
            inside = !inside;
    }
    return inside ? -d : d;
}

// A 5x7 pixel font for number plates and tyre lettering.
static const char* Glyph(char ch)
{
    switch (ch) {
    case '0':
        return "01110100011001110101110011000101110";
    case '1':
        return "00100011000010000100001000010001110";
    case '2':
        return "01110100010000100010001000100011111";
    case '3':
        return "11110000010000101110000010000111110";
    case '4':
        return "00010001100101010010111110001000010";
    case '5':
        return "11111100001111000001000011000101110";
    case '6':
        return "00110010001000011110100011000101110";
    case '7':
        return "11111000010001000100010000100001000";
    case '8':
        return "01110100011000101110100011000101110";
    case '9':
        return "01110100011000101111000010001001100";
    case 'D':
        return "11110100011000110001100011000111110";
    case 'H':
        return "10001100011000111111100011000110001";
    case 'K':
        return "10001100101010011000101001001010001";
    case 'R':
        return "11110100011000111110101001001010001";
    case 'T':
        return "11111001000010000100001000010000100";
    case 'V':
        return "10001100011000110001100010101000100";
    case 'X':
        return "10001100010101000100010101000110001";
    case 'L':
        return "10000100001000010000100001000011111";
    case 'M':
        return "10001110111010110101100011000110001";
    case '/':
        return "00001000100001000100010000100010000";
    case '-':
        return "00000000000000011111000000000000000";
    default:
        return nullptr;
    }
}

// Text centred on (ca, cb), glyph cells of size cell x cell in world units, a running left to
// right on the picture.
static void PaintText(Canvas& cv, const AtlasRegion& rg, const char* text, double ca, double cb,
                      double cell, V3 col)
{
    int n = static_cast<int>(std::strlen(text));
    double dir = rg.flipA ? -1.0 : 1.0;
    double width = (n * 6 - 1) * cell;
    double start = ca - dir * width * 0.5;
    for (int i = 0; i < n; ++i) {
        const char* g = Glyph(text[i]);
        if (!g) continue;
        for (int r = 0; r < 7; ++r) {
            for (int c = 0; c < 5; ++c) {
                if (g[r * 5 + c] != '1') continue;
                double a = start + dir * ((i * 6 + c) * cell + 0.5 * cell);
                double b = cb + (3.0 - r) * cell;
                PaintSdf(
                    cv, rg, a - cell, b - cell, a + cell, b + cell,
                    [&](double x, double y) {
                        return SdBox(x, y, a, b, 0.5 * cell, 0.5 * cell, 0.15 * cell);
                    },
                    col);
            }
        }
    }
}

static bool SaveCanvas(const Canvas& cv, const std::string& path, bool jpeg)
{
    FIBITMAP* bmp = FreeImage_Allocate(cv.w, cv.h, 24);
    if (!bmp) return false;
    for (int y = 0; y < cv.h; ++y) {
        // FreeImage stores rows bottom-up.
        BYTE* row = FreeImage_GetScanLine(bmp, cv.h - 1 - y);
        for (int x = 0; x < cv.w; ++x) {
            V3 v = cv.Get(x, y);
            row[x * 3 + FI_RGBA_RED] =
                static_cast<BYTE>(TruncToInt(Clamp(v.x, 0.0, 1.0) * 255.0 + 0.5));
            row[x * 3 + FI_RGBA_GREEN] =
                static_cast<BYTE>(TruncToInt(Clamp(v.y, 0.0, 1.0) * 255.0 + 0.5));
            row[x * 3 + FI_RGBA_BLUE] =
                static_cast<BYTE>(TruncToInt(Clamp(v.z, 0.0, 1.0) * 255.0 + 0.5));
        }
    }
    BOOL ok = jpeg ? FreeImage_Save(FIF_JPEG, bmp, path.c_str(),
                                    90 | JPEG_SUBSAMPLING_444 | JPEG_OPTIMIZE | JPEG_BASELINE)
                   : FreeImage_Save(FIF_PNG, bmp, path.c_str(), PNG_Z_BEST_COMPRESSION);
    FreeImage_Unload(bmp);
    return ok != FALSE;
}

// ---------------------------------------------------------------------------------------------
// Meshes are triangle soups; the OBJ writer shares equal positions, coordinates and normals.
struct Corner {
    V3 p, n;
    V2 t;
};
struct Tri {
    Corner c[3];
};
struct Mesh {
    std::vector<Tri> tris;
};

// Adds a triangle wound counter-clockwise as seen from the side its normals face, which is what
// the renderer's back-face culling of the wheels needs; slivers are dropped.
static void AddTri(Mesh& m, Corner a, Corner b, Corner c)
{
    V3 g = Cross(b.p - a.p, c.p - a.p);
    double area2 = Length(g);
    if (area2 < 1e-9) return;
    a.n = Normalize(a.n);
    b.n = Normalize(b.n);
    c.n = Normalize(c.n);
    if (Dot(g, a.n + b.n + c.n) < 0.0) std::swap(b, c);
    m.tris.push_back(Tri{{a, b, c}});
}

static void AddQuad(Mesh& m, const Corner& a, const Corner& b, const Corner& c, const Corner& d)
{
    AddTri(m, a, b, c);
    AddTri(m, a, c, d);
}

// ---------------------------------------------------------------------------------------------
// Convex polygon clipping by half-spaces, used to cut the wheel arches out of the body and to
// separate the glass from it. A polygon vertex carries its normal and the band of the body
// section it came from.
struct PolyVert {
    V3 p, n;
};
typedef std::vector<PolyVert> Poly;

struct Plane {
    V3 a;
    double d; // inside where Dot(a, p) + d >= 0
};

static Plane PlaneGE(V3 a, double v) { return {a, -v}; }
static Plane PlaneLE(V3 a, double v) { return {a * -1.0, v}; }

static void ClipPoly(const Poly& in, const Plane& pl, Poly& inside, Poly& outside)
{
    inside.clear();
    outside.clear();
    size_t n = in.size();
    for (size_t i = 0; i < n; ++i) {
        const PolyVert& p = in[i];
        const PolyVert& q = in[(i + 1) % n];
        double dp = Dot(pl.a, p.p) + pl.d, dq = Dot(pl.a, q.p) + pl.d;
        if (dp >= 0.0) inside.push_back(p);
        if (dp < 0.0) outside.push_back(p);
        if ((dp >= 0.0) != (dq >= 0.0)) {
            double t = dp / (dp - dq);
            PolyVert x = {Lerp(p.p, q.p, t), Normalize(Lerp(p.n, q.n, t))};
            inside.push_back(x);
            outside.push_back(x);
        }
    }
    if (inside.size() < 3) inside.clear();
    if (outside.size() < 3) outside.clear();
}

// Splits a convex polygon by a convex region: at most one piece inside, convex pieces outside.
static void SplitByRegion(const Poly& poly, const std::vector<Plane>& region, Poly& inside,
                          std::vector<Poly>& outside)
{
    // A polygon wholly outside one plane stays whole: cutting it by the others' extended lines
    // would only splinter it.
    for (const Plane& pl : region) {
        bool allOut = true;
        for (const PolyVert& v : poly) allOut = allOut && Dot(pl.a, v.p) + pl.d < 0.0;
        if (allOut) {
            outside.push_back(poly);
            inside.clear();
            return;
        }
    }
    Poly rest = poly, in, out;
    for (const Plane& pl : region) {
        ClipPoly(rest, pl, in, out);
        if (!out.empty()) outside.push_back(out);
        rest = in;
        if (rest.empty()) break;
    }
    inside = rest;
}

// ---------------------------------------------------------------------------------------------
// OBJ text. Numbers are printed with five decimals (positions) or four (normals, texture
// coordinates) and shared by their printed form, so the values the renderer reads are exactly
// the ones the checks below see.
static std::string FormatNumber(double v, int decimals = 4)
{
    char buf[32];
    std::snprintf(buf, sizeof(buf), "%.*f", decimals, v);
    std::string s = buf;
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
    if (s == "-0") s = "0";
    return s;
}

static int Intern(std::map<std::string, int>& index, std::vector<std::string>& list,
                  const std::string& key)
{
    auto it = index.find(key);
    if (it != index.end()) return it->second;
    list.push_back(key);
    int id = static_cast<int>(list.size());
    index[key] = id;
    return id;
}

static std::string ObjText(const Mesh& m, const char* title, const char* mtl, const char* object)
{
    std::map<std::string, int> vi, ti, ni;
    std::vector<std::string> vs, ts, ns;
    std::string faces;
    for (const Tri& t : m.tris) {
        faces += "f";
        for (const Corner& c : t.c) {
            int a = Intern(vi, vs,
                           FormatNumber(c.p.x, 5) + " " + FormatNumber(c.p.y, 5) + " " +
                               FormatNumber(c.p.z, 5));
            int b = Intern(ti, ts, FormatNumber(c.t.x) + " " + FormatNumber(c.t.y));
            int d =
                Intern(ni, ns,
                       FormatNumber(c.n.x) + " " + FormatNumber(c.n.y) + " " + FormatNumber(c.n.z));
            faces += " " + std::to_string(a) + "/" + std::to_string(b) + "/" + std::to_string(d);
        }
        faces += "\n";
    }
    std::string out = std::string("# ") + title + "\n";
    out += "# " + std::to_string(vs.size()) + " positions, " + std::to_string(m.tris.size()) +
           " triangles\n";
    out += std::string("mtllib ") + mtl + "\n";
    out += std::string("o ") + object + "\n";
    for (const std::string& s : vs) out += "v " + s + "\n";
    for (const std::string& s : ts) out += "vt " + s + "\n";
    for (const std::string& s : ns) out += "vn " + s + "\n";
    out += std::string("usemtl ") + object + "\ns 1\n";
    out += faces;
    return out;
}

static bool WriteText(const std::string& path, const std::string& text)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    size_t n = std::fwrite(text.data(), 1, text.size(), f);
    return std::fclose(f) == 0 && n == text.size();
}

// ---------------------------------------------------------------------------------------------
// Shape functions of z: monotone cubic interpolation through key values (Fritsch-Carlson), which
// never overshoots, so a key value that is a local maximum stays the maximum.
class Curve {
public:
    Curve(std::initializer_list<V2> keys) : k_(keys), m_(keys.size(), 0.0)
    {
        size_t n = k_.size();
        std::vector<double> d(n - 1);
        for (size_t i = 0; i + 1 < n; ++i) d[i] = (k_[i + 1].y - k_[i].y) / (k_[i + 1].x - k_[i].x);
        m_[0] = d[0];
        m_[n - 1] = d[n - 2];
        for (size_t i = 1; i + 1 < n; ++i) {
            if (d[i - 1] * d[i] <= 0.0) continue;
            double h0 = k_[i].x - k_[i - 1].x, h1 = k_[i + 1].x - k_[i].x;
            m_[i] = 3.0 * (h0 + h1) / ((2.0 * h1 + h0) / d[i - 1] + (h1 + 2.0 * h0) / d[i]);
        }
    }
    double operator()(double x) const
    {
        if (x <= k_.front().x) return k_.front().y;
        if (x >= k_.back().x) return k_.back().y;
        size_t i = 0;
        while (x > k_[i + 1].x) ++i;
        double h = k_[i + 1].x - k_[i].x, t = (x - k_[i].x) / h;
        double t2 = t * t, t3 = t2 * t;
        return (2.0 * t3 - 3.0 * t2 + 1.0) * k_[i].y + (t3 - 2.0 * t2 + t) * h * m_[i] +
               (-2.0 * t3 + 3.0 * t2) * k_[i + 1].y + (t3 - t2) * h * m_[i + 1];
    }

private:
    std::vector<V2> k_;
    std::vector<double> m_;
};

// Side view: height of the top centre line (bumper, grille, bonnet, windscreen, roof, rear
// window, tailgate) and of the underside.
static const Curve kTopLine = {
    {-1.900, 0.460},    {-1.885, 0.500}, {-1.865, 0.530},       {-1.845, 0.560},
    {-1.832, 0.640},    {-1.818, 0.710}, {-1.795, 0.750},       {-1.720, 0.780},
    {-1.300, 0.825},    {-1.000, 0.860}, {kZCowl, 0.882},       {-0.700, 0.975},
    {-0.400, 1.165},    {-0.160, 1.305}, {kZRoofFront, 1.355},  {0.200, 1.388},
    {kZRoofTop, 1.400}, {1.000, 1.396},  {1.300, 1.382},        {kZRoofRear, 1.352},
    {1.540, 1.290},     {1.620, 1.150},  {kZHatchGlass, 0.985}, {1.750, 0.962},
    {1.800, 0.930},     {1.840, 0.850},  {1.868, 0.720},        {1.886, 0.590},
    {1.895, 0.520},     {1.900, 0.480}};
static const Curve kBottomLine = {{-1.90, 0.15}, {-1.80, 0.08}, {-1.68, 0.02}, {-1.60, 0.0},
                                  {1.65, 0.0},   {1.76, 0.06},  {1.90, 0.16}};
// Top view: half-width of the body sides, rounded at both ends.
static const Curve kHalfWidth = {{-1.900, 0.700}, {-1.880, 0.770}, {-1.840, 0.815}, {-1.760, 0.845},
                                 {-1.600, 0.860}, {1.600, 0.860},  {1.760, 0.850},  {1.850, 0.820},
                                 {1.890, 0.770},  {1.900, 0.720}};
// Height of the window sills, and how far the top centre rises above its edges.
static const Curve kBeltLine = {
    {-1.9, 0.85}, {kZCowl, 0.872}, {0.4, 0.905}, {1.5, 0.945}, {1.9, 0.95}};
static const Curve kCrown = {{-1.9, 0.03},       {kZCowl, 0.03},       {-0.6, 0.06},
                             {kZRoofRear, 0.06}, {kZHatchGlass, 0.05}, {1.9, 0.03}};

static const double kTumblehome = 0.39; // inward run of the greenhouse per unit of height

struct SectionParams {
    double yb, yt, wS, yMid, ySh, wG, yR;
};

static SectionParams ShapeAt(double z)
{
    SectionParams s;
    s.yb = kBottomLine(z);
    s.yt = kTopLine(z);
    s.wS = kHalfWidth(z);
    double edge = s.yt - kCrown(z);
    s.ySh = std::min(kBeltLine(z), edge); // shoulder: window sill, or bonnet and tail edge
    s.yR = std::max(s.ySh, edge);         // roof edge above it where the greenhouse stands
    s.yMid = Lerp(s.yb, s.ySh, 0.45);     // widest point of the flanks
    s.wG = s.wS - 0.03 - kTumblehome * (s.yR - s.ySh);
    return s;
}

// Bands of the body section, bottom to top: the glass is cut out of the greenhouse band (side
// windows) and the top band (windscreen, rear window).
enum Band { kBandBottom, kBandSide, kBandShoulder, kBandGreenhouse, kBandRail, kBandTop };

static const int kPieceCount = 9;
static const int kPieceSegments[kPieceCount] = {2, 2, 2, 2, 2, 3, 4, 3, 6};
static const int kPieceBand[kPieceCount] = {kBandBottom,     kBandBottom, kBandSide,
                                            kBandSide,       kBandSide,   kBandShoulder,
                                            kBandGreenhouse, kBandRail,   kBandTop};
static const int kHalfSegments = 26;

static V2 Bezier(V2 a, V2 b, V2 c, double t)
{
    return a * ((1.0 - t) * (1.0 - t)) + b * (2.0 * t * (1.0 - t)) + c * (t * t);
}

// Right half of the body section at z, from the bottom centre up the side to the top centre:
// straight runs between anchor points, rounded at each anchor by a fillet (a quadratic arc whose
// tangent length follows the wanted radius and shrinks where a run is short), and a crowned top.
static void SectionHalf(double z, std::vector<V2>& pts, std::vector<int>* bands = nullptr)
{
    SectionParams s = ShapeAt(z);
    const V2 anchor[6] = {{0.0, s.yb},          {s.wS - 0.035, s.yb}, {s.wS, s.yMid},
                          {s.wS - 0.03, s.ySh}, {s.wG, s.yR},         {0.0, s.yt}};
    const V2 topControl = {0.5 * s.wG, s.yt};
    const double radius[5] = {0.0, 0.10, 0.60, 0.06, 0.06};
    V2 tin[5], tout[5];
    for (int i = 1; i <= 4; ++i) {
        V2 prev = anchor[i - 1], next = i < 4 ? anchor[i + 1] : topControl;
        V2 din = anchor[i] - prev, dout = next - anchor[i];
        double lin = Length(din), lout = Length(dout), t = 0.0;
        if (lin > 1e-9 && lout > 1e-9) {
            double c = Clamp((din.x * dout.x + din.y * dout.y) / (lin * lout), -1.0, 1.0);
            t = radius[i] * std::tan(0.5 * std::acos(c));
            t = std::min(
                t, std::min(i == 1 ? 0.9 * lin : 0.45 * lin, i == 4 ? 0.6 * lout : 0.45 * lout));
        }
        tin[i] = lin > 1e-9 ? anchor[i] - din * (t / lin) : anchor[i];
        tout[i] = lout > 1e-9 ? anchor[i] + dout * (t / lout) : anchor[i];
    }
    // Each piece as a quadratic Bezier (straight runs with their midpoint as control).
    const V2 piece[kPieceCount][3] = {{anchor[0], Lerp(anchor[0], tin[1], 0.5), tin[1]},
                                      {tin[1], anchor[1], tout[1]},
                                      {tout[1], Lerp(tout[1], tin[2], 0.5), tin[2]},
                                      {tin[2], anchor[2], tout[2]},
                                      {tout[2], Lerp(tout[2], tin[3], 0.5), tin[3]},
                                      {tin[3], anchor[3], tout[3]},
                                      {tout[3], Lerp(tout[3], tin[4], 0.5), tin[4]},
                                      {tin[4], anchor[4], tout[4]},
                                      {tout[4], topControl, anchor[5]}};
    pts.clear();
    pts.push_back(anchor[0]);
    if (bands) bands->clear();
    for (int p = 0; p < kPieceCount; ++p) {
        for (int k = 1; k <= kPieceSegments[p]; ++k) {
            double t = static_cast<double>(k) / kPieceSegments[p];
            pts.push_back(Bezier(piece[p][0], piece[p][1], piece[p][2], t));
            if (bands) bands->push_back(kPieceBand[p]);
        }
    }
    pts.back() = anchor[5];
}

// Half-width of the body flank at height y (below the shoulder) at z.
static double FlankX(double z, double y)
{
    std::vector<V2> pts;
    SectionHalf(z, pts);
    for (size_t k = 0; k + 1 < pts.size(); ++k) {
        V2 a = pts[k], b = pts[k + 1];
        if (b.y < a.y) break; // past the shoulder
        if (y >= a.y && y <= b.y && b.y > a.y) return Lerp(a.x, b.x, (y - a.y) / (b.y - a.y));
    }
    return pts[1].x;
}

// Stations along z, denser where the section changes fast (nose, tail, windscreen foot), with
// the glass boundaries and the top of the roof among them.
static std::vector<double> ChooseStations(int count)
{
    const int fine = 3800;
    std::vector<double> zs(fine + 1), cum(fine + 1, 0.0);
    std::vector<V2> prev, cur;
    for (int i = 0; i <= fine; ++i) {
        zs[i] = kZFront + (kZRear - kZFront) * i / fine;
        SectionHalf(zs[i], cur);
        if (i > 0) {
            double d = 0.0;
            for (size_t k = 0; k < cur.size(); ++k) d = std::max(d, Length(cur[k] - prev[k]));
            double dz = zs[i] - zs[i - 1];
            cum[i] = cum[i - 1] + std::sqrt(dz * dz + 2.0 * d * d);
        }
        prev.swap(cur);
    }
    std::vector<double> st;
    size_t j = 0;
    for (int s = 0; s < count; ++s) {
        double target = cum[fine] * s / (count - 1);
        while (j + 1 < cum.size() && cum[j + 1] < target) ++j;
        double z = zs[j];
        if (j + 1 < cum.size() && cum[j + 1] > cum[j])
            z = Lerp(zs[j], zs[j + 1], Clamp((target - cum[j]) / (cum[j + 1] - cum[j]), 0.0, 1.0));
        st.push_back(z);
    }
    st.front() = kZFront;
    st.back() = kZRear;
    const double must[] = {kZCowl,       kZRoofFront,      kZRoofTop,      kZRoofRear,
                           kZHatchGlass, kZSideGlassFront, kZPillarBFront, kZPillarBRear};
    std::vector<bool> fixed(st.size(), false);
    fixed.front() = fixed.back() = true;
    for (double m : must) {
        size_t best = 0;
        for (size_t i = 1; i < st.size(); ++i)
            if (std::fabs(st[i] - m) < std::fabs(st[best] - m)) best = i;
        if (fixed[best]) {
            st.push_back(m);
            fixed.push_back(true);
        } else {
            st[best] = m;
            fixed[best] = true;
        }
    }
    std::sort(st.begin(), st.end());
    return st;
}

// ---------------------------------------------------------------------------------------------
// Body texture atlas (1024 x 1024): the body is painted in four projections (side, front, rear,
// top) chosen per triangle by its normal, plus small uniform patches for trim and interior.
static const int kBodyTexSize = 1024;
static const AtlasRegion kSideRg = {4, 4, 1020, 396, -1.95, -0.05, 1.95, 1.45, false};
static const AtlasRegion kFrontRg = {4, 404, 484, 796, -0.92, -0.05, 0.92, 1.45, true};
static const AtlasRegion kRearRg = {516, 404, 996, 796, -0.92, -0.05, 0.92, 1.45, false};
static const AtlasRegion kTopRg = {4, 804, 1020, 1020, -1.95, -0.92, 1.95, 0.92, false};

enum Patch {
    kPatchUnder,
    kPatchWell,
    kPatchInterior,
    kPatchSeat,
    kPatchDash,
    kPatchMirror,
    kPatchPaint,
    kPatchHeadliner,
    kPatchTrim,
    kPatchCount
};

static AtlasRegion PatchRegion(int patch)
{
    int r0 = 404 + 43 * patch;
    return {1000, r0, 1020, r0 + 35, 0.0, 0.0, 1.0, 1.0, false};
}

static V2 PatchUv(int patch)
{
    AtlasRegion rg = PatchRegion(patch);
    return rg.Uv(0.5, 0.5, kBodyTexSize, kBodyTexSize);
}

enum Projection { kProjSide, kProjFront, kProjRear, kProjTop, kProjUnder };

static int ChooseProjection(V3 n)
{
    if (n.y < -0.55) return kProjUnder;
    if (n.y > 0.72) return kProjTop;
    if (std::fabs(n.z) > std::fabs(n.x)) return n.z < 0.0 ? kProjFront : kProjRear;
    return kProjSide;
}

static V2 BodyUv(int proj, V3 p)
{
    switch (proj) {
    case kProjFront:
        return kFrontRg.Uv(p.x, p.y, kBodyTexSize, kBodyTexSize);
    case kProjRear:
        return kRearRg.Uv(p.x, p.y, kBodyTexSize, kBodyTexSize);
    case kProjTop:
        return kTopRg.Uv(p.z, p.x, kBodyTexSize, kBodyTexSize);
    case kProjUnder:
        return PatchUv(kPatchUnder);
    default:
        return kSideRg.Uv(p.z, p.y, kBodyTexSize, kBodyTexSize);
    }
}

static void AddPolyProjected(Mesh& m, const Poly& poly)
{
    for (size_t k = 1; k + 1 < poly.size(); ++k) {
        const PolyVert* v[3] = {&poly[0], &poly[k], &poly[k + 1]};
        int proj = ChooseProjection(Normalize(v[0]->n + v[1]->n + v[2]->n));
        Corner c[3];
        for (int i = 0; i < 3; ++i) c[i] = {v[i]->p, v[i]->n, BodyUv(proj, v[i]->p)};
        AddTri(m, c[0], c[1], c[2]);
    }
}

static void AddPolyUv(Mesh& m, const Poly& poly, V2 uv)
{
    for (size_t k = 1; k + 1 < poly.size(); ++k)
        AddTri(m, {poly[0].p, poly[0].n, uv}, {poly[k].p, poly[k].n, uv},
               {poly[k + 1].p, poly[k + 1].n, uv});
}

// The wheel arch of one wheel: a circle around the axle seen from the side, from the well's
// inner wall outwards.
static std::vector<V2> ArchOutline(double zc)
{
    std::vector<V2> q;
    for (int k = 0; k < kArchSides; ++k) {
        double a = 2.0 * kPi * k / kArchSides;
        q.push_back({zc + kArchRadius * std::cos(a), kAxleY + kArchRadius * std::sin(a)});
    }
    return q;
}

static std::vector<Plane> ArchRegion(double zc, double side)
{
    std::vector<Plane> r = {PlaneGE({side, 0.0, 0.0}, kWellInnerX)};
    std::vector<V2> q = ArchOutline(zc);
    for (size_t k = 0; k < q.size(); ++k) {
        V2 a = q[k], b = q[(k + 1) % q.size()];
        V2 e = b - a; // x holds z, y holds y
        V3 n = {0.0, e.x, -e.y};
        r.push_back({n, -(n.y * a.y + n.z * a.x)});
    }
    return r;
}

struct GlassRegion {
    int band;
    std::vector<Plane> planes;
};

static std::vector<GlassRegion> GlassRegions()
{
    std::vector<GlassRegion> g;
    for (double sx : {1.0, -1.0}) {
        g.push_back({kBandGreenhouse,
                     {PlaneGE({sx, 0.0, 0.0}, 0.0), PlaneGE({0.0, 0.0, 1.0}, kZSideGlassFront),
                      PlaneLE({0.0, 0.0, 1.0}, kZPillarBFront)}});
        // The rear side window's back edge leans forward like the rear window.
        g.push_back({kBandGreenhouse,
                     {PlaneGE({sx, 0.0, 0.0}, 0.0), PlaneGE({0.0, 0.0, 1.0}, kZPillarBRear),
                      PlaneLE({0.0, kQuarterLean, 1.0}, kQuarterEdge)}});
    }
    // Windscreen: narrower than the body at its foot, the pillars converging towards the roof.
    double slope = (0.60 - 0.70) / (kZRoofFront - kZCowl);
    double c = 0.70 - slope * kZCowl;
    g.push_back({kBandTop,
                 {PlaneGE({0.0, 0.0, 1.0}, kZCowl), PlaneLE({0.0, 0.0, 1.0}, kZRoofFront),
                  PlaneLE({1.0, 0.0, -slope}, c), PlaneLE({-1.0, 0.0, -slope}, c)}});
    g.push_back({kBandTop,
                 {PlaneGE({0.0, 0.0, 1.0}, kZRoofRear), PlaneLE({0.0, 0.0, 1.0}, kZHatchGlass),
                  PlaneLE({1.0, 0.0, 0.0}, 0.58), PlaneLE({-1.0, 0.0, 0.0}, 0.58)}});
    return g;
}

// Rounded box (optionally tilted about the x axis), for mirrors and the interior.
static void AddRoundedBox(Mesh& m, V3 centre, V3 half, double r, int n, double tilt,
                          const std::function<V2(V3)>& uvOf)
{
    double ct = std::cos(tilt), st = std::sin(tilt);
    auto place = [&](V3 v) { return V3{v.x, v.y * ct - v.z * st, v.y * st + v.z * ct}; };
    V3 inner = {half.x - r, half.y - r, half.z - r};
    for (int axis = 0; axis < 3; ++axis) {
        for (double sgn : {1.0, -1.0}) {
            std::vector<Corner> grid;
            for (int j = 0; j <= n; ++j) {
                for (int i = 0; i <= n; ++i) {
                    double u = -1.0 + 2.0 * i / n, v = -1.0 + 2.0 * j / n;
                    double f[3];
                    f[axis] = sgn;
                    f[(axis + 1) % 3] = u;
                    f[(axis + 2) % 3] = v;
                    V3 q = {f[0] * half.x, f[1] * half.y, f[2] * half.z};
                    V3 c = {Clamp(q.x, -inner.x, inner.x), Clamp(q.y, -inner.y, inner.y),
                            Clamp(q.z, -inner.z, inner.z)};
                    V3 dir = Normalize(q - c);
                    V3 nrm = place(dir);
                    grid.push_back({centre + place(c + dir * r), nrm, uvOf(nrm)});
                }
            }
            for (int j = 0; j < n; ++j)
                for (int i = 0; i < n; ++i)
                    AddQuad(m, grid[j * (n + 1) + i], grid[j * (n + 1) + i + 1],
                            grid[(j + 1) * (n + 1) + i + 1], grid[(j + 1) * (n + 1) + i]);
        }
    }
}

static void AddPanel(Mesh& m, V3 a, V3 b, V3 c, V3 d, V3 n, V2 uv)
{
    AddQuad(m, {a, n, uv}, {b, n, uv}, {c, n, uv}, {d, n, uv});
}

// What shows through the windows: floor, door linings, seats, dashboard, steering wheel,
// headlining and parcel shelf. The driver sits on the left (-x).
static void AddInterior(Mesh& m)
{
    V2 grey = PatchUv(kPatchInterior), seat = PatchUv(kPatchSeat), dash = PatchUv(kPatchDash);
    V2 liner = PatchUv(kPatchHeadliner);
    auto fixed = [](V2 uv) { return [uv](V3) { return uv; }; };
    const double fy = 0.28;
    AddPanel(m, {-0.74, fy, -0.62}, {0.74, fy, -0.62}, {0.74, fy, 0.70}, {-0.74, fy, 0.70},
             {0, 1, 0}, grey);
    AddPanel(m, {-0.48, fy, 0.70}, {0.48, fy, 0.70}, {0.48, fy, 1.45}, {-0.48, fy, 1.45}, {0, 1, 0},
             grey);
    for (double sx : {1.0, -1.0}) {
        double x = sx * 0.78;
        V3 n = {-sx, 0.0, 0.0};
        AddPanel(m, {x, fy, -0.62}, {x, fy, 0.70}, {x, 0.86, 0.70}, {x, 0.86, -0.62}, n, grey);
        AddPanel(m, {x, 0.74, 0.70}, {x, 0.74, 1.45}, {x, 0.90, 1.45}, {x, 0.90, 0.70}, n, grey);
        // Front seat: cushion, reclined backrest, headrest.
        double cx = sx * 0.38;
        AddRoundedBox(m, {cx, 0.40, 0.08}, {0.22, 0.08, 0.24}, 0.05, 2, 0.0, fixed(seat));
        AddRoundedBox(m, {cx, 0.78, 0.42}, {0.22, 0.32, 0.07}, 0.05, 2, -0.22, fixed(seat));
        AddRoundedBox(m, {cx, 1.15, 0.53}, {0.13, 0.07, 0.05}, 0.03, 1, -0.22, fixed(seat));
        AddRoundedBox(m, {sx * 0.26, 1.05, 1.22}, {0.12, 0.06, 0.05}, 0.03, 1, -0.35, fixed(seat));
    }
    AddRoundedBox(m, {0.0, 0.44, 0.86}, {0.47, 0.08, 0.22}, 0.05, 2, 0.0, fixed(seat));
    AddRoundedBox(m, {0.0, 0.76, 1.14}, {0.47, 0.28, 0.06}, 0.05, 2, -0.35, fixed(seat));
    AddRoundedBox(m, {0.0, 0.76, -0.62}, {0.76, 0.12, 0.16}, 0.06, 2, 0.0, fixed(dash));
    AddPanel(m, {-0.62, 1.31, -0.02}, {0.62, 1.31, -0.02}, {0.62, 1.31, 1.38}, {-0.62, 1.31, 1.38},
             {0, -1, 0}, liner);
    AddPanel(m, {-0.64, 0.95, 1.22}, {0.64, 0.95, 1.22}, {0.64, 0.95, 1.62}, {-0.64, 0.95, 1.62},
             {0, 1, 0}, grey);
    // Steering wheel: a torus facing the driver, tilted back.
    const int seg = 16, tube = 6;
    const double R = 0.16, r = 0.018, tilt = 0.45;
    V3 c0 = {-0.38, 0.86, -0.36};
    auto ring = [&](int i, int j) {
        double a = 2.0 * kPi * i / seg, b = 2.0 * kPi * j / tube;
        V3 dir = {std::cos(a), std::sin(a), 0.0};
        V3 local = dir * (R + r * std::cos(b)) + V3{0.0, 0.0, r * std::sin(b)};
        V3 nl = dir * std::cos(b) + V3{0.0, 0.0, std::sin(b)};
        auto tiltX = [&](V3 v) {
            return V3{v.x, v.y * std::cos(tilt) - v.z * std::sin(tilt),
                      v.y * std::sin(tilt) + v.z * std::cos(tilt)};
        };
        return Corner{c0 + tiltX(local), tiltX(nl), dash};
    };
    for (int i = 0; i < seg; ++i)
        for (int j = 0; j < tube; ++j)
            AddQuad(m, ring(i, j), ring(i + 1, j), ring(i + 1, j + 1), ring(i, j + 1));
}

static void AddMirrors(Mesh& m)
{
    V2 paint = PatchUv(kPatchPaint), glassUv = PatchUv(kPatchMirror);
    for (double sx : {1.0, -1.0}) {
        V3 c = {sx * 0.885, 0.985, -0.655};
        AddRoundedBox(m, c, {0.105, 0.058, 0.045}, 0.035, 2, 0.0,
                      [&](V3 n) { return n.z > 0.9 ? glassUv : paint; });
        // Arm joining the housing to the door.
        AddRoundedBox(m, {sx * 0.785, 0.955, -0.665}, {0.03, 0.02, 0.025}, 0.01, 1, 0.0,
                      [&](V3) { return paint; });
    }
}

// The wheel well behind one arch: its roof (the arch surface, ending in a small lip just proud
// of the flank) and its inner wall.
static void AddWheelWell(Mesh& m, double zc, double side)
{
    V2 uv = PatchUv(kPatchWell);
    std::vector<V2> q = ArchOutline(zc);
    std::vector<V2> above; // the outline above the floor line, in order
    const double floorY = 0.0;
    for (size_t k = 0; k < q.size(); ++k) {
        V2 a = q[k], b = q[(k + 1) % q.size()];
        if (a.y >= floorY) above.push_back(a);
        if ((a.y >= floorY) != (b.y >= floorY))
            above.push_back(Lerp(a, b, (floorY - a.y) / (b.y - a.y)));
    }
    // Start the run where the outline comes up through the floor line.
    size_t start = 0;
    for (size_t k = 0; k < above.size(); ++k) {
        V2 prev = above[(k + above.size() - 1) % above.size()];
        if (std::fabs(above[k].y - floorY) < 1e-12 && std::fabs(prev.y - floorY) < 1e-12 &&
            above[k].x > prev.x) {
            start = k;
        }
    }
    std::rotate(above.begin(), above.begin() + static_cast<long>(start), above.end());
    auto corner = [&](V2 p, double x) {
        V3 pos = {side * x, p.y, p.x};
        V3 n = Normalize({0.0, kAxleY - p.y, zc - p.x});
        return Corner{pos, n, uv};
    };
    for (size_t k = 0; k + 1 < above.size(); ++k) {
        V2 a = above[k], b = above[k + 1];
        double xa = FlankX(a.x, a.y) + 0.012, xb = FlankX(b.x, b.y) + 0.012;
        AddQuad(m, corner(a, kWellInnerX), corner(a, xa), corner(b, xb), corner(b, kWellInnerX));
    }
    Poly wall;
    for (V2 p : above) wall.push_back({{side * kWellInnerX, p.y, p.x}, {side, 0.0, 0.0}});
    AddPolyUv(m, wall, uv);
}

// Builds the car body and its glass: a loft of body sections along z, closed by flat bumper
// faces, with the arches cut out of it and the windows separated from it.
static void BuildCar(Mesh& body, Mesh& glass)
{
    std::vector<double> st = ChooseStations(72);
    const int ns = static_cast<int>(st.size());
    const int ring = 2 * kHalfSegments;
    std::vector<V3> P(ns * ring);
    std::vector<int> bands;
    std::vector<V2> half;
    for (int j = 0; j < ns; ++j) {
        SectionHalf(st[j], half, &bands);
        for (int i = 0; i < ring; ++i) {
            V2 h = i <= kHalfSegments ? half[i] : half[ring - i];
            P[j * ring + i] = {i <= kHalfSegments ? h.x : -h.x, h.y, st[j]};
        }
    }
    auto band = [&](int i) { return i < kHalfSegments ? bands[i] : bands[ring - 1 - i]; };
    auto at = [&](int j, int i) { return P[j * ring + (i % ring + ring) % ring]; };
    // Quad normals (area-weighted) and smooth corner normals that do not blend across creases
    // sharper than about 50 degrees.
    std::vector<V3> qn((ns - 1) * ring);
    for (int j = 0; j + 1 < ns; ++j)
        for (int i = 0; i < ring; ++i)
            qn[j * ring + i] = Cross(at(j, i + 1) - at(j + 1, i), at(j + 1, i + 1) - at(j, i));
    auto cornerNormal = [&](int qj, int qi, int vj, int vi) {
        V3 self = Normalize(qn[qj * ring + qi]);
        V3 sum = {0.0, 0.0, 0.0};
        for (int dj = -1; dj <= 0; ++dj) {
            int j = vj + dj;
            if (j < 0 || j + 1 >= ns) continue;
            for (int di = -1; di <= 0; ++di) {
                int i = ((vi + di) % ring + ring) % ring;
                V3 n = qn[j * ring + i];
                if (Length(n) < 1e-12) continue;
                if (Length(self) > 0.0 && Dot(Normalize(n), self) < 0.64) continue;
                sum = sum + n;
            }
        }
        return Length(sum) > 0.0 ? Normalize(sum) : self;
    };
    std::vector<std::vector<Plane>> arches;
    for (double zc : {kAxleZFront, kAxleZRear})
        for (double side : {1.0, -1.0}) arches.push_back(ArchRegion(zc, side));
    std::vector<GlassRegion> windows = GlassRegions();

    for (int j = 0; j + 1 < ns; ++j) {
        for (int i = 0; i < ring; ++i) {
            PolyVert v00 = {at(j, i), cornerNormal(j, i, j, i)};
            PolyVert v01 = {at(j, i + 1), cornerNormal(j, i, j, i + 1)};
            PolyVert v11 = {at(j + 1, i + 1), cornerNormal(j, i, j + 1, i + 1)};
            PolyVert v10 = {at(j + 1, i), cornerNormal(j, i, j + 1, i)};
            for (const Poly& tri : {Poly{v00, v01, v11}, Poly{v00, v11, v10}}) {
                std::vector<Poly> pieces = {tri}, next;
                for (const std::vector<Plane>& arch : arches) {
                    next.clear();
                    for (const Poly& p : pieces) {
                        Poly in;
                        SplitByRegion(p, arch, in, next);
                    }
                    pieces.swap(next);
                }
                for (const GlassRegion& w : windows) {
                    if (w.band != band(i)) continue;
                    next.clear();
                    for (const Poly& p : pieces) {
                        Poly in;
                        SplitByRegion(p, w.planes, in, next);
                        if (!in.empty()) AddPolyUv(glass, in, {0.0, 0.0});
                    }
                    pieces.swap(next);
                }
                for (const Poly& p : pieces) AddPolyProjected(body, p);
            }
        }
    }
    // Bumper faces closing both ends.
    for (int end = 0; end < 2; ++end) {
        int j = end == 0 ? 0 : ns - 1;
        V3 n = {0.0, 0.0, end == 0 ? -1.0 : 1.0};
        V3 centre = {0.0, 0.0, st[j]};
        for (int i = 0; i < ring; ++i) centre = centre + V3{0.0, at(j, i).y / ring, 0.0};
        Poly fan;
        for (int i = 0; i < ring; ++i) {
            fan = {{centre, n}, {at(j, i), n}, {at(j, i + 1), n}};
            AddPolyProjected(body, fan);
        }
    }
    size_t shell = body.tris.size();
    for (double zc : {kAxleZFront, kAxleZRear})
        for (double side : {1.0, -1.0}) AddWheelWell(body, zc, side);
    size_t wells = body.tris.size();
    AddMirrors(body);
    size_t mirrors = body.tris.size();
    AddInterior(body);
    std::printf("Body: %d stations; shell %zu, wheel wells %zu, mirrors %zu, interior %zu "
                "triangles\n",
                ns, shell, wells - shell, mirrors - wells, body.tris.size() - mirrors);
}

// ---------------------------------------------------------------------------------------------
// The wheel: axle along x through the origin, outer face toward +x, tyre of radius kWheelRadius
// and width 2 kWheelHalfWidth. Five straight spokes stand out of a recessed disc.
static const int kWheelTexSize = 512;
static const int kWheelSegs = 40; // a multiple of 4 keeps the bounding box at exactly +-r
static const int kSpokes = 5;
static const AtlasRegion kTyreRg = {0, 8, 512, 248, 0.0, 0.0, 1.0, 1.0, false};
static const AtlasRegion kRimRg = {0, 256, 256, 512, -0.27, -0.27, 0.27, 0.27, false};
static const AtlasRegion kWheelWallRg = {300, 300, 340, 340, 0.0, 0.0, 1.0, 1.0, false};
static const AtlasRegion kWheelDarkRg = {300, 380, 340, 420, 0.0, 0.0, 1.0, 1.0, false};

static const double kRimRadius = 0.262;
static const double kSpokeOuterR = 0.233, kSpokeInnerR = 0.075;
static const double kRecessX = 0.012, kHubX = 0.128;

static std::vector<V2> TyreProfile()
{
    const double R = kWheelRadius;
    return {{kRimRadius, 0.115}, {0.295, 0.142},      {0.335, 0.150},  {0.372, 0.143},
            {0.3935, 0.120},     {R, 0.095},          {R, 0.032},      {R, -0.032},
            {R, -0.095},         {0.3935, -0.120},    {0.372, -0.143}, {0.335, -0.150},
            {0.295, -0.142},     {kRimRadius, -0.115}};
}

// Cumulative arc length along the tyre profile, 0 at the outer bead, 1 at the inner one.
static std::vector<double> TyreProfileParam(const std::vector<V2>& prof)
{
    std::vector<double> t(prof.size(), 0.0);
    for (size_t i = 1; i < prof.size(); ++i) t[i] = t[i - 1] + Length(prof[i] - prof[i - 1]);
    for (double& v : t) v /= t.back();
    return t;
}

// Normals of a profile (r, x) revolved about the axle: each point averages its two segments'
// normals, the side chosen by the given test.
static std::vector<V2> ProfileNormals(const std::vector<V2>& prof,
                                      const std::function<bool(V2, V2)>& outward)
{
    std::vector<V2> n(prof.size(), V2{0.0, 0.0});
    for (size_t i = 0; i + 1 < prof.size(); ++i) {
        V2 d = prof[i + 1] - prof[i];
        V2 s = V2{d.y, -d.x} * (1.0 / Length(d));
        if (!outward(s, Lerp(prof[i], prof[i + 1], 0.5))) s = s * -1.0;
        n[i] = n[i] + s;
        n[i + 1] = n[i + 1] + s;
    }
    for (V2& v : n) v = v * (1.0 / Length(v));
    return n;
}

static V3 Revolve(double r, double x, double angle)
{
    return {x, r * std::cos(angle), r * std::sin(angle)};
}
static V3 RevolveNormal(V2 n, double angle) // n = (radial, axial)
{
    return Normalize({n.y, n.x * std::cos(angle), n.x * std::sin(angle)});
}

static V2 RimUv(V3 p) { return kRimRg.Uv(p.z, p.y, kWheelTexSize, kWheelTexSize); }

static double SpokeHalfWidth(double r)
{
    return Lerp(0.036, 0.026, (r - kSpokeInnerR) / (kSpokeOuterR - kSpokeInnerR));
}
static double SpokeFaceX(double r)
{
    return 0.100 + (kSpokeOuterR - r) / (kSpokeOuterR - kSpokeInnerR) * 0.028;
}

// Angle of column m (0..kWheelSegs) of the spoke zone at radius r: per spoke, two segments across
// the spoke (its edges are straight lines, so their angle depends on r) and six across the gap.
static double SpokeAngle(int m, double r)
{
    const double period = 2.0 * kPi / kSpokes;
    int s = m / 8, o = m % 8;
    double phi = s * period + 0.5 * kPi;
    double a = std::asin(std::min(0.99, SpokeHalfWidth(r) / r));
    if (o == 0) return phi - a;
    if (o == 1) return phi;
    if (o == 2) return phi + a;
    return phi + a + (o - 2) / 6.0 * (period - 2.0 * a);
}

static void BuildWheel(Mesh& m)
{
    const double step = 2.0 * kPi / kWheelSegs;
    // Tyre.
    std::vector<V2> prof = TyreProfile();
    std::vector<double> pt = TyreProfileParam(prof);
    std::vector<V2> pn =
        ProfileNormals(prof, [](V2 n, V2 mid) { return n.x * (mid.x - 0.33) + n.y * mid.y > 0.0; });
    for (int k = 0; k < kWheelSegs; ++k) {
        for (size_t i = 0; i + 1 < prof.size(); ++i) {
            auto c = [&](int kk, size_t ii) {
                double a = kk * step;
                V2 uv = kTyreRg.Uv(static_cast<double>(kk) / kWheelSegs, 1.0 - pt[ii],
                                   kWheelTexSize, kWheelTexSize);
                return Corner{Revolve(prof[ii].x, prof[ii].y, a), RevolveNormal(pn[ii], a), uv};
            };
            AddQuad(m, c(k, i), c(k + 1, i), c(k + 1, i + 1), c(k, i + 1));
        }
    }
    // Rim lip, from the bead to the spokes' outer ends.
    std::vector<V2> lip = {
        {kRimRadius, 0.115}, {0.250, 0.128}, {kSpokeOuterR, SpokeFaceX(kSpokeOuterR)}};
    std::vector<V2> ln = ProfileNormals(lip, [](V2 n, V2) { return n.y > 0.0; });
    for (int k = 0; k < kWheelSegs; ++k) {
        for (size_t i = 0; i + 1 < lip.size(); ++i) {
            auto c = [&](int kk, size_t ii) {
                double a = ii + 1 == lip.size() ? SpokeAngle(kk, kSpokeOuterR) : kk * step;
                V3 p = Revolve(lip[ii].x, lip[ii].y, a);
                return Corner{p, RevolveNormal(ln[ii], a), RimUv(p)};
            };
            AddQuad(m, c(k, i), c(k + 1, i), c(k + 1, i + 1), c(k, i + 1));
        }
    }
    // Spoke zone: raised spokes, recessed gaps, and the walls between them.
    const double rings[] = {kSpokeOuterR, 0.18, 0.125, kSpokeInnerR};
    const int nr = 4;
    V2 wallUv = kWheelWallRg.Uv(0.5, 0.5, kWheelTexSize, kWheelTexSize);
    for (int m8 = 0; m8 < kWheelSegs; ++m8) {
        bool spoke = m8 % 8 < 2;
        for (int i = 0; i + 1 < nr; ++i) {
            auto c = [&](int mm, int ii) {
                double r = rings[ii], a = SpokeAngle(mm, r);
                double x = spoke ? SpokeFaceX(r) : kRecessX;
                V3 p = Revolve(r, x, a);
                double slope = 0.028 / (kSpokeOuterR - kSpokeInnerR);
                V3 n =
                    spoke
                        ? RevolveNormal(V2{slope, 1.0} * (1.0 / std::sqrt(1.0 + slope * slope)), a)
                        : V3{1.0, 0.0, 0.0};
                return Corner{p, n, RimUv(p)};
            };
            AddQuad(m, c(m8, i), c(m8 + 1, i), c(m8 + 1, i + 1), c(m8, i + 1));
        }
        int o = m8 % 8;
        if (o == 0 || o == 2) {
            // Side wall of a spoke; its normal points into the neighbouring gap.
            double dirSign = o == 0 ? -1.0 : 1.0;
            for (int i = 0; i + 1 < nr; ++i) {
                double ra = rings[i], rb = rings[i + 1];
                double aa = SpokeAngle(m8, ra), ab = SpokeAngle(m8, rb);
                V3 ta = Revolve(ra, SpokeFaceX(ra), aa), tb = Revolve(rb, SpokeFaceX(rb), ab);
                V3 ba = Revolve(ra, kRecessX, aa), bb = Revolve(rb, kRecessX, ab);
                V3 n = Normalize(Cross(tb - ta, {1.0, 0.0, 0.0}));
                V3 tangent = {0.0, -std::sin(aa), std::cos(aa)};
                if (Dot(n, tangent) * dirSign < 0.0) n = n * -1.0;
                AddQuad(m, {ta, n, wallUv}, {tb, n, wallUv}, {bb, n, wallUv}, {ba, n, wallUv});
            }
        }
        if (!spoke) {
            // Walls closing the gap at its outer and inner ends.
            for (int end = 0; end < 2; ++end) {
                double r = end == 0 ? kSpokeOuterR : kSpokeInnerR;
                double top = end == 0 ? SpokeFaceX(kSpokeOuterR) : kHubX;
                double a0 = SpokeAngle(m8, r), a1 = SpokeAngle(m8 + 1, r);
                double ns = end == 0 ? -1.0 : 1.0;
                Corner c0 = {Revolve(r, kRecessX, a0), RevolveNormal({ns, 0.0}, a0), wallUv};
                Corner c1 = {Revolve(r, kRecessX, a1), RevolveNormal({ns, 0.0}, a1), wallUv};
                Corner c2 = {Revolve(r, top, a1), RevolveNormal({ns, 0.0}, a1), wallUv};
                Corner c3 = {Revolve(r, top, a0), RevolveNormal({ns, 0.0}, a0), wallUv};
                AddQuad(m, c0, c1, c2, c3);
            }
        }
    }
    // Hub with a domed centre cap.
    const V2 hub[] = {{kSpokeInnerR, kHubX}, {0.040, 0.135}, {0.0, 0.142}};
    std::vector<V2> hubProf(std::begin(hub), std::end(hub));
    std::vector<V2> hn = ProfileNormals(hubProf, [](V2 n, V2) { return n.y > 0.0; });
    for (int k = 0; k < kWheelSegs; ++k) {
        for (size_t i = 0; i + 1 < hubProf.size(); ++i) {
            auto c = [&](int kk, size_t ii) {
                double a = SpokeAngle(kk, kSpokeInnerR);
                V3 p = Revolve(hubProf[ii].x, hubProf[ii].y, a);
                return Corner{p, RevolveNormal(hn[ii], a), RimUv(p)};
            };
            AddQuad(m, c(k, i), c(k + 1, i), c(k + 1, i + 1), c(k, i + 1));
        }
    }
    // Inner face: a dark disc closing the wheel from the car's side.
    V2 darkUv = kWheelDarkRg.Uv(0.5, 0.5, kWheelTexSize, kWheelTexSize);
    V3 back = {-1.0, 0.0, 0.0};
    for (int k = 0; k < kWheelSegs; ++k) {
        AddTri(m, {{-0.115, 0.0, 0.0}, back, darkUv},
               {Revolve(kRimRadius, -0.115, k * step), back, darkUv},
               {Revolve(kRimRadius, -0.115, (k + 1) * step), back, darkUv});
    }
}

// ---------------------------------------------------------------------------------------------
// Textures.
static const V3 kPaint = {0.56, 0.045, 0.06};
static const V3 kBlack = {0.035, 0.035, 0.038};
static const V3 kChrome = {0.80, 0.81, 0.83};

static V3 PaintColour(double b, int x, int y)
{
    // Metallic flake and a faint vertical gradient; the renderer's lighting does the rest.
    double flake = (Rand01(static_cast<uint32_t>(x), static_cast<uint32_t>(y), 7U) - 0.5) * 0.05;
    double grad = 0.92 + 0.10 * SmoothStep(0.0, 1.2, b);
    return kPaint * (grad + flake);
}

static void Line(Canvas& cv, const AtlasRegion& rg, V2 p, V2 q, double w, V3 col,
                 double alpha = 1.0)
{
    PaintSdf(
        cv, rg, std::min(p.x, q.x) - w, std::min(p.y, q.y) - w, std::max(p.x, q.x) + w,
        std::max(p.y, q.y) + w, [&](double a, double b) { return SdSegment(a, b, p, q, w); }, col,
        alpha);
}

static void Polyline(Canvas& cv, const AtlasRegion& rg, const std::vector<V2>& pts, double w,
                     V3 col, double alpha = 1.0)
{
    for (size_t i = 0; i + 1 < pts.size(); ++i) Line(cv, rg, pts[i], pts[i + 1], w, col, alpha);
}

static void Box(Canvas& cv, const AtlasRegion& rg, double ca, double cb, double ha, double hb,
                double r, V3 col, double alpha = 1.0)
{
    PaintSdf(
        cv, rg, ca - ha, cb - hb, ca + ha, cb + hb,
        [&](double a, double b) { return SdBox(a, b, ca, cb, ha, hb, r); }, col, alpha);
}

static void Disc(Canvas& cv, const AtlasRegion& rg, double ca, double cb, double r, V3 col,
                 double alpha = 1.0)
{
    PaintSdf(
        cv, rg, ca - r, cb - r, ca + r, cb + r,
        [&](double a, double b) { return SdCircle(a, b, ca, cb, r); }, col, alpha);
}

static void Ring(Canvas& cv, const AtlasRegion& rg, double ca, double cb, double r, double w,
                 V3 col, double alpha = 1.0)
{
    PaintSdf(
        cv, rg, ca - r - w, cb - r - w, ca + r + w, cb + r + w,
        [&](double a, double b) { return std::fabs(SdCircle(a, b, ca, cb, r)) - w; }, col, alpha);
}

static void Shape(Canvas& cv, const AtlasRegion& rg, const std::vector<V2>& poly, V3 col,
                  double grow = 0.0, double alpha = 1.0)
{
    double a0 = 1e9, b0 = 1e9, a1 = -1e9, b1 = -1e9;
    for (V2 p : poly) {
        a0 = std::min(a0, p.x);
        a1 = std::max(a1, p.x);
        b0 = std::min(b0, p.y);
        b1 = std::max(b1, p.y);
    }
    PaintSdf(
        cv, rg, a0 - grow, b0 - grow, a1 + grow, b1 + grow,
        [&](double a, double b) { return SdPolygon(a, b, poly) - grow; }, col, alpha);
}

static void NumberPlate(Canvas& cv, const AtlasRegion& rg, double cb, const char* text)
{
    Box(cv, rg, 0.0, cb, 0.275, 0.068, 0.012, kBlack * 0.6);
    Box(cv, rg, 0.0, cb, 0.26, 0.056, 0.008, Grey(0.90));
    Box(cv, rg, 0.0, cb, 0.252, 0.048, 0.006, Grey(0.08));
    Box(cv, rg, 0.0, cb, 0.246, 0.042, 0.004, Grey(0.93));
    PaintText(cv, rg, text, 0.0, cb, 0.0082, Grey(0.06));
}

// Headlight of the +x side in front view coordinates (x, y).
static void Headlight(Canvas& cv, const AtlasRegion& rg, double sx)
{
    std::vector<V2> lens = {{0.37, 0.545},  {0.80, 0.565}, {0.815, 0.625},
                            {0.795, 0.705}, {0.39, 0.692}, {0.36, 0.62}};
    for (V2& p : lens) p.x *= sx;
    Shape(cv, rg, lens, kBlack, 0.012);
    Shape(cv, rg, lens, {0.70, 0.73, 0.76});
    PaintSdf(
        cv, rg, -0.9, 0.5, 0.9, 0.75,
        [&](double a, double b) { return std::max(SdPolygon(a, b, lens), -(b - 0.66)); },
        Grey(0.95), 0.35);
    for (int k = 0; k < 2; ++k) {
        double ca = sx * (k == 0 ? 0.50 : 0.645), r = k == 0 ? 0.056 : 0.046;
        Disc(cv, rg, ca, 0.622, r + 0.008, Grey(0.45));
        for (int s = 0; s < 8; ++s) {
            double rr = r * (1.0 - s / 8.0);
            Disc(cv, rg, ca, 0.622, rr, Grey(0.60 + 0.045 * s));
        }
        Disc(cv, rg, ca, 0.622, r * 0.28, {1.0, 1.0, 0.96});
        Ring(cv, rg, ca, 0.622, r, 0.004, kChrome);
    }
    Box(cv, rg, sx * 0.762, 0.630, 0.026, 0.05, 0.01, {0.95, 0.55, 0.10});
    Box(cv, rg, sx * 0.762, 0.630, 0.018, 0.04, 0.008, {1.0, 0.72, 0.30}, 0.6);
}

static void TailLight(Canvas& cv, const AtlasRegion& rg, double sx)
{
    std::vector<V2> lens = {
        {0.50, 0.70}, {0.865, 0.725}, {0.87, 0.935}, {0.53, 0.925}, {0.495, 0.82}};
    for (V2& p : lens) p.x *= sx;
    Shape(cv, rg, lens, kBlack, 0.01);
    Shape(cv, rg, lens, {0.62, 0.03, 0.04});
    for (int k = 0; k < 3; ++k) {
        double ca = sx * (0.64 + 0.09 * k);
        Disc(cv, rg, ca, 0.83, 0.05, {0.45, 0.02, 0.03});
        Ring(cv, rg, ca, 0.83, 0.05, 0.006, {0.85, 0.12, 0.10});
        Disc(cv, rg, ca, 0.83, 0.018, {0.95, 0.25, 0.20});
    }
    Box(cv, rg, sx * 0.565, 0.80, 0.032, 0.045, 0.01, Grey(0.88));
    Box(cv, rg, sx * 0.565, 0.80, 0.022, 0.032, 0.006, Grey(0.97));
    Box(cv, rg, sx * 0.80, 0.745, 0.05, 0.014, 0.005, {0.95, 0.55, 0.10});
}

static void PaintBodyTexture(Canvas& cv)
{
    // --- Side view (z, y), shared by both flanks.
    const AtlasRegion& sd = kSideRg;
    PaintField(cv, sd, [](double, double b, int x, int y, V3& c) { c = PaintColour(b, x, y); });
    auto belt = [](double z) { return ShapeAt(z).ySh; };
    auto roofEdge = [](double z) { return ShapeAt(z).yR; };
    // Greenhouse: black window surround, body-coloured pillars and rails.
    PaintField(cv, sd, [&](double a, double b, int, int, V3& c) {
        if (a < kZCowl - 0.02 || a > kZHatchGlass) return;
        // The body shows here only around the glass; keep clear of the roof rail, which the
        // chords between stations bring slightly below the curve it follows.
        double yb = belt(a), yr = roofEdge(a);
        if (b < yb - 0.012 || b > yr - 0.015) return;
        bool pillarB = a > kZPillarBFront - 0.01 && a < kZPillarBRear + 0.01;
        bool sail = a < kZSideGlassFront + 0.01;
        bool seal = b < yb + 0.004 && a + kQuarterLean * b <= kQuarterEdge + 0.01;
        if (pillarB || sail || seal) c = kBlack;
    });
    // Rear edge seal of the rear side window.
    Line(cv, sd, {kQuarterEdge - kQuarterLean * 0.9, 0.9}, {kQuarterEdge - kQuarterLean * 1.3, 1.3},
         0.007, kBlack);
    // Shoulder crease: a highlight over a shadow, following the window line.
    std::vector<V2> creaseHi, creaseLo;
    for (int k = 0; k <= 60; ++k) {
        double z = Lerp(-1.78, 1.80, k / 60.0);
        double y = std::min(kBeltLine(z), ShapeAt(z).ySh) - 0.10;
        creaseHi.push_back({z, y});
        creaseLo.push_back({z, y - 0.009});
    }
    Polyline(cv, sd, creaseHi, 0.004, kPaint * 1.35, 0.8);
    Polyline(cv, sd, creaseLo, 0.004, kPaint * 0.62, 0.8);
    // Sills and bumper lower edges in black plastic, rubbing strip along the doors.
    PaintField(cv, sd, [](double a, double b, int, int, V3& c) {
        double sill = 0.075 + 0.09 * SmoothStep(1.62, 1.78, std::fabs(a));
        if (b < sill) c = kBlack * 1.6;
    });
    Box(cv, sd, 0.06, 0.425, 0.66, 0.018, 0.018, kBlack * 1.8);
    Line(cv, sd, {-0.60, 0.437}, {0.72, 0.437}, 0.002, Grey(0.25));
    // Wheel arch edges.
    for (double zc : {kAxleZFront, kAxleZRear}) {
        Ring(cv, sd, zc, kAxleY, kArchRadius + 0.01, 0.012, kBlack, 0.55);
    }
    // Door shut lines and handles.
    const V3 gap = {0.10, 0.01, 0.015};
    const double w = 0.0035;
    Line(cv, sd, {-0.585, 0.082}, {-0.585, belt(-0.585)}, w, gap);
    Line(cv, sd, {0.27, 0.082}, {0.27, belt(0.27)}, w, gap);
    Line(cv, sd, {-0.585, 0.082}, {0.70, 0.082}, w, gap);
    std::vector<V2> rearDoor = {{0.98, belt(0.98)}, {0.98, 0.72}};
    for (int k = 0; k <= 16; ++k) {
        double ang = std::acos((0.98 - kAxleZRear) / 0.51);
        double a1 = kPi - std::asin((0.082 - kAxleY) / 0.51);
        double t = Lerp(ang, a1, k / 16.0);
        rearDoor.push_back({kAxleZRear + 0.51 * std::cos(t), kAxleY + 0.51 * std::sin(t)});
    }
    Polyline(cv, sd, rearDoor, w, gap);
    for (double z : {0.10, 0.82}) {
        double yb = belt(z) - 0.075;
        Box(cv, sd, z, yb, 0.062, 0.014, 0.012, kPaint * 0.55);
        Box(cv, sd, z, yb + 0.004, 0.055, 0.007, 0.006, kPaint * 1.25);
    }
    // Bumper seams, fuel flap, side indicator.
    Line(cv, sd, {-1.70, 0.10}, {-1.72, 0.56}, w, gap);
    Line(cv, sd, {1.70, 0.12}, {1.72, 0.50}, w, gap);
    Ring(cv, sd, 1.50, 0.74, 0.058, w, gap);
    Box(cv, sd, -1.30, 0.745, 0.035, 0.012, 0.012, {0.95, 0.55, 0.12});
    // Head and tail lights wrapping round the corners.
    Box(cv, sd, -1.86, 0.635, 0.055, 0.06, 0.02, {0.70, 0.73, 0.76});
    Box(cv, sd, -1.87, 0.635, 0.02, 0.03, 0.01, {0.95, 0.55, 0.10});
    Box(cv, sd, 1.86, 0.83, 0.05, 0.085, 0.02, {0.62, 0.03, 0.04});
    Box(cv, sd, 1.865, 0.745, 0.03, 0.012, 0.004, {0.95, 0.55, 0.10});

    // --- Front view (x, y), as seen from ahead of the car.
    const AtlasRegion& fr = kFrontRg;
    PaintField(cv, fr, [](double, double b, int x, int y, V3& c) { c = PaintColour(b, x, y); });
    Box(cv, fr, 0.0, 0.10, 0.95, 0.06, 0.0, kBlack * 1.6); // lower lip
    Box(cv, fr, 0.0, 0.228, 0.50, 0.066, 0.04, kBlack);    // air intake
    PaintField(cv, fr, [](double a, double b, int, int, V3& c) {
        if (SdBox(a, b, 0.0, 0.228, 0.49, 0.056, 0.035) > 0.0) return;
        double u = a * 55.0, v = b * 55.0 + 0.5 * std::floor(u);
        double cell = std::min(std::fabs(u - std::round(u)), std::fabs(v - std::round(v)));
        if (cell < 0.12) c = Grey(0.16);
    });
    for (double sx : {1.0, -1.0}) {
        Disc(cv, fr, sx * 0.63, 0.232, 0.06, kBlack);
        Disc(cv, fr, sx * 0.63, 0.232, 0.042, Grey(0.75));
        Disc(cv, fr, sx * 0.63, 0.232, 0.02, Grey(0.95));
    }
    NumberPlate(cv, fr, 0.39, "KRV 3D 75");
    Line(cv, fr, {-0.72, 0.478}, {0.72, 0.478}, 0.004, kPaint * 0.6);
    // Grille with chrome bars and a round badge.
    Box(cv, fr, 0.0, 0.605, 0.345, 0.078, 0.025, kBlack);
    for (double y : {0.57, 0.605, 0.64}) Box(cv, fr, 0.0, y, 0.33, 0.006, 0.004, Grey(0.22));
    Box(cv, fr, 0.0, 0.672, 0.345, 0.006, 0.004, kChrome);
    Disc(cv, fr, 0.0, 0.610, 0.052, kChrome);
    Disc(cv, fr, 0.0, 0.610, 0.042, {0.08, 0.10, 0.18});
    Box(cv, fr, 0.0, 0.610, 0.030, 0.006, 0.003, kChrome);
    Disc(cv, fr, 0.0, 0.610, 0.012, kChrome);
    Headlight(cv, fr, 1.0);
    Headlight(cv, fr, -1.0);

    // --- Rear view (x, y), as seen from behind.
    const AtlasRegion& rr = kRearRg;
    PaintField(cv, rr, [](double, double b, int x, int y, V3& c) { c = PaintColour(b, x, y); });
    Box(cv, rr, 0.0, 0.08, 0.95, 0.088, 0.0, kBlack * 1.6); // diffuser
    for (double sx : {1.0, -1.0})
        Box(cv, rr, sx * 0.66, 0.30, 0.08, 0.016, 0.008, {0.55, 0.03, 0.03});
    Disc(cv, rr, -0.50, 0.17, 0.05, Grey(0.55));
    Disc(cv, rr, -0.50, 0.17, 0.038, Grey(0.06));
    Line(cv, rr, {-0.80, 0.478}, {0.80, 0.478}, 0.004, kPaint * 0.6);
    Line(cv, rr, {-0.50, 0.495}, {0.50, 0.495}, 0.0035, {0.10, 0.01, 0.015});
    for (double sx : {1.0, -1.0})
        Line(cv, rr, {sx * 0.50, 0.495}, {sx * 0.50, 1.0}, 0.0035, {0.10, 0.01, 0.015});
    Box(cv, rr, 0.0, 0.585, 0.30, 0.085, 0.02, kPaint * 0.7); // plate recess
    NumberPlate(cv, rr, 0.585, "KRV 3D 75");
    Disc(cv, rr, 0.0, 0.74, 0.045, kChrome);
    Disc(cv, rr, 0.0, 0.74, 0.036, {0.08, 0.10, 0.18});
    Box(cv, rr, 0.0, 0.74, 0.022, 0.005, 0.003, kChrome);
    TailLight(cv, rr, 1.0);
    TailLight(cv, rr, -1.0);
    Box(cv, rr, 0.0, 1.0, 0.50, 0.012, 0.0, kBlack); // rear window seal

    // --- Top view (z, x): bonnet shut lines, scuttle panel, roof aerial.
    const AtlasRegion& tp = kTopRg;
    PaintField(cv, tp, [](double, double b, int x, int y, V3& c) {
        c = PaintColour(1.2 - 0.3 * std::fabs(b), x, y);
    });
    Box(cv, tp, kZCowl - 0.025, 0.0, 0.025, 0.74, 0.0, kBlack);
    for (double sx : {1.0, -1.0})
        Line(cv, tp, {-1.78, sx * 0.74}, {kZCowl - 0.08, sx * 0.74}, 0.0035, {0.10, 0.01, 0.015});
    Box(cv, tp, 1.28, 0.0, 0.07, 0.012, 0.012, kBlack);
    Box(cv, tp, 1.28, 0.0, 0.05, 0.006, 0.006, Grey(0.2));

    // --- Uniform patches.
    const V3 patch[kPatchCount] = {Grey(0.07), Grey(0.025),        Grey(0.20), {0.16, 0.16, 0.18},
                                   Grey(0.08), {0.62, 0.68, 0.74}, kPaint,     Grey(0.62),
                                   kBlack};
    for (int p = 0; p < kPatchCount; ++p) {
        AtlasRegion rg = PatchRegion(p);
        PaintField(cv, rg, [&](double, double, int x, int y, V3& c) {
            double grain =
                (Rand01(static_cast<uint32_t>(x), static_cast<uint32_t>(y), 11U) - 0.5) * 0.02;
            c = patch[p] * (1.0 + grain);
        });
    }
}

static void PaintWheelTexture(Canvas& cv, const std::vector<double>& profileParam)
{
    // Tyre: a = position round the wheel (0..1), b = 1 - position across the profile.
    // Tread edges: the first and last profile points on the full radius.
    std::vector<V2> prof = TyreProfile();
    size_t first = 0, last = 0;
    for (size_t i = 0; i < prof.size(); ++i) {
        if (prof[i].x < kWheelRadius) continue;
        if (!first) first = i;
        last = i;
    }
    const double tTread0 = profileParam[first], tTread1 = profileParam[last];
    const double tSideOut = profileParam[2];
    PaintField(cv, kTyreRg, [&](double a, double b, int x, int y, V3& c) {
        double t = 1.0 - b;
        double n = Fbm(a * 64.0, t * 16.0, 64, 3, 21U);
        double rubber = 0.075 + 0.03 * n;
        if (t > tTread0 && t < tTread1) {
            double s = (t - tTread0) / (tTread1 - tTread0); // across the tread, 0..1
            double u = a * 60.0;                            // 60 blocks round the tyre
            double zig = 0.08 * std::fabs(std::fmod(u * 2.0, 2.0) - 1.0);
            double grooveLong = std::min(
                {std::fabs(s - 0.25 - zig), std::fabs(s - 0.5), std::fabs(s - 0.75 + zig)});
            double lateral = std::fabs(std::fmod(u + 0.6 * s + 10.0, 1.0) - 0.5);
            bool groove = grooveLong < 0.03 || (lateral > 0.46 && (s < 0.25 || s > 0.75));
            bool sipe = lateral > 0.47 && s > 0.25 && s < 0.75;
            rubber = groove ? 0.025 : (sipe ? 0.05 : 0.11 + 0.03 * n);
        } else if (std::fabs(t - tTread0) < 0.03 || std::fabs(t - tTread1) < 0.03) {
            rubber = 0.09 + 0.02 * n;
        }
        double grain =
            (Rand01(static_cast<uint32_t>(x), static_cast<uint32_t>(y), 5U) - 0.5) * 0.015;
        c = Grey(rubber + grain);
    });
    // Lettering on the outer sidewall, twice round.
    for (int k = 0; k < 2; ++k) {
        AtlasRegion rg = kTyreRg;
        PaintText(cv, rg, "195/65 R15 91H", 0.25 + 0.5 * k, 1.0 - tSideOut, 0.0032, Grey(0.16));
        Box(cv, rg, 0.5 * k + 0.05, 1.0 - tSideOut, 0.015, 0.012, 0.004, Grey(0.15));
    }
    // Rim face in the plane of the wheel (a = z, b = y).
    PaintField(cv, kRimRg, [&](double a, double b, int x, int y, V3& c) {
        double r = std::sqrt(a * a + b * b);
        double ang = std::atan2(a, b); // angle of Revolve: y = r cos, z = r sin
        double grain =
            (Rand01(static_cast<uint32_t>(x), static_cast<uint32_t>(y), 9U) - 0.5) * 0.03;
        if (r > kRimRadius + 0.004) {
            c = Grey(0.06);
            return;
        }
        if (r > kSpokeOuterR - 0.002) {
            c = Grey(0.86 + 0.06 * std::cos(ang * 2.0) + grain);
            return;
        }
        if (r < kSpokeInnerR + 0.002) {
            c = Grey(0.74 + 0.08 * (r / kSpokeInnerR) + grain);
            if (r < 0.040) c = Grey(0.30 + grain);
            if (r < 0.030) c = {0.10, 0.12, 0.20};
            if (std::fabs(r - 0.022) < 0.003) c = Grey(0.85);
            for (int s = 0; s < kSpokes; ++s) {
                double ba = 0.5 * kPi + (s + 0.5) * 2.0 * kPi / kSpokes;
                double bz = 0.056 * std::sin(ba), by = 0.056 * std::cos(ba);
                double d = std::sqrt((a - bz) * (a - bz) + (b - by) * (b - by));
                if (d < 0.011) c = Grey(0.25);
                if (d < 0.007) c = Grey(0.62);
            }
            return;
        }
        // Spoke or gap, decided exactly as the geometry does.
        double period = 2.0 * kPi / kSpokes;
        double rel =
            std::fmod(ang - 0.5 * kPi + 10.0 * period + 0.5 * period, period) - 0.5 * period;
        double half = std::asin(std::min(0.99, SpokeHalfWidth(r) / r));
        if (std::fabs(rel) < half) {
            double edge = (half - std::fabs(rel)) * r;
            c = Grey(0.70 + 0.12 * (1.0 - r / kSpokeOuterR) + grain);
            if (edge < 0.004) c = Grey(0.55);
        } else {
            // Brake disc and calliper behind the gaps.
            c = Grey(0.05);
            if (r > 0.10 && r < 0.21) c = Grey(0.30 + 0.05 * std::sin(r * 400.0) + grain);
            double ca = std::fmod(ang + 2.0 * kPi, 2.0 * kPi);
            if (r > 0.15 && r < 0.222 && ca > 1.9 && ca < 2.5) c = {0.55, 0.06, 0.05};
        }
    });
    PaintField(cv, kWheelWallRg, [](double, double, int, int, V3& c) { c = Grey(0.50); });
    PaintField(cv, kWheelDarkRg, [](double, double, int, int, V3& c) { c = Grey(0.05); });
}

// Floor: 2 x 2 polished stone tiles with grout. The picture's edges fall in the grout, and the
// stone's pattern is per tile (noise offset by the tile), so the repeated texture shows no seams.
static void PaintFloorTexture(Canvas& cv)
{
    const int n = cv.w, tiles = 2, tile = n / tiles;
    const double grout = 3.0;
    for (int y = 0; y < n; ++y) {
        for (int x = 0; x < n; ++x) {
            int tx = x / tile, ty = y / tile;
            uint32_t id = static_cast<uint32_t>(ty * tiles + tx);
            double fx = x % tile + 0.5, fy = y % tile + 0.5;
            double edge = std::min({fx, fy, tile - fx, tile - fy});
            double u = fx / tile + 3.0 * Rand01(id, 1U, 51U),
                   v = fy / tile + 3.0 * Rand01(id, 2U, 51U);
            double mottled = Fbm(u * 3.0, v * 3.0, 64, 5, 31U);
            double fine = Fbm(u * 40.0, v * 40.0, 256, 2, 37U);
            double warp = Fbm(u * 2.5 + 7.0, v * 2.5, 64, 3, 43U);
            double w = Fbm(u * 1.6 + 1.8 * warp, v * 0.9 + 1.2 * warp, 64, 5, 41U);
            double vein = std::exp(-std::pow((w - 0.5) / 0.010, 2.0));
            double vein2 = std::exp(-std::pow((w - 0.62) / 0.006, 2.0));
            double tint = Rand01(id, 3U, 53U) - 0.5;
            V3 light = {0.78, 0.74, 0.67}, dark = {0.67, 0.64, 0.59};
            V3 c = Lerp(dark, light, SmoothStep(0.25, 0.75, mottled));
            c = c * (0.95 + 0.07 * tint) + V3{0.015 * tint, 0.0, -0.015 * tint};
            c = c * (0.97 + 0.06 * (fine - 0.5));
            c = Lerp(c, V3{0.48, 0.46, 0.43}, 0.35 * vein + 0.2 * vein2);
            if (Rand01(static_cast<uint32_t>(x), static_cast<uint32_t>(y), 57U) > 0.996)
                c = c * 0.85;
            c = c * (0.88 + 0.12 * SmoothStep(grout, grout + 6.0, edge));
            if (edge < grout) {
                double g = 0.34 + 0.06 * fine;
                c = {g, g * 0.97, g * 0.93};
            }
            cv.Put(x, y, c);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Reading back. The files are parsed the way the demo's reader takes them (positions, texture
// coordinates, normals, triangles with all three indices), into one record per triangle corner.
struct Loaded {
    std::vector<V3> pos, nrm;
    std::vector<V2> uv;
    std::string texture; // from the MTL's map_Ka line, "" when none
};

static bool ReadFile(const std::string& path, std::string& text)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    text.clear();
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0) text.append(buf, n);
    std::fclose(f);
    return true;
}

static bool ParseObj(const std::string& dir, const std::string& name, Loaded& out, std::string& err)
{
    std::string text;
    if (!ReadFile(dir + name, text)) {
        err = "cannot read " + name;
        return false;
    }
    std::vector<V3> v, vn;
    std::vector<V2> vt;
    std::vector<int> idx;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        double a, b, c;
        int f[9];
        if (line.rfind("mtllib ", 0) == 0) {
            std::string mtl;
            if (!ReadFile(dir + line.substr(7), mtl)) {
                err = "cannot read " + line.substr(7);
                return false;
            }
            size_t p = mtl.find("map_Ka ");
            if (p != std::string::npos) {
                size_t e = mtl.find('\n', p);
                out.texture = mtl.substr(p + 7, e == std::string::npos ? e : e - p - 7);
            }
        } else if (std::sscanf(line.c_str(), "v %lf %lf %lf", &a, &b, &c) == 3) {
            v.push_back({a, b, c});
        } else if (std::sscanf(line.c_str(), "vt %lf %lf", &a, &b) == 2) {
            vt.push_back({a, b});
        } else if (std::sscanf(line.c_str(), "vn %lf %lf %lf", &a, &b, &c) == 3) {
            vn.push_back({a, b, c});
        } else if (line.rfind("f ", 0) == 0) {
            if (std::sscanf(line.c_str(), "f %d/%d/%d %d/%d/%d %d/%d/%d", &f[0], &f[1], &f[2],
                            &f[3], &f[4], &f[5], &f[6], &f[7], &f[8]) != 9) {
                err = "face line not in the form f a/b/c a/b/c a/b/c: " + line;
                return false;
            }
            idx.insert(idx.end(), f, f + 9);
        }
    }
    for (size_t i = 0; i < idx.size(); i += 3) {
        int p = idx[i], t = idx[i + 1], n = idx[i + 2];
        if (p < 1 || p > static_cast<int>(v.size()) || t < 1 || t > static_cast<int>(vt.size()) ||
            n < 1 || n > static_cast<int>(vn.size())) {
            err = "face index out of range in " + name;
            return false;
        }
        if (std::fabs(Length(vn[n - 1]) - 1.0) > 1e-3) {
            err = "normal not of unit length in " + name;
            return false;
        }
        out.pos.push_back(v[p - 1]);
        out.uv.push_back(vt[t - 1]);
        out.nrm.push_back(vn[n - 1]);
    }
    if (out.pos.empty()) {
        err = "no faces in " + name;
        return false;
    }
    return true;
}

struct Box3 {
    V3 lo = {1e30, 1e30, 1e30}, hi = {-1e30, -1e30, -1e30};
    void Add(V3 p)
    {
        lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
        hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
    }
    V3 Centre() const { return (lo + hi) * 0.5; }
    V3 Size() const { return hi - lo; }
};

static Box3 Bounds(const std::vector<V3>& pts)
{
    Box3 b;
    for (V3 p : pts) b.Add(p);
    return b;
}

// The demo's placement: rotate about y, translate by (dx - cx, ty, dz - cz) with cx, cz the
// centre of the rotated bounds, scale by s.
static void Place(Loaded& m, double angleDeg, double dx, double ty, double dz, double s)
{
    double a = angleDeg * kPi / 180.0, c = std::cos(a), sn = std::sin(a);
    auto rot = [&](V3 p) { return V3{p.x * c + p.z * sn, p.y, -p.x * sn + p.z * c}; };
    for (V3& p : m.pos) p = rot(p);
    for (V3& n : m.nrm) n = rot(n);
    Box3 b = Bounds(m.pos);
    V3 t = {dx - b.Centre().x, ty, dz - b.Centre().z};
    for (V3& p : m.pos) p = (p + t) * s;
}

// ---------------------------------------------------------------------------------------------
// Preview: a minimal z-buffered rasterizer with Lambert shading.
struct Picture {
    int w = 0, h = 0;
    std::vector<V3> px; // row 0 = bottom, as FreeImage stores it
};

static bool LoadPicture(const std::string& path, Picture& pic)
{
    FREE_IMAGE_FORMAT fif = FreeImage_GetFileType(path.c_str(), 0);
    if (fif == FIF_UNKNOWN) return false;
    FIBITMAP* bmp = FreeImage_Load(fif, path.c_str(), 0);
    if (!bmp) return false;
    bool ok = FreeImage_GetBPP(bmp) == 24;
    if (ok) {
        pic.w = static_cast<int>(FreeImage_GetWidth(bmp));
        pic.h = static_cast<int>(FreeImage_GetHeight(bmp));
        pic.px.resize(pic.w * pic.h);
        for (int y = 0; y < pic.h; ++y) {
            BYTE* row = FreeImage_GetScanLine(bmp, y);
            for (int x = 0; x < pic.w; ++x)
                pic.px[y * pic.w + x] =
                    V3{row[x * 3 + FI_RGBA_RED] / 255.0, row[x * 3 + FI_RGBA_GREEN] / 255.0,
                       row[x * 3 + FI_RGBA_BLUE] / 255.0};
        }
    }
    FreeImage_Unload(bmp);
    return ok;
}

// Bilinear lookup with wrap-around, the texture's v = 0 at its bottom row.
static V3 Sample(const Picture& t, V2 uv)
{
    double u = uv.x - std::floor(uv.x), v = uv.y - std::floor(uv.y);
    double gx = u * t.w - 0.5, gy = v * t.h - 0.5;
    double fx = std::floor(gx), fy = std::floor(gy);
    int x0 = WrapIndex(TruncToInt(fx), t.w), y0 = WrapIndex(TruncToInt(fy), t.h);
    int x1 = (x0 + 1) % t.w, y1 = (y0 + 1) % t.h;
    double ax = gx - fx, ay = gy - fy;
    V3 a = Lerp(t.px[y0 * t.w + x0], t.px[y0 * t.w + x1], ax);
    V3 b = Lerp(t.px[y1 * t.w + x0], t.px[y1 * t.w + x1], ax);
    return Lerp(a, b, ay);
}

struct Camera {
    bool persp;
    V3 eye, fwd, right, up;
    double scale; // pixels per unit (orthographic) or focal length in pixels
    int x0, y0, w, h;
};

static Camera LookAt(V3 eye, V3 target, double focal, int x0, int y0, int w, int h)
{
    V3 f = Normalize(target - eye);
    V3 r = Normalize(Cross(f, {0.0, 1.0, 0.0}));
    return {true, eye, f, r, Cross(r, f), focal, x0, y0, w, h};
}

struct Frame {
    int w, h;
    std::vector<V3> c;
    std::vector<double> z;
};

static const V3 kLightDir = Normalize({0.45, 0.8, 0.4});

static void DrawMesh(Frame& f, const Camera& cam, const Loaded& m, const Picture* tex, V3 tint,
                     double alpha)
{
    struct SV {
        double x, y, depth, iw;
    };
    auto project = [&](V3 p, SV& s) {
        V3 rel = p - cam.eye;
        double d = Dot(rel, cam.fwd);
        if (cam.persp) {
            if (d < 0.05) return false;
            s = {cam.x0 + cam.w * 0.5 + cam.scale * Dot(rel, cam.right) / d,
                 cam.y0 + cam.h * 0.5 - cam.scale * Dot(rel, cam.up) / d, d, 1.0 / d};
        } else {
            s = {cam.x0 + cam.w * 0.5 + cam.scale * Dot(rel, cam.right),
                 cam.y0 + cam.h * 0.5 - cam.scale * Dot(rel, cam.up), d, 1.0};
        }
        return true;
    };
    for (size_t t = 0; t + 2 < m.pos.size(); t += 3) {
        SV s[3];
        if (!project(m.pos[t], s[0]) || !project(m.pos[t + 1], s[1]) ||
            !project(m.pos[t + 2], s[2]))
            continue;
        double area = (s[1].x - s[0].x) * (s[2].y - s[0].y) - (s[2].x - s[0].x) * (s[1].y - s[0].y);
        if (std::fabs(area) < 1e-12) continue;
        int xa = std::max(cam.x0, TruncToInt(std::floor(std::min({s[0].x, s[1].x, s[2].x}))));
        int xb =
            std::min(cam.x0 + cam.w - 1, TruncToInt(std::ceil(std::max({s[0].x, s[1].x, s[2].x}))));
        int ya = std::max(cam.y0, TruncToInt(std::floor(std::min({s[0].y, s[1].y, s[2].y}))));
        int yb =
            std::min(cam.y0 + cam.h - 1, TruncToInt(std::ceil(std::max({s[0].y, s[1].y, s[2].y}))));
        for (int y = ya; y <= yb; ++y) {
            for (int x = xa; x <= xb; ++x) {
                double px = x + 0.5, py = y + 0.5;
                double b0 = ((s[1].x - px) * (s[2].y - py) - (s[2].x - px) * (s[1].y - py)) / area;
                double b1 = ((s[2].x - px) * (s[0].y - py) - (s[0].x - px) * (s[2].y - py)) / area;
                double b2 = 1.0 - b0 - b1;
                if (b0 < 0.0 || b1 < 0.0 || b2 < 0.0) continue;
                double iw = b0 * s[0].iw + b1 * s[1].iw + b2 * s[2].iw;
                double w0 = b0 * s[0].iw / iw, w1 = b1 * s[1].iw / iw, w2 = b2 * s[2].iw / iw;
                double depth =
                    cam.persp ? 1.0 / iw : b0 * s[0].depth + b1 * s[1].depth + b2 * s[2].depth;
                size_t o = static_cast<size_t>(y) * f.w + x;
                if (depth >= f.z[o]) continue;
                V3 n = Normalize(m.nrm[t] * w0 + m.nrm[t + 1] * w1 + m.nrm[t + 2] * w2);
                V3 col = tint;
                if (tex) {
                    V2 uv = m.uv[t] * w0 + m.uv[t + 1] * w1 + m.uv[t + 2] * w2;
                    col = Mul(col, Sample(*tex, uv));
                }
                double lambert = std::max(0.0, Dot(n, kLightDir));
                col = col * (0.40 + 0.75 * lambert);
                if (alpha >= 1.0) {
                    f.c[o] = col;
                    f.z[o] = depth;
                } else {
                    f.c[o] = Lerp(f.c[o], col, alpha);
                }
            }
        }
    }
}

struct Scene {
    Loaded body, glass, wheels[4], floor;
    Picture bodyTex, wheelTex, floorTex;
};

static void RenderView(Frame& f, const Camera& cam, const Scene& sc, bool floor)
{
    for (int y = cam.y0; y < cam.y0 + cam.h; ++y) {
        for (int x = cam.x0; x < cam.x0 + cam.w; ++x) {
            double t = static_cast<double>(y - cam.y0) / cam.h;
            f.c[static_cast<size_t>(y) * f.w + x] =
                Lerp(V3{0.62, 0.70, 0.80}, V3{0.88, 0.90, 0.92}, t);
            f.z[static_cast<size_t>(y) * f.w + x] = 1e30;
        }
    }
    if (floor && cam.eye.y > -0.5) DrawMesh(f, cam, sc.floor, &sc.floorTex, Grey(1.0), 1.0);
    DrawMesh(f, cam, sc.body, &sc.bodyTex, Grey(1.0), 1.0);
    for (const Loaded& w : sc.wheels) DrawMesh(f, cam, w, &sc.wheelTex, Grey(1.0), 1.0);
    DrawMesh(f, cam, sc.glass, nullptr, {0.45, 0.55, 0.62}, 0.55);
    if (!cam.persp && std::fabs(cam.up.y) > 0.5) {
        // The floor seen edge-on: a red line at y = -0.5.
        double row = cam.y0 + cam.h * 0.5 - cam.scale * Dot(V3{0.0, -0.5, 0.0} - cam.eye, cam.up);
        int r = TruncToInt(std::floor(row));
        for (int x = cam.x0; x < cam.x0 + cam.w; ++x)
            if (r >= cam.y0 && r < cam.y0 + cam.h)
                f.c[static_cast<size_t>(r) * f.w + x] = {0.9, 0.1, 0.1};
    }
    for (int x = cam.x0; x < cam.x0 + cam.w; ++x)
        f.c[static_cast<size_t>(cam.y0) * f.w + x] = Grey(0.2);
    for (int y = cam.y0; y < cam.y0 + cam.h; ++y)
        f.c[static_cast<size_t>(y) * f.w + cam.x0] = Grey(0.2);
}

static bool SaveFrame(const Frame& f, const std::string& path)
{
    Canvas cv(f.w, f.h, Grey(0.0));
    for (int y = 0; y < f.h; ++y)
        for (int x = 0; x < f.w; ++x) cv.Put(x, y, f.c[static_cast<size_t>(y) * f.w + x]);
    return SaveCanvas(cv, path, false);
}

// Two large perspective views, front three-quarter and rear three-quarter.
static bool WriteCloseUp(const Scene& sc, const std::string& path)
{
    const int pw = 800, ph = 700;
    Frame f = {2 * pw, ph, std::vector<V3>(static_cast<size_t>(2 * pw) * ph),
               std::vector<double>(static_cast<size_t>(2 * pw) * ph, 1e30)};
    RenderView(f, LookAt({1.9, 0.55, 1.5}, {0.0, -0.12, 0.0}, 640.0, 0, 0, pw, ph), sc, true);
    RenderView(f, LookAt({-1.7, 0.75, -1.8}, {0.0, -0.12, 0.0}, 640.0, pw, 0, pw, ph), sc, true);
    return SaveFrame(f, path);
}

// One perspective view from eye toward target, for looking at a detail.
static bool WriteView(const Scene& sc, const std::string& path, V3 eye, V3 target, double focal)
{
    const int pw = 1000, ph = 700;
    Frame f = {pw, ph, std::vector<V3>(static_cast<size_t>(pw) * ph),
               std::vector<double>(static_cast<size_t>(pw) * ph, 1e30)};
    RenderView(f, LookAt(eye, target, focal, 0, 0, pw, ph), sc, true);
    return SaveFrame(f, path);
}

static bool WritePreview(const Scene& sc, const std::string& path)
{
    const int pw = 600, ph = 400;
    Frame f = {3 * pw, 2 * ph, {}, {}};
    f.c.assign(static_cast<size_t>(f.w) * f.h, Grey(0.0));
    f.z.assign(static_cast<size_t>(f.w) * f.h, 1e30);
    const V3 up = {0.0, 1.0, 0.0};
    Camera cams[6] = {
        {false, {0.0, 0.0, 10.0}, {0.0, 0.0, -1.0}, {1.0, 0.0, 0.0}, up, 200.0, 0, 0, pw, ph},
        {false, {10.0, 0.0, 0.0}, {-1.0, 0.0, 0.0}, {0.0, 0.0, -1.0}, up, 250.0, pw, 0, pw, ph},
        {false, {-10.0, 0.0, 0.0}, {1.0, 0.0, 0.0}, {0.0, 0.0, 1.0}, up, 250.0, 2 * pw, 0, pw, ph},
        {false,
         {0.0, 10.0, 0.0},
         {0.0, -1.0, 0.0},
         {1.0, 0.0, 0.0},
         {0.0, 0.0, -1.0},
         200.0,
         0,
         ph,
         pw,
         ph},
        LookAt({2.6, 1.0, 2.3}, {0.0, -0.15, 0.0}, 520.0, pw, ph, pw, ph),
        LookAt({-2.4, 1.3, -2.6}, {0.0, -0.15, 0.0}, 520.0, 2 * pw, ph, pw, ph)};
    for (int i = 0; i < 6; ++i) RenderView(f, cams[i], sc, i >= 3);
    std::string close = path.size() > 4 ? path.substr(0, path.size() - 4) + "_close.png" : path;
    return SaveFrame(f, path) && WriteCloseUp(sc, close);
}

// ---------------------------------------------------------------------------------------------
static int g_failures = 0;

static void Check(bool ok, const char* what, double value, double want)
{
    std::printf("  %-58s %10.5f (want %.5f) %s\n", what, value, want, ok ? "ok" : "FAILED");
    if (!ok) ++g_failures;
}

static void CheckNear(const char* what, double value, double want, double tol = 1e-3)
{
    Check(std::fabs(value - want) <= tol, what, value, want);
}

static void PrintBox(const char* name, const Box3& b)
{
    std::printf("  %-10s x [%8.4f, %8.4f]  y [%8.4f, %8.4f]  z [%8.4f, %8.4f]\n", name, b.lo.x,
                b.hi.x, b.lo.y, b.hi.y, b.lo.z, b.hi.z);
}

static long FileSize(const std::string& path)
{
    std::error_code ec;
    auto n = std::filesystem::file_size(path, ec);
    return ec ? -1 : static_cast<long>(n);
}

static void CheckTexture(const std::string& path)
{
    Picture pic;
    bool ok = LoadPicture(path, pic);
    long size = FileSize(path);
    bool good = ok && pic.w <= 1024 && pic.h <= 1024 && size > 0 && size < 600 * 1024;
    std::printf("  %-40s %4d x %-4d 24-bit %7ld bytes %s\n",
                std::filesystem::path(path).filename().string().c_str(), pic.w, pic.h, size,
                good ? "ok" : "FAILED");
    if (!good) ++g_failures;
}

// Reads the written files back, applies the demo's placement and checks that the car fits it.
struct DetailView {
    std::string path;
    V3 eye, target;
    double focal;
};

static bool Verify(const std::string& outDir, const std::string& preview,
                   const std::vector<DetailView>& views)
{
    const std::string dir = outDir + "/Models/golf/";
    Scene sc;
    std::string err;
    if (!ParseObj(dir, "golf.obj", sc.body, err) ||
        !ParseObj(dir, "GolfVetri.obj", sc.glass, err) ||
        !ParseObj(dir, "GolfRuota.obj", sc.wheels[0], err)) {
        std::printf("FAILED: %s\n", err.c_str());
        return false;
    }
    for (int i = 1; i < 4; ++i) sc.wheels[i] = sc.wheels[0];
    size_t hubCap = 0;
    for (size_t k = 0; k < sc.wheels[0].pos.size(); ++k)
        if (sc.wheels[0].pos[k].x > sc.wheels[0].pos[hubCap].x) hubCap = k;
    size_t nb = sc.body.pos.size() / 3, ng = sc.glass.pos.size() / 3,
           nw = sc.wheels[0].pos.size() / 3;
    std::printf("Triangles: body %zu, glass %zu, wheel %zu; car with four wheels %zu\n", nb, ng, nw,
                nb + ng + 4 * nw);
    Box3 bb = Bounds(sc.body.pos), gb = Bounds(sc.glass.pos), wb = Bounds(sc.wheels[0].pos);
    std::printf("Bounds in the files:\n");
    PrintBox("body", bb);
    PrintBox("glass", gb);
    PrintBox("wheel", wb);
    const double height = bb.Size().y, s = 0.975 / height, r = 0.5 / s - 0.32;
    std::printf("Checks (file units):\n");
    CheckNear("body height (max.y - min.y)", height, kBodyHeight);
    CheckNear("body centre x", bb.Centre().x, 0.0);
    Check(bb.lo.y > kAxleY - r + 0.05, "body lowest point above the ground (0.25 - r + 0.05)",
          bb.lo.y, kAxleY - r + 0.05);
    CheckNear("wheel centre x", wb.Centre().x, 0.0, 1e-4);
    CheckNear("wheel centre y", wb.Centre().y, 0.0, 1e-4);
    CheckNear("wheel centre z", wb.Centre().z, 0.0, 1e-4);
    CheckNear("wheel radius (half height)", 0.5 * wb.Size().y, r);
    CheckNear("wheel radius (half length)", 0.5 * wb.Size().z, r);
    CheckNear("wheel half width", 0.5 * wb.Size().x, kWheelHalfWidth);
    CheckNear("glass centre x", gb.Centre().x, 0.0);
    CheckNear("glass centre z - body centre z", gb.Centre().z - bb.Centre().z, kGlassOffsetZ);
    CheckNear("front arch centre z - body centre z", kAxleZFront - bb.Centre().z, -1.1);
    CheckNear("rear arch centre z - body centre z", kAxleZRear - bb.Centre().z, 1.18);
    CheckNear("arch centre height - body lowest point", kAxleY - bb.lo.y, 0.25);
    Check(kArchRadius - r >= 0.03, "arch radius - wheel radius (>= 0.03)", kArchRadius - r, 0.03);
    double flank = std::min({FlankX(kAxleZFront, kAxleY), FlankX(kAxleZRear, kAxleY)});
    Check(kAxleX + kWheelHalfWidth <= flank + 0.012, "wheel outer face x <= flank + lip",
          kAxleX + kWheelHalfWidth, flank + 0.012);
    Check(kAxleX - kWheelHalfWidth > kWellInnerX, "wheel inner face x > well inner wall",
          kAxleX - kWheelHalfWidth, kWellInnerX);
    Check(bb.Size().x >= 1.6, "body width with mirrors (>= 1.6)", bb.Size().x, 1.6);

    // The scene as the demo places it.
    Place(sc.body, -90.0, 0.0, -0.57, 0.0, s);
    Place(sc.glass, -90.0, -0.42, -0.57, 0.0, s);
    const double wheelPlace[4][4] = {{-90.0, -1.18, -0.32, 0.7},
                                     {-90.0, 1.1, -0.32, 0.7},
                                     {90.0, -1.18, -0.32, -0.7},
                                     {90.0, 1.1, -0.32, -0.7}};
    for (int i = 0; i < 4; ++i)
        Place(sc.wheels[i], wheelPlace[i][0], wheelPlace[i][1], wheelPlace[i][2], wheelPlace[i][3],
              s);
    std::printf("Placed in the scene (s = %.6f):\n", s);
    Box3 pb = Bounds(sc.body.pos), pg = Bounds(sc.glass.pos);
    PrintBox("body", pb);
    PrintBox("glass", pg);
    for (int i = 0; i < 4; ++i) {
        Box3 w = Bounds(sc.wheels[i].pos);
        char name[16];
        std::snprintf(name, sizeof(name), "wheel %d", i + 1);
        PrintBox(name, w);
        // The axle this wheel belongs to, taken in the body file and placed like the body.
        double zAxle = (i % 2 == 0 ? kAxleZRear : kAxleZFront) - bb.Centre().z;
        double xAxle = i < 2 ? kAxleX : -kAxleX;
        V3 axle = {-zAxle * s, (kAxleY - 0.57) * s, (xAxle - bb.Centre().x) * s};
        char what[96];
        std::snprintf(what, sizeof(what), "wheel %d lowest point y (floor)", i + 1);
        CheckNear(what, w.lo.y, -0.5);
        std::snprintf(what, sizeof(what), "wheel %d centre x - axle x in the arch", i + 1);
        CheckNear(what, w.Centre().x - axle.x, 0.0);
        std::snprintf(what, sizeof(what), "wheel %d centre y - axle y in the arch", i + 1);
        CheckNear(what, w.Centre().y - axle.y, 0.0);
        std::snprintf(what, sizeof(what), "wheel %d centre z - axle z in the arch", i + 1);
        CheckNear(what, w.Centre().z - axle.z, 0.0);
        // The hub cap (the wheel file's largest x) must face away from the car.
        std::snprintf(what, sizeof(what), "wheel %d hub cap |z| - centre |z| (outward)", i + 1);
        double capOut = std::fabs(sc.wheels[i].pos[hubCap].z) - std::fabs(w.Centre().z);
        Check(capOut > 0.05, what, capOut, 0.05);
    }
    Check(pg.lo.y >= pb.lo.y && pg.hi.y <= pb.hi.y + 1e-9 && pg.lo.z >= pb.lo.z &&
              pg.hi.z <= pb.hi.z,
          "glass inside the body's bounds", 1.0, 1.0);
    if (!preview.empty()) {
        // The floor exactly as the demo builds it.
        const V3 fp[6] = {{-3, -0.5, 3}, {3, -0.5, 3},   {3, -0.5, -3},
                          {3, -0.5, -3}, {-3, -0.5, -3}, {-3, -0.5, 3}};
        const V2 ft[6] = {{-5, -5}, {5, -5}, {5, 5}, {5, 5}, {-5, 5}, {-5, -5}};
        for (int i = 0; i < 6; ++i) {
            sc.floor.pos.push_back(fp[i]);
            sc.floor.uv.push_back(ft[i]);
            sc.floor.nrm.push_back({0.0, 1.0, 0.0});
        }
        bool ok = LoadPicture(dir + sc.body.texture, sc.bodyTex) &&
                  LoadPicture(dir + sc.wheels[0].texture, sc.wheelTex) &&
                  LoadPicture(outDir + "/ceiling.jpg", sc.floorTex);
        if (!ok || !WritePreview(sc, preview)) {
            std::printf("FAILED: preview %s\n", preview.c_str());
            return false;
        }
        std::printf("Preview written to %s\n", preview.c_str());
        for (const DetailView& v : views)
            if (!WriteView(sc, v.path, v.eye, v.target, v.focal)) return false;
    }
    return true;
}

static const char* kBodyMtl = "# Body paint, lights and trim, painted in one atlas\n"
                              "newmtl body\n"
                              "Ka 1 1 1\n"
                              "Kd 1 1 1\n"
                              "Ks 0.6 0.6 0.6\n"
                              "Ns 60\n"
                              "map_Ka golf_body.jpg\n"
                              "map_Kd golf_body.jpg\n";
static const char* kGlassMtl = "# Tinted glass, drawn untextured and translucent\n"
                               "newmtl glass\n"
                               "Ka 0.45 0.55 0.6\n"
                               "Kd 0.45 0.55 0.6\n"
                               "Ks 0.9 0.9 0.9\n"
                               "Ns 120\n"
                               "d 0.25\n";
static const char* kWheelMtl = "# Tyre rubber and alloy rim\n"
                               "newmtl wheel\n"
                               "Ka 1 1 1\n"
                               "Kd 1 1 1\n"
                               "Ks 0.4 0.4 0.4\n"
                               "Ns 40\n"
                               "map_Ka golf_wheel.jpg\n"
                               "map_Kd golf_wheel.jpg\n";

int main(int argc, char** argv)
{
    std::string outDir =
        (std::filesystem::path(__FILE__).parent_path().parent_path() / "data").string();
    std::string preview;
    std::vector<DetailView> views;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--preview" && i + 1 < argc) {
            preview = argv[++i];
        } else if (a == "--view" && i + 8 < argc) {
            // --view picture.png eyeX eyeY eyeZ targetX targetY targetZ focal (world units)
            DetailView v;
            v.path = argv[i + 1];
            double n[7];
            for (int k = 0; k < 7; ++k) n[k] = std::atof(argv[i + 2 + k]);
            v.eye = {n[0], n[1], n[2]};
            v.target = {n[3], n[4], n[5]};
            v.focal = n[6];
            views.push_back(v);
            i += 8;
        } else if (a == "-h" || a == "--help") {
            std::printf("usage: %s [output-folder] [--preview picture.png]\n", argv[0]);
            return 0;
        } else {
            outDir = a;
        }
    }
    const std::string modelDir = outDir + "/Models/golf/";
    std::error_code ec;
    std::filesystem::create_directories(modelDir, ec);
    if (ec) {
        std::printf("cannot create %s\n", modelDir.c_str());
        return 1;
    }

    Mesh body, glass, wheel;
    BuildCar(body, glass);
    BuildWheel(wheel);

    Canvas floorTex(512, 512, Grey(0.5));
    PaintFloorTexture(floorTex);
    Canvas bodyTex(kBodyTexSize, kBodyTexSize, Grey(0.05));
    PaintBodyTexture(bodyTex);
    Canvas wheelTex(kWheelTexSize, kWheelTexSize, Grey(0.05));
    PaintWheelTexture(wheelTex, TyreProfileParam(TyreProfile()));

    bool ok = SaveCanvas(floorTex, outDir + "/ceiling.jpg", true) &&
              SaveCanvas(bodyTex, modelDir + "golf_body.jpg", true) &&
              SaveCanvas(wheelTex, modelDir + "golf_wheel.jpg", true) &&
              WriteText(modelDir + "golf.mtl", kBodyMtl) &&
              WriteText(modelDir + "GolfVetri.mtl", kGlassMtl) &&
              WriteText(modelDir + "GolfRuota.mtl", kWheelMtl) &&
              WriteText(modelDir + "golf.obj",
                        ObjText(body, "Car body: a compact hatchback", "golf.mtl", "body")) &&
              WriteText(modelDir + "GolfVetri.obj", ObjText(glass,
                                                            "Car glass: windscreen, side "
                                                            "and rear windows",
                                                            "GolfVetri.mtl", "glass")) &&
              WriteText(modelDir + "GolfRuota.obj", ObjText(wheel,
                                                            "One wheel: tyre and five-"
                                                            "spoke rim, axle along x, outer "
                                                            "face toward +x",
                                                            "GolfRuota.mtl", "wheel"));
    if (!ok) {
        std::printf("FAILED writing the files under %s\n", outDir.c_str());
        return 1;
    }
    std::printf("Wrote data under %s\n", outDir.c_str());
    if (!Verify(outDir, preview, views)) return 1;
    std::printf("Files:\n");
    for (const char* f : {"golf.obj", "golf.mtl", "GolfVetri.obj", "GolfVetri.mtl", "GolfRuota.obj",
                          "GolfRuota.mtl"})
        std::printf("  %-40s %7ld bytes\n", f, FileSize(modelDir + f));
    CheckTexture(outDir + "/ceiling.jpg");
    CheckTexture(modelDir + "golf_body.jpg");
    CheckTexture(modelDir + "golf_wheel.jpg");
    if (g_failures) {
        std::printf("%d check(s) FAILED\n", g_failures);
        return 1;
    }
    std::printf("All checks passed.\n");
    return 0;
}
