// The wheel's atlas: tyre tread and lettering, the rim face as seen along the axle, and two
// uniform patches.
#include "tools/make_demo_data/demo_data.h"

#include <algorithm>

static void PaintTyre(Canvas& cv, const std::vector<double>& profileParam)
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
            double s = (t - tTread0) / (tTread1 - tTread0);  // across the tread, 0..1
            double u = a * 60.0;                             // 60 blocks round the tyre
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
}

// Rim face in the plane of the wheel (a = z, b = y).
static void RimColour(double a, double b, int x, int y, V3& c)
{
    double r = std::sqrt(a * a + b * b);
    double ang = std::atan2(a, b);  // angle of Revolve: y = r cos, z = r sin
    double grain = (Rand01(static_cast<uint32_t>(x), static_cast<uint32_t>(y), 9U) - 0.5) * 0.03;
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
    double rel = std::fmod(ang - 0.5 * kPi + 10.0 * period + 0.5 * period, period) - 0.5 * period;
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
}

void PaintWheelTexture(Canvas& cv, const std::vector<double>& profileParam)
{
    PaintTyre(cv, profileParam);
    PaintField(cv, kRimRg, RimColour);
    PaintField(cv, kWheelWallRg, [](double, double, int, int, V3& c) { c = Grey(0.50); });
    PaintField(cv, kWheelDarkRg, [](double, double, int, int, V3& c) { c = Grey(0.05); });
}
