// krv-render: renders an OBJ model (with the textures its MTL files name) to PNG without a
// window, framed from its bounding box, lit by one light that casts its shadow on a floor.
//
//   krv-render MODEL.obj [-o FILE.png] [--size WxH] [--aa off|4x|9x|16x] [--yaw DEG]
//              [--pitch DEG] [--light X,Y,Z | --light-dir X,Y,Z] [--shadows on|off]
//              [--floor on|off] [--turntable N] [--help] [--version]
//
// Everything is placed in the model's own frame made unit-sized: the model is moved so that
// its bounding box is centred on the origin and scaled so the box fits a sphere of radius 1.
// The camera looks at the origin from a distance that fits that sphere in the picture; the
// light position is given in the same frame. A bad path, a bad file or a bad option gives one
// line on stderr and a non-zero exit status.
#include "api/krv.h"
#include "base/options.h"

#include <korvane/version.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>

namespace {

const char* const kProgram = "krv-render";

// The shadow pass looks from the light at the origin through a square 45-degree frustum from
// 2.85 to 8.5 (krvGenTextureShadowProjection): a light this far from the centre has the whole
// unit sphere inside it.
const float kLightDistance = 4.5f;
const float kMinShadowLight = 2.85f + 1.0f, kMaxShadowLight = 8.5f - 1.0f;
const int kShadowMapSide = 2048;

struct Options {
    std::string model, out;
    int width = 800, height = 600;
    int antiAliasing = KrvAA_2x2;
    float yaw = 30.0f, pitch = 20.0f;
    vec3 light = vec3(-1.6f, 3.6f, 2.2f);  // 4.5 from the centre, up and to the left
    bool shadows = true, floor = true;
    int turntable = 0;  // frames; 0 for one picture
};

void Help()
{
    std::printf(
        "usage: krv-render MODEL.obj [options]\n"
        "Renders an OBJ model, with the textures its MTL files name, to a PNG without a window.\n"
        "The model is framed from its bounding box: centred on the origin and scaled to fit a\n"
        "sphere of radius 1, which the camera fits in the picture; light positions are given\n"
        "in that frame. A floor under the model catches its shadow.\n"
        "\n"
        "  -o, --out FILE.png   the picture (default: the model's name with .png, in the\n"
        "                       current folder)\n"
        "  --size WxH           picture size, 1 to 8192 a side (default 800x600)\n"
        "  --aa A               supersampling: off, 4x, 9x or 16x (default 4x)\n"
        "  --yaw DEG            camera's turn about the vertical, 0 looking from +z towards\n"
        "                       the origin, positive to the right (default 30)\n"
        "  --pitch DEG          camera's height angle, -89 to 89 (default 20)\n"
        "  --light X,Y,Z        light position (default -1.6,3.6,2.2); with shadows it must be\n"
        "                       3.85 to 7.5 from the centre, the shadow map's depth range\n"
        "  --light-dir X,Y,Z    light from this direction (from the centre towards the light),\n"
        "                       placed 4.5 away\n"
        "  --shadows on|off     shadow map (default on)\n"
        "  --floor on|off       the floor under the model (default on)\n"
        "  --turntable N        N pictures, 1 to 3600, the camera turned 360/N degrees further\n"
        "                       each time, starting at --yaw; FILE.png becomes FILE_000.png,\n"
        "                       FILE_001.png, ... (more digits when N is above 1000)\n"
        "  --help               this text\n"
        "  --version            the renderer's version\n"
        "\n"
        "Exit status: 0, 1 when the model cannot be loaded or a picture cannot be written,\n"
        "2 for a bad option.\n");
}

bool ParseSwitch(const char* s, bool& out)
{
    if (krvopt::SameName(s, "on")) return out = true, true;
    if (krvopt::SameName(s, "off")) return out = false, true;
    return false;
}

int ParseAA(const char* s)
{
    static const struct {
        const char* name;
        int aa;
    } names[] = {{"off", KrvAA_Off},
                 {"0", KrvAA_Off},
                 {"4x", KrvAA_2x2},
                 {"9x", KrvAA_3x3},
                 {"16x", KrvAA_4x4}};
    for (const auto& n : names)
        if (krvopt::SameName(s, n.name)) return n.aa;
    return -1;
}

// 0 with the options filled in, or the exit status of a bad command line (-1: --help or
// --version answered, exit 0).
int ParseOptions(int argc, char** argv, Options& o)
{
    bool lightGiven = false, directionGiven = false;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            Help();
            return -1;
        }
        if (std::strcmp(a, "--version") == 0) {
            std::printf("krv-render (korvane) %s\n", KRV_VERSION);
            return -1;
        }
        if (a[0] != '-' || a[1] == '\0') {
            if (!o.model.empty())
                return krvopt::BadOption(kProgram, "one model at a time: '%s' and '%s'",
                                         o.model.c_str(), a);
            o.model = a;
            continue;
        }
        static const char* const kWithValue[] = {
            "-o",      "--out",       "--size",    "--aa",    "--yaw",      "--pitch",
            "--light", "--light-dir", "--shadows", "--floor", "--turntable"};
        bool known = false;
        for (const char* name : kWithValue) known = known || std::strcmp(a, name) == 0;
        if (!known) return krvopt::BadOption(kProgram, "unknown option '%s'", a);
        if (i + 1 >= argc) return krvopt::BadOption(kProgram, "%s needs a value", a);
        const char* v = argv[++i];
        double d = 0.0, xyz[3];
        if (std::strcmp(a, "-o") == 0 || std::strcmp(a, "--out") == 0) {
            if (!*v) return krvopt::BadOption(kProgram, "%s needs a file name", a);
            o.out = v;
        } else if (std::strcmp(a, "--size") == 0) {
            if (!krvopt::ParseSize(v, 8192, o.width, o.height))
                return krvopt::BadOption(kProgram, "--size '%s': not WxH with sides 1 to 8192", v);
        } else if (std::strcmp(a, "--aa") == 0) {
            o.antiAliasing = ParseAA(v);
            if (o.antiAliasing < 0)
                return krvopt::BadOption(kProgram, "--aa '%s': not off, 4x, 9x or 16x", v);
        } else if (std::strcmp(a, "--yaw") == 0) {
            if (!krvopt::ParseFloat(v, -36000.0, 36000.0, d))
                return krvopt::BadOption(kProgram, "--yaw '%s': not an angle in degrees", v);
            o.yaw = static_cast<float>(d);
        } else if (std::strcmp(a, "--pitch") == 0) {
            if (!krvopt::ParseFloat(v, -89.0, 89.0, d))
                return krvopt::BadOption(kProgram, "--pitch '%s': not degrees from -89 to 89", v);
            o.pitch = static_cast<float>(d);
        } else if (std::strcmp(a, "--light") == 0 || std::strcmp(a, "--light-dir") == 0) {
            if (!krvopt::ParseVec3(v, xyz))
                return krvopt::BadOption(kProgram, "%s '%s': not three numbers X,Y,Z", a, v);
            const vec3 p(static_cast<float>(xyz[0]), static_cast<float>(xyz[1]),
                         static_cast<float>(xyz[2]));
            const float length = std::sqrt(dot(p, p));
            if (!(length > 1e-6f))
                return krvopt::BadOption(kProgram, "%s '%s': the light cannot be at the centre", a,
                                         v);
            const bool direction = a[7] == '-';
            (direction ? directionGiven : lightGiven) = true;
            o.light = direction ? p * (kLightDistance / length) : p;
        } else if (std::strcmp(a, "--shadows") == 0 || std::strcmp(a, "--floor") == 0) {
            if (!ParseSwitch(v, a[2] == 's' ? o.shadows : o.floor))
                return krvopt::BadOption(kProgram, "%s '%s': not on or off", a, v);
        } else {
            if (!krvopt::ParseInt(v, 1, 3600, o.turntable))
                return krvopt::BadOption(kProgram, "--turntable '%s': not a count from 1 to 3600",
                                         v);
        }
    }
    if (o.model.empty()) return krvopt::BadOption(kProgram, "no model given");
    if (lightGiven && directionGiven)
        return krvopt::BadOption(kProgram, "--light and --light-dir both place the light");
    const float distance = std::sqrt(dot(o.light, o.light));
    if (o.shadows && (distance < kMinShadowLight || distance > kMaxShadowLight))
        return krvopt::BadOption(kProgram,
                                 "--light is %.2f from the centre; with shadows it must be 3.85 "
                                 "to 7.5 (or use --light-dir, or --shadows off)",
                                 static_cast<double>(distance));
    if (o.out.empty()) {
        // The model's name without its folder and extension.
        std::string name = o.model.substr(o.model.find_last_of('/') + 1);
        const size_t dot = name.find_last_of('.');
        if (dot != std::string::npos && dot > 0) name.erase(dot);
        o.out = name + ".png";
    }
    return 0;
}

