// Reading an image file, and the in-process checks of its bytes before they are decoded
// (texture/image_decode.h): headers and chunk lengths of the four formats the program decodes.
//
// They refuse only what the decoder would refuse too, crash on, or spend far too long on; what
// they cannot judge (a JPEG's entropy-coded data, a truncated but well-formed image) goes to the
// child process, whose limits bound it.
#include "texture/image_decode.h"

#include <FreeImage.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The file's bytes, read at offsets with the end of the file checked.
class FileBytes {
public:
    FileBytes(const uint8* data, uint64_t size) : data_(data), size_(size) {}
    uint64_t Size() const { return size_; }
    // Exactly n bytes at offset `at`; false past the end of the file.
    bool Read(uint64_t at, void* out, size_t n) const
    {
        if (at > size_ || n > size_ - at) return false;
        std::memcpy(out, data_ + at, n);
        return true;
    }

private:
    const uint8* data_;
    uint64_t size_;
};

uint32_t Big32(const uint8* p)
{
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
uint32_t Big16(const uint8* p) { return (uint32_t{p[0]} << 8) | p[1]; }
uint32_t Little16(const uint8* p) { return uint32_t{p[0]} | (uint32_t{p[1]} << 8); }
uint32_t Little32(const uint8* p) { return Little16(p) | (Little16(p + 2) << 16); }

constexpr uint32_t kMaxSide = static_cast<uint32_t>(kMaxImageSide);

// PNG: the decoder fails on any chunk that runs past the end of the file and on a file without
// IEND, but only after allocating what the chunk claims (a text chunk may claim 2 GB). So the
// chunk lengths are walked here up to IEND.
int CheckPng(const FileBytes& f)
{
    uint8 head[8 + 8 + 13];
    if (!f.Read(0, head, sizeof head)) return krvi::Image_NoBitmap;
    if (Big32(head + 8) != 13 || std::memcmp(head + 12, "IHDR", 4) != 0)
        return krvi::Image_NoBitmap;
    if (Big32(head + 16) > kMaxSide || Big32(head + 20) > kMaxSide) return krvi::Image_TooLarge;
    uint64_t at = 8;
    for (;;) {
        uint8 chunk[8];
        if (!f.Read(at, chunk, sizeof chunk)) return krvi::Image_NoBitmap;
        const uint32_t length = Big32(chunk);
        if (length > 0x7FFFFFFFu) return krvi::Image_NoBitmap;  // the format's own limit
        const uint64_t end = at + 12 + length;                  // length, type, data, CRC
        if (end > f.Size()) return krvi::Image_NoBitmap;
        if (std::memcmp(chunk + 4, "IEND", 4) == 0) return krvi::Image_Ok;
        at = end;
    }
}

// A Huffman-coded JPEG spends at least one bit on every 8 x 8 block of every component (the DC
// difference of a baseline block, or of the first, DC-only scan of a progressive one). A file
// smaller than that holds almost nothing of its picture, yet the decoder would allocate the whole
// image, and for a progressive file all its coefficients too (hundreds of megabytes for a few
// kilobytes). `frame` is the frame header from its length field on.
bool TooShortForFrame(const FileBytes& f, const uint8* frame, uint32_t frameLength)
{
    const uint32_t height = Big16(frame + 3);
    const uint32_t width = Big16(frame + 5);
    const uint32_t components = frame[7];
    if (components == 0 || frameLength < 8 + 3 * components) return false;
    uint32_t hMax = 1, vMax = 1;
    for (uint32_t c = 0; c < components; ++c) {
        const uint8 sampling = frame[8 + 3 * c + 1];
        hMax = std::max<uint32_t>(hMax, sampling >> 4);
        vMax = std::max<uint32_t>(vMax, sampling & 15);
    }
    uint64_t blocks = 0;
    for (uint32_t c = 0; c < components; ++c) {
        const uint8 sampling = frame[8 + 3 * c + 1];
        const uint64_t w = (uint64_t{width} * (sampling >> 4) + hMax - 1) / hMax;
        const uint64_t h = (uint64_t{height} * (sampling & 15) + vMax - 1) / vMax;
        blocks += ((w + 7) / 8) * ((h + 7) / 8);
    }
    return f.Size() * 8 < blocks;
}

// JPEG: the frame header gives the size. The walk finds the markers as the decoder does,
// which skips stray bytes up to the next 0xFF that starts a marker; past a megabyte of them the
// file is left to the decoder (and its limits).
int CheckJpeg(const FileBytes& f)
{
    uint64_t at = 2;
    uint64_t skipped = 0;
    uint8 m[4];
    while (f.Read(at, m, 2)) {
        const uint8 marker = m[1];
        if (m[0] != 0xFF || marker == 0x00 || marker == 0xFF) {  // stray or fill byte
            if (++skipped > (uint64_t{1} << 20)) return krvi::Image_Ok;
            ++at;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // no length field
            at += 2;
            continue;
        }
        if (marker == 0xD9 || marker == 0xDA) return krvi::Image_Ok;  // no frame before the scan
        if (!f.Read(at, m, 4)) return krvi::Image_Ok;
        const uint32_t length = Big16(m + 2);
        const bool frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            // Up to 255 components of 3 bytes after 8 bytes of header.
            uint8 header[8 + 3 * 255];
            const size_t have = std::min<size_t>(length, sizeof header);
            if (have < 8 || !f.Read(at + 2, header, have)) return krvi::Image_Ok;
            if (Big16(header + 3) > kMaxSide || Big16(header + 5) > kMaxSide)
                return krvi::Image_TooLarge;
            // Only the Huffman-coded frames: arithmetic coding can spend less than a bit a block.
            const bool huffman = marker == 0xC0 || marker == 0xC1 || marker == 0xC2;
            return huffman && TooShortForFrame(f, header, static_cast<uint32_t>(have))
                       ? krvi::Image_NoBitmap
                       : krvi::Image_Ok;
        }
        at += 2 + length;
    }
    return krvi::Image_Ok;
}

