// The draw's entry (submit.cpp): the feature bits of a draw.
#pragma once

class _3D_Korvane_Core;

namespace krvi {

// The bits that the core's per-draw flags and switches select. Every bit but kSpanColor needs
// kSpanColor (a depth-only draw carries no attributes), and kSpanShadow needs kSpanLight.
unsigned DrawFeatures(const _3D_Korvane_Core& core);

}  // namespace krvi