// The file name of turntable frame i of n: ".png" (in any case) replaced by "_NNN.png".
std::string FrameName(const std::string& out, int i, int n)
{
    std::string base = out;
    if (base.size() > 4 && krvopt::SameName(base.c_str() + base.size() - 4, ".png"))
        base.erase(base.size() - 4);
    const int digits = n > 1000 ? 4 : 3;
    char number[16];
    std::snprintf(number, sizeof number, "_%0*d.png", digits, i);
    return base + number;
}

// The first line of the error report without its line end, for a one-line message, and
// without the name of the krv call that wrote it, which means nothing to a user.
std::string FirstReportLine()
{
    std::string report = krvGetErrorReport();
    report = report.substr(0, report.find_first_of("\r\n"));
    const size_t colon = report.find(": ");
    if (report.compare(0, 3, "krv") == 0 && colon != std::string::npos &&
        report.find(' ') == colon + 1)
        report.erase(0, colon + 2);
    return report.empty() ? "unknown error" : report;
}

// The model, in a global for the shadow pass's callback.
CObject model;

void DrawCasters()
{
    // Front faces culled: the map holds the far side, so a lit surface does not shadow itself.
    krvCullFace(KrvCullMode_Front);
    krvDrawArray(model.Vertex, 0, model.NumVertex);
    krvCullFace(KrvCullMode_None);
}

