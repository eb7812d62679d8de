// Fuzzes the model import's parse in process (model_import_target.h) with OBJ files: the
// import library's OBJ reader, on a target of its own as its files cost it more than the
// others' (its line buffer: model_import_target.h).
#include "model_import_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz_model::ParseAs("model.obj", data, size);
    return 0;
}
