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

#include <cstdint>
#include <cstdlib>
#include <cstring>
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