// Fails with one line when the path is no readable regular file, before the loader sees it.
bool CheckModelPath(const std::string& path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        std::fprintf(stderr, "%s: %s: %s\n", kProgram, path.c_str(), std::strerror(errno));
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        std::fprintf(stderr, "%s: %s: not a file\n", kProgram, path.c_str());
        return false;
    }
    return true;
}

// Loads the model and moves it into the unit frame; fills floorY with the height of its
// lowest point there.
bool LoadModel(const std::string& path, float& floorY)
{
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "./" : path.substr(0, slash + 1);
    const std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
    ModuleDirectory = "";  // the names are used as given, not beside this program
    if (!model.LoadObj(folder.c_str(), file.c_str())) {
        std::fprintf(stderr, "%s: cannot load %s: %s\n", kProgram, path.c_str(),
                     FirstReportLine().c_str());
        return false;
    }
    const vec3 centre = (model.Min + model.Max) * 0.5f;
    const vec3 half = (model.Max - model.Min) * 0.5f;
    float radius = std::sqrt(dot(half, half));
    if (!std::isfinite(radius) || !std::isfinite(centre.x) || !std::isfinite(centre.y) ||
        !std::isfinite(centre.z)) {
        std::fprintf(stderr, "%s: %s: coordinates too large to frame\n", kProgram, path.c_str());
        return false;
    }
    if (!(radius > 0.0f)) radius = 1.0f;  // a single point: nothing to scale
    krvMatrixMode(KrvMatrixMode_Object);
    krvSetObject(model);
    krvTranslate3fv(-centre);
    krvScale3f(1.0f / radius, 1.0f / radius, 1.0f / radius);
    floorY = -half.y / radius;
    return true;
}

// The floor: a 6 x 6 square under the model, light grey, in the vertex buffer.
void FillFloor(float y)
{
    static const float corners[6][2] = {{-3, 3}, {3, 3}, {3, -3}, {3, -3}, {-3, -3}, {-3, 3}};
    krvSetVertex(6);
    for (const auto& c : corners) {
        krvColor3f(0.8f, 0.8f, 0.8f);
        krvNormal3f(0, 1, 0);
        krvVertex3f(c[0], y, c[1]);
        krvCount();
    }
}

