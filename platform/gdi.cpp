// gdi32 stand-ins that draw into the image behind a device context: pixels, the two DIB blits
// and bitmap-font text. Images are top-down (y = 0 at the top, as GDI addresses a window);
// the DIBs that the blits read are bottom-up, as the renderer's colour buffer is.
#include "platform/internal.h"
#include "platform/thread_pool.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

using krvplat::detail::DeviceContext;
using krvplat::detail::Image;

namespace {

// Larger sizes are refused rather than risk overflow in the sampling arithmetic below.
constexpr int64_t kMaxBlitSide = 1 << 24;

// Fraction bits of the smoothing filter's sample positions.
constexpr int kFracBits = 8;
constexpr int kFracOne = 1 << kFracBits;

DeviceContext* DrawableDC(HDC hdc)
{
    DeviceContext* dc = krvplat::detail::FindDC(hdc);
    return dc && dc->image ? dc : nullptr;
}

unsigned char* PixelAt(Image& image, int x, int y)
{
    return image.pixels.data() +
           (static_cast<size_t>(y) * static_cast<size_t>(image.width) + static_cast<size_t>(x)) *
               3u;
}

void PutColor(unsigned char* p, COLORREF color)
{
    p[0] = static_cast<unsigned char>((color >> 16) & 0xFF);
    p[1] = static_cast<unsigned char>((color >> 8) & 0xFF);
    p[2] = static_cast<unsigned char>(color & 0xFF);
}

// The checks both blits share: a 24-bit uncompressed bottom-up DIB of positive size.
bool ValidDib(const void* bits, const BITMAPINFO* info, UINT usage)
{
    if (!bits || !info || usage != DIB_RGB_COLORS) return false;
    const BITMAPINFOHEADER& h = info->bmiHeader;
    return h.biBitCount == 24 && h.biCompression == BI_RGB && h.biWidth > 0 && h.biHeight > 0 &&
           h.biWidth <= kMaxBlitSide && h.biHeight <= kMaxBlitSide;
}

size_t DibStride(const BITMAPINFO* info)
{
    return (static_cast<size_t>(info->bmiHeader.biWidth) * 3u + 3u) & ~static_cast<size_t>(3);
}

bool ValidSide(int64_t side) { return side > 0 && side <= kMaxBlitSide; }

// The part [first, last) of a destination span [origin, origin + size) inside [0, limit).
void ClipSpan(int64_t origin, int64_t size, int limit, int64_t& first, int64_t& last)
{
    first = std::max<int64_t>(origin, 0);
    last = std::min<int64_t>(origin + size, limit);
}

// Source index (0..srcSize-1) of the nearest sample for destination index i of destSize: the
// source pixel under the destination pixel's centre.
int NearestIndex(int64_t i, int64_t destSize, int64_t srcSize)
{
    return static_cast<int>((2 * i + 1) * srcSize / (2 * destSize));
}

// Smoothing sample for destination index i: the two source indices and the weight of the second
// (0..kFracOne), centres aligned and the position clamped to the source's first and last pixel.
void SmoothIndex(int64_t i, int64_t destSize, int64_t srcSize, int& i0, int& i1, int& frac)
{
    int64_t pos = (2 * i + 1) * srcSize * kFracOne / (2 * destSize) - kFracOne / 2;
    pos = std::min(std::max<int64_t>(pos, 0), (srcSize - 1) * kFracOne);
    i0 = static_cast<int>(pos >> kFracBits);
    i1 = std::min(i0 + 1, static_cast<int>(srcSize - 1));
    frac = static_cast<int>(pos & (kFracOne - 1));
}

// One destination row of the smoothing blit from two horizontally filtered lines. Separate and
// restrict-qualified so that the compiler vectorises it.
void BlendLines(const uint16_t* __restrict upper, const uint16_t* __restrict lower, int fy,
                size_t count, unsigned char* __restrict out)
{
    const int wu = kFracOne - fy;
    for (size_t n = 0; n < count; ++n) {
        int value = upper[n] * wu + lower[n] * fy;
        out[n] =
            static_cast<unsigned char>((value + (1 << (2 * kFracBits - 1))) >> (2 * kFracBits));
    }
}

// Destination bytes a slice of a blit should have at least: below that, waking a worker costs
// more than the rows it would take (as for the filter, measured with frame_bench).
constexpr int64_t kMinBlitBytes = 128 * 1024;

// Scratch of the blits, kept between calls so a frame allocates nothing. The blits are called
// by the one thread that presents; their rows are shared out over the thread pool.
struct Axis {
    std::vector<int> i0, i1, frac;
    void Resize(size_t n)
    {
        i0.resize(n);
        i1.resize(n);
        frac.resize(n);
    }
};
Axis columns;  // the destination columns' source samples, shared by every slice

// The smoothing blit's two horizontally filtered source rows, one pair a slice: each slice
// starts with its own rows and keeps them for its next destination row.
struct LineCache {
    std::vector<uint16_t> filtered[2];
    int cachedRow[2];
};
std::vector<LineCache> lineCaches;

}  // namespace

