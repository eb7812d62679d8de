// Fuzzes the model import's parse in process (model_import_target.h) with the formats of
// structure: glTF and GLB, PLY, STL and FBX. The OBJ reader has a target of its own
// (fuzz_model_import_obj): the import library gives each OBJ a 16 MiB read buffer, which it
// clears, and that would hold this target to a few hundred inputs a second.
#include "model_import_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* name = fuzz_model::NameFor(data, size);
    if (std::strcmp(name, "model.obj") != 0) fuzz_model::ParseAs(name, data, size);
    return 0;
}
