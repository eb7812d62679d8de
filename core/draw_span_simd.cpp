// The choice of a SIMD span body for a draw, by what the processor supports.
#include "core/span.h"

SpanRoutine KrvSimdSpanRoutine4(unsigned mask, const ShadeState& shade);  // draw_span_sse2.cpp
SpanRoutine KrvSimdSpanRoutine8(unsigned mask, const ShadeState& shade);  // draw_span_avx2.cpp

int KrvSimdLanesAvailable()
{
#if defined(__x86_64__) || defined(__i386__)
    static const int lanes = __builtin_cpu_supports("avx2") ? 8 : (__builtin_cpu_supports("sse2") ? 4 : 1);
    return lanes;
#else
    return 1;
#endif
}

SpanRoutine KrvSimdSpanRoutine(int lanes, unsigned mask, const ShadeState& shade)
{
    if (lanes >= 8 && KrvSimdLanesAvailable() >= 8) return KrvSimdSpanRoutine8(mask, shade);
    if (lanes >= 4 && KrvSimdLanesAvailable() >= 4) return KrvSimdSpanRoutine4(mask, shade);
    return nullptr;
}