COLORREF SetPixel(HDC hdc, int x, int y, COLORREF color)
{
    DeviceContext* dc = DrawableDC(hdc);
    if (!dc) return CLR_INVALID;
    Image& image = *dc->image;
    if (x < 0 || y < 0 || x >= image.width || y >= image.height) return CLR_INVALID;
    PutColor(PixelAt(image, x, y), color);
    image.changed = true;
    return color & 0x00FFFFFF;
}

BOOL SetPixelV(HDC hdc, int x, int y, COLORREF color)
{
    return SetPixel(hdc, x, y, color) != CLR_INVALID ? TRUE : FALSE;
}

int SetStretchBltMode(HDC hdc, int mode)
{
    DeviceContext* dc = DrawableDC(hdc);
    if (!dc || mode < BLACKONWHITE || mode > HALFTONE) return 0;
    int previous = dc->stretchMode;
    dc->stretchMode = mode;
    return previous;
}

int GetStretchBltMode(HDC hdc)
{
    DeviceContext* dc = DrawableDC(hdc);
    return dc ? dc->stretchMode : 0;
}

// The source rectangle is in DIB coordinates, whose origin is the lower-left corner of a
// bottom-up DIB: its top source row is DIB row ySrc + srcHeight - 1 counted from the bottom.
// Only SRCCOPY is supported; every stretch mode but HALFTONE samples the nearest pixel.
int StretchDIBits(HDC hdc, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc,
                  int srcWidth, int srcHeight, const void* bits, const BITMAPINFO* info, UINT usage,
                  DWORD rop)
{
    DeviceContext* dc = DrawableDC(hdc);
    if (!dc || rop != SRCCOPY || !ValidDib(bits, info, usage)) return 0;
    if (!ValidSide(destWidth) || !ValidSide(destHeight) || !ValidSide(srcWidth) ||
        !ValidSide(srcHeight))
        return 0;
    const BITMAPINFOHEADER& h = info->bmiHeader;
    if (xSrc < 0 || ySrc < 0 || int64_t{xSrc} + srcWidth > h.biWidth ||
        int64_t{ySrc} + srcHeight > h.biHeight)
        return 0;

    Image& image = *dc->image;
    int64_t x0, x1, y0, y1;
    ClipSpan(xDest, destWidth, image.width, x0, x1);
    ClipSpan(yDest, destHeight, image.height, y0, y1);
    if (x0 >= x1 || y0 >= y1) return srcHeight;
    image.changed = true;

    const unsigned char* dib = static_cast<const unsigned char*>(bits);
    const size_t stride = DibStride(info);
    const size_t nx = static_cast<size_t>(x1 - x0);
    const size_t ny = static_cast<size_t>(y1 - y0);
    // Source row t of the rectangle (0 at its top) lies at this bottom-up DIB row.
    auto dibRow = [&](int t) {
        return dib + static_cast<size_t>(ySrc + srcHeight - 1 - t) * stride +
               static_cast<size_t>(xSrc) * 3u;
    };

    const int rows = static_cast<int>(ny);
    const int slices = std::min(krvi::SlicesFor(static_cast<int64_t>(nx * ny * 3u), kMinBlitBytes),
                                krvi::ThreadPool::Shared().Threads());

    if (dc->stretchMode != HALFTONE) {
        columns.Resize(nx);
        for (size_t i = 0; i < nx; ++i)
            columns.i0[i] =
                NearestIndex(x0 - xDest + static_cast<int64_t>(i), destWidth, srcWidth) * 3;
        // A pixel is copied as four bytes, the fourth a byte of the next pixel on both sides:
        // the next destination pixel's copy writes it again. The last destination pixel and
        // those of the rectangle's last source column (whose next byte may lie past the DIB)
        // are copied as three; the columns are in source order, so those come last.
        size_t wide = nx - 1;
        while (wide > 0 && columns.i0[wide - 1] >= (srcWidth - 1) * 3) --wide;
        krvi::RunSlices(rows, slices, [&](int first, int end, int) {
            int previousRow = -1;
            for (int j = first; j < end; ++j) {
                int64_t y = y0 + j;
                int t = NearestIndex(y - yDest, destHeight, srcHeight);
                unsigned char* out = PixelAt(image, static_cast<int>(x0), static_cast<int>(y));
                // An enlarged row repeats the one above it (within the slice: the row above
                // may be another slice's, still being written).
                if (t == previousRow) {
                    std::memcpy(out, out - static_cast<size_t>(image.width) * 3u, nx * 3u);
                    continue;
                }
                previousRow = t;
                const unsigned char* src = dibRow(t);
                // Locals: a byte store could alias the captured ones, reloaded every pixel.
                const int* column = columns.i0.data();
                const size_t wideEnd = wide, count = nx;
                size_t i = 0;
                for (; i < wideEnd; ++i, out += 3) {
                    uint32_t pixel;
                    std::memcpy(&pixel, src + column[i], 4);
                    std::memcpy(out, &pixel, 4);
                }
                for (; i < count; ++i, out += 3) {
                    const unsigned char* p = src + column[i];
                    out[0] = p[0];
                    out[1] = p[1];
                    out[2] = p[2];
                }
            }
        });
        return srcHeight;
    }

    // Separable: each source row is filtered horizontally once into a cache line, then two
    // cached lines are blended per destination row.
    columns.Resize(nx);
    for (size_t i = 0; i < nx; ++i) {
        SmoothIndex(x0 - xDest + static_cast<int64_t>(i), destWidth, srcWidth, columns.i0[i],
                    columns.i1[i], columns.frac[i]);
        columns.i0[i] *= 3;
        columns.i1[i] *= 3;
    }
    if (lineCaches.size() < static_cast<size_t>(slices))
        lineCaches.resize(static_cast<size_t>(slices));
    auto filterRow = [&](int t, std::vector<uint16_t>& line) {
        const unsigned char* src = dibRow(t);
        uint16_t* out = line.data();
        for (size_t i = 0; i < nx; ++i, out += 3) {
            const unsigned char* a = src + columns.i0[i];
            const unsigned char* b = src + columns.i1[i];
            const int fx = columns.frac[i];
            for (int k = 0; k < 3; ++k)
                out[k] = static_cast<uint16_t>(a[k] * (kFracOne - fx) + b[k] * fx);
        }
    };
    krvi::RunSlices(rows, slices, [&](int first, int end, int slice) {
        LineCache& cache = lineCaches[static_cast<size_t>(slice)];
        for (int k = 0; k < 2; ++k) {
            cache.cachedRow[k] = -1;
            cache.filtered[k].resize(nx * 3u);
        }
        auto slotOf = [&](int t) {
            return cache.cachedRow[0] == t ? 0 : cache.cachedRow[1] == t ? 1 : -1;
        };
        for (int j = first; j < end; ++j) {
            int64_t y = y0 + j;
            int t0, t1, fy;
            SmoothIndex(y - yDest, destHeight, srcHeight, t0, t1, fy);
            int s0 = slotOf(t0);
            if (s0 < 0) {
                // Keep the line of t1 if it is there; otherwise replace the older line.
                int s1 = slotOf(t1);
                s0 = s1 >= 0 ? 1 - s1 : (cache.cachedRow[0] < cache.cachedRow[1] ? 0 : 1);
                filterRow(t0, cache.filtered[s0]);
                cache.cachedRow[s0] = t0;
            }
            int s1 = slotOf(t1);
            if (s1 < 0) {
                s1 = 1 - s0;
                filterRow(t1, cache.filtered[s1]);
                cache.cachedRow[s1] = t1;
            }
            BlendLines(cache.filtered[s0].data(), cache.filtered[s1].data(), fy, nx * 3u,
                       PixelAt(image, static_cast<int>(x0), static_cast<int>(y)));
        }
    });
    return srcHeight;
}

