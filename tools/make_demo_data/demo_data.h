// The demo data generator: shared numbers, types and the calls between its files.
//
//   main.cpp        options, writing the files           noise.cpp       hashed noise
//   body_shape.cpp  the body's outline and sections      car.cpp         body, glass, interior
//   wheel.cpp       the wheel                            mesh.cpp        meshes, clipping, OBJ text
//   paint.cpp       canvas shapes, glyphs, saving        paint_*.cpp     the three textures
//   checks.cpp      the written car placed as the demo places it, and checked
//   preview.cpp     pictures of the placed scene
//
// The geometry and the pictures are computed in double: float (the renderer's vec3) would move
// printed coordinates and texel values across their rounding steps, and the committed files
// would change. The checks read the files back with the renderer's own loader and place them
// with its float transforms, so they see exactly what the demo sees.
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "math/glmath.h"

// ---------------------------------------------------------------------------------------------
// The placement the demo applies (rotate about y, translate, scale by s) fixes these numbers:
// a body 1.4 high gives s = 0.975 / 1.4; the wheel radius r satisfies (r + 0.32) s = 0.5 so the
// tyres touch the floor at y = -0.5; the axles sit 0.25 above the body's lowest point, 0.7 to
// either side of its centre, 1.18 behind and 1.1 ahead of the middle of its length.
constexpr double kBodyHeight = 1.4;
constexpr double kScale = 0.975 / kBodyHeight;
constexpr double kWheelRadius = 0.5 / kScale - 0.32;
constexpr double kWheelHalfWidth = 0.15;
constexpr double kAxleY = 0.25;
constexpr double kAxleX = 0.7;
constexpr double kAxleZFront = -1.1;  // the car's nose points to -z
constexpr double kAxleZRear = 1.18;
constexpr double kGlassOffsetZ = 0.42;

// Body outline along z: bumper faces, and the planes where the glass begins and ends. The glass
// runs from the foot of the windscreen to the foot of the rear window; its middle must lie
// kGlassOffsetZ behind the body's middle, which is 0.
constexpr double kZFront = -1.9;
constexpr double kZRear = 1.9;
constexpr double kZCowl = -0.86;
constexpr double kZHatchGlass = 2.0 * kGlassOffsetZ - kZCowl;
constexpr double kZRoofFront = -0.05;
constexpr double kZRoofRear = 1.47;
constexpr double kZRoofTop = 0.6;  // where the roof is highest
constexpr double kZSideGlassFront = -0.74;
constexpr double kZPillarBFront = 0.20;
constexpr double kZPillarBRear = 0.34;

// The rear side window ends in an edge leaning forward: z + kQuarterLean y <= kQuarterEdge.
constexpr double kQuarterLean = 0.5;
constexpr double kQuarterEdge = 1.16 + kQuarterLean * 0.9;

constexpr double kArchRadius = 0.46;
constexpr double kWellInnerX = 0.5;
constexpr int kArchSides = 40;

// ---------------------------------------------------------------------------------------------
// Vector maths in double: the data is built once, so precision matters more than speed.
struct V2 {
    double x = 0.0, y = 0.0;
};
struct V3 {
    double x = 0.0, y = 0.0, z = 0.0;
};

