// Creating textures and loading them from image files (decoded by texture/image_decode.cpp).
#include "texture/texture.h"
#include "texture/image_decode.h"
#include "texture/texture_generate.h"

#include "base/report.h"

#include <climits>
#include <cmath>
#include <cstddef>
#include <string>

// Of the platform layer (whose header brings the whole Win32 subset) only this one function is
// needed here.
namespace krvplat {
std::string NativePath(const char* path);
}

static const char kGeneratePrefix[] = "Error generating texture  -> ";

static int BytesPerTexel(int format)
{
    switch (format) {
    case KrvFormat_BGR: return 3;
    case KrvFormat_RGBA32: return 4;
    case KrvFormat_Depth16: return 2;
    default: return 0;
    }
}

// The buffer size of a width x height texture, or 0 when it is not a valid texture size. A
// buffer is kept below INT_MAX bytes so that every byte offset into it, and every pitch, fits an
// int wherever the pipeline indexes it.
static size_t TextureBytes(int width, int height, int bytesPerTexel)
{
    if (width <= 0 || height <= 0 || bytesPerTexel <= 0) return 0;
    size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(bytesPerTexel);
    if (bytes > static_cast<size_t>(INT_MAX) / static_cast<size_t>(height)) return 0;
    return bytes * static_cast<size_t>(height);
}

void CTexture::Create(int width, int height, int format)
{
    delete[] Bits;
    Init();
    int texel = BytesPerTexel(format);
    size_t bytes = TextureBytes(width, height, texel);
    if (bytes == 0) return;
    // Zero, so that a texture read or drawn into before it is filled holds the same bytes
    // every time.
    Bits = new uint8[bytes]();
    Width = width;
    Height = height;
    Format = format;
    Pitch = format == KrvFormat_Depth16 ? 0 : width * texel;
}

void CTexture::Create(int width, int height, int& bytesPerTexel, int format, uint8*& bits)
{
    if (width == 0 || height == 0) {
        krvReportError((std::string(kGeneratePrefix) + "Width or Height is 0!\r\n").c_str());
        return;
    }
    // Compared as bytes: bytesPerTexel * 8 would overflow for absurd values.
    if (bytesPerTexel != 3 && bytesPerTexel != 4) {
        krvReportError((std::string(kGeneratePrefix) + "BPP is not 24 nor 32!\r\n").c_str());
        return;
    }
    Create(width, height, format);
    // Null when nothing was allocated, so the caller never keeps a released buffer.
    bits = Bits;
}

// ---------------------------------------------------------------------------------------------
// Image files, decoded away from the program (texture/image_decode.h).

// Decodes file (named relative to the program's directory) into the rows a loader needs, or
// reports one line and leaves the image empty.
static bool DecodeForLoader(const char* file, int rows, krvi::DecodedImage& image)
{
    // The path is reported as the program builds it, before it becomes a native name.
    std::string path = std::string(ModuleDirectory.c_str()) + (file ? file : "");
    std::string native = krvplat::NativePath(path.c_str());
    const char* problem = nullptr;
    std::string forbidden;
    switch (krvDecodeImage(native.c_str(), rows, image)) {
    case krvi::Image_Ok: return true;
    case krvi::Image_UnknownType: problem = "FIF is FIF_UNKNOWN!"; break;
    case krvi::Image_TooLarge: problem = "Image is larger than 8192 pixels a side!"; break;
    case krvi::Image_NoSize: problem = "Width or Height is 0!"; break;
    case krvi::Image_BadDepth: problem = "BPP is not 24 nor 32!"; break;
    case krvi::Image_NoBits: problem = "Bits is NULL!"; break;
    case krvi::Image_TooSlow: problem = "Image took too long to decode!"; break;
    case krvi::Image_Forbidden:
        // The call's number, where known, is what a report of the failure needs.
        forbidden = image.forbiddenCall < 0 ? std::string("Decoder made a forbidden system call!")
                                            : "Decoder made a forbidden system call (" +
                                                  std::to_string(image.forbiddenCall) + ")!";
        problem = forbidden.c_str();
        break;
    default: problem = "DIB is NULL!"; break;
    }
    krvReportError(("Error loading file " + path + " -> " + problem + "\r\n").c_str());
    return false;
}

bool CTexture::LoadTexture(const char* file)
{
    krvi::DecodedImage image;
    if (!DecodeForLoader(file, krvi::Rows_BGR, image)) return false;
    // The decoded rows are the texture's own layout (bottom row of the picture first, blue,
    // green, red, alpha dropped): the buffer is taken over as it is. At most 8192 x 8192 x 3
    // bytes, within the INT_MAX bytes of any texture.
    delete[] Bits;
    Bits = image.texels.release();
    Width = image.width;
    Height = image.height;
    Format = KrvFormat_BGR;
    Pitch = image.width * 3;
    return true;
}

bool CTexture::LoadTextureToDot3(const char* file, float scale)
{
    // Only the height is needed: the red byte (byte 2 in blue-green-red order) of each texel.
    // The other channels would each be computed and overwritten by red, so only red is
    // computed. A 32-bit source is read the same way.
    krvi::DecodedImage image;
    if (!DecodeForLoader(file, krvi::Rows_Red, image)) return false;
    Create(image.width, image.height, KrvFormat_BGR);
    const int w = image.width;
    const int h = image.height;
    const uint8* red = image.texels.get();
    auto H = [&](int i, int j) {
        return static_cast<float>(
                   red[static_cast<size_t>(j) * static_cast<size_t>(w) + static_cast<size_t>(i)]) /
               255.0f;
    };
    for (int y = 0; y < h; ++y) {
        const int yd = (y - 1 + h) % h;
        const int yu = (y + 1) % h;
        uint8* dst = Bits + static_cast<size_t>(y) * static_cast<size_t>(Pitch);
        for (int x = 0; x < w; ++x) {
            const int xl = (x - 1 + w) % w;
            const int xr = (x + 1) % w;
            float gx = -scale * ((H(xr, yd) + 2.0f * H(xr, y) + H(xr, yu)) -
                                 (H(xl, yd) + 2.0f * H(xl, y) + H(xl, yu)));
            float gy = -scale * ((H(xl, yd) + 2.0f * H(x, yd) + H(xr, yd)) -
                                 (H(xl, yu) + 2.0f * H(x, yu) + H(xr, yu)));
            float len = std::sqrt(gx * gx + gy * gy + 1.0f);
            // |gx| <= len, so each value lies in 0..255 (NaN from a NaN scale becomes 0).
            dst[2] = static_cast<uint8>(TruncToInt((gx / len + 1.0f) * 0.5f * 255.0f));
            dst[1] = static_cast<uint8>(TruncToInt((gy / len + 1.0f) * 0.5f * 255.0f));
            dst[0] = static_cast<uint8>(TruncToInt((1.0f / len + 1.0f) * 0.5f * 255.0f));
            dst += 3;
        }
    }
    return true;
}
