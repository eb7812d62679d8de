// The choice of a SIMD span body for a draw, by what the processor supports.
#include "core/draw_span_simd.h"

int krvi::SimdLanesAvailable()
{
#if defined(__x86_64__) || defined(__i386__)
    static const int lanes = [] {
        // The 16-lane body needs all four: F, and BW, DQ and VL for its masked byte and word
        // loads and stores and its mask moves.
        if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
            __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl"))
            return 16;
        if (__builtin_cpu_supports("avx2")) return 8;
        return __builtin_cpu_supports("sse2") ? 4 : 1;
    }();
    return lanes;
#else
    return 1;
#endif
}

static krvi::SpanRoutine Choose(int lanes, unsigned mask, const krvi::ShadeState& shade,
                                krvi::SpanFlush* flush)
{
    const int available = krvi::SimdLanesAvailable();
    if (lanes >= 16 && available >= 16) return krvi::SimdSpanRoutine16(mask, shade, flush);
    if (lanes >= 8 && available >= 8) return krvi::SimdSpanRoutine8(mask, shade, flush);
    if (lanes >= 4 && available >= 4) return krvi::SimdSpanRoutine4(mask, shade, flush);
    return nullptr;
}

krvi::SpanRoutine krvi::SimdSpanRoutine(int lanes, unsigned mask, const krvi::ShadeState& shade)
{
    return Choose(lanes, mask, shade, nullptr);
}

krvi::SpanRoutine krvi::SimdDrawRoutine(int lanes, unsigned mask, const krvi::ShadeState& shade,
                                        krvi::SpanFlush& flush)
{
    flush = nullptr;
    return Choose(lanes, mask, shade, &flush);
}
