// The scalar span body (draw_span.cpp): the routine a draw picks for its mask, and the reference
// that tests the mask per pixel.
#pragma once

#include "core/span.h"

namespace krvi {

// The scalar body specialised for mask (draw_span.cpp).
krvi::SpanRoutine ScalarSpanRoutine(unsigned mask);
// The same body with the mask tested per pixel: the reference every routine must match.
bool ReferenceSpan(unsigned mask, const krvi::SpanTarget& target, const krvi::ShadeState& shade,
                   const krvi::FlatPoint& left, const krvi::FlatPoint& delta, float rightX, int y,
                   unsigned short& lastDepth);

}  // namespace krvi
