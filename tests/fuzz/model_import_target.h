// The model import's parse as its sandboxed child runs it (krvs::ParseModelToStream: the import
// library reading the bytes from memory with the import's settings and post-processing steps,
// then the stream of the model), in the fuzzer's own process, without a fork: what the library
// does wrong with a file is seen here (a crash, an allocator's report) rather than lost with a
// child. Shared by the import's two fuzz targets, which differ in the formats they feed it.
//
// The format follows from the bytes, as a user's file is named after what it holds: "glTF" is
// a GLB, a '{' a glTF, "ply" a PLY, "solid" an STL, an FBX by its signature, anything else an
// OBJ. Side files are absent: a glTF's buffers reach the parse as data: URIs (the seeds have
// them), an OBJ's material library is missing as a refused one would be. Only bytes that pass
// the import's checks (krvs::CheckModelBytes) are parsed, so what this finds is what the checks
// let through to the library.
#pragma once

#include "scene/model_parse.h"

#include <sanitizer/asan_interface.h>
#include <sys/mman.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

namespace fuzz_model {

struct Header {
    uint32_t magic;
    int32_t status;
    int32_t count;
};

struct Counted {
    size_t bytes = 0;
    Header header = {0, 0, 0};
};

inline bool Count(void* context, const void* data, size_t bytes)
{
    Counted& c = *static_cast<Counted*>(context);
    if (c.bytes < sizeof c.header) {
        const size_t n = bytes < sizeof c.header - c.bytes ? bytes : sizeof c.header - c.bytes;
        std::memcpy(reinterpret_cast<char*>(&c.header) + c.bytes, data, n);
    }
    c.bytes += bytes;
    return true;
}

inline bool Starts(const uint8_t* data, size_t size, const char* prefix)
{
    const size_t n = std::strlen(prefix);
    return size >= n && std::memcmp(data, prefix, n) == 0;
}

inline const char* NameFor(const uint8_t* data, size_t size)
{
    if (Starts(data, size, "glTF")) return "model.glb";
    size_t i = 0;
    while (i < size && (data[i] == ' ' || data[i] == '\t' || data[i] == '\r' || data[i] == '\n'))
        ++i;
    if (i < size && data[i] == '{') return "model.gltf";
    if (Starts(data, size, "ply")) return "model.ply";
    if (Starts(data, size, "solid")) return "model.stl";
    if (Starts(data, size, "Kaydara FBX") || Starts(data, size, "; FBX")) return "model.fbx";
    return "model.obj";
}

// Parses the bytes as the file `name` and checks that the stream holds a whole header.
inline void ParseAs(const char* name, const uint8_t* data, size_t size)
{
    std::string why;
    // Only bytes that pass the parent's checks reach the library, here as in the import.
    if (!krvs::CheckModelBytes(name, data, size, why)) return;
    Counted counted;
    // Every input ends in a whole header at least: side file names, an error or a model.
    if (!krvs::ParseModelToStream(name, data, size, krvi::StreamSink{Count, &counted}) ||
        counted.bytes < sizeof(Header) || counted.header.magic != 0x314D444Bu ||
        counted.header.status < 0 || counted.header.status > 2)
        std::abort();
}

}  // namespace fuzz_model

// The replacement allocation functions of each import target: this header is included by the
// one source file of each.
namespace fuzz_model {

// The OBJ reader makes a 16 MiB line buffer for every file and fills it, and the glTF reader
// hands the JSON it gives up on to the OBJ reader. From the sanitizer's allocator that buffer
// is a fresh mapping each time (4,096 page faults, the kernel's zeroing, the unmapping), which
// kept these targets at a tenth of the others' rate. Allocations of exactly that size get one
// block mapped once instead. It is poisoned while no one holds it, so a use after its release
// is still reported, and a poisoned page follows it for overruns. Every other allocation of
// these forms goes to malloc, which the sanitizer checks as before (the array and aligned forms
// stay the sanitizer's own, each with its own delete).
// The PLY reader's line buffer is 1 MiB, made and filled for every file alike: it gets such a
// block too.
const size_t kLineBuffers[] = {size_t{4096} * 4096, size_t{1024} * 1024};
// The import's child may add 6 GiB to its address space, and a larger request fails there with
// std::bad_alloc, which the library turns into its error. The fuzzer's process has 2.5 GB of
// resident memory for everything and should spend a millisecond a file, so here a request of
// 256 MiB or more fails so: from a file of a few kilobytes that is a count the library
// believed (a binary PLY list's length of 1111111111), whose failure is the same path as in
// the child.
const size_t kLargest = size_t{256} << 20;
const size_t kGuard = 4096;

struct KeptBlock {
    char* block = nullptr;
    std::atomic<bool> held{false};
};
KeptBlock gKept[2];

// The kept block for an allocation of `size`, or null (another size, or the block is held).
void* Kept(size_t size)
{
    for (size_t i = 0; i < 2; ++i) {
        if (size != kLineBuffers[i]) continue;
        KeptBlock& k = gKept[i];
        if (!k.block) {
            void* p = mmap(nullptr, size + kGuard, PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (p == MAP_FAILED) return nullptr;
            madvise(p, size, MADV_HUGEPAGE);
            k.block = static_cast<char*>(p);
            ASAN_POISON_MEMORY_REGION(k.block, size + kGuard);
        }
        if (k.held.exchange(true)) return nullptr;
        ASAN_UNPOISON_MEMORY_REGION(k.block, size);
        return k.block;
    }
    return nullptr;
}

// Whether p is a kept block, which it then gives back.
bool Release(void* p)
{
    for (size_t i = 0; i < 2; ++i) {
        KeptBlock& k = gKept[i];
        if (!p || p != k.block) continue;
        ASAN_POISON_MEMORY_REGION(k.block, kLineBuffers[i]);
        k.held.store(false);
        return true;
    }
    return false;
}

}  // namespace fuzz_model

void* operator new(size_t size)
{
    if (void* p = fuzz_model::Kept(size)) return p;
    if (size >= fuzz_model::kLargest) throw std::bad_alloc();
    void* p = std::malloc(size ? size : 1);
    if (!p) throw std::bad_alloc();
    return p;
}

void operator delete(void* p) noexcept
{
    if (fuzz_model::Release(p)) return;
    std::free(p);
}

void* operator new(size_t size, const std::nothrow_t&) noexcept
{
    if (void* p = fuzz_model::Kept(size)) return p;
    if (size >= fuzz_model::kLargest) return nullptr;
    return std::malloc(size ? size : 1);
}

void operator delete(void* p, size_t) noexcept { operator delete(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { operator delete(p); }
