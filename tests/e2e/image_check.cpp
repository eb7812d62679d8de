// Measures screenshots for the end-to-end test of the demo. Every command prints one line of
// key=value pairs that the script reads. Brightness is given twice: as the luma 0.299 R +
// 0.587 G + 0.114 B and as the value, the largest channel (a dim but lit red has a luma near black
// and a clear value); a pixel counts as lit when its value is above 10. All are 0..255.
//
//   image_check size A
//   image_check diff A B [T]                  pixels whose colour differs by more than T (24) in
//                                             some channel: count, share of the image, box,
//                                             centroid, and the mean luma, mean value and lit
//                                             share of those pixels in A and in B
//   image_check darker A B [T] [--exclude C D]
//                                             pixels whose luma in A is below B's by more than T
//                                             (24), leaving out those where C and D differ by
//                                             more than 8 in some channel
//   image_check stats A X Y W H               the same measures of a rectangle
//
// A nonzero exit status means the images could not be read or do not match in size.
#include <FreeImage.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kLitValue = 10;
// Low, so that a dark object in front of a black background still counts as different.
constexpr int kExcludeThreshold = 8;

struct Image {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;  // top-down rows

    const unsigned char* At(int x, int y) const
    {
        return &rgb[(static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) *
                    3u];
    }
    int Luma(int x, int y) const
    {
        const unsigned char* p = At(x, y);
        return (299 * p[0] + 587 * p[1] + 114 * p[2]) / 1000;
    }
    int Value(int x, int y) const
    {
        const unsigned char* p = At(x, y);
        return std::max(p[0], std::max(p[1], p[2]));
    }
};

bool Load(const char* path, Image& image)
{
    FREE_IMAGE_FORMAT format = FreeImage_GetFileType(path, 0);
    if (format == FIF_UNKNOWN) format = FreeImage_GetFIFFromFilename(path);
    if (format == FIF_UNKNOWN) {
        std::fprintf(stderr, "image_check: %s: unknown image type\n", path);
        return false;
    }
    FIBITMAP* loaded = FreeImage_Load(format, path, 0);
    if (!loaded) {
        std::fprintf(stderr, "image_check: cannot read %s\n", path);
        return false;
    }
    FIBITMAP* bitmap = FreeImage_ConvertTo24Bits(loaded);
    FreeImage_Unload(loaded);
    if (!bitmap) {
        std::fprintf(stderr, "image_check: cannot convert %s\n", path);
        return false;
    }
    image.width = static_cast<int>(FreeImage_GetWidth(bitmap));
    image.height = static_cast<int>(FreeImage_GetHeight(bitmap));
    image.rgb.assign(static_cast<size_t>(image.width) * static_cast<size_t>(image.height) * 3u, 0);
    for (int y = 0; y < image.height; ++y) {
        // FreeImage keeps rows bottom-up.
        const BYTE* row = FreeImage_GetScanLine(bitmap, image.height - 1 - y);
        for (int x = 0; x < image.width; ++x) {
            unsigned char* d = &image.rgb[(static_cast<size_t>(y) * image.width + x) * 3u];
            d[0] = row[x * 3 + FI_RGBA_RED];
            d[1] = row[x * 3 + FI_RGBA_GREEN];
            d[2] = row[x * 3 + FI_RGBA_BLUE];
        }
    }
    FreeImage_Unload(bitmap);
    return true;
}

bool SameSize(const Image& a, const Image& b, const char* what)
{
    if (a.width == b.width && a.height == b.height) return true;
    std::fprintf(stderr, "image_check: %s: sizes differ (%dx%d, %dx%d)\n", what, a.width, a.height,
                 b.width, b.height);
    return false;
}

bool Differs(const Image& a, const Image& b, int x, int y, int threshold)
{
    const unsigned char* p = a.At(x, y);
    const unsigned char* q = b.At(x, y);
    for (int c = 0; c < 3; ++c)
        if (std::abs(static_cast<int>(p[c]) - static_cast<int>(q[c])) > threshold) return true;
    return false;
}

// The pixels that a predicate selects: how many, where, and how bright in two images.
struct Selection {
    long count = 0;
    int x0 = 0, y0 = 0, x1 = -1, y1 = -1;
    double sumX = 0.0, sumY = 0.0;
    double lumaA = 0.0, lumaB = 0.0;
    double valueA = 0.0, valueB = 0.0;
    long litA = 0, litB = 0;

