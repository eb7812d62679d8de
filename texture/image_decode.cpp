// Decoding an image file in a child process (texture/image_decode.h): the parent reads and checks
// the file, the child decodes its bytes from memory with FreeImage and streams the result; the
// parent takes nothing on trust.
//
// The stream: a StreamHeader; when its status is krvi::Image_Ok, the palette (RGBQUAD entries),
// the transparency table, `height` rows of the caller's row size, and kTrailerMagic. Every
// field is checked against what the caller asked for before a byte is allocated for it.
#include "texture/image_decode.h"

#include "platform/sandbox.h"

#include <FreeImage.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

bool Discard(void*, const void*, size_t) { return true; }
bool AdmitAll(uint64_t) { return true; }

// The decoding child may make no system call but the few its filter allows, so nothing it runs
// may start anything lazily that opens a file (a codec library that reads /proc/cpuinfo on its
// first use to choose its vector code, say). Encoding and decoding a small picture in each
// format here, in the parent, on bytes of its own, leaves every library started.
void WarmUpDecoders()
{
    FIBITMAP* dib = FreeImage_Allocate(16, 16, 24);
    if (!dib) return;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 48; ++x) FreeImage_GetScanLine(dib, y)[x] = static_cast<BYTE>(x * y);
    for (FREE_IMAGE_FORMAT fif : {FIF_JPEG, FIF_PNG, FIF_BMP, FIF_TARGA}) {
        FIMEMORY* mem = FreeImage_OpenMemory(nullptr, 0);
        BYTE* data = nullptr;
        DWORD size = 0;
        if (mem && FreeImage_SaveToMemory(fif, dib, mem, 0) &&
            FreeImage_AcquireMemory(mem, &data, &size)) {
            for (int rows : {krvi::Rows_BGR, krvi::Rows_Bitmap}) {
                const krvi::DecodeRequest request = {data, size, fif, rows, AdmitAll};
                krvi::DecodeToStream(request, krvi::StreamSink{Discard, nullptr});
            }
        }
        if (mem) FreeImage_CloseMemory(mem);
    }
    FreeImage_Unload(dib);
}

}  // namespace

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
        WarmUpDecoders();
        return true;
    }();
    (void)once;
}

