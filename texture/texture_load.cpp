// Creating textures and loading them from image files through FreeImage.
#include "texture/texture.h"
#include "texture/texture_generate.h"

#include "api/string.h"

#include <FreeImage.h>

#include <climits>
#include <cmath>
#include <cstddef>
#include <string>
#include <sys/stat.h>

// platform/platform.h brings the Win32 subset, whose bitmap structs clash with FreeImage.h's
// own copies; of the platform layer only this one function is needed here.
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
    // Not cleared: callers fill every texel or clear the target before drawing.
    Bits = new uint8[bytes];
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
// Image files.

void krvRestrictImageDecoders()
{
    // Only the four formats the program's data use are decoded; the other decoders of the
    // library are a needless attack surface for files that merely carry a known extension.
    static const bool once = [] {
        if (FreeImage_GetFIFCount() == 0) FreeImage_Initialise(FALSE);
        int count = FreeImage_GetFIFCount();
        for (int i = 0; i < count; ++i) {
            FREE_IMAGE_FORMAT fif = static_cast<FREE_IMAGE_FORMAT>(i);
            bool keep = fif == FIF_JPEG || fif == FIF_PNG || fif == FIF_BMP || fif == FIF_TARGA;
            FreeImage_SetPluginEnabled(fif, keep ? TRUE : FALSE);
        }
        return true;
    }();
    (void)once;
}

static bool TooLarge(FIBITMAP* dib)
{
    return FreeImage_GetWidth(dib) > static_cast<unsigned>(kMaxImageSide) ||
           FreeImage_GetHeight(dib) > static_cast<unsigned>(kMaxImageSide);
}

FIBITMAP* krvOpenImage(const char* nativePath, int& status)
{
    krvRestrictImageDecoders();
    // A FIFO would block the decoder's open, a directory or device is no image. A name that does
    // not exist goes on, so that it is reported by type as any other unreadable name.
    struct stat st;
    if (stat(nativePath, &st) == 0 && !S_ISREG(st.st_mode)) {
        status = KrvImage_NoBitmap;
        return nullptr;
    }
    FREE_IMAGE_FORMAT fif = FreeImage_GetFileType(nativePath, 0);
    if (fif == FIF_UNKNOWN) fif = FreeImage_GetFIFFromFilename(nativePath);
    if (fif == FIF_UNKNOWN) {
        status = KrvImage_UnknownType;
        return nullptr;
    }
    if (!FreeImage_FIFSupportsReading(fif)) {
        status = KrvImage_NoBitmap;
        return nullptr;
    }
    // The header alone first: an image that claims a huge size is refused before its pixels
    // are allocated and decoded.
    FIBITMAP* header = FreeImage_Load(fif, nativePath, FIF_LOAD_NOPIXELS);
    if (!header) {
        status = KrvImage_NoBitmap;
        return nullptr;
    }
    bool tooLarge = TooLarge(header);
    FreeImage_Unload(header);
    if (tooLarge) {
        status = KrvImage_TooLarge;
        return nullptr;
    }
    FIBITMAP* dib = FreeImage_Load(fif, nativePath, 0);
    if (!dib) {
        status = KrvImage_NoBitmap;
        return nullptr;
    }
    // The file may have changed between the two reads.
    if (TooLarge(dib)) {
        FreeImage_Unload(dib);
        status = KrvImage_TooLarge;
        return nullptr;
    }
    status = KrvImage_Ok;
    return dib;
}

namespace {

// A decoded 24- or 32-bit image ready to be copied: rows pitch bytes apart, texels
// bytesPerTexel apart, blue, green, red first.
struct SourceImage {
    FIBITMAP* dib = nullptr;
    const uint8* bits = nullptr;
    int width = 0;
    int height = 0;
    size_t pitch = 0;
    size_t bytesPerTexel = 0;

    const uint8* Texel(int x, int y) const
    {
        return bits + static_cast<size_t>(y) * pitch + static_cast<size_t>(x) * bytesPerTexel;
    }
};

}  // namespace

// Opens file (named relative to the program's directory) for a loader and checks it in the
// loader's order; on failure reports one line and leaves the image unset.
static bool OpenSource(const char* file, SourceImage& image)
{
    // The path is reported as the program builds it, before it becomes a native name.
    std::string path = std::string(ModuleDirectory.c_str()) + (file ? file : "");
    std::string prefix = "Error loading file " + path + " -> ";
    std::string native = krvplat::NativePath(path.c_str());

    int status = KrvImage_Ok;
    FIBITMAP* dib = krvOpenImage(native.c_str(), status);
    const char* problem = nullptr;
    switch (status) {
    case KrvImage_Ok: break;
    case KrvImage_UnknownType: problem = "FIF is FIF_UNKNOWN!"; break;
    case KrvImage_TooLarge: problem = "Image is larger than 8192 pixels a side!"; break;
    default: problem = "DIB is NULL!"; break;
    }
    if (dib) {
        unsigned width = FreeImage_GetWidth(dib);
        unsigned height = FreeImage_GetHeight(dib);
        unsigned bpp = FreeImage_GetBPP(dib);
        if (width == 0 || height == 0)
            problem = "Width or Height is 0!";
        else if ((bpp != 24 && bpp != 32) || FreeImage_GetImageType(dib) != FIT_BITMAP)
            problem = "BPP is not 24 nor 32!";
        else if (!FreeImage_GetBits(dib))
            problem = "Bits is NULL!";
        if (problem) {
            FreeImage_Unload(dib);
        } else {
            image.dib = dib;
            image.bits = FreeImage_GetBits(dib);
            image.width = static_cast<int>(width);
            image.height = static_cast<int>(height);
            image.pitch = FreeImage_GetPitch(dib);
            image.bytesPerTexel = bpp / 8;
        }
    }
    if (problem) {
        krvReportError((prefix + problem + "\r\n").c_str());
        return false;
    }
    return true;
}

bool CTexture::LoadTexture(const char* file)
{
    SourceImage image;
    if (!OpenSource(file, image)) return false;
    Create(image.width, image.height, KrvFormat_BGR);
    // Rows keep the decoder's order (bottom row of the picture first); alpha is dropped.
    for (int y = 0; y < image.height; ++y) {
        uint8* dst = Bits + static_cast<size_t>(y) * static_cast<size_t>(Pitch);
        for (int x = 0; x < image.width; ++x) {
            const uint8* src = image.Texel(x, y);
            dst[0] = src[0];
            dst[1] = src[1];
            dst[2] = src[2];
            dst += 3;
        }
    }
    FreeImage_Unload(image.dib);
    return true;
}

bool CTexture::LoadTextureToDot3(const char* file, float scale)
{
    SourceImage image;
    if (!OpenSource(file, image)) return false;
    Create(image.width, image.height, KrvFormat_BGR);
    const int w = image.width;
    const int h = image.height;
    // The height is the red byte (byte 2 in blue-green-red order). The other channels would
    // each be computed and overwritten by red, so only red is computed. A 32-bit source is read
    // the same way, its texels four bytes apart.
    const int channel = 2;
    auto H = [&](int i, int j) { return static_cast<float>(image.Texel(i, j)[channel]) / 255.0f; };
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
    FreeImage_Unload(image.dib);
    return true;
}
