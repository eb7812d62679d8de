// CModel: a model read from any common 3D file (OBJ with its MTL, glTF 2.0 and GLB, PLY, STL,
// FBX, Collada and the other formats of the import library), as a list of parts. Each part is a
// CObject triangle list (three vertices a triangle, no index) with one material: its base
// colour and opacity, and its texture.
//
// The import (model_import.cpp) runs the parser in a child process (platform/sandbox.h) that
// reads only from memory: the parent opens and checks every file the model names, and the
// child sends flat arrays back, which the parent checks before it builds a single part. So a
// file that crashes, hangs or exhausts the parser is one line in the error report.
//
// Records are plain and copied by value; only krvDestroyModel (or DestroyModel) releases them.
#pragma once

#include "base/string.h"
#include "math/glmath.h"
#include "scene/object.h"
#include "texture/texture.h"

struct CModelPart {
    CObject object;         // the triangles; object.Texture is left empty (the texture is below)
    CTexture texture;       // the base colour texture, when textured
    bool textured = false;  // texture holds texels the coordinates address
    vec4 colour = vec4(1.0f, 1.0f, 1.0f, 1.0f);  // base colour in 0..1; alpha is the opacity
    CString name;                                // the mesh's name in the file ("" for none)
    int material = 0;                            // the file's material, 0 .. materials - 1
};

struct CModel {
    CModelPart* parts = nullptr;  // partCount parts, or null
    int partCount = 0;
    vec3 boxMin = vec3(0.0f), boxMax = vec3(0.0f);  // the box of every part's positions
    int triangles = 0;                              // over all parts
    int materials = 0;                              // materials the file declares
    int textures = 0;                               // textures that loaded (shared: once)
};

// The limits of an import: at most kMaxObjVertices vertices over all parts (three a triangle),
// kMaxModelParts parts, a model file and its side files each at most kMaxModelFileBytes and all
// together at most kMaxModelTotalBytes.
constexpr int kMaxModelParts = 65535;
constexpr long long kMaxModelFileBytes = 1024LL << 20;
constexpr long long kMaxModelTotalBytes = 2048LL << 20;

// The parser's child: processor time, wall-clock time and added memory.
constexpr int kImportCpuSeconds = 60;
constexpr int kImportWallMilliseconds = 120000;
constexpr size_t kImportMemoryBytes = size_t{6} << 30;

namespace krvs {
// Fills model from the file at path (a name as the program gives it, not relative to the
// program's directory). False with one line in the error report; the model is then empty.
// A texture that fails or a material feature that cannot be shown adds a warning line to the
// error report ("warning: ...") while the load still succeeds.
bool ImportModel(CModel& model, const char* path);
// Releases every part's arrays and textures and empties the record.
void DestroyModel(CModel& model);
}  // namespace krvs