namespace {

constexpr uint32_t kStreamMagic = 0x3147444B;   // "KDG1"
constexpr uint32_t kTrailerMagic = 0x21444E45;  // "END!"

struct StreamHeader {
    uint32_t magic;
    int32_t status;
    int32_t width;
    int32_t height;
    int32_t type;  // FREE_IMAGE_TYPE
    int32_t bpp;
    uint32_t masks[3];
    int32_t paletteEntries;
    int32_t transparencyBytes;
    int32_t transparent;
};

// ---------------------------------------------------------------------------------------------
// The child.

bool TooLarge(FIBITMAP* dib)
{
    return FreeImage_GetWidth(dib) > static_cast<unsigned>(kMaxImageSide) ||
           FreeImage_GetHeight(dib) > static_cast<unsigned>(kMaxImageSide);
}

FIBITMAP* Open(FIMEMORY* mem, const krvi::DecodeRequest& request, int& status)
{
    FREE_IMAGE_FORMAT fif = FreeImage_GetFileTypeFromMemory(mem, 0);
    if (fif == FIF_UNKNOWN) fif = static_cast<FREE_IMAGE_FORMAT>(request.typeByName);
    if (fif == FIF_UNKNOWN) {
        status = krvi::Image_UnknownType;
        return nullptr;
    }
    status = krvi::Image_NoBitmap;
    if (!FreeImage_FIFSupportsReading(fif)) return nullptr;
    // The header alone first: an image that claims a huge size is refused before its pixels are
    // allocated and decoded.
    FreeImage_SeekMemory(mem, 0, SEEK_SET);
    FIBITMAP* header = FreeImage_LoadFromMemory(fif, mem, FIF_LOAD_NOPIXELS);
    if (!header) return nullptr;
    bool tooLarge = TooLarge(header);
    const uint64_t pixels = uint64_t{FreeImage_GetWidth(header)} * FreeImage_GetHeight(header);
    FreeImage_Unload(header);
    if (tooLarge) {
        status = krvi::Image_TooLarge;
        return nullptr;
    }
    if (!request.admit(pixels)) {
        status = krvi::Image_TooSlow;
        return nullptr;
    }
    FreeImage_SeekMemory(mem, 0, SEEK_SET);
    FIBITMAP* dib = FreeImage_LoadFromMemory(fif, mem, 0);
    if (!dib) return nullptr;
    if (TooLarge(dib)) {  // a decoder may find a larger picture than its header said
        FreeImage_Unload(dib);
        status = krvi::Image_TooLarge;
        return nullptr;
    }
    status = krvi::Image_Ok;
    return dib;
}

// Decodes the request's bytes, read by the library through a memory stream only.
FIBITMAP* Open(const krvi::DecodeRequest& request, int& status)
{
    status = krvi::Image_NoBitmap;
    FIMEMORY* mem =
        FreeImage_OpenMemory(const_cast<BYTE*>(request.data), static_cast<DWORD>(request.size));
    if (!mem) return nullptr;
    FIBITMAP* dib = Open(mem, request, status);
    FreeImage_CloseMemory(mem);
    return dib;
}

// The loaders' checks, in their order.
int LoaderStatus(FIBITMAP* dib)
{
    const unsigned bpp = FreeImage_GetBPP(dib);
    if (FreeImage_GetWidth(dib) == 0 || FreeImage_GetHeight(dib) == 0) return krvi::Image_NoSize;
    if ((bpp != 24 && bpp != 32) || FreeImage_GetImageType(dib) != FIT_BITMAP)
        return krvi::Image_BadDepth;
    if (!FreeImage_GetBits(dib)) return krvi::Image_NoBits;
    return krvi::Image_Ok;
}

// 24- or 32-bit rows cut down to what the loader keeps, sent a batch of rows at a time.
bool SendTexels(krvi::StreamSink sink, FIBITMAP* dib, int rows)
{
    const size_t width = FreeImage_GetWidth(dib);
    const unsigned height = FreeImage_GetHeight(dib);
    const size_t step = FreeImage_GetBPP(dib) / 8;
    const size_t out = rows == krvi::Rows_BGR ? 3 : 1;
    const size_t rowBytes = width * out;
    // About 256 KiB a batch, and no more rows than the picture has: a small picture's batch is
    // its size, not a quarter of a megabyte to clear.
    const size_t fit = rowBytes >= (size_t{1} << 18) ? 1 : (size_t{1} << 18) / rowBytes;
    const size_t batchRows = fit < height ? fit : height;
    std::vector<uint8> batch(batchRows * rowBytes);
    size_t filled = 0;
    for (unsigned y = 0; y < height; ++y) {
        const uint8* src = FreeImage_GetScanLine(dib, static_cast<int>(y));
        uint8* dst = batch.data() + filled * rowBytes;
        if (rows == krvi::Rows_BGR) {
            for (size_t x = 0; x < width; ++x, src += step, dst += 3) {
                dst[0] = src[0];
                dst[1] = src[1];
                dst[2] = src[2];
            }
        } else {
            for (size_t x = 0; x < width; ++x, src += step) *dst++ = src[FI_RGBA_RED];
        }
        if (++filled == batchRows || y + 1 == height) {
            if (!sink.write(sink.context, batch.data(), filled * rowBytes)) return false;
            filled = 0;
        }
    }
    return true;
}

// The stream of a decoded picture after the header's status.
bool SendPicture(krvi::StreamSink sink, FIBITMAP* dib, int rows, StreamHeader& h)
{
    h.width = static_cast<int32_t>(FreeImage_GetWidth(dib));
    h.height = static_cast<int32_t>(FreeImage_GetHeight(dib));
    h.type = FreeImage_GetImageType(dib);
    h.bpp = static_cast<int32_t>(FreeImage_GetBPP(dib));
    if (rows != krvi::Rows_Bitmap) {
        return sink.write(sink.context, &h, sizeof h) && SendTexels(sink, dib, rows) &&
               sink.write(sink.context, &kTrailerMagic, sizeof kTrailerMagic);
    }
    h.masks[0] = FreeImage_GetRedMask(dib);
    h.masks[1] = FreeImage_GetGreenMask(dib);
    h.masks[2] = FreeImage_GetBlueMask(dib);
    const RGBQUAD* palette = FreeImage_GetPalette(dib);
    h.paletteEntries = palette ? static_cast<int32_t>(FreeImage_GetColorsUsed(dib)) : 0;
    const BYTE* transparency = FreeImage_GetTransparencyTable(dib);
    // A transparency table belongs to a palette; other depths carry alpha in their texels.
    h.transparencyBytes =
        palette && transparency ? static_cast<int32_t>(FreeImage_GetTransparencyCount(dib)) : 0;
    h.transparent = FreeImage_IsTransparent(dib) ? 1 : 0;
    if (!sink.write(sink.context, &h, sizeof h) ||
        !sink.write(sink.context, palette,
                    sizeof(RGBQUAD) * static_cast<size_t>(h.paletteEntries)) ||
        !sink.write(sink.context, transparency, static_cast<size_t>(h.transparencyBytes)))
        return false;
    const size_t line = FreeImage_GetLine(dib);
    for (int y = 0; y < h.height; ++y)
        if (!sink.write(sink.context, FreeImage_GetScanLine(dib, y), line)) return false;
    return sink.write(sink.context, &kTrailerMagic, sizeof kTrailerMagic);
}

}  // namespace

