// The car body and its glass: a loft of body sections along z, closed by flat bumper faces, with
// the arches cut out of it and the windows separated from it; the wheel wells, mirrors and the
// interior seen through the windows.
#include "tools/make_demo_data/demo_data.h"

#include <algorithm>
#include <cstdio>

AtlasRegion PatchRegion(int patch)
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
    case kProjFront: return kFrontRg.Uv(p.x, p.y, kBodyTexSize, kBodyTexSize);
    case kProjRear: return kRearRg.Uv(p.x, p.y, kBodyTexSize, kBodyTexSize);
    case kProjTop: return kTopRg.Uv(p.z, p.x, kBodyTexSize, kBodyTexSize);
    case kProjUnder: return PatchUv(kPatchUnder);
    default: return kSideRg.Uv(p.z, p.y, kBodyTexSize, kBodyTexSize);
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
        V2 e = b - a;  // x holds z, y holds y
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
    std::vector<V2> above;  // the outline above the floor line, in order
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

// The loft: the body sections at the stations along z, each a ring of 2 kHalfSegments points
// (right half up, left half down), with the band of each segment of the half.
struct Loft {
    std::vector<double> st;
    int ns = 0;
    std::vector<V3> P;
    std::vector<int> bands;
    std::vector<V3> qn;  // area-weighted quad normals

    static constexpr int ring = 2 * kHalfSegments;
    V3 At(int j, int i) const { return P[j * ring + (i % ring + ring) % ring]; }
    int BandOf(int i) const { return i < kHalfSegments ? bands[i] : bands[ring - 1 - i]; }
};

static Loft BuildLoft()
{
    Loft l;
    l.st = ChooseStations(72);
    l.ns = static_cast<int>(l.st.size());
    const int ring = Loft::ring;
    l.P.resize(l.ns * ring);
    std::vector<V2> half;
    for (int j = 0; j < l.ns; ++j) {
        SectionHalf(l.st[j], half, &l.bands);
        for (int i = 0; i < ring; ++i) {
            V2 h = i <= kHalfSegments ? half[i] : half[ring - i];
            l.P[j * ring + i] = {i <= kHalfSegments ? h.x : -h.x, h.y, l.st[j]};
        }
    }
    l.qn.resize((l.ns - 1) * ring);
    for (int j = 0; j + 1 < l.ns; ++j)
        for (int i = 0; i < ring; ++i)
            l.qn[j * ring + i] =
                Cross(l.At(j, i + 1) - l.At(j + 1, i), l.At(j + 1, i + 1) - l.At(j, i));
    return l;
}

// The smooth normal of quad (qj, qi) at its corner (vj, vi): it does not blend across creases
// sharper than about 50 degrees.
static V3 CornerNormal(const Loft& l, int qj, int qi, int vj, int vi)
{
    const int ring = Loft::ring;
    V3 self = Normalize(l.qn[qj * ring + qi]);
    V3 sum = {0.0, 0.0, 0.0};
    for (int dj = -1; dj <= 0; ++dj) {
        int j = vj + dj;
        if (j < 0 || j + 1 >= l.ns) continue;
        for (int di = -1; di <= 0; ++di) {
            int i = ((vi + di) % ring + ring) % ring;
            V3 n = l.qn[j * ring + i];
            if (Length(n) < 1e-12) continue;
            if (Length(self) > 0.0 && Dot(Normalize(n), self) < 0.64) continue;
            sum = sum + n;
        }
    }
    return Length(sum) > 0.0 ? Normalize(sum) : self;
}

// One triangle of the loft: the arches cut away, the glass of its band separated, the rest body.
static void AddLoftTriangle(Mesh& body, Mesh& glass, const Poly& tri, int band,
                            const std::vector<std::vector<Plane>>& arches,
                            const std::vector<GlassRegion>& windows)
{
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
        if (w.band != band) continue;
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

// Bumper faces closing both ends.
static void AddEndFaces(Mesh& body, const Loft& l)
{
    const int ring = Loft::ring;
    for (int end = 0; end < 2; ++end) {
        int j = end == 0 ? 0 : l.ns - 1;
        V3 n = {0.0, 0.0, end == 0 ? -1.0 : 1.0};
        V3 centre = {0.0, 0.0, l.st[j]};
        for (int i = 0; i < ring; ++i) centre = centre + V3{0.0, l.At(j, i).y / ring, 0.0};
        Poly fan;
        for (int i = 0; i < ring; ++i) {
            fan = {{centre, n}, {l.At(j, i), n}, {l.At(j, i + 1), n}};
            AddPolyProjected(body, fan);
        }
    }
}

void BuildCar(Mesh& body, Mesh& glass)
{
    const Loft l = BuildLoft();
    std::vector<std::vector<Plane>> arches;
    for (double zc : {kAxleZFront, kAxleZRear})
        for (double side : {1.0, -1.0}) arches.push_back(ArchRegion(zc, side));
    const std::vector<GlassRegion> windows = GlassRegions();
    for (int j = 0; j + 1 < l.ns; ++j) {
        for (int i = 0; i < Loft::ring; ++i) {
            PolyVert v00 = {l.At(j, i), CornerNormal(l, j, i, j, i)};
            PolyVert v01 = {l.At(j, i + 1), CornerNormal(l, j, i, j, i + 1)};
            PolyVert v11 = {l.At(j + 1, i + 1), CornerNormal(l, j, i, j + 1, i + 1)};
            PolyVert v10 = {l.At(j + 1, i), CornerNormal(l, j, i, j + 1, i)};
            for (const Poly& tri : {Poly{v00, v01, v11}, Poly{v00, v11, v10}})
                AddLoftTriangle(body, glass, tri, l.BandOf(i), arches, windows);
        }
    }
    AddEndFaces(body, l);
    size_t shell = body.tris.size();
    for (double zc : {kAxleZFront, kAxleZRear})
        for (double side : {1.0, -1.0}) AddWheelWell(body, zc, side);
    size_t wells = body.tris.size();
    AddMirrors(body);
    size_t mirrors = body.tris.size();
    AddInterior(body);
    std::printf(
        "Body: %d stations; shell %zu, wheel wells %zu, mirrors %zu, interior %zu "
        "triangles\n",
        l.ns, shell, wells - shell, mirrors - wells, body.tris.size() - mirrors);
}
