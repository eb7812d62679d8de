// Shapes painted from signed distance functions, the glyphs of the plates and tyres, and saving.
#include "tools/make_demo_data/demo_data.h"

#include <FreeImage.h>

#include <algorithm>
#include <cstring>

double SdBox(double a, double b, double ca, double cb, double ha, double hb, double r)
{
    double qa = std::fabs(a - ca) - ha + r, qb = std::fabs(b - cb) - hb + r;
    double outside =
        std::sqrt(std::max(qa, 0.0) * std::max(qa, 0.0) + std::max(qb, 0.0) * std::max(qb, 0.0));
    return outside + std::min(std::max(qa, qb), 0.0) - r;
}

double SdCircle(double a, double b, double ca, double cb, double r)
{
    return std::sqrt((a - ca) * (a - ca) + (b - cb) * (b - cb)) - r;
}

double SdSegment(double a, double b, V2 p, V2 q, double halfWidth)
{
    V2 pa = {a - p.x, b - p.y}, ba = q - p;
    double t =
        Clamp((pa.x * ba.x + pa.y * ba.y) / std::max(1e-12, ba.x * ba.x + ba.y * ba.y), 0.0, 1.0);
    return Length(pa - ba * t) - halfWidth;
}

// Signed distance to a simple polygon, negative inside.
double SdPolygon(double a, double b, const std::vector<V2>& poly)
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

// A 5x7 pixel font for number plates and tyre lettering. It is not the platform's text font:
// their 3s differ, and the plates painted with this one are part of the committed textures.
static const char* Glyph(char ch)
{
    switch (ch) {
    case '0': return "01110100011001110101110011000101110";
    case '1': return "00100011000010000100001000010001110";
    case '2': return "01110100010000100010001000100011111";
    case '3': return "11110000010000101110000010000111110";
    case '4': return "00010001100101010010111110001000010";
    case '5': return "11111100001111000001000011000101110";
    case '6': return "00110010001000011110100011000101110";
    case '7': return "11111000010001000100010000100001000";
    case '8': return "01110100011000101110100011000101110";
    case '9': return "01110100011000101111000010001001100";
    case 'D': return "11110100011000110001100011000111110";
    case 'H': return "10001100011000111111100011000110001";
    case 'K': return "10001100101010011000101001001010001";
    case 'R': return "11110100011000111110101001001010001";
    case 'T': return "11111001000010000100001000010000100";
    case 'V': return "10001100011000110001100010101000100";
    case 'X': return "10001100010101000100010101000110001";
    case 'L': return "10000100001000010000100001000011111";
    case 'M': return "10001110111010110101100011000110001";
    case '/': return "00001000100001000100010000100010000";
    case '-': return "00000000000000011111000000000000000";
    default: return nullptr;
    }
}

// Text centred on (ca, cb), glyph cells of size cell x cell in world units, a running left to
// right on the picture.
void PaintText(Canvas& cv, const AtlasRegion& rg, const char* text, double ca, double cb,
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

bool SaveCanvas(const Canvas& cv, const std::string& path, bool jpeg)
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

V3 PaintColour(double b, int x, int y)
{
    // Metallic flake and a faint vertical gradient; the renderer's lighting does the rest.
    double flake = (Rand01(static_cast<uint32_t>(x), static_cast<uint32_t>(y), 7U) - 0.5) * 0.05;
    double grad = 0.92 + 0.10 * SmoothStep(0.0, 1.2, b);
    return kPaint * (grad + flake);
}

void Line(Canvas& cv, const AtlasRegion& rg, V2 p, V2 q, double w, V3 col, double alpha)
{
    PaintSdf(
        cv, rg, std::min(p.x, q.x) - w, std::min(p.y, q.y) - w, std::max(p.x, q.x) + w,
        std::max(p.y, q.y) + w, [&](double a, double b) { return SdSegment(a, b, p, q, w); }, col,
        alpha);
}

void Polyline(Canvas& cv, const AtlasRegion& rg, const std::vector<V2>& pts, double w, V3 col,
              double alpha)
{
    for (size_t i = 0; i + 1 < pts.size(); ++i) Line(cv, rg, pts[i], pts[i + 1], w, col, alpha);
}

void Box(Canvas& cv, const AtlasRegion& rg, double ca, double cb, double ha, double hb, double r,
         V3 col, double alpha)
{
    PaintSdf(
        cv, rg, ca - ha, cb - hb, ca + ha, cb + hb,
        [&](double a, double b) { return SdBox(a, b, ca, cb, ha, hb, r); }, col, alpha);
}

void Disc(Canvas& cv, const AtlasRegion& rg, double ca, double cb, double r, V3 col, double alpha)
{
    PaintSdf(
        cv, rg, ca - r, cb - r, ca + r, cb + r,
        [&](double a, double b) { return SdCircle(a, b, ca, cb, r); }, col, alpha);
}

void Ring(Canvas& cv, const AtlasRegion& rg, double ca, double cb, double r, double w, V3 col,
          double alpha)
{
    PaintSdf(
        cv, rg, ca - r - w, cb - r - w, ca + r + w, cb + r + w,
        [&](double a, double b) { return std::fabs(SdCircle(a, b, ca, cb, r)) - w; }, col, alpha);
}

void Shape(Canvas& cv, const AtlasRegion& rg, const std::vector<V2>& poly, V3 col, double grow,
           double alpha)
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

void NumberPlate(Canvas& cv, const AtlasRegion& rg, double cb, const char* text)
{
    Box(cv, rg, 0.0, cb, 0.275, 0.068, 0.012, kBlack * 0.6);
    Box(cv, rg, 0.0, cb, 0.26, 0.056, 0.008, Grey(0.90));
    Box(cv, rg, 0.0, cb, 0.252, 0.048, 0.006, Grey(0.08));
    Box(cv, rg, 0.0, cb, 0.246, 0.042, 0.004, Grey(0.93));
    PaintText(cv, rg, text, 0.0, cb, 0.0082, Grey(0.06));
}
