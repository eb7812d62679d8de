// Texture factories, procedural textures, the sphere-mapping helpers of the sphere primitive and
// direct access to decoded image files.
//
// The factories return a CTexture by value; the caller owns its buffer and releases it with
// Destroy. The helpers hold no state.
#pragma once

#include "texture/image_decode.h"  // kMaxImageSide and krvRestrictImageDecoders, for the loaders
#include "texture/texture.h"

struct FIBITMAP;

// Factories. Each starts from an empty texture; on failure the result is empty.
CTexture krvGenTexture(int width, int height, int format);
// The validating Create: reports a zero size or a texel size other than 3 or 4 bytes; bits
// receives the new buffer (null when none was made).
CTexture krvGenTexture(int width, int height, int& bytesPerTexel, int format, uint8*& bits);
CTexture krvLoadTexture(const char* file);
CTexture krvLoadTextureToDot3(const char* file, float scale);

// Normalisation cube: the unit direction through texel (i, j) of face 0..5 (+X, -X, +Y, -Y, +Z,
// -Z) of a size x size face; (0, 0, 0) for any other face.
vec3 krvGetCubeVector(int face, int size, int i, int j);
// The +Z face of a normalisation cube map as a size x size format '0' texture, x in byte 0,
// y in byte 1, z in byte 2 (each 127 * v + 128). Empty when size <= 0.
CTexture krvGenCubeMapNormal(int size);

// Sphere-map coordinates (s, t) in 0..1 of the direction (x, y, z).
vec2 krvGenTexSphereMap(float x, float y, float z);
// Angle of the point (b, a), as atan2(a, b), in (-pi, pi].
float ArcTan2(float a, float b);
// A cheap approximation of the same angle, linear between the diagonals (up to 0.072 radian
// off). Its sign follows a: a <= 0 gives a result <= 0.
float arctan2(float a, float b);
// A point (u, v) of face 0..5 placed on that face of the cube [-1, 1]^3; (0, 0, 0) for any
// other face.
vec3 mapCoordsToFace(vec2 p, int face);
// A point of the cube [-1, 1]^3 moved onto the unit sphere, spreading the faces evenly.
vec3 getSphereCoords(vec3 p);

// The decoded image file (name used as given, no program directory in front), or null when it
// cannot be read; width, height and bpp receive its size and bits per pixel. The bitmap is built
// by the program from what the decoder's child process sent (texture/image_decode.h): the same
// type, depth, palette and pixels. The caller unloads it with FreeImage_Unload. Nothing is
// reported.
FIBITMAP* krvGetBitmap(const char* file, int& width, int& height, int& bpp);
// An addressing helper for scaled RGB buffers: k = 3 * (((a2*a5*(a4/a5))/a6)*a4 +
// (a1*a5*(a3/a5))/a6) + a7 in integer arithmetic, returned as (k, k+1, k+2) modulo 256. It reads
// no texel. (0, 0, 0) when a5 or a6 is zero or the arithmetic overflows.
vec3 krvGetRgbBits(int a1, int a2, int a3, int a4, int a5, int a6, unsigned char a7);