// bits holds scanLines rows of the DIB starting at row startScan (counted from the bottom);
// rows of the source rectangle outside that band are left alone.
int SetDIBitsToDevice(HDC hdc, int xDest, int yDest, DWORD width, DWORD height, int xSrc, int ySrc,
                      UINT startScan, UINT scanLines, const void* bits, const BITMAPINFO* info,
                      UINT usage)
{
    DeviceContext* dc = DrawableDC(hdc);
    if (!dc || !ValidDib(bits, info, usage)) return 0;
    const int64_t w = width;
    const int64_t h = height;
    if (!ValidSide(w) || !ValidSide(h) || scanLines == 0) return 0;
    const BITMAPINFOHEADER& header = info->bmiHeader;
    if (xSrc < 0 || ySrc < 0 || xSrc + w > header.biWidth || ySrc + h > header.biHeight ||
        int64_t{startScan} + scanLines > header.biHeight)
        return 0;

    Image& image = *dc->image;
    int64_t x0, x1, y0, y1;
    ClipSpan(xDest, w, image.width, x0, x1);
    ClipSpan(yDest, h, image.height, y0, y1);
    if (x0 >= x1 || y0 >= y1) return static_cast<int>(scanLines);
    image.changed = true;

    const unsigned char* dib = static_cast<const unsigned char*>(bits);
    const size_t stride = DibStride(info);
    const size_t rowBytes = static_cast<size_t>(x1 - x0) * 3u;
    const int rows = static_cast<int>(y1 - y0);
    krvi::RunSlices(rows, krvi::SlicesFor(static_cast<int64_t>(rowBytes) * rows, kMinBlitBytes),
                    [&](int first, int end, int) {
                        for (int64_t y = y0 + first; y < y0 + end; ++y) {
                            int64_t row = ySrc + h - 1 - (y - yDest);
                            if (row < startScan || row >= int64_t{startScan} + scanLines) continue;
                            const unsigned char* src =
                                dib + static_cast<size_t>(row - startScan) * stride +
                                static_cast<size_t>(xSrc + (x0 - xDest)) * 3u;
                            std::memcpy(PixelAt(image, static_cast<int>(x0), static_cast<int>(y)),
                                        src, rowBytes);
                        }
                    });
    return static_cast<int>(scanLines);
}

