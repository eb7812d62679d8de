// Fuzzes the decoding of image bytes as the decoding child does it (krvi::DecodeToStream: the
// library reading from memory, then the stream), but in the fuzzer's own process, without a
// fork: thousands of inputs a second, and what the library does wrong is seen here (a crash, an
// allocator's report) rather than lost with a child. Only bytes that pass the checks are
// decoded, so what this finds is what the checks let through to the library.
//
// The child's limits are not here: a picture of more than kMaxTexels texels (a few bytes can
// declare 8192 x 8192) is refused once its header is read, as the child would be given time
// for it; the end-to-end fuzzer (fuzz_image) covers those through the child.
#include "texture/image_decode.h"
#include "texture/texture_generate.h"

#include <FreeImage.h>

#include <cstdint>
#include <cstdlib>

namespace {

constexpr uint64_t kMaxTexels = uint64_t{1} << 18;

bool Admit(uint64_t texels) { return texels <= kMaxTexels; }

// The stream must at least begin with its header; what follows is the parent's to check.
struct Counted {
    size_t bytes = 0;
};
bool Count(void* context, const void*, size_t bytes)
{
    static_cast<Counted*>(context)->bytes += bytes;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool ready = [] {
        krvRestrictImageDecoders();
        return true;
    }();
    (void)ready;
    // The name decides for a file without a signature, as the fuzz_image target names its files.
    if (krvCheckImageBytes(data, size, "input.tga") != krvi::Image_Ok) return 0;
    // The rows only change what is streamed after the decode; the size picks them.
    const int rows = static_cast<int>(size % 3);
    const krvi::DecodeRequest request = {data, size, FreeImage_GetFIFFromFilename("input.tga"),
                                         rows, Admit};
    Counted counted;
    if (!krvi::DecodeToStream(request, krvi::StreamSink{Count, &counted}) || counted.bytes < 16)
        std::abort();
    return 0;
}
