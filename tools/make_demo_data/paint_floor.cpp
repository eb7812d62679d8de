// The floor texture.
#include "tools/make_demo_data/demo_data.h"

#include <algorithm>

// Floor: 2 x 2 polished stone tiles with grout. The picture's edges fall in the grout, and the
// stone's pattern is per tile (noise offset by the tile), so the repeated texture shows no seams.
void PaintFloorTexture(Canvas& cv)
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