BOOL GdiFlush()
{
    krvplat::detail::PresentChangedWindows();
    return TRUE;
}

int ChoosePixelFormat(HDC hdc, const PIXELFORMATDESCRIPTOR* pfd)
{
    // Every DC has the one format: 24-bit blue, green, red.
    return DrawableDC(hdc) && pfd ? 1 : 0;
}

BOOL SetPixelFormat(HDC hdc, int format, const PIXELFORMATDESCRIPTOR*)
{
    return DrawableDC(hdc) && format == 1 ? TRUE : FALSE;
}

COLORREF SetTextColor(HDC hdc, COLORREF color)
{
    DeviceContext* dc = DrawableDC(hdc);
    if (!dc) return CLR_INVALID;
    COLORREF previous = dc->textColor;
    dc->textColor = color;
    return previous;
}

COLORREF SetBkColor(HDC hdc, COLORREF color)
{
    DeviceContext* dc = DrawableDC(hdc);
    if (!dc) return CLR_INVALID;
    COLORREF previous = dc->bkColor;
    dc->bkColor = color;
    return previous;
}

int SetBkMode(HDC hdc, int mode)
{
    DeviceContext* dc = DrawableDC(hdc);
    if (!dc || (mode != TRANSPARENT && mode != OPAQUE)) return 0;
    int previous = dc->bkMode;
    dc->bkMode = mode;
    return previous;
}

// (x, y) is the top-left corner of the first character cell. OPAQUE fills each whole cell with
// the background colour first.
BOOL TextOutA(HDC hdc, int x, int y, LPCSTR text, int length)
{
    using namespace krvplat::detail;
    DeviceContext* dc = DrawableDC(hdc);
    if (!dc || length < 0 || (length > 0 && !text)) return FALSE;
    Image& image = *dc->image;
    if (length > 0) image.changed = true;
    for (int n = 0; n < length; ++n) {
        const int64_t cellX = int64_t{x} + int64_t{n} * kCellWidth;
        if (cellX >= image.width) break;
        if (cellX + kCellWidth <= 0) continue;
        const unsigned char* glyph = GlyphRows(static_cast<unsigned char>(text[n]));
        for (int row = 0; row < kCellHeight; ++row) {
            const int64_t py = int64_t{y} + row;
            if (py < 0 || py >= image.height) continue;
            const int bitsOfRow = row < kGlyphHeight ? glyph[row] : 0;
            for (int col = 0; col < kCellWidth; ++col) {
                const int64_t px = cellX + col;
                if (px < 0 || px >= image.width) continue;
                const bool ink = col < kGlyphWidth && (bitsOfRow >> (kGlyphWidth - 1 - col)) & 1;
                if (ink)
                    PutColor(PixelAt(image, static_cast<int>(px), static_cast<int>(py)),
                             dc->textColor);
                else if (dc->bkMode == OPAQUE)
                    PutColor(PixelAt(image, static_cast<int>(px), static_cast<int>(py)),
                             dc->bkColor);
            }
        }
    }
    return TRUE;
}
