// The in-place transforms of a run of vertices, shared by the mesh object (its whole array) and
// the rendering context (the selected range of its vertex buffer). n <= 0 or a null array does
// nothing.
#pragma once

#include "core/vertex.h"

namespace krvi {

void TranslatePositions(CVertex* v, int n, const vec3& d);
void ScalePositions(CVertex* v, int n, const vec3& s);
// Positions and normals by the 3x3 of rotate(angle, axis), degrees; normals are not renormalised.
void RotateVertices(CVertex* v, int n, float angle, const vec3& axis);
void TranslateTexCoords(CVertex* v, int n, const vec2& d);
void ScaleTexCoords(CVertex* v, int n, const vec2& s);
// Texture coordinates by the upper-left 2x2 of the rotation about the axis whose component is
// exactly 1 (the later one wins: z over y over x); angle in radians. Without such a component
// the coordinates stay as they are.
void RotateTexCoords(CVertex* v, int n, float angle, const vec3& axis);

}  // namespace krvi
