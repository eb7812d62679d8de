// The SIMD span body over 16 lanes with AVX-512 (F, BW, DQ and VL: the byte and word masks of
// the loads and stores, the mask moves, the compress of the queue). As with AVX2, only this
// file's own functions carry the target attribute, and draw_span_simd.cpp picks this body only
// where the processor has all four.
#include "core/draw_span_simd.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#define KRV_SIMD_LANES 16
#define KRV_SIMD_TARGET KRV_TARGET("avx2,avx512f,avx512bw,avx512dq,avx512vl")
#define KRV_SIMD_NAMESPACE krv_simd16
// GCC 12's AVX-512 intrinsics start from a self-initialised "undefined" vector, which its
// uninitialised-use check flags once they are inlined here. The same body is checked without
// this in the SSE2 and AVX2 builds of it.
// Clang has no such check (nor the warning's name).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include "core/span_simd.h"
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

krvi::SpanRoutine krvi::SimdSpanRoutine16(unsigned mask, const krvi::ShadeState& shade,
                                          krvi::SpanFlush* flush)
{
    return krv_simd16::Choose(mask, shade, flush);
}
#else
krvi::SpanRoutine krvi::SimdSpanRoutine16(unsigned, const krvi::ShadeState&, krvi::SpanFlush*)
{
    return nullptr;
}
#endif
