// Fuzzes image loading: whatever a file holds, each loader ends with a texture or one report
// line, in bounded time and memory, and the program never crashes. The input is written to a
// file and loaded by LoadTexture, LoadTextureToDot3 and krvGetBitmap.
//
// The file is named .tga: that format has no signature, so the name decides for a file the
// decoder does not recognise, while PNG, JPEG and BMP inputs are still known by their content.
#include "base/report.h"
#include "texture/texture.h"
#include "texture/texture_generate.h"

#include <FreeImage.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

std::string dir;

void Prepare()
{
    krvSetErrorEcho(false);  // every rejected input reports a line
    // Memory-backed where there is /dev/shm: a file is written for every input.
    char pattern[64];
    std::snprintf(pattern, sizeof pattern, "%s/krv_fuzz_image_XXXXXX",
                  access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
    if (!mkdtemp(pattern)) std::abort();
    dir = pattern;
    std::atexit([] {
        std::remove((dir + "/input.tga").c_str());
        rmdir(dir.c_str());
    });
    ModuleDirectory = (dir + "/").c_str();
    krvRestrictImageDecoders();
}

bool Reported(const char* text) { return std::strstr(_3D_KRV_Report_Error.c_str(), text); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (dir.empty()) Prepare();
    const std::string path = dir + "/input.tga";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);

    CTexture t;
    const bool loaded = t.LoadTexture("input.tga");
    if (loaded == Reported("\r\n")) std::abort();  // a texture or a line, never both or neither
    if (loaded && (t.Width < 1 || t.Width > kMaxImageSide || t.Height < 1 ||
                   t.Height > kMaxImageSide || !t.Bits || t.Pitch != t.Width * 3))
        std::abort();
    // The other two loaders decode the same file and differ only in the rows they take. After
    // a decode that ran out of time they would only run out of time again, and after a large
    // picture (a few bytes can declare 8192 x 8192 and load, truncated, as black) they would
    // spend a second each on copies: both would slow the fuzzer down without covering anything.
    const bool large = loaded && int64_t{t.Width} * t.Height > (int64_t{1} << 20);
    if (!large && !Reported("took too long")) {
        CTexture n;
        if (n.LoadTextureToDot3("input.tga", 2.0f) && (n.Width != t.Width || n.Height != t.Height))
            std::abort();
        n.Destroy();
        int w = 0, h = 0, bpp = 0;
        FIBITMAP* dib = krvGetBitmap(path.c_str(), w, h, bpp);
        if (dib) {
            if (w < 1 || w > kMaxImageSide || h < 1 || h > kMaxImageSide ||
                static_cast<unsigned>(w) != FreeImage_GetWidth(dib) ||
                static_cast<unsigned>(bpp) != FreeImage_GetBPP(dib))
                std::abort();
            FreeImage_Unload(dib);
        }
    }
    t.Destroy();
    // The report would otherwise grow with every input the fuzzer tries.
    _3D_KRV_Report_Error.Empty();
    _3D_KRV_Title_Error.Empty();
    return 0;
}
