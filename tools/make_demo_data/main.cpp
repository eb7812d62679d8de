// Writes the data files of the shadow-mapping demo: the floor texture "ceiling.jpg" and, under
// "Models/golf/", the car body, its glass and one wheel as OBJ + MTL files with their textures.
// Everything is generated from code and fixed seeds, so a run reproduces the committed files
// byte for byte (a test regenerates them and compares).
//
// After writing, the tool reads the OBJ files back with the renderer's loader, applies the
// placement the demo gives each model and fails when the car does not fit it: wheels on the
// floor, axles in the arches, glass on the cabin.
#include "base/options.h"
#include "tools/make_demo_data/demo_data.h"

#include <korvane/version.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {

const char* const kBodyMtl =
    "# Body paint, lights and trim, painted in one atlas\n"
    "newmtl body\n"
    "Ka 1 1 1\n"
    "Kd 1 1 1\n"
    "Ks 0.6 0.6 0.6\n"
    "Ns 60\n"
    "map_Ka golf_body.jpg\n"
    "map_Kd golf_body.jpg\n";
const char* const kGlassMtl =
    "# Tinted glass, drawn untextured and translucent\n"
    "newmtl glass\n"
    "Ka 0.45 0.55 0.6\n"
    "Kd 0.45 0.55 0.6\n"
    "Ks 0.9 0.9 0.9\n"
    "Ns 120\n"
    "d 0.25\n";
const char* const kWheelMtl =
    "# Tyre rubber and alloy rim\n"
    "newmtl wheel\n"
    "Ka 1 1 1\n"
    "Kd 1 1 1\n"
    "Ks 0.4 0.4 0.4\n"
    "Ns 40\n"
    "map_Ka golf_wheel.jpg\n"
    "map_Kd golf_wheel.jpg\n";

const char* const kUsage =
    "usage: make_demo_data [options] [output-folder]\n"
    "\n"
    "Writes the demo's data (floor texture, car body, glass and wheel with their materials and\n"
    "textures) into output-folder, by default the source tree's data folder, then reads the\n"
    "models back, places them as the demo does and checks that the car fits.\n"
    "\n"
    "options:\n"
    "  --preview FILE.png   also draw the placed scene (side, front, rear, top and two\n"
    "                       perspective views) into FILE.png, and two close views into\n"
    "                       FILE_close.png\n"
    "  --view FILE.png EX EY EZ TX TY TZ FOCAL\n"
    "                       with --preview: one more perspective picture from the eye\n"
    "                       (EX, EY, EZ) toward (TX, TY, TZ), focal length FOCAL in pixels\n"
    "  --help               print this text and exit\n"
    "  --version            print the version and exit\n"
    "\n"
    "Exit status: 0 when everything was written and every check passed, 1 when a file could\n"
    "not be written or a check failed, 2 for a bad command line.\n";

struct Options {
    std::string outDir = KRV_DEMO_DATA_DIR;
    std::string preview;
    std::vector<DetailView> views;
};

// The eight arguments of --view after argv[i]; false (with the error printed) when any is
// missing or not a number.
bool ParseView(int argc, char** argv, int& i, DetailView& v)
{
    if (i + 8 >= argc) {
        krvopt::BadOption(argv[0], "--view needs a file name and 7 numbers");
        return false;
    }
    v.path = argv[i + 1];
    double n[7];
    for (int k = 0; k < 7; ++k) {
        if (!krvopt::ParseFloat(argv[i + 2 + k], -1e6, 1e6, n[k])) {
            krvopt::BadOption(argv[0], "--view: '%s' is not a number", argv[i + 2 + k]);
            return false;
        }
    }
    v.eye = {n[0], n[1], n[2]};
    v.target = {n[3], n[4], n[5]};
    v.focal = n[6];
    i += 8;
    return true;
}

// Returns -1 to go on, otherwise the exit status.
int ParseOptions(int argc, char** argv, Options& o)
{
    bool folderGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--version") {
            std::printf("make_demo_data %s\n", KRV_VERSION);
            return 0;
        } else if (a == "--preview") {
            if (i + 1 >= argc) return krvopt::BadOption(argv[0], "--preview needs a file name");
            o.preview = argv[++i];
        } else if (a == "--view") {
            DetailView v;
            if (!ParseView(argc, argv, i, v)) return 2;
            o.views.push_back(v);
        } else if (a.size() > 1 && a[0] == '-') {
            return krvopt::BadOption(argv[0], "unknown option '%s'", a.c_str());
        } else if (folderGiven) {
            return krvopt::BadOption(argv[0], "more than one output folder ('%s')", a.c_str());
        } else {
            o.outDir = a;
            folderGiven = true;
        }
    }
    if (!o.views.empty() && o.preview.empty())
        return krvopt::BadOption(argv[0], "--view needs --preview");
    return -1;
}

bool WriteModels(const std::string& modelDir)
{
    Mesh body, glass, wheel;
    BuildCar(body, glass);
    BuildWheel(wheel);
    return WriteText(modelDir + "golf.mtl", kBodyMtl) &&
           WriteText(modelDir + "GolfVetri.mtl", kGlassMtl) &&
           WriteText(modelDir + "GolfRuota.mtl", kWheelMtl) &&
           WriteText(modelDir + "golf.obj",
                     ObjText(body, "Car body: a compact hatchback", "golf.mtl", "body")) &&
           WriteText(modelDir + "GolfVetri.obj",
                     ObjText(glass, "Car glass: windscreen, side and rear windows", "GolfVetri.mtl",
                             "glass")) &&
           WriteText(modelDir + "GolfRuota.obj",
                     ObjText(wheel,
                             "One wheel: tyre and five-spoke rim, axle along x, outer face "
                             "toward +x",
                             "GolfRuota.mtl", "wheel"));
}

bool WriteTextures(const std::string& outDir, const std::string& modelDir)
{
    Canvas floorTex(512, 512, Grey(0.5));
    PaintFloorTexture(floorTex);
    Canvas bodyTex(kBodyTexSize, kBodyTexSize, Grey(0.05));
    PaintBodyTexture(bodyTex);
    Canvas wheelTex(kWheelTexSize, kWheelTexSize, Grey(0.05));
    PaintWheelTexture(wheelTex, TyreProfileParam(TyreProfile()));
    return SaveCanvas(floorTex, outDir + "/" + kFloorTexture, true) &&
           SaveCanvas(bodyTex, modelDir + kBodyTexture, true) &&
           SaveCanvas(wheelTex, modelDir + kWheelTexture, true);
}

}  // namespace

int main(int argc, char** argv)
{
    Options o;
    const int status = ParseOptions(argc, argv, o);
    if (status >= 0) return status;
    const std::string modelDir = o.outDir + "/Models/golf/";
    std::error_code ec;
    std::filesystem::create_directories(modelDir, ec);
    if (ec) {
        std::fprintf(stderr, "make_demo_data: cannot create %s: %s\n", modelDir.c_str(),
                     ec.message().c_str());
        return 1;
    }
    if (!WriteModels(modelDir) || !WriteTextures(o.outDir, modelDir)) {
        std::fprintf(stderr, "make_demo_data: cannot write the files under %s\n", o.outDir.c_str());
        return 1;
    }
    std::printf("Wrote data under %s\n", o.outDir.c_str());
    return Verify(o.outDir, o.preview, o.views) ? 0 : 1;
}
