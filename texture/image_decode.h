// Decoding image files for the loaders (texture_load.cpp) and krvGetBitmap
// (texture_generate.cpp).
//
// The image library has faults that hostile files reach: crashes on a few bytes, gigabytes
// allocated for a text chunk, minutes spent on a truncated run-length image. So it never decodes
// in the program's own process. The file is first checked here (a regular file, its header
// sizes and structure, the side limit), then decoded in a child process limited in processor
// time, wall-clock time and added memory (platform/sandbox.h; the limits are below). The child
// sends back only the bytes the caller needs, and the parent checks every number it receives; a
// child that crashes, is killed or sends too little is a failed decode.
#pragma once

#include "texture/texture.h"

#include <cstddef>
#include <memory>

struct FIBITMAP;

// The child may spend kDecodeCpuSeconds of processor time, plus a second for every
// kDecodePixelsPerSecond texels the image declares once its header is read, so a small image
// gets no more than 2 s while the dearest legitimate 8192 x 8192 images, up to 6 s, still load:
// the library alone takes 2.6 s for a PNG of noisy content (0.6 s for a baseline JPEG) and 3.8 s
// for a progressive JPEG without chroma subsampling, which holds all its coefficients (384 MiB)
// beside the decoded bitmap (192 MiB). The wall-clock deadline is for a child that waits rather
// than computes; it is generous because a busy machine can stretch processor time severalfold.
constexpr int kDecodeCpuSeconds = 2;
constexpr unsigned kDecodePixelsPerSecond = 16u << 20;
constexpr int kDecodeWallMilliseconds = 20000;
constexpr size_t kDecodeMemoryBytes = size_t{640} << 20;

namespace krvi {

enum ImageStatus_ {
    Image_Ok = 0,
    Image_UnknownType,  // neither content nor name tells a readable format
    Image_NoBitmap,     // not a regular file, format not readable, or decoding failed
    Image_TooLarge,     // wider or taller than kMaxImageSide
    Image_NoSize,       // zero width or height (loaders only)
    Image_BadDepth,     // not 24 or 32 bits a pixel (loaders only)
    Image_NoBits,       // the decoder gave no pixels (loaders only)
    Image_TooSlow,      // the decoder ran out of time
    Image_StatusCount
};

// What the caller wants of the picture. Rows come bottom row first, as the library stores them.
enum ImageRows_ {
    Rows_BGR = 0,  // 24- or 32-bit images only: blue, green, red of each texel, no padding
    Rows_Red,      // 24- or 32-bit images only: the red byte of each texel, no padding
    Rows_Bitmap    // any image: a FreeImage bitmap of the same type, depth and palette
};

struct DecodedImage {
    int width = 0;
    int height = 0;
    std::unique_ptr<uint8[]> texels;  // Rows_BGR and Rows_Red
    FIBITMAP* dib = nullptr;          // Rows_Bitmap; the caller unloads it
};

}  // namespace krvi

// Decodes the file at nativePath. On krvi::Image_Ok the image holds the picture; otherwise it is
// left empty. Nothing is reported: the caller words the error.
int krvDecodeImage(const char* nativePath, int rows, krvi::DecodedImage& image);

// The checks made in the program's own process before any decoder sees the file: krvi::Image_Ok
// when the file may go to the decoder, or the status that refuses it. They read headers and
// chunk lengths only, and refuse what the decoder would crash on, fail on, or take far too long
// over: a header or identification field running past the end of the file, a chunk longer
// than the file, a side over kMaxImageSide, run-length data too short to cover the image.
int krvCheckImageFile(const char* nativePath);