inline V2 operator+(V2 a, V2 b) { return {a.x + b.x, a.y + b.y}; }
inline V2 operator-(V2 a, V2 b) { return {a.x - b.x, a.y - b.y}; }
inline V2 operator*(V2 a, double s) { return {a.x * s, a.y * s}; }
inline double Length(V2 a) { return std::sqrt(a.x * a.x + a.y * a.y); }
inline V3 operator+(V3 a, V3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline V3 operator-(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline V3 operator*(V3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }
inline V3 Mul(V3 a, V3 b) { return {a.x * b.x, a.y * b.y, a.z * b.z}; }
inline double Dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline V3 Cross(V3 a, V3 b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline double Length(V3 a) { return std::sqrt(Dot(a, a)); }
inline V3 Normalize(V3 a)
{
    double l = Length(a);
    return l > 0.0 ? a * (1.0 / l) : V3{0.0, 0.0, 0.0};
}
inline double Clamp(double v, double lo, double hi) { return v < lo ? lo : (v > hi ? hi : v); }
inline double Lerp(double a, double b, double t) { return a + (b - a) * t; }
inline V3 Lerp(V3 a, V3 b, double t) { return a + (b - a) * t; }
inline V2 Lerp(V2 a, V2 b, double t) { return a + (b - a) * t; }
inline double SmoothStep(double e0, double e1, double x)
{
    double t = Clamp((x - e0) / (e1 - e0), 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}
inline V3 Grey(double g) { return {g, g, g}; }

constexpr double kPi = 3.14159265358979323846;
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
constexpr int kBleed = 4;

template <class F>
void PaintSdf(Canvas& cv, const AtlasRegion& rg, double amin, double bmin, double amax, double bmax,
              F sdf, V3 col, double alpha = 1.0)
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
template <class F>
void PaintField(Canvas& cv, const AtlasRegion& rg, F fn)
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

// ---------------------------------------------------------------------------------------------
// Noise (noise.cpp): hashed, so every platform draws the same numbers.
double Rand01(uint32_t a, uint32_t b = 0, uint32_t c = 0);
int WrapIndex(int i, int n);
double Fbm(double x, double y, int period, int octaves, uint32_t seed);

// ---------------------------------------------------------------------------------------------
// Painting on a canvas through an atlas region (paint.cpp).
constexpr V3 kPaint = {0.56, 0.045, 0.06};
constexpr V3 kBlack = {0.035, 0.035, 0.038};
constexpr V3 kChrome = {0.80, 0.81, 0.83};

double SdBox(double a, double b, double ca, double cb, double ha, double hb, double r);
double SdCircle(double a, double b, double ca, double cb, double r);
double SdSegment(double a, double b, V2 p, V2 q, double halfWidth);
double SdPolygon(double a, double b, const std::vector<V2>& poly);
void PaintText(Canvas& cv, const AtlasRegion& rg, const char* text, double ca, double cb,
               double cell, V3 col);
V3 PaintColour(double b, int x, int y);
void Line(Canvas& cv, const AtlasRegion& rg, V2 p, V2 q, double w, V3 col, double alpha = 1.0);
void Polyline(Canvas& cv, const AtlasRegion& rg, const std::vector<V2>& pts, double w, V3 col,
              double alpha = 1.0);
void Box(Canvas& cv, const AtlasRegion& rg, double ca, double cb, double ha, double hb, double r,
         V3 col, double alpha = 1.0);
void Disc(Canvas& cv, const AtlasRegion& rg, double ca, double cb, double r, V3 col,
          double alpha = 1.0);
void Ring(Canvas& cv, const AtlasRegion& rg, double ca, double cb, double r, double w, V3 col,
          double alpha = 1.0);
void Shape(Canvas& cv, const AtlasRegion& rg, const std::vector<V2>& poly, V3 col,
           double grow = 0.0, double alpha = 1.0);
void NumberPlate(Canvas& cv, const AtlasRegion& rg, double cb, const char* text);
bool SaveCanvas(const Canvas& cv, const std::string& path, bool jpeg);

// ---------------------------------------------------------------------------------------------
// Meshes (mesh.cpp): triangle soups; the OBJ writer shares equal positions, coordinates and
// normals.
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

void AddTri(Mesh& m, Corner a, Corner b, Corner c);
void AddQuad(Mesh& m, const Corner& a, const Corner& b, const Corner& c, const Corner& d);

// Convex polygon clipping by half-spaces, used to cut the wheel arches out of the body and to
// separate the glass from it. A polygon vertex carries its normal.
struct PolyVert {
    V3 p, n;
};
typedef std::vector<PolyVert> Poly;

struct Plane {
    V3 a;
    double d;  // inside where Dot(a, p) + d >= 0
};

inline Plane PlaneGE(V3 a, double v) { return {a, -v}; }
inline Plane PlaneLE(V3 a, double v) { return {a * -1.0, v}; }

// Splits a convex polygon by a convex region: at most one piece inside, convex pieces outside.
void SplitByRegion(const Poly& poly, const std::vector<Plane>& region, Poly& inside,
                   std::vector<Poly>& outside);

std::string ObjText(const Mesh& m, const char* title, const char* mtl, const char* object);
bool WriteText(const std::string& path, const std::string& text);

// ---------------------------------------------------------------------------------------------
// The body's shape (body_shape.cpp).
struct SectionParams {
    double yb, yt, wS, yMid, ySh, wG, yR;
};
SectionParams ShapeAt(double z);
double BeltLine(double z);  // height of the window sills

// Bands of the body section, bottom to top: the glass is cut out of the greenhouse band (side
// windows) and the top band (windscreen, rear window).
enum Band { kBandBottom, kBandSide, kBandShoulder, kBandGreenhouse, kBandRail, kBandTop };
constexpr int kHalfSegments = 26;

// Right half of the body section at z, from the bottom centre up the side to the top centre,
// with the band of each segment when asked.
void SectionHalf(double z, std::vector<V2>& pts, std::vector<int>* bands = nullptr);
double FlankX(double z, double y);  // half-width of the flank at height y (below the shoulder)
std::vector<double> ChooseStations(int count);

// ---------------------------------------------------------------------------------------------
// The car body and its glass (car.cpp). The body texture atlas (1024 x 1024): the body is
// painted in four projections (side, front, rear, top) chosen per triangle by its normal, plus
// small uniform patches for trim and interior.
constexpr int kBodyTexSize = 1024;
constexpr AtlasRegion kSideRg = {4, 4, 1020, 396, -1.95, -0.05, 1.95, 1.45, false};
constexpr AtlasRegion kFrontRg = {4, 404, 484, 796, -0.92, -0.05, 0.92, 1.45, true};
constexpr AtlasRegion kRearRg = {516, 404, 996, 796, -0.92, -0.05, 0.92, 1.45, false};
constexpr AtlasRegion kTopRg = {4, 804, 1020, 1020, -1.95, -0.92, 1.95, 0.92, false};

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
AtlasRegion PatchRegion(int patch);

void BuildCar(Mesh& body, Mesh& glass);

// ---------------------------------------------------------------------------------------------
// The wheel (wheel.cpp): axle along x through the origin, outer face toward +x, tyre of radius
// kWheelRadius and width 2 kWheelHalfWidth. Five straight spokes stand out of a recessed disc.
constexpr int kWheelTexSize = 512;
constexpr int kSpokes = 5;
constexpr AtlasRegion kTyreRg = {0, 8, 512, 248, 0.0, 0.0, 1.0, 1.0, false};
constexpr AtlasRegion kRimRg = {0, 256, 256, 512, -0.27, -0.27, 0.27, 0.27, false};
constexpr AtlasRegion kWheelWallRg = {300, 300, 340, 340, 0.0, 0.0, 1.0, 1.0, false};
constexpr AtlasRegion kWheelDarkRg = {300, 380, 340, 420, 0.0, 0.0, 1.0, 1.0, false};
constexpr double kRimRadius = 0.262;
constexpr double kSpokeOuterR = 0.233, kSpokeInnerR = 0.075;

std::vector<V2> TyreProfile();
std::vector<double> TyreProfileParam(const std::vector<V2>& prof);
double SpokeHalfWidth(double r);
void BuildWheel(Mesh& m);

// ---------------------------------------------------------------------------------------------
// The textures (paint_body.cpp, paint_wheel.cpp, paint_floor.cpp).
void PaintBodyTexture(Canvas& cv);
void PaintWheelTexture(Canvas& cv, const std::vector<double>& profileParam);
void PaintFloorTexture(Canvas& cv);

// ---------------------------------------------------------------------------------------------
// The written files read back (checks.cpp, preview.cpp).
constexpr const char* kBodyTexture = "golf_body.jpg";
constexpr const char* kWheelTexture = "golf_wheel.jpg";
constexpr const char* kFloorTexture = "ceiling.jpg";

// A perspective picture of the placed scene from eye toward target (focal length in pixels).
struct DetailView {
    std::string path;
    V3 eye, target;
    double focal;
};

struct PlacedCar;  // placed_car.h

// Reads the files under outDir back, places them as the demo does and checks that the car
// fits; writes the preview and the detail views when asked. False when a check failed or a file
// could not be read or written.
bool Verify(const std::string& outDir, const std::string& preview,
            const std::vector<DetailView>& views);
// The preview: the placed scene from the side, the front, the rear and above, and in two
// perspective views; then one picture of each detail view.
bool WritePreviews(const PlacedCar& car, const std::string& outDir, const std::string& preview,
                   const std::vector<DetailView>& views);