bool krvi::DecodeToStream(const DecodeRequest& request, StreamSink sink)
{
    StreamHeader h;
    std::memset(&h, 0, sizeof h);
    h.magic = kStreamMagic;
    int status = krvi::Image_Ok;
    FIBITMAP* dib = Open(request, status);
    if (dib) {
        if (request.rows != krvi::Rows_Bitmap)
            status = LoaderStatus(dib);
        else if (FreeImage_GetWidth(dib) == 0 || FreeImage_GetHeight(dib) == 0 ||
                 !FreeImage_HasPixels(dib))
            status = krvi::Image_NoBitmap;
    }
    h.status = status;
    const bool sent = status == krvi::Image_Ok ? SendPicture(sink, dib, request.rows, h)
                                               : sink.write(sink.context, &h, sizeof h);
    if (dib) FreeImage_Unload(dib);
    return sent;
}

namespace {

bool WriteToPipe(void* context, const void* data, size_t bytes)
{
    return krvplat::WriteAll(*static_cast<const int*>(context), data, bytes);
}

bool RaiseProcessorLimit(uint64_t texels)
{
    krvplat::LimitProcessorTime(kDecodeCpuSeconds +
                                static_cast<int>(texels / kDecodePixelsPerSecond));
    return true;
}

bool DecodeJob(int fd, void* context)
{
    return krvi::DecodeToStream(*static_cast<const krvi::DecodeRequest*>(context),
                                krvi::StreamSink{WriteToPipe, &fd});
}

// ---------------------------------------------------------------------------------------------
// The parent.

// The image types and depths the four decoders produce; anything else in a header is refused.
bool KnownLayout(int type, int bpp)
{
    switch (type) {
    case FIT_BITMAP: return bpp == 1 || bpp == 4 || bpp == 8 || bpp == 16 || bpp == 24 || bpp == 32;
    case FIT_UINT16: return bpp == 16;
    case FIT_RGB16: return bpp == 48;
    case FIT_RGBA16: return bpp == 64;
    default: return false;
    }
}

bool ReceiveTexels(krvplat::ChildProcess& child, const StreamHeader& h, int rows,
                   krvi::DecodedImage& image)
{
    if (h.type != FIT_BITMAP || (h.bpp != 24 && h.bpp != 32)) return false;
    const size_t bytes = static_cast<size_t>(h.width) * static_cast<size_t>(h.height) *
                         (rows == krvi::Rows_BGR ? 3u : 1u);
    image.texels.reset(new uint8[bytes]);
    return child.Read(image.texels.get(), bytes);
}

bool ReceiveBitmap(krvplat::ChildProcess& child, const StreamHeader& h, krvi::DecodedImage& image)
{
    if (!KnownLayout(h.type, h.bpp)) return false;
    const int entries = h.type == FIT_BITMAP && h.bpp <= 8 ? 1 << h.bpp : 0;
    if (h.paletteEntries != entries) return false;
    if (h.transparencyBytes < 0 || h.transparencyBytes > 256 ||
        (h.transparencyBytes > 0 && entries == 0) || (h.transparent != 0 && h.transparent != 1))
        return false;
    FIBITMAP* dib = FreeImage_AllocateT(static_cast<FREE_IMAGE_TYPE>(h.type), h.width, h.height,
                                        h.bpp, h.masks[0], h.masks[1], h.masks[2]);
    if (!dib) return false;
    image.dib = dib;
    const size_t line = (static_cast<size_t>(h.width) * static_cast<size_t>(h.bpp) + 7) / 8;
    if (FreeImage_GetLine(dib) != line ||
        FreeImage_GetColorsUsed(dib) != static_cast<unsigned>(entries))
        return false;
    if (entries > 0 &&
        !child.Read(FreeImage_GetPalette(dib), sizeof(RGBQUAD) * static_cast<size_t>(entries)))
        return false;
    if (h.transparencyBytes > 0) {
        BYTE table[256];
        if (!child.Read(table, static_cast<size_t>(h.transparencyBytes))) return false;
        FreeImage_SetTransparencyTable(dib, table, h.transparencyBytes);
    }
    for (int y = 0; y < h.height; ++y)
        if (!child.Read(FreeImage_GetScanLine(dib, y), line)) return false;
    FreeImage_SetTransparent(dib, h.transparent ? TRUE : FALSE);
    return true;
}

bool ReceivePicture(krvplat::ChildProcess& child, const StreamHeader& h, int rows,
                    krvi::DecodedImage& image)
{
    if (h.width < 1 || h.width > kMaxImageSide || h.height < 1 || h.height > kMaxImageSide)
        return false;
    bool ok = rows == krvi::Rows_Bitmap ? ReceiveBitmap(child, h, image)
                                        : ReceiveTexels(child, h, rows, image);
    uint32_t trailer = 0;
    if (!ok || !child.Read(&trailer, sizeof trailer) || trailer != kTrailerMagic) return false;
    image.width = h.width;
    image.height = h.height;
    return true;
}

// One child's decode of the request; stalled tells whether the child waited out its deadline
// without working (ChildProcess::Stalled).
int DecodeInChild(const krvi::DecodeRequest& request, const krvplat::ChildLimits& limits, int rows,
                  krvi::DecodedImage& image, bool& stalled)
{
    krvplat::ChildProcess child;
    if (!child.Start(DecodeJob, const_cast<krvi::DecodeRequest*>(&request), limits))
        return krvi::Image_NoBitmap;

    krvi::DecodedImage received;
    StreamHeader h;
    bool complete = false;
    int status = krvi::Image_NoBitmap;
    if (child.Read(&h, sizeof h) && h.magic == kStreamMagic) {
        if (h.status == krvi::Image_Ok) {
            complete = ReceivePicture(child, h, rows, received);
            if (complete) status = krvi::Image_Ok;
        } else {
            complete = true;
            if (h.status > krvi::Image_Ok && h.status < krvi::Image_StatusCount &&
                h.status != krvi::Image_TooSlow && h.status != krvi::Image_Forbidden)
                status = h.status;
        }
    }
    const krvplat::ChildEnd end = child.Finish(complete);
    stalled = end == krvplat::ChildEnd_TooSlow && child.Stalled();
    if (end == krvplat::ChildEnd_TooSlow)
        status = krvi::Image_TooSlow;
    else if (end == krvplat::ChildEnd_Forbidden) {
        status = krvi::Image_Forbidden;
        image.forbiddenCall = child.ForbiddenCall();
    } else if (end != krvplat::ChildEnd_Done)
        status = krvi::Image_NoBitmap;
    if (status != krvi::Image_Ok) {
        if (received.dib) FreeImage_Unload(received.dib);
        return status;
    }
    image = std::move(received);
    return krvi::Image_Ok;
}

}  // namespace