    void Add(const Image& a, const Image& b, int x, int y)
    {
        if (count == 0) {
            x0 = x1 = x;
            y0 = y1 = y;
        }
        x0 = x < x0 ? x : x0;
        x1 = x > x1 ? x : x1;
        y0 = y < y0 ? y : y0;
        y1 = y > y1 ? y : y1;
        ++count;
        sumX += x;
        sumY += y;
        lumaA += a.Luma(x, y);
        lumaB += b.Luma(x, y);
        int va = a.Value(x, y), vb = b.Value(x, y);
        valueA += va;
        valueB += vb;
        litA += va > kLitValue ? 1 : 0;
        litB += vb > kLitValue ? 1 : 0;
    }

    void Print(const Image& a) const
    {
        double n = count > 0 ? static_cast<double>(count) : 1.0;
        std::printf(
            "count=%ld share=%.5f box=%d,%d,%d,%d centroid=%.1f,%.1f lumaA=%.1f "
            "lumaB=%.1f valueA=%.1f valueB=%.1f litA=%.3f litB=%.3f\n",
            count, static_cast<double>(count) / (static_cast<double>(a.width) * a.height), x0, y0,
            x1, y1, sumX / n, sumY / n, lumaA / n, lumaB / n, valueA / n, valueB / n,
            static_cast<double>(litA) / n, static_cast<double>(litB) / n);
    }
};

int Usage()
{
    std::fprintf(stderr,
                 "usage: image_check size A | diff A B [T] | "
                 "darker A B [T] [--exclude C D] | stats A X Y W H\n");
    return 2;
}

int Size(int argc, char** argv)
{
    Image a;
    if (argc != 3) return Usage();
    if (!Load(argv[2], a)) return 1;
    std::printf("width=%d height=%d\n", a.width, a.height);
    return 0;
}

int Diff(int argc, char** argv)
{
    if (argc != 4 && argc != 5) return Usage();
    int threshold = argc == 5 ? std::atoi(argv[4]) : 24;
    Image a, b;
    if (!Load(argv[2], a) || !Load(argv[3], b) || !SameSize(a, b, "diff")) return 1;
    Selection s;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x)
            if (Differs(a, b, x, y, threshold)) s.Add(a, b, x, y);
    s.Print(a);
    return 0;
}

int Darker(int argc, char** argv)
{
    if (argc < 4) return Usage();
    Image a, b, c, d;
    int threshold = 24;
    bool exclude = false;
    for (int i = 4; i < argc; ++i) {
        if (std::strcmp(argv[i], "--exclude") == 0 && i + 2 < argc) {
            if (!Load(argv[i + 1], c) || !Load(argv[i + 2], d)) return 1;
            exclude = true;
            i += 2;
        } else {
            threshold = std::atoi(argv[i]);
        }
    }
    if (!Load(argv[2], a) || !Load(argv[3], b) || !SameSize(a, b, "darker")) return 1;
    if (exclude && (!SameSize(a, c, "exclude") || !SameSize(c, d, "exclude"))) return 1;
    Selection s;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x) {
            if (exclude && Differs(c, d, x, y, kExcludeThreshold)) continue;
            if (a.Luma(x, y) < b.Luma(x, y) - threshold) s.Add(a, b, x, y);
        }
    s.Print(a);
    return 0;
}

int Stats(int argc, char** argv)
{
    if (argc != 7) return Usage();
    Image a;
    if (!Load(argv[2], a)) return 1;
    int x0 = std::atoi(argv[3]), y0 = std::atoi(argv[4]);
    int w = std::atoi(argv[5]), h = std::atoi(argv[6]);
    if (w <= 0 || h <= 0 || x0 < 0 || y0 < 0 || x0 + w > a.width || y0 + h > a.height) {
        std::fprintf(stderr, "image_check: rectangle %d,%d %dx%d outside the %dx%d image\n", x0, y0,
                     w, h, a.width, a.height);
        return 1;
    }
    Selection s;
    for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x) s.Add(a, a, x, y);
    s.Print(a);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) return Usage();
    FreeImage_Initialise(FALSE);
    int status;
    if (std::strcmp(argv[1], "size") == 0)
        status = Size(argc, argv);
    else if (std::strcmp(argv[1], "diff") == 0)
        status = Diff(argc, argv);
    else if (std::strcmp(argv[1], "darker") == 0)
        status = Darker(argc, argv);
    else if (std::strcmp(argv[1], "stats") == 0)
        status = Stats(argc, argv);
    else
        status = Usage();
    FreeImage_DeInitialise();
    return status;
}
