// Hashed value noise and its fractal sum.
#include "tools/make_demo_data/demo_data.h"

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

double Rand01(uint32_t a, uint32_t b, uint32_t c)
{
    uint32_t h =
        HashMix(a * 0x9E3779B1U ^ HashMix(b + 0x85EBCA77U) ^ HashMix(c * 0xC2B2AE3DU + 1U));
    return static_cast<double>(h >> 8) * (1.0 / 16777216.0);
}

int WrapIndex(int i, int n)
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
double Fbm(double x, double y, int period, int octaves, uint32_t seed)
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
