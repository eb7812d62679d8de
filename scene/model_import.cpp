// The model importer (scene/model.h).
#include "scene/model.h"

#include "base/report.h"

#include <string>

namespace krvs {

bool ImportModel(CModel& model, const char* path)
{
    model = CModel();
    krvReportError((std::string("Error loading file ") + path + ": no importer\r\n").c_str());
    return false;
}

void DestroyModel(CModel& model)
{
    for (int i = 0; i < model.partCount && model.parts; ++i) model.parts[i].object.Destroy();
    delete[] model.parts;
    model = CModel();
}

}  // namespace krvs
