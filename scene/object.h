// CObject: the mesh. One flat array of CVertex read three at a time as independent triangles,
// one texture, and the bounding box of the positions.
//
// Records are copied by value and copies share the vertex array and the texture's texels; only
// an explicit Destroy releases them, and exactly one copy is destroyed.
#pragma once

#include "core/vertex.h"
#include "math/glmath.h"
#include "texture/texture.h"

// The most vertices LoadObj builds (3 a triangle): 16,777,216, that is 5,592,405 triangles and
// 896 MiB of vertices. The demo's car is 30,000 triangles and a detailed scanned model a few
// million; a file past the budget is refused before anything is allocated, with the report
// line "Error loading file NAME: more than 16777216 vertices!".
constexpr int kMaxObjVertices = 16 * 1024 * 1024;

class CObject {
public:
    CObject() : Vertex(nullptr), NumVertex(0), Cursor(0) {}
    ~CObject() {}

    // The record (object.cpp).
    void Init();     // forget the array without releasing it
    void Destroy();  // release texture and vertex array
    void Triangle3f(vec3 p0, vec3 p1, vec3 p2, vec3 n0, vec3 n1, vec3 n2, vec3 c0, vec3 c1, vec3 c2,
                    vec2 t0, vec2 t1, vec2 t2);
    void GetMinMax();  // an object without vertices keeps its box

    // Transforms of the whole array, in place (object.cpp). Model angles in degrees, the
    // texture rotation in radians.
    void Translate3fv(const vec3& v);
    void Scale3fv(vec3 s);
    void Rotate3fv(float angle, const vec3& axis);
    void TexTranslate2fv(const vec2& d);
    void TexScale2fv(vec2 s);
    void TexRotate2fv(float angle, const vec3& axis);

    // Recording through the immediate-mode calls (object.cpp): while the object is open the
    // krvVertex3f family writes into the rendering context's current object. ObjectBegin makes a
    // new zero-filled array of n vertices (none for n <= 0) without releasing the previous one;
    // ObjectEnd closes the object and rebuilds its box. Both tell krvi::ObjectOpenChanged.
    void ObjectBegin(int n);
    void ObjectEnd();

    // The OBJ/MTL reader (obj_loader.cpp). Names of other files in a model (material
    // libraries, textures) are relative to its folder, ModuleDirectory + directory, and are
    // refused with the open-error line when they leave it: an absolute name, a ".." component,
    // or a link that resolves outside. Each library and texture is read once a load, however
    // often the model names it.
    bool LoadObj(const char* directory, const char* fileName);
    bool ReadSource(const char* directory, const char* fileName, char*& buffer, long& length);
    bool ParseMtl(const char* directory, const char* fileName);

    // Primitive generators (primitives.cpp). Each makes a new zero-filled array of its final
    // size (the previous array is not released: the owner calls Destroy or Init first).
    void Cube(float cx, float cy, float cz, float h);
    void Sphere(float cx, float cy, float cz, float r, int stacks, int slices, float su, float sv);
    void Torus(float cx, float cy, float cz, float R, float r, int sides, int rings, float su,
               float sv);
    void Cylinder(float cx, float cy, float cz, float rt, float rb, float height, int slices,
                  float su, float sv);
    void Cone(float cx, float cy, float cz, float r, float height, int slices);
    void Disck(float cx, float cy, float cz, int slices, float r, float ax, float ay, float az);
    void Tetrahedron(float a, float b, float c, float d, int depth, int unused, float su, float sv);

    CTexture Texture;
    CVertex* Vertex;
    int NumVertex;
    int Cursor;
    vec3 Min;
    vec3 Max;
};

namespace krvi {
// Told true by every CObject's ObjectBegin and false by its ObjectEnd. The rendering context
// (scene/rendering.cpp) sets it to raise and lower its ObjectOpen, so an object never looks up
// at the context; null (nothing told) until a context is constructed.
extern void (*ObjectOpenChanged)(bool open);
}  // namespace krvi
