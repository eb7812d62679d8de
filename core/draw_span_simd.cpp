// The choice of a SIMD span body for a draw, by what the processor supports.
#include "core/span.h"

// draw_span_sse2.cpp and draw_span_avx2.cpp; flush null: the routine that writes every colour
// before it returns.
SpanRoutine KrvSimdSpanRoutine4(unsigned mask, const ShadeState& shade, SpanFlush* flush);
SpanRoutine KrvSimdSpanRoutine8(unsigned mask, const ShadeState& shade, SpanFlush* flush);

int KrvSimdLanesAvailable()
{
#if defined(__x86_64__) || defined(__i386__)
    static const int lanes = __builtin_cpu_supports("avx2") ? 8 : (__builtin_cpu_supports("sse2") ? 4 : 1);
    return lanes;
#else
    return 1;
#endif
}

static SpanRoutine Choose(int lanes, unsigned mask, const ShadeState& shade, SpanFlush* flush)
{
    if (lanes >= 8 && KrvSimdLanesAvailable() >= 8) return KrvSimdSpanRoutine8(mask, shade, flush);
    if (lanes >= 4 && KrvSimdLanesAvailable() >= 4) return KrvSimdSpanRoutine4(mask, shade, flush);
    return nullptr;
}

SpanRoutine KrvSimdSpanRoutine(int lanes, unsigned mask, const ShadeState& shade)
{
    return Choose(lanes, mask, shade, nullptr);
}

SpanRoutine KrvSimdDrawRoutine(int lanes, unsigned mask, const ShadeState& shade,
                               SpanFlush& flush)
{
    flush = nullptr;
    return Choose(lanes, mask, shade, &flush);
}
