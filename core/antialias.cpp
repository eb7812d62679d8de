#include "core/core.h"

#include "platform/thread_pool.h"

#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Each factor has its own loop with the f x f block written out: the sums stay in registers and
// the whole filter is a handful of loads and one division by a constant per channel. Rows and
// columns stop at the last whole block of the source and at the output's own size, so buffers
// left from another mode (antiAliasing changed without ResizeBuffers) are never read or written
// past their ends.
// The mean of a block is its byte sum divided by 4, 9 or 16, truncated: the integer quotient.

// Source pixels a slice of the filter should have at least: below that, waking a worker costs
// more than the rows it would take. In frame_bench on two threads windows from 512 x 384 up
// filter faster split; at 320 x 240 and below the split won or lost with the machine's load.
static const int64_t kMinFilterSamples = 64 * 1024;

#if defined(__SSE2__)
// The vector loop takes 16 source bytes of each of the f rows and f - 1 copies of them shifted
// on by a pixel each: their lane-wise sum holds at byte j the sum of the block whose top-left
// byte is j. The blocks of the output pixels start every 3f bytes, so a group of lanes yields
// kPixels whole output pixels (the other lanes sum bytes of two blocks and are dropped), which
// byte shifts move together. A group reads 3 (f - 1) + 16 bytes of a row from its first byte.
namespace {

// The quotient sum / 9 for every block sum (0..9 * 255) as (sum * 7282) >> 16: 7282 / 65536
// exceeds 1/9 by 2 / (9 * 65536), which over 2295 adds less than the 1/9 a remainder of 8 leaves
// before the next integer. The tests check every sum.
constexpr int kNinthMagic = 7282;

template <int F>
struct Group {
    static constexpr int kPixels = F == 2 ? 3 : 2;
    static constexpr size_t kReads = 3u * (F - 1) + 16u;
};

// The block means of one group of source columns starting at byte offset o, packed to bytes:
// byte 3F p + k holds the mean of output pixel p, channel k. The sums are kept as the even and
// the odd bytes' 16-bit lanes, split with a mask and a shift and joined the same way: unpacking
// and packing would queue every load on the one port that shuffles.
template <int F>
inline __m128i GroupMeans(const uint8* const* rows, size_t o)
{
    const __m128i low = _mm_set1_epi16(0xFF);
    __m128i even = _mm_setzero_si128(), odd = _mm_setzero_si128();
    // Written out: -O2 leaves these loops rolled, a branch and a pointer reload for each load.
#pragma GCC unroll 4
    for (int r = 0; r < F; ++r)
#pragma GCC unroll 4
        for (int m = 0; m < F; ++m) {
            const __m128i v =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[r] + o + 3 * m));
            even = _mm_add_epi16(even, _mm_and_si128(v, low));
            odd = _mm_add_epi16(odd, _mm_srli_epi16(v, 8));
        }
    if (F == 2) {
        even = _mm_srli_epi16(even, 2);
        odd = _mm_srli_epi16(odd, 2);
    } else if (F == 3) {
        const __m128i magic = _mm_set1_epi16(kNinthMagic);
        even = _mm_mulhi_epu16(even, magic);
        odd = _mm_mulhi_epu16(odd, magic);
    } else {
        even = _mm_srli_epi16(even, 4);
        odd = _mm_srli_epi16(odd, 4);
    }
    return _mm_or_si128(even, _mm_slli_epi16(odd, 8));
}

// Filters the columns [0, n) of one output row that whole groups can take without reading past
// the source row or writing past column cols, and returns n.
template <int F>
int FilterGroups(const uint8* const* rowsOf, size_t srcStride, int cols, uint8* d)
{
    constexpr int P = Group<F>::kPixels;
    // A copy of the row pointers that no store of the output can alias.
    const uint8* rows[F];
    for (int r = 0; r < F; ++r) rows[r] = rowsOf[r];
    const __m128i keep = _mm_setr_epi8(-1, -1, -1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    int c = 0;
    for (; c + P <= cols; c += P, d += 3 * P) {
        const size_t o = static_cast<size_t>(c) * 3u * F;
        if (o + Group<F>::kReads > srcStride) break;
        const __m128i means = GroupMeans<F>(rows, o);
        // Pixel p's bytes sit at 3F p: shift them down to 3 p.
        __m128i out = _mm_and_si128(means, keep);
        out =
            _mm_or_si128(out, _mm_slli_si128(_mm_and_si128(_mm_srli_si128(means, 3 * F), keep), 3));
        if (P == 3)
            out = _mm_or_si128(
                out, _mm_slli_si128(_mm_and_si128(_mm_srli_si128(means, 6 * F), keep), 6));
        alignas(16) uint8 bytes[16];
        _mm_store_si128(reinterpret_cast<__m128i*>(bytes), out);
        std::memcpy(d, bytes, 3 * P);
    }
    return c;
}

}  // namespace
#endif

static void Filter2x2(const uint8* src, int srcWidth, int rows, int cols, uint8* dst, int dstWidth)
{
    const size_t srcStride = static_cast<size_t>(srcWidth) * 3u;
    const size_t dstStride = static_cast<size_t>(dstWidth) * 3u;
    for (int r = 0; r < rows; ++r) {
        const uint8* s0 = src + static_cast<size_t>(r) * 2u * srcStride;
        const uint8* s1 = s0 + srcStride;
        uint8* d = dst + static_cast<size_t>(r) * dstStride;
        int c = 0;
#if defined(__SSE2__)
        const uint8* rowsOf[] = {s0, s1};
        c = FilterGroups<2>(rowsOf, srcStride, cols, d);
        s0 += static_cast<size_t>(c) * 6u;
        s1 += static_cast<size_t>(c) * 6u;
        d += static_cast<size_t>(c) * 3u;
#endif
        for (; c < cols; ++c, s0 += 6, s1 += 6, d += 3) {
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
        int c = 0;
#if defined(__SSE2__)
        const uint8* rowsOf[] = {s0, s1, s2};
        c = FilterGroups<3>(rowsOf, srcStride, cols, d);
        s0 += static_cast<size_t>(c) * 9u;
        s1 += static_cast<size_t>(c) * 9u;
        s2 += static_cast<size_t>(c) * 9u;
        d += static_cast<size_t>(c) * 3u;
#endif
        for (; c < cols; ++c, s0 += 9, s1 += 9, s2 += 9, d += 3) {
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
        int c = 0;
#if defined(__SSE2__)
        const uint8* rowsOf[] = {s0, s1, s2, s3};
        c = FilterGroups<4>(rowsOf, srcStride, cols, d);
        s0 += static_cast<size_t>(c) * 12u;
        s1 += static_cast<size_t>(c) * 12u;
        s2 += static_cast<size_t>(c) * 12u;
        s3 += static_cast<size_t>(c) * 12u;
        d += static_cast<size_t>(c) * 3u;
#endif
        for (; c < cols; ++c, s0 += 12, s1 += 12, s2 += 12, s3 += 12, d += 3) {
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
