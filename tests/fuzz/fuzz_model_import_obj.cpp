// Fuzzes the model import's parse in process (model_import_target.h) with OBJ files: the
// import library's OBJ reader, slower a file than the others (it clears a 16 MiB buffer for
// each), so on a target of its own.
#include "model_import_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz_model::ParseAs("model.obj", data, size);
    return 0;
}
