// The SIMD span bodies: the choice among them (draw_span_simd.cpp) and the body of each width
// (draw_span_sse2.cpp, draw_span_avx2.cpp, draw_span_avx512.cpp, all built from span_simd.h).
#pragma once

#include "core/span.h"

namespace krvi {

// SIMD bodies. `lanes` is 16 (AVX-512), 8 (AVX2) or 4 (SSE2); the answer is null where no SIMD
// body covers the draw (a rare switch on, a sampler the body does not handle, a lane count the
// processor lacks), and the draw then runs the scalar body. Every colour is written when the
// routine returns.
krvi::SpanRoutine SimdSpanRoutine(int lanes, unsigned mask, const krvi::ShadeState& shade);
// The same for a whole draw: the routine may leave colours in shade.queue (when it is set)
// until `flush` runs, which the draw calls on each thread at its end; flush is null when the
// routine never defers. Depths are written at once either way.
krvi::SpanRoutine SimdDrawRoutine(int lanes, unsigned mask, const krvi::ShadeState& shade,
                                  krvi::SpanFlush& flush);
// The widest SIMD body this processor runs: 16, 8, 4, or 1 for none.
int SimdLanesAvailable();

// The bodies of each width (draw_span_sse2.cpp, draw_span_avx2.cpp, draw_span_avx512.cpp);
// flush null: the routine that writes every colour before it returns.
krvi::SpanRoutine SimdSpanRoutine4(unsigned mask, const krvi::ShadeState& shade,
                                   krvi::SpanFlush* flush);
krvi::SpanRoutine SimdSpanRoutine8(unsigned mask, const krvi::ShadeState& shade,
                                   krvi::SpanFlush* flush);
krvi::SpanRoutine SimdSpanRoutine16(unsigned mask, const krvi::ShadeState& shade,
                                    krvi::SpanFlush* flush);

}  // namespace krvi