// BMP: the size from the info header, whose own size tells its layout (12 bytes: 16-bit sides;
// larger: 32-bit sides, a negative height meaning top-down rows).
int CheckBmp(const FileBytes& f)
{
    uint8 h[26];
    if (!f.Read(0, h, sizeof h)) return krvi::Image_Ok;
    uint32_t width, height;
    if (Little32(h + 14) == 12) {
        width = Little16(h + 18);
        height = Little16(h + 20);
    } else {
        width = Little32(h + 18);
        const int64_t signedHeight = static_cast<int32_t>(Little32(h + 22));
        height = static_cast<uint32_t>(signedHeight < 0 ? -signedHeight : signedHeight);
        if (static_cast<int32_t>(width) < 0) return krvi::Image_Ok;  // the decoder refuses it
    }
    return width > kMaxSide || height > kMaxSide ? krvi::Image_TooLarge : krvi::Image_Ok;
}

// The decoder's run-length loop stops at a packet that would end past the bitmap, but it
// measures that end as if the packet's texels were contiguous, while it moves to the next row
// after the last texel of a row. On rows padded to four bytes, a packet that runs past the
// image's last texel (by up to the padding of the rows left) so passes and writes past the
// bitmap. It also reads the packets through a buffer of the data's size divided by the height;
// smaller than a texel, it reads past that buffer and takes what lies there for packets. So for
// padded rows the buffer must hold a texel, and the packets are walked as the decoder takes
// them: none may pass its test yet run past the image, and the file must not end before they
// reach the image's end (the decoder would go on taking stale bytes for packets).
bool RunsFitPaddedRows(const FileBytes& f, uint64_t at, uint32_t width, uint32_t height,
                       uint32_t texelBytes)
{
    if ((f.Size() - at) / height < texelBytes) return false;
    const uint64_t pitch = (uint64_t{width} * texelBytes + 3) & ~uint64_t{3};
    const uint64_t texels = uint64_t{width} * height;
    for (uint64_t done = 0; done < texels;) {
        uint8 packet;
        if (!f.Read(at, &packet, 1)) return false;
        const uint32_t count = (packet & 0x7Fu) + 1;
        const uint64_t bytesLeft = (height - done / width) * pitch - done % width * texelBytes;
        if (uint64_t{count} * texelBytes > bytesLeft) return true;  // the decoder stops here
        if (count > texels - done) return false;
        done += count;
        at += 1 + uint64_t{texelBytes} * (packet & 0x80 ? 1 : count);
    }
    return true;
}