int krvDecodeImage(const char* nativePath, int rows, krvi::DecodedImage& image)
{
    if (rows != krvi::Rows_BGR && rows != krvi::Rows_Red && rows != krvi::Rows_Bitmap)
        return krvi::Image_NoBitmap;
    // In the parent, before any fork: the child must find the library ready, not initialise it.
    krvRestrictImageDecoders();
    krvi::ImageBytes bytes;
    int status = krvReadImageFile(nativePath, bytes);
    if (status == krvi::Image_Ok)
        status = krvCheckImageBytes(bytes.data.get(), bytes.size, nativePath);
    if (status != krvi::Image_Ok) return status;

    krvplat::ChildLimits limits;
    limits.cpuSeconds = kDecodeCpuSeconds;
    limits.maxCpuSeconds =
        kDecodeCpuSeconds +
        static_cast<int>(uint64_t{kMaxImageSide} * kMaxImageSide / kDecodePixelsPerSecond);
    limits.wallMilliseconds = kDecodeWallMilliseconds;
    limits.memoryBytes = kDecodeMemoryBytes;
    // The child inherits the bytes with the rest of the parent's memory.
    const krvi::DecodeRequest request = {bytes.data.get(), bytes.size,
                                         FreeImage_GetFIFFromFilename(nativePath), rows,
                                         RaiseProcessorLimit};
    // A child that waited out its deadline without working was stuck on something of the
    // program's, not of the file: one more child decodes it.
    bool stalled = false;
    status = DecodeInChild(request, limits, rows, image, stalled);
    if (stalled) status = DecodeInChild(request, limits, rows, image, stalled);
    return status;
}
