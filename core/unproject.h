// The un-projection helper (unproject.cpp), beside the core rather than in it: the pipeline does
// not call it; programs and the core's FindOcclusionPoint do.
#pragma once

#include "math/glmath.h"

// The window position p (x, y placed by offsets and extents formed from m's columns, z in
// 0..1) back through m. A matrix that makes an extent 0 gives an infinite or NaN result.
vec3 krvUnProject_(const vec3& p, mat4x4 m);
