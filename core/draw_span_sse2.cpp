// The SIMD span body over 4 lanes with SSE2, which every x86-64 processor has.
#include "core/draw_span_simd.h"

#if defined(__SSE2__)
#include <immintrin.h>

#define KRV_SIMD_LANES 4
#define KRV_SIMD_TARGET
#define KRV_SIMD_NAMESPACE krv_simd4
#include "core/span_simd.h"

krvi::SpanRoutine krvi::SimdSpanRoutine4(unsigned mask, const krvi::ShadeState& shade,
                                         krvi::SpanFlush* flush)
{
    return krv_simd4::Choose(mask, shade, flush);
}
#else
krvi::SpanRoutine krvi::SimdSpanRoutine4(unsigned, const krvi::ShadeState&, krvi::SpanFlush*)
{
    return nullptr;
}
#endif
