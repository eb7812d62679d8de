// The body's shape: its side and top outlines as curves of z, and the section at any z.
#include "tools/make_demo_data/demo_data.h"

#include <algorithm>
#include <initializer_list>

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

static const double kTumblehome = 0.39;  // inward run of the greenhouse per unit of height

double BeltLine(double z) { return kBeltLine(z); }

SectionParams ShapeAt(double z)
{
    SectionParams s;
    s.yb = kBottomLine(z);
    s.yt = kTopLine(z);
    s.wS = kHalfWidth(z);
    double edge = s.yt - kCrown(z);
    s.ySh = std::min(kBeltLine(z), edge);  // shoulder: window sill, or bonnet and tail edge
    s.yR = std::max(s.ySh, edge);          // roof edge above it where the greenhouse stands
    s.yMid = Lerp(s.yb, s.ySh, 0.45);      // widest point of the flanks
    s.wG = s.wS - 0.03 - kTumblehome * (s.yR - s.ySh);
    return s;
}

static const int kPieceCount = 9;
static const int kPieceSegments[kPieceCount] = {2, 2, 2, 2, 2, 3, 4, 3, 6};
static const int kPieceBand[kPieceCount] = {kBandBottom,     kBandBottom, kBandSide,
                                            kBandSide,       kBandSide,   kBandShoulder,
                                            kBandGreenhouse, kBandRail,   kBandTop};
static V2 Bezier(V2 a, V2 b, V2 c, double t)
{
    return a * ((1.0 - t) * (1.0 - t)) + b * (2.0 * t * (1.0 - t)) + c * (t * t);
}

// Right half of the body section at z, from the bottom centre up the side to the top centre:
// straight runs between anchor points, rounded at each anchor by a fillet (a quadratic arc whose
// tangent length follows the wanted radius and shrinks where a run is short), and a crowned top.
void SectionHalf(double z, std::vector<V2>& pts, std::vector<int>* bands)
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

double FlankX(double z, double y)
{
    std::vector<V2> pts;
    SectionHalf(z, pts);
    for (size_t k = 0; k + 1 < pts.size(); ++k) {
        V2 a = pts[k], b = pts[k + 1];
        if (b.y < a.y) break;  // past the shoulder
        if (y >= a.y && y <= b.y && b.y > a.y) return Lerp(a.x, b.x, (y - a.y) / (b.y - a.y));
    }
    return pts[1].x;
}

// Stations along z, denser where the section changes fast (nose, tail, windscreen foot), with
// the glass boundaries and the top of the roof among them.
std::vector<double> ChooseStations(int count)
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
