#include "core/core.h"

#include "platform/thread_pool.h"

#include <cstddef>

// Each factor has its own loop with the f x f block written out: the sums stay in registers and
// the whole filter is a handful of loads and one division by a constant per channel. Rows and
// columns stop at the last whole block of the source and at the output's own size, so buffers
// left from another mode (antiAliasing changed without ResizeBuffers) are never read or written
// past their ends.
// The mean of a block is its byte sum times 1/4, 1/9 or 1/16, truncated. The sum is a small
// non-negative integer, so the product is exact for 1/4 and 1/16 (in float) and never rounds up
// to the next integer for 1/9 (in double): the truncated mean is the integer division.

// Source pixels a slice of the filter should have at least: below that, waking a worker costs
// more than the rows it would take. In frame_bench on two threads windows from 512 x 384 up
// filter faster split; at 320 x 240 and below the split won or lost with the machine's load.
static const int64_t kMinFilterSamples = 64 * 1024;

static void Filter2x2(const uint8* src, int srcWidth, int rows, int cols, uint8* dst, int dstWidth)
{
    const size_t srcStride = static_cast<size_t>(srcWidth) * 3u;
    const size_t dstStride = static_cast<size_t>(dstWidth) * 3u;
    for (int r = 0; r < rows; ++r) {
        const uint8* s0 = src + static_cast<size_t>(r) * 2u * srcStride;
        const uint8* s1 = s0 + srcStride;
        uint8* d = dst + static_cast<size_t>(r) * dstStride;
        for (int c = 0; c < cols; ++c, s0 += 6, s1 += 6, d += 3) {
            for (int k = 0; k < 3; ++k) {
                const int sum = s0[k] + s0[k + 3] + s1[k] + s1[k + 3];
                d[k] = static_cast<uint8>(sum / 4);
            }
        }
    }
}

static void Filter3x3(const uint8* src, int srcWidth, int rows, int cols, uint8* dst, int dstWidth)
{
    const size_t srcStride = static_cast<size_t>(srcWidth) * 3u;
    const size_t dstStride = static_cast<size_t>(dstWidth) * 3u;
    for (int r = 0; r < rows; ++r) {
        const uint8* s0 = src + static_cast<size_t>(r) * 3u * srcStride;
        const uint8* s1 = s0 + srcStride;
        const uint8* s2 = s1 + srcStride;
        uint8* d = dst + static_cast<size_t>(r) * dstStride;
        for (int c = 0; c < cols; ++c, s0 += 9, s1 += 9, s2 += 9, d += 3) {
            for (int k = 0; k < 3; ++k) {
                const int sum = s0[k] + s0[k + 3] + s0[k + 6] + s1[k] + s1[k + 3] + s1[k + 6] +
                                s2[k] + s2[k + 3] + s2[k + 6];
                d[k] = static_cast<uint8>(sum / 9);
            }
        }
    }
}

static void Filter4x4(const uint8* src, int srcWidth, int rows, int cols, uint8* dst, int dstWidth)
{
    const size_t srcStride = static_cast<size_t>(srcWidth) * 3u;
    const size_t dstStride = static_cast<size_t>(dstWidth) * 3u;
    for (int r = 0; r < rows; ++r) {
        const uint8* s0 = src + static_cast<size_t>(r) * 4u * srcStride;
        const uint8* s1 = s0 + srcStride;
        const uint8* s2 = s1 + srcStride;
        const uint8* s3 = s2 + srcStride;
        uint8* d = dst + static_cast<size_t>(r) * dstStride;
        for (int c = 0; c < cols; ++c, s0 += 12, s1 += 12, s2 += 12, s3 += 12, d += 3) {
            for (int k = 0; k < 3; ++k) {
                const int sum = s0[k] + s0[k + 3] + s0[k + 6] + s0[k + 9] + s1[k] + s1[k + 3] +
                                s1[k + 6] + s1[k + 9] + s2[k] + s2[k + 3] + s2[k + 6] + s2[k + 9] +
                                s3[k] + s3[k + 3] + s3[k + 6] + s3[k + 9];
                d[k] = static_cast<uint8>(sum / 16);
            }
        }
    }
}

void _3D_Korvane_Core::SetAntiAliasingFilter(int mode)
{
    if (mode != KrvAA_2x2 && mode != KrvAA_3x3 && mode != KrvAA_4x4) return;
    if (!aaColorBuffer || !colorBuffer) return;
    const int f = krvi::AntiAliasingFactor(mode);
    int rows = aaHeight / f;
    int cols = aaWidth / f;
    if (rows > colorHeight) rows = colorHeight;
    if (cols > colorWidth) cols = colorWidth;
    if (rows <= 0 || cols <= 0) return;

    // Output rows in slices across the pool: each reads its own f source rows a row and
    // writes its own output rows.
    const uint8* src = aaColorBuffer;
    uint8* dst = colorBuffer;
    const int srcWidth = aaWidth, dstWidth = colorWidth;
    const size_t srcRowBytes = static_cast<size_t>(srcWidth) * 3u * static_cast<size_t>(f);
    const size_t dstRowBytes = static_cast<size_t>(dstWidth) * 3u;
    krvi::RunSlices(rows, krvi::SlicesFor(int64_t{rows} * cols * f * f, kMinFilterSamples),
                    [=](int first, int end, int) {
                        const uint8* s = src + static_cast<size_t>(first) * srcRowBytes;
                        uint8* d = dst + static_cast<size_t>(first) * dstRowBytes;
                        const int n = end - first;
                        switch (f) {
                        case 2: Filter2x2(s, srcWidth, n, cols, d, dstWidth); break;
                        case 3: Filter3x3(s, srcWidth, n, cols, d, dstWidth); break;
                        case 4: Filter4x4(s, srcWidth, n, cols, d, dstWidth); break;
                        default: break;
                        }
                    });
}

vec3 _3D_Korvane_Core::AddAntiAliasingLine(int pos) const
{
    const size_t bytes = static_cast<size_t>(aaWidth > 0 ? aaWidth : 0) *
                         static_cast<size_t>(aaHeight > 0 ? aaHeight : 0) * 3u;
    if (!aaColorBuffer || pos < 0 || static_cast<size_t>(pos) + 3u > bytes) return vec3(0.0f);
    const uint8* p = aaColorBuffer + pos;
    return vec3(static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2]));
}

void _3D_Korvane_Core::SetAntiAliasingLine(vec3 sum, int pos, int n)
{
    const size_t bytes = static_cast<size_t>(colorWidth > 0 ? colorWidth : 0) *
                         static_cast<size_t>(colorHeight > 0 ? colorHeight : 0) * 3u;
    if (n <= 0 || !colorBuffer || pos < 0 || static_cast<size_t>(pos) + 3u > bytes) return;
    const float fn = static_cast<float>(n);
    uint8* p = colorBuffer + pos;
    p[0] = static_cast<uint8>(TruncToInt(sum.x / fn));
    p[1] = static_cast<uint8>(TruncToInt(sum.y / fn));
    p[2] = static_cast<uint8>(TruncToInt(sum.z / fn));
}
