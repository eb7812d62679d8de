// The vertex stage (vertex_stage.cpp): transform, colour and fog of a triangle's vertices into
// pipeline records. krvModelViewProjection, its transform of one position, is declared with the
// core (core.h).
#pragma once

#include "core/draw_state.h"

namespace krvi {

// Transform, colour and fog of the three pipeline records of the triangle whose first vertex
// is cv[0].
void TransformTriangle(const krvi::DrawState& d, const CVertex* cv, _3D_Korvane_Shader* tri);

}  // namespace krvi
