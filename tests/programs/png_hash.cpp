// Prints a PNG's size and a hash of its pixels, "WxH fnv1a-hex", or compares them with an
// expected "WxH:hex": the tests of the programs pin their pictures by pixels, not by the
// compressed bytes, which differ between PNG encoders.
//
//   krv_png_hash FILE.png [WxH:HASH]
#include <FreeImage.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: krv_png_hash FILE.png [WxH:HASH]\n");
        return 2;
    }
    FIBITMAP* loaded = FreeImage_Load(FIF_PNG, argv[1], PNG_DEFAULT);
    FIBITMAP* dib = loaded ? FreeImage_ConvertTo24Bits(loaded) : nullptr;
    if (loaded) FreeImage_Unload(loaded);
    if (!dib) {
        std::fprintf(stderr, "krv_png_hash: %s is no PNG picture\n", argv[1]);
        return 1;
    }
    const unsigned w = FreeImage_GetWidth(dib), h = FreeImage_GetHeight(dib);
    // FNV-1a over red, green, blue, the top row first.
    uint64_t hash = 1469598103934665603ull;
    for (unsigned y = 0; y < h; ++y) {
        const BYTE* row = FreeImage_GetScanLine(dib, static_cast<int>(h - 1 - y));
        for (unsigned x = 0; x < w; ++x) {
            const BYTE rgb[3] = {row[3 * x + FI_RGBA_RED], row[3 * x + FI_RGBA_GREEN],
                                 row[3 * x + FI_RGBA_BLUE]};
            for (BYTE b : rgb) {
                hash ^= b;
                hash *= 1099511628211ull;
            }
        }
    }
    FreeImage_Unload(dib);
    char actual[64];
    std::snprintf(actual, sizeof actual, "%ux%u:%016" PRIx64, w, h, hash);
    if (argc == 2) {
        std::printf("%s\n", actual);
        return 0;
    }
    if (std::strcmp(actual, argv[2]) == 0) return 0;
    std::fprintf(stderr, "krv_png_hash: %s is %s, expected %s\n", argv[1], actual, argv[2]);
    return 1;
}
