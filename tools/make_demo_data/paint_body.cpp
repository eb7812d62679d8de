// The body's atlas: paint, glass surrounds, lights, plates and trim in the four views, and the
// uniform patches.
#include "tools/make_demo_data/demo_data.h"

#include <algorithm>

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

// Side view (z, y), shared by both flanks: paint, the surround of the side windows and the
// shoulder crease.
static void PaintSideGlassLine(Canvas& cv)
{
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
        double y = std::min(BeltLine(z), ShapeAt(z).ySh) - 0.10;
        creaseHi.push_back({z, y});
        creaseLo.push_back({z, y - 0.009});
    }
    Polyline(cv, sd, creaseHi, 0.004, kPaint * 1.35, 0.8);
    Polyline(cv, sd, creaseLo, 0.004, kPaint * 0.62, 0.8);
}

// Side view: sills, rubbing strip, arches, doors, seams and the lights round the corners.
static void PaintSideDetails(Canvas& cv)
{
    const AtlasRegion& sd = kSideRg;
    auto belt = [](double z) { return ShapeAt(z).ySh; };
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
}

// Front view (x, y), as seen from ahead of the car.
static void PaintFront(Canvas& cv)
{
    const AtlasRegion& fr = kFrontRg;
    PaintField(cv, fr, [](double, double b, int x, int y, V3& c) { c = PaintColour(b, x, y); });
    Box(cv, fr, 0.0, 0.10, 0.95, 0.06, 0.0, kBlack * 1.6);  // lower lip
    Box(cv, fr, 0.0, 0.228, 0.50, 0.066, 0.04, kBlack);     // air intake
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
}

// Rear view (x, y), as seen from behind.
static void PaintRear(Canvas& cv)
{
    const AtlasRegion& rr = kRearRg;
    PaintField(cv, rr, [](double, double b, int x, int y, V3& c) { c = PaintColour(b, x, y); });
    Box(cv, rr, 0.0, 0.08, 0.95, 0.088, 0.0, kBlack * 1.6);  // diffuser
    for (double sx : {1.0, -1.0})
        Box(cv, rr, sx * 0.66, 0.30, 0.08, 0.016, 0.008, {0.55, 0.03, 0.03});
    Disc(cv, rr, -0.50, 0.17, 0.05, Grey(0.55));
    Disc(cv, rr, -0.50, 0.17, 0.038, Grey(0.06));
    Line(cv, rr, {-0.80, 0.478}, {0.80, 0.478}, 0.004, kPaint * 0.6);
    Line(cv, rr, {-0.50, 0.495}, {0.50, 0.495}, 0.0035, {0.10, 0.01, 0.015});
    for (double sx : {1.0, -1.0})
        Line(cv, rr, {sx * 0.50, 0.495}, {sx * 0.50, 1.0}, 0.0035, {0.10, 0.01, 0.015});
    Box(cv, rr, 0.0, 0.585, 0.30, 0.085, 0.02, kPaint * 0.7);  // plate recess
    NumberPlate(cv, rr, 0.585, "KRV 3D 75");
    Disc(cv, rr, 0.0, 0.74, 0.045, kChrome);
    Disc(cv, rr, 0.0, 0.74, 0.036, {0.08, 0.10, 0.18});
    Box(cv, rr, 0.0, 0.74, 0.022, 0.005, 0.003, kChrome);
    TailLight(cv, rr, 1.0);
    TailLight(cv, rr, -1.0);
    Box(cv, rr, 0.0, 1.0, 0.50, 0.012, 0.0, kBlack);  // rear window seal
}

// Top view (z, x): bonnet shut lines, scuttle panel, roof aerial.
static void PaintTop(Canvas& cv)
{
    const AtlasRegion& tp = kTopRg;
    PaintField(cv, tp, [](double, double b, int x, int y, V3& c) {
        c = PaintColour(1.2 - 0.3 * std::fabs(b), x, y);
    });
    Box(cv, tp, kZCowl - 0.025, 0.0, 0.025, 0.74, 0.0, kBlack);
    for (double sx : {1.0, -1.0})
        Line(cv, tp, {-1.78, sx * 0.74}, {kZCowl - 0.08, sx * 0.74}, 0.0035, {0.10, 0.01, 0.015});
    Box(cv, tp, 1.28, 0.0, 0.07, 0.012, 0.012, kBlack);
    Box(cv, tp, 1.28, 0.0, 0.05, 0.006, 0.006, Grey(0.2));
}

// Uniform patches for trim and interior.
static void PaintPatches(Canvas& cv)
{
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

void PaintBodyTexture(Canvas& cv)
{
    PaintSideGlassLine(cv);
    PaintSideDetails(cv);
    PaintFront(cv);
    PaintRear(cv);
    PaintTop(cv);
    PaintPatches(cv);
}