// The camera at yaw and pitch around the origin, far enough that the unit sphere fits the
// narrower of the two angles of view.
mat4x4 ViewProjection(const Options& o, float yaw)
{
    const float kPi = 3.14159265358979f;
    const float aspect = static_cast<float>(o.width) / static_cast<float>(o.height);
    const float halfHeight = std::tan(22.5f * kPi / 180.0f);
    const float halfNarrow = std::atan(aspect < 1.0f ? halfHeight * aspect : halfHeight);
    const float distance = 1.08f / std::sin(halfNarrow);
    const float y = yaw * kPi / 180.0f, p = o.pitch * kPi / 180.0f;
    const vec3 eye(distance * std::cos(p) * std::sin(y), distance * std::sin(p),
                   distance * std::cos(p) * std::cos(y));
    return perspective(45.0f, aspect, 0.1f, distance + 5.0f) *
           look(eye, vec3(0.0f, 0.0f, 0.0f), vec3(0.0f, 1.0f, 0.0f));
}

}  // namespace

int main(int argc, char** argv)
{
    Options o;
    const int status = ParseOptions(argc, argv, o);
    if (status != 0) return status < 0 ? 0 : status;

    // The tool says what failed in its own one line.
    krvSetErrorEcho(false);
    if (!CheckModelPath(o.model)) return 1;
    krvSetAntiAliasing(o.antiAliasing);
    if (!krvCreateOffscreen(o.width, o.height)) {
        std::fprintf(stderr, "%s: %s\n", kProgram, FirstReportLine().c_str());
        return 1;
    }
    float floorY = -1.0f;
    if (!LoadModel(o.model, floorY)) {
        model.Destroy();
        krvDestroyOffscreen();
        return 1;
    }
    // A model that loaded with a missing texture still renders; say what is missing.
    if (*krvGetErrorReport())
        std::fprintf(stderr, "%s: warning: %s\n", kProgram, FirstReportLine().c_str());
    FillFloor(floorY);

    CLight light = krvSetLight(o.light, vec3(0.3f, 0.3f, 0.3f), vec3(0.85f, 0.85f, 0.85f),
                               vec3(0.5f, 0.5f, 0.5f), 0, 0, 0);
    krvSwitch(KrvSwitch_ShadowMapping, o.shadows);
    if (o.shadows) {
        // The light stays put while the camera turns: one shadow map serves every frame.
        krvGenTextureShadowProjection(kShadowMapSide, kShadowMapSide);
        krvRenderTextureShadowProjection(light, DrawCasters);
    }
    krvSwitch(KrvSwitch_Texturing, true);
    krvSwitch(KrvSwitch_Lighting, true);
    krvAddLight(&light);
    krvBindTextureShadowProjection();
    // Any winding: a model's faces are drawn from both sides.
    krvCullFace(KrvCullMode_None);

    const int frames = o.turntable > 0 ? o.turntable : 1;
    int result = 0;
    for (int i = 0; i < frames && result == 0; ++i) {
        const float yaw = o.yaw + 360.0f * static_cast<float>(i) / static_cast<float>(frames);
        krvClear(KrvClear_Both);
        krvLoadMatrix(ViewProjection(o, yaw));
        if (o.floor) {
            krvBindTexture(nullptr);
            krvDrawModel(KrvModel_Triangles, 0, 2);
        }
        krvBindTexture(model.Texture.Bits ? &model.Texture : nullptr);
        krvDrawArray(model.Vertex, 0, model.NumVertex);
        const std::string name = o.turntable > 0 ? FrameName(o.out, i, frames) : o.out;
        krvClearErrorReport();
        if (!krvSavePixelsPNG(name.c_str())) {
            std::fprintf(stderr, "%s: %s\n", kProgram, FirstReportLine().c_str());
            result = 1;
        }
    }

    krvBindTexture(nullptr);
    krvResetLight();
    model.Destroy();
    krvDestroyOffscreen();
    return result;
}
