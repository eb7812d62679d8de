// The choice of a SIMD span body for a draw, by what the processor supports.
#include "core/span.h"

SpanRoutine KrvSimdSpanRoutine(int, unsigned, const ShadeState&) { return nullptr; }

int KrvSimdLanesAvailable() { return 1; }
