// The parse the model importer's sandboxed child runs (model_import.cpp), callable in any
// process: the in-process fuzzer (tests/fuzz/fuzz_model_import.cpp) calls it directly, without
// a fork, so that what the import library does wrong with a file is seen there.
#pragma once

#include "texture/image_decode.h"

#include <cstddef>
#include <string>

namespace krvs {
// The checks of a model file's bytes before they reach the import library (name as given, for
// its extension): false with the reason for a file the library is known to hang on. A PLY file
// (by its extension or its first bytes) must end its header with an end_header line: the
// library's header reader loops for ever without one.
bool CheckModelBytes(const char* name, const void* data, size_t size, std::string& why);

// Parses the model file `name` (its extension picks the format, as for a file on disk) whose
// bytes are data and size, with the import's settings and post-processing steps and every side
// file absent, and writes what the child would send to sink: the side files the parse asked
// for, the library's error message, or the model. False when the sink refused a write.
bool ParseModelToStream(const char* name, const void* data, size_t size, krvi::StreamSink sink);
}  // namespace krvs
