// Fuzzes the in-process checks of image bytes (texture/image_check.cpp) alone, in the fuzzer's
// own process: they run on every file before any decoder, in the program's process, so they
// must never crash, read out of bounds or loop, whatever the bytes. Each input is checked
// under a name that tells a format without a signature (TGA) and under one that tells nothing.
#include "texture/image_decode.h"

#include <cstdint>
#include <cstdlib>
#include <initializer_list>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    for (const char* name : {"input.tga", "input.dat"}) {
        const int status = krvCheckImageBytes(data, size, name);
        if (status < krvi::Image_Ok || status >= krvi::Image_StatusCount ||
            status == krvi::Image_TooSlow || status == krvi::Image_Forbidden)
            std::abort();  // the checks only refuse by content
    }
    return 0;
}
