// The SIMD span body over 8 lanes with AVX2. Only this file's own functions are built for
// AVX2 (a target attribute, not a compiler flag), so nothing the rest of the program shares
// with it, such as an inline function of a header, can carry AVX2 instructions to a processor
// without them; draw_span_simd.cpp picks this body only where the processor has AVX2.
#include "core/draw_span_simd.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#define KRV_SIMD_LANES 8
#define KRV_SIMD_TARGET KRV_TARGET("avx2")
#define KRV_SIMD_NAMESPACE krv_simd8
#include "core/span_simd.h"

krvi::SpanRoutine krvi::SimdSpanRoutine8(unsigned mask, const krvi::ShadeState& shade,
                                         krvi::SpanFlush* flush)
{
    return krv_simd8::Choose(mask, shade, flush);
}
#else
krvi::SpanRoutine krvi::SimdSpanRoutine8(unsigned, const krvi::ShadeState&, krvi::SpanFlush*)
{
    return nullptr;
}
#endif
