// The records that travel through the pipeline: the application-side vertex, the pipeline-side
// vertex, the light and the material.
#pragma once

#include "math/glmath.h"

// The vertex of meshes, vertex buffers and the immediate-mode interface: 14 tightly packed
// floats. The last three are carried but never read or written by the pipeline.
struct CVertex {
    float x, y, z;     // position in model space
    float r, g, b;     // colour, nominally 0..1
    float u, v;        // texture coordinates; 1.0 spans the texture once
    float nx, ny, nz;  // normal in model space, not normalised by the pipeline
    float extra[3];
};
static_assert(sizeof(CVertex) == 14 * sizeof(float), "CVertex is 14 floats");

// The pipeline vertex: 22 floats. Submission fills only the groups the draw uses; the others
// hold stale values and are never read. Between clipping and shading every attribute group but
// position is divided by w, and the span loop multiplies back (perspective-correct).
struct _3D_Korvane_Shader {
    vec3 color;        // colour after fog
    vec2 texCoord;     // u, v
    vec4 position;     // clip space; after the divide: screen x, y, depth 0..1, 1/w
    vec3 normal;       // model space
    vec3 lightVector;  // light position minus vertex position, not normalised
    vec4 shadowCoord;  // vertex in the light's clip space
    vec3 fogColor;     // copy of the fogged colour
};
static_assert(sizeof(_3D_Korvane_Shader) == 22 * sizeof(float), "_3D_Korvane_Shader is 22 floats");

// The one light: 16 floats.
struct CLight {
    vec3 position;  // model space
    vec3 ambient;
    vec3 diffuse;
    vec3 specular;
    float shininess;  // kept for the record's layout; the shading does not read it
    float constantAttenuation;
    float linearAttenuation;
    float quadraticAttenuation;
};
static_assert(sizeof(CLight) == 16 * sizeof(float), "CLight is 16 floats");

namespace krvi {
// The light's share at a distance: this over the attenuation (shade_formula.h). A constant
// attenuation of the same value, and no other, gives the light's full colour.
constexpr float kLightShare = 0.33333334f;
}  // namespace krvi

// The material of lit surfaces, in the order krvSetMaterial takes it.
struct CMaterial {
    vec3 ambient;
    vec3 diffuse;
    vec3 specular;
    float emission;
};
