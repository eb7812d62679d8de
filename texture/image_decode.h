// Decoding image files for the loaders (texture_load.cpp) and krvGetBitmap
// (texture_generate.cpp).
//
// The image library has faults that hostile files reach: crashes on a few bytes, gigabytes
// allocated for a text chunk, minutes spent on a truncated run-length image, and known faults
// that let a file run code. So it never decodes in the program's own process. The file is read
// here into memory (a regular file, no larger than kMaxImageFileBytes) and checked (its header
// sizes and structure, the side limit); then a child process decodes those bytes from memory,
// limited in processor time, wall-clock time and added memory, with no descriptor but its pipe
// and a system-call filter that kills it on anything but computing and writing to the pipe
// (platform/sandbox.h; the limits are below). The child sends back only the bytes the caller
// needs, and the parent checks every number it receives; a child that crashes, is killed or
// sends too little is a failed decode.
#pragma once

#include "texture/texture.h"

#include <cstddef>
#include <cstdint>
#include <memory>

struct FIBITMAP;

// Largest width or height of an image file the loaders accept, and of a render-to-texture or
// shadow texture: 8192 x 8192 texels are 192 MiB in colour, an amount a program can still be
// expected to have.
constexpr int kMaxImageSide = 8192;

// Limits the decoder to JPEG, PNG, BMP and TARGA (once per process; later calls do nothing).
// Every loader calls it before touching a file; tests call it to know the state they run in.
void krvRestrictImageDecoders();

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
// The largest file read for decoding: above what any image within the side limit takes (an
// uncompressed 8192 x 8192 picture of 16-bit RGBA, in stored PNG blocks, is 513 MiB).
constexpr uint64_t kMaxImageFileBytes = uint64_t{576} << 20;

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
    Image_Forbidden,    // the decoder made a system call its filter forbids
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
    int forbiddenCall = -1;           // Image_Forbidden: the call the filter stopped, if known
};

// A file's bytes as the parent read them.
struct ImageBytes {
    std::unique_ptr<uint8[]> data;
    size_t size = 0;
};

// Where the decoding writes its stream: the pipe in the child, anything in a test or fuzzer.
struct StreamSink {
    bool (*write)(void* context, const void* data, size_t bytes);
    void* context;
};

// What the decoding works on: bytes that passed krvCheckImageBytes, the format the file's name
// tells (for a file its content does not), and the rows wanted.
struct DecodeRequest {
    const uint8* data;
    size_t size;
    int typeByName;  // FREE_IMAGE_FORMAT
    int rows;
    // Called once the header gives the number of texels, before they are decoded; false
    // refuses the image as too slow. The child raises its processor-time limit here.
    bool (*admit)(uint64_t texels);
};

// The decoding child's work, run as is in-process by the decoder fuzzer: decodes the request
// and writes its stream. False when the sink refused a write.
bool DecodeToStream(const DecodeRequest& request, StreamSink sink);

}  // namespace krvi

// Decodes the file at nativePath. On krvi::Image_Ok the image holds the picture; otherwise it is
// left empty. Nothing is reported: the caller words the error.
int krvDecodeImage(const char* nativePath, int rows, krvi::DecodedImage& image);

// Reads the file at nativePath whole: krvi::Image_Ok, or the status that refuses it (not a
// regular file, unreadable, larger than kMaxImageFileBytes). Neither a FIFO nor a device is
// opened in a way that blocks or acts.
int krvReadImageFile(const char* nativePath, krvi::ImageBytes& bytes);

// The checks made in the program's own process before any decoder sees the bytes: krvi::Image_Ok
// when they may go to the decoder, or the status that refuses them. They read headers and
// chunk lengths only, and refuse what the decoder would crash on, fail on, or take far too long
// over: a header or identification field running past the end of the file, a chunk longer
// than the file, a side over kMaxImageSide, run-length data too short to cover the image.
// nativePath is the file's name, which tells the format of a file without a signature.
int krvCheckImageBytes(const uint8* data, size_t size, const char* nativePath);