// TGA (no signature; known by its name): an 18-byte header, an identification field of up to
// 255 bytes and an optional colour map, then the pixels. The decoder reads the first two without
// looking at the file's end and crashes on a short file. Its run-length decoder crawls, taking
// a minute for a large image with no data left, so run-length data too short to cover the
// image even in the longest runs (128 texels a packet of 1 + texel bytes) is refused; and on
// padded rows, packets the decoder would write past its bitmap (RunsFitPaddedRows).
int CheckTga(const FileBytes& f)
{
    uint8 h[18];
    if (!f.Read(0, h, sizeof h)) return krvi::Image_NoBitmap;
    const uint32_t idLength = h[0];
    const uint32_t mapType = h[1];
    const uint32_t imageType = h[2];
    const uint32_t mapLength = Little16(h + 5);
    const uint32_t mapBits = h[7];
    const uint32_t width = Little16(h + 12);
    const uint32_t height = Little16(h + 14);
    const uint32_t texelBytes = (h[16] + 7u) / 8u;
    if (width > kMaxSide || height > kMaxSide) return krvi::Image_TooLarge;
    // The decoder skips a colour map for any nonzero map type, not only the defined 1.
    const uint64_t mapBytes = mapType != 0 ? uint64_t{mapLength} * ((mapBits + 7u) / 8u) : 0;
    const uint64_t pixelsAt = 18 + idLength + mapBytes;
    if (pixelsAt > f.Size()) return krvi::Image_NoBitmap;
    if ((imageType == 9 || imageType == 10 || imageType == 11) && texelBytes > 0) {
        const uint64_t packets = (uint64_t{width} * height + 127) / 128;
        if (f.Size() - pixelsAt < packets * (1 + texelBytes)) return krvi::Image_NoBitmap;
        const bool padded = width * texelBytes % 4 != 0;
        if (padded && height > 0 && !RunsFitPaddedRows(f, pixelsAt, width, height, texelBytes))
            return krvi::Image_NoBitmap;
    }
    return krvi::Image_Ok;
}

// What the decoder's open does with a name it cannot read by content: the format the name
// tells, which then fails to load.
int ByName(const char* path)
{
    return FreeImage_GetFIFFromFilename(path) == FIF_UNKNOWN ? krvi::Image_UnknownType
                                                             : krvi::Image_NoBitmap;
}

}  // namespace

int krvReadImageFile(const char* nativePath, krvi::ImageBytes& bytes)
{
    bytes = krvi::ImageBytes();
    // A directory or device is no image, and is not even opened: opening some devices acts.
    struct stat st;
    if (stat(nativePath, &st) == 0 && !S_ISREG(st.st_mode)) return krvi::Image_NoBitmap;
    // Non-blocking, so that a FIFO put in the file's place meanwhile cannot hold the open; it is
    // refused below.
    int fd = open(nativePath, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return ByName(nativePath);
    int status = krvi::Image_Ok;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        status = krvi::Image_NoBitmap;
    } else if (static_cast<uint64_t>(st.st_size) > kMaxImageFileBytes) {
        status = krvi::Image_TooLarge;
    } else {
        const size_t size = static_cast<size_t>(st.st_size);
        bytes.data.reset(new uint8[size > 0 ? size : 1]);
        // Up to the size fstat gave: a file that grows meanwhile is read as it was.
        while (bytes.size < size) {
            const ssize_t got = read(fd, bytes.data.get() + bytes.size, size - bytes.size);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            bytes.size += static_cast<size_t>(got);
        }
        if (bytes.size < size) status = krvi::Image_NoBitmap;  // shrunk, or a read error
    }
    close(fd);
    if (status != krvi::Image_Ok) bytes = krvi::ImageBytes();
    return status;
}

int krvCheckImageBytes(const uint8* data, size_t size, const char* nativePath)
{
    if (size == 0) return ByName(nativePath);
    FileBytes f(data, size);
    uint8 magic[8] = {};
    f.Read(0, magic, f.Size() < sizeof magic ? static_cast<size_t>(f.Size()) : sizeof magic);
    static const uint8 kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (f.Size() >= 8 && std::memcmp(magic, kPng, 8) == 0) return CheckPng(f);
    if (magic[0] == 0xFF && magic[1] == 0xD8) return CheckJpeg(f);
    if (magic[0] == 'B' && magic[1] == 'M') return CheckBmp(f);
    if (magic[0] == 'B' && magic[1] == 'A') return krvi::Image_Ok;  // read as a BMP by content
    if (FreeImage_GetFIFFromFilename(nativePath) == FIF_TARGA) return CheckTga(f);
    return krvi::Image_Ok;
}
