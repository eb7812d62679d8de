// The wheel: a tyre revolved from a profile and a five-spoke rim.
#include "tools/make_demo_data/demo_data.h"

#include <algorithm>

// The wheel's geometry: the tyre revolved from a profile, the rim lip, five spokes standing out
// of a recessed disc, the hub with its cap and a dark inner face.
constexpr int kWheelSegs = 40;  // a multiple of 4 keeps the bounding box at exactly +-r
constexpr double kRecessX = 0.012, kHubX = 0.128;
constexpr double kStep = 2.0 * kPi / kWheelSegs;

std::vector<V2> TyreProfile()
{
    const double R = kWheelRadius;
    return {{kRimRadius, 0.115}, {0.295, 0.142},      {0.335, 0.150},  {0.372, 0.143},
            {0.3935, 0.120},     {R, 0.095},          {R, 0.032},      {R, -0.032},
            {R, -0.095},         {0.3935, -0.120},    {0.372, -0.143}, {0.335, -0.150},
            {0.295, -0.142},     {kRimRadius, -0.115}};
}

// Cumulative arc length along the tyre profile, 0 at the outer bead, 1 at the inner one.
std::vector<double> TyreProfileParam(const std::vector<V2>& prof)
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
static V3 RevolveNormal(V2 n, double angle)  // n = (radial, axial)
{
    return Normalize({n.y, n.x * std::cos(angle), n.x * std::sin(angle)});
}

static V2 RimUv(V3 p) { return kRimRg.Uv(p.z, p.y, kWheelTexSize, kWheelTexSize); }

double SpokeHalfWidth(double r)
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

static void AddTyre(Mesh& m)
{
    std::vector<V2> prof = TyreProfile();
    std::vector<double> pt = TyreProfileParam(prof);
    std::vector<V2> pn =
        ProfileNormals(prof, [](V2 n, V2 mid) { return n.x * (mid.x - 0.33) + n.y * mid.y > 0.0; });
    for (int k = 0; k < kWheelSegs; ++k) {
        for (size_t i = 0; i + 1 < prof.size(); ++i) {
            auto c = [&](int kk, size_t ii) {
                double a = kk * kStep;
                V2 uv = kTyreRg.Uv(static_cast<double>(kk) / kWheelSegs, 1.0 - pt[ii],
                                   kWheelTexSize, kWheelTexSize);
                return Corner{Revolve(prof[ii].x, prof[ii].y, a), RevolveNormal(pn[ii], a), uv};
            };
            AddQuad(m, c(k, i), c(k + 1, i), c(k + 1, i + 1), c(k, i + 1));
        }
    }
}

// Rim lip, from the bead to the spokes' outer ends.
static void AddRimLip(Mesh& m)
{
    std::vector<V2> lip = {
        {kRimRadius, 0.115}, {0.250, 0.128}, {kSpokeOuterR, SpokeFaceX(kSpokeOuterR)}};
    std::vector<V2> ln = ProfileNormals(lip, [](V2 n, V2) { return n.y > 0.0; });
    for (int k = 0; k < kWheelSegs; ++k) {
        for (size_t i = 0; i + 1 < lip.size(); ++i) {
            auto c = [&](int kk, size_t ii) {
                double a = ii + 1 == lip.size() ? SpokeAngle(kk, kSpokeOuterR) : kk * kStep;
                V3 p = Revolve(lip[ii].x, lip[ii].y, a);
                return Corner{p, RevolveNormal(ln[ii], a), RimUv(p)};
            };
            AddQuad(m, c(k, i), c(k + 1, i), c(k + 1, i + 1), c(k, i + 1));
        }
    }
}

// The rings of the spoke zone, outside in.
constexpr double kZoneRings[] = {kSpokeOuterR, 0.18, 0.125, kSpokeInnerR};
constexpr int kZoneRingCount = 4;

// The face of column m8 of the spoke zone: a raised spoke or a recessed gap.
static void AddZoneFace(Mesh& m, int m8, bool spoke)
{
    for (int i = 0; i + 1 < kZoneRingCount; ++i) {
        auto c = [&](int mm, int ii) {
            double r = kZoneRings[ii], a = SpokeAngle(mm, r);
            double x = spoke ? SpokeFaceX(r) : kRecessX;
            V3 p = Revolve(r, x, a);
            double slope = 0.028 / (kSpokeOuterR - kSpokeInnerR);
            V3 n = spoke ? RevolveNormal(V2{slope, 1.0} * (1.0 / std::sqrt(1.0 + slope * slope)), a)
                         : V3{1.0, 0.0, 0.0};
            return Corner{p, n, RimUv(p)};
        };
        AddQuad(m, c(m8, i), c(m8 + 1, i), c(m8 + 1, i + 1), c(m8, i + 1));
    }
}

// Side wall of a spoke at column m8 (its first or last edge); its normal points into the
// neighbouring gap.
static void AddSpokeWall(Mesh& m, int m8, V2 wallUv)
{
    double dirSign = m8 % 8 == 0 ? -1.0 : 1.0;
    for (int i = 0; i + 1 < kZoneRingCount; ++i) {
        double ra = kZoneRings[i], rb = kZoneRings[i + 1];
        double aa = SpokeAngle(m8, ra), ab = SpokeAngle(m8, rb);
        V3 ta = Revolve(ra, SpokeFaceX(ra), aa), tb = Revolve(rb, SpokeFaceX(rb), ab);
        V3 ba = Revolve(ra, kRecessX, aa), bb = Revolve(rb, kRecessX, ab);
        V3 n = Normalize(Cross(tb - ta, {1.0, 0.0, 0.0}));
        V3 tangent = {0.0, -std::sin(aa), std::cos(aa)};
        if (Dot(n, tangent) * dirSign < 0.0) n = n * -1.0;
        AddQuad(m, {ta, n, wallUv}, {tb, n, wallUv}, {bb, n, wallUv}, {ba, n, wallUv});
    }
}

// Walls closing the gap at column m8 at its outer and inner ends.
static void AddGapEnds(Mesh& m, int m8, V2 wallUv)
{
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

// Spoke zone: raised spokes, recessed gaps, and the walls between them.
static void AddSpokeZone(Mesh& m)
{
    V2 wallUv = kWheelWallRg.Uv(0.5, 0.5, kWheelTexSize, kWheelTexSize);
    for (int m8 = 0; m8 < kWheelSegs; ++m8) {
        bool spoke = m8 % 8 < 2;
        AddZoneFace(m, m8, spoke);
        int o = m8 % 8;
        if (o == 0 || o == 2) AddSpokeWall(m, m8, wallUv);
        if (!spoke) AddGapEnds(m, m8, wallUv);
    }
}

// Hub with a domed centre cap.
static void AddHub(Mesh& m)
{
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
}

// Inner face: a dark disc closing the wheel from the car's side.
static void AddInnerFace(Mesh& m)
{
    V2 darkUv = kWheelDarkRg.Uv(0.5, 0.5, kWheelTexSize, kWheelTexSize);
    V3 back = {-1.0, 0.0, 0.0};
    for (int k = 0; k < kWheelSegs; ++k) {
        AddTri(m, {{-0.115, 0.0, 0.0}, back, darkUv},
               {Revolve(kRimRadius, -0.115, k * kStep), back, darkUv},
               {Revolve(kRimRadius, -0.115, (k + 1) * kStep), back, darkUv});
    }
}

void BuildWheel(Mesh& m)
{
    AddTyre(m);
    AddRimLip(m);
    AddSpokeZone(m);
    AddHub(m);
    AddInnerFace(m);
}
