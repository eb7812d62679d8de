// krv-render: renders a model (OBJ, glTF 2.0, GLB, PLY, STL, FBX, Collada and the other formats
// the importer reads, with their materials and textures) to PNG without a window, framed from
// its bounding box, lit by one light that casts its shadow on a floor; optionally its depth,
// normals and part ids as exact buffers, and many views in one run.
//
//   krv-render MODEL [-o FILE.png] [--size WxH] [--aa off|4x|9x|16x] [--yaw DEG] [--pitch DEG]
//              [--distance D] [--fov DEG] [--light X,Y,Z | --light-dir X,Y,Z] [--shadows on|off]
//              [--floor on|off] [--background R,G,B] [--turntable N | --views FILE]
//              [--depth FILE] [--normals FILE.png] [--ids FILE.png] [--info] [--help] [--version]
//
// The framing, camera, light and passes are the library's model view (krvRenderModelView and
// its passes in api/krv.h), so the Python module renders the same pictures. A bad path, a bad
// file or a bad option gives one line on stderr and a non-zero exit status; everything a model
// loses on the way (a texture that fails, a material feature not shown) one warning line each.
#include "api/krv.h"
#include "base/options.h"

#include <korvane/version.h>

#include <FreeImage.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const char* const kProgram = "krv-render";
const float kLightDistance = 4.5f;
const float kMinShadowLight = 2.85f + 1.0f, kMaxShadowLight = 8.5f - 1.0f;
const int kMaxViews = 3600;

struct View {
    float yaw, pitch, distance;
};

struct Options {
    std::string model, out, depth, normals, ids, views;
    int width = 800, height = 600;
    int antiAliasing = KrvAA_2x2;
    int turntable = 0;  // frames; 0 for one picture
    bool info = false;
    CModelView view;
};

void Help()
{
    std::printf(
        "usage: krv-render MODEL [options]\n"
        "Renders a model to a PNG without a window: OBJ (with its MTL files), glTF 2.0 (.gltf\n"
        "with its .bin and images, .glb), PLY, STL, FBX, Collada (.dae), 3DS and the other\n"
        "formats of the importer, each part with its material's colour and texture. The model\n"
        "is framed from its bounding box: centred on the origin and scaled to fit a sphere of\n"
        "radius 1, which the camera fits in the picture; light positions are given in that\n"
        "frame. A floor under the model catches its shadow.\n"
        "\n"
        "  -o, --out FILE.png   the picture (default: the model's name with .png, in the\n"
        "                       current folder)\n"
        "  --size WxH           picture size, 1 to 8192 a side (default 800x600)\n"
        "  --aa A               supersampling: off, 4x, 9x or 16x (default 4x)\n"
        "  --yaw DEG            camera's turn about the vertical, 0 looking from +z towards\n"
        "                       the origin, positive to the right (default 30)\n"
        "  --pitch DEG          camera's height angle, -89 to 89 (default 20)\n"
        "  --distance D         camera's distance from the centre, 0.01 to 1000 (default: the\n"
        "                       distance that fits the model)\n"
        "  --fov DEG            vertical field of view, 1 to 170 (default 45)\n"
        "  --light X,Y,Z        light position (default -1.6,3.6,2.2); with shadows it must be\n"
        "                       3.85 to 7.5 from the centre, the shadow map's depth range\n"
        "  --light-dir X,Y,Z    light from this direction (from the centre towards the light),\n"
        "                       placed 4.5 away\n"
        "  --shadows on|off     shadow map (default on)\n"
        "  --floor on|off       the floor under the model (default on)\n"
        "  --background R,G,B   background colour, each 0 to 1 (default 0,0,0)\n"
        "  --turntable N        N pictures, 1 to 3600, the camera turned 360/N degrees further\n"
        "                       each time, starting at --yaw; FILE.png becomes FILE_000.png,\n"
        "                       FILE_001.png, ... (more digits when N is above 1000)\n"
        "  --views FILE         one picture a line of FILE, 'yaw pitch [distance]' (blank lines\n"
        "                       and lines starting with # skipped), named as the turntable's\n"
        "  --depth FILE         depth along the view axis, 32-bit float, +inf where nothing was\n"
        "                       drawn: FILE ends in .tif, .tiff, .exr or .pfm; beside it\n"
        "                       FILE.png, a 16-bit picture of it (near white, far dark, 0 for\n"
        "                       nothing)\n"
        "  --normals FILE.png   view-space normals as colours, (n + 1) / 2\n"
        "  --ids FILE.png       16-bit part index + 1 of each pixel, 0 for the background\n"
        "                       (depth, normals and ids are drawn without supersampling,\n"
        "                       lighting or texture, the floor left out)\n"
        "  --info               prints the model's parts, triangles, materials, textures and\n"
        "                       bounding box instead of rendering\n"
        "  --help               this text\n"
        "  --version            the renderer's version\n"
        "\n"
        "Progress goes to stderr for --turntable and --views. Exit status: 0, 1 when the model\n"
        "cannot be loaded or a file cannot be read or written, 2 for a bad option.\n");
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

bool EndsWith(const std::string& s, const char* tail)
{
    const size_t n = std::strlen(tail);
    return s.size() >= n && krvopt::SameName(s.c_str() + s.size() - n, tail);
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
        if (std::strcmp(a, "--info") == 0) {
            o.info = true;
            continue;
        }
        if (a[0] != '-' || a[1] == '\0') {
            if (!o.model.empty())
                return krvopt::BadOption(kProgram, "one model at a time: '%s' and '%s'",
                                         o.model.c_str(), a);
            o.model = a;
            continue;
        }
        static const char* const kWithValue[] = {
            "-o",      "--out",        "--size",    "--aa",    "--yaw",       "--pitch",
            "--light", "--light-dir",  "--shadows", "--floor", "--turntable", "--distance",
            "--fov",   "--background", "--views",   "--depth", "--normals",   "--ids"};
        bool known = false;
        for (const char* name : kWithValue) known = known || std::strcmp(a, name) == 0;
        if (!known) return krvopt::BadOption(kProgram, "unknown option '%s'", a);
        if (i + 1 >= argc) return krvopt::BadOption(kProgram, "%s needs a value", a);
        const char* v = argv[++i];
        double d = 0.0, xyz[3];
        const std::string name = a;
        if (name == "-o" || name == "--out" || name == "--views" || name == "--depth" ||
            name == "--normals" || name == "--ids") {
            if (!*v) return krvopt::BadOption(kProgram, "%s needs a file name", a);
            (name == "--views"     ? o.views
             : name == "--depth"   ? o.depth
             : name == "--normals" ? o.normals
             : name == "--ids"     ? o.ids
                                   : o.out) = v;
        } else if (name == "--size") {
            if (!krvopt::ParseSize(v, 8192, o.width, o.height))
                return krvopt::BadOption(kProgram, "--size '%s': not WxH with sides 1 to 8192", v);
        } else if (name == "--aa") {
            o.antiAliasing = ParseAA(v);
            if (o.antiAliasing < 0)
                return krvopt::BadOption(kProgram, "--aa '%s': not off, 4x, 9x or 16x", v);
        } else if (name == "--yaw") {
            if (!krvopt::ParseFloat(v, -36000.0, 36000.0, d))
                return krvopt::BadOption(kProgram, "--yaw '%s': not an angle in degrees", v);
            o.view.yaw = static_cast<float>(d);
        } else if (name == "--pitch") {
            if (!krvopt::ParseFloat(v, -89.0, 89.0, d))
                return krvopt::BadOption(kProgram, "--pitch '%s': not degrees from -89 to 89", v);
            o.view.pitch = static_cast<float>(d);
        } else if (name == "--distance") {
            if (!krvopt::ParseFloat(v, 0.01, 1000.0, d))
                return krvopt::BadOption(kProgram, "--distance '%s': not 0.01 to 1000", v);
            o.view.distance = static_cast<float>(d);
        } else if (name == "--fov") {
            if (!krvopt::ParseFloat(v, 1.0, 170.0, d))
                return krvopt::BadOption(kProgram, "--fov '%s': not degrees from 1 to 170", v);
            o.view.fieldOfView = static_cast<float>(d);
        } else if (name == "--background") {
            if (!krvopt::ParseVec3(v, xyz) || !(xyz[0] >= 0.0 && xyz[0] <= 1.0) ||
                !(xyz[1] >= 0.0 && xyz[1] <= 1.0) || !(xyz[2] >= 0.0 && xyz[2] <= 1.0))
                return krvopt::BadOption(kProgram, "--background '%s': not R,G,B from 0 to 1", v);
            o.view.background = vec3(static_cast<float>(xyz[0]), static_cast<float>(xyz[1]),
                                     static_cast<float>(xyz[2]));
        } else if (name == "--light" || name == "--light-dir") {
            if (!krvopt::ParseVec3(v, xyz))
                return krvopt::BadOption(kProgram, "%s '%s': not three numbers X,Y,Z", a, v);
            const vec3 p(static_cast<float>(xyz[0]), static_cast<float>(xyz[1]),
                         static_cast<float>(xyz[2]));
            const float length = std::sqrt(dot(p, p));
            if (!(length > 1e-6f) || !std::isfinite(length))
                return krvopt::BadOption(kProgram, "%s '%s': the light cannot be at the centre", a,
                                         v);
            const bool direction = name == "--light-dir";
            (direction ? directionGiven : lightGiven) = true;
            o.view.light = direction ? p * (kLightDistance / length) : p;
        } else if (name == "--shadows" || name == "--floor") {
            if (!ParseSwitch(v, name == "--shadows" ? o.view.shadows : o.view.floor))
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
    if (o.turntable > 0 && !o.views.empty())
        return krvopt::BadOption(kProgram, "--turntable and --views both give the views");
    if (!o.depth.empty() && !EndsWith(o.depth, ".tif") && !EndsWith(o.depth, ".tiff") &&
        !EndsWith(o.depth, ".exr") && !EndsWith(o.depth, ".pfm"))
        return krvopt::BadOption(kProgram,
                                 "--depth '%s': the name must end in .tif, .tiff, "
                                 ".exr or .pfm",
                                 o.depth.c_str());
    if (!o.normals.empty() && !EndsWith(o.normals, ".png"))
        return krvopt::BadOption(kProgram, "--normals '%s': the name must end in .png",
                                 o.normals.c_str());
    if (!o.ids.empty() && !EndsWith(o.ids, ".png"))
        return krvopt::BadOption(kProgram, "--ids '%s': the name must end in .png", o.ids.c_str());
    const float distance = std::sqrt(dot(o.view.light, o.view.light));
    if (o.view.shadows && (distance < kMinShadowLight || distance > kMaxShadowLight))
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

// Reads the views file: one view a line. False with one line on stderr.
bool ReadViews(const Options& o, std::vector<View>& views)
{
    std::ifstream in(o.views);
    if (!in) {
        std::fprintf(stderr, "%s: %s: %s\n", kProgram, o.views.c_str(), std::strerror(errno));
        return false;
    }
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        const size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#') continue;
        std::istringstream fields(line);
        std::string yaw, pitch, distance, extra;
        fields >> yaw >> pitch >> distance >> extra;
        double y = 0.0, p = 0.0, d = 0.0;
        const bool ok = !yaw.empty() && !pitch.empty() && extra.empty() &&
                        krvopt::ParseFloat(yaw.c_str(), -36000.0, 36000.0, y) &&
                        krvopt::ParseFloat(pitch.c_str(), -89.0, 89.0, p) &&
                        (distance.empty() || krvopt::ParseFloat(distance.c_str(), 0.01, 1000.0, d));
        if (!ok) {
            std::fprintf(stderr,
                         "%s: %s:%d: not 'yaw pitch [distance]' (yaw in degrees, pitch -89 to 89, "
                         "distance 0.01 to 1000)\n",
                         kProgram, o.views.c_str(), number);
            return false;
        }
        if (views.size() >= static_cast<size_t>(kMaxViews)) {
            std::fprintf(stderr, "%s: %s: more than %d views\n", kProgram, o.views.c_str(),
                         kMaxViews);
            return false;
        }
        views.push_back(View{static_cast<float>(y), static_cast<float>(p),
                             distance.empty() ? o.view.distance : static_cast<float>(d)});
    }
    if (views.empty()) {
        std::fprintf(stderr, "%s: %s: no views in the file\n", kProgram, o.views.c_str());
        return false;
    }
    return true;
}

// The file name of frame i of n: the extension kept, "_NNN" put before it.
std::string FrameName(const std::string& out, int i, int n)
{
    if (n <= 0) return out;
    const size_t slash = out.find_last_of('/');
    const size_t dot = out.find_last_of('.');
    const bool hasExtension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash);
    const std::string base = hasExtension ? out.substr(0, dot) : out;
    const std::string extension = hasExtension ? out.substr(dot) : std::string();
    const int digits = n > 1000 ? 4 : 3;
    char number[16];
    std::snprintf(number, sizeof number, "_%0*d", digits, i);
    return base + number + extension;
}

// The report's lines without their line ends, and without the name of the krv call that wrote
// one, which means nothing to a user.
std::vector<std::string> ReportLines()
{
    std::vector<std::string> lines;
    std::istringstream in(krvGetErrorReport());
    std::string line;
    while (std::getline(in, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
        if (line.empty()) continue;
        const size_t colon = line.find(": ");
        if (line.compare(0, 3, "krv") == 0 && colon != std::string::npos &&
            line.find(' ') == colon + 1)
            line.erase(0, colon + 2);
        lines.push_back(line);
    }
    return lines;
}

std::string FirstReportLine()
{
    const std::vector<std::string> lines = ReportLines();
    return lines.empty() ? "unknown error" : lines[0];
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

// Saves a FreeImage bitmap with the plugin its name asks for: the texture loader leaves only
// the decoders it trusts enabled, so the writer is enabled for the save alone.
bool Save(FIBITMAP* dib, const std::string& path, FREE_IMAGE_FORMAT fif, int flags)
{
    const int was = FreeImage_IsPluginEnabled(fif);
    FreeImage_SetPluginEnabled(fif, TRUE);
    const bool ok = dib && FreeImage_Save(fif, dib, path.c_str(), flags);
    if (was == FALSE) FreeImage_SetPluginEnabled(fif, FALSE);
    if (dib) FreeImage_Unload(dib);
    if (!ok) std::fprintf(stderr, "%s: cannot write %s\n", kProgram, path.c_str());
    return ok;
}

FREE_IMAGE_FORMAT FloatFormat(const std::string& path)
{
    if (EndsWith(path, ".exr")) return FIF_EXR;
    if (EndsWith(path, ".pfm")) return FIF_PFM;
    return FIF_TIFF;
}

bool SaveDepth(const std::string& path, int w, int h, const std::vector<float>& depth)
{
    FIBITMAP* dib = FreeImage_AllocateT(FIT_FLOAT, w, h);
    float lo = std::numeric_limits<float>::infinity(), hi = 0.0f;
    for (int y = 0; dib && y < h; ++y) {
        float* row = reinterpret_cast<float*>(FreeImage_GetScanLine(dib, h - 1 - y));
        for (int x = 0; x < w; ++x) {
            const float d = depth[static_cast<size_t>(y) * w + x];
            row[x] = d;
            if (std::isfinite(d)) {
                lo = std::min(lo, d);
                hi = std::max(hi, d);
            }
        }
    }
    if (!Save(dib, path, FloatFormat(path), 0)) return false;
    // The picture to look at: near white, far dark, 0 where nothing was drawn.
    FIBITMAP* view = FreeImage_AllocateT(FIT_UINT16, w, h);
    const float range = hi > lo ? hi - lo : 1.0f;
    for (int y = 0; view && y < h; ++y) {
        unsigned short* row =
            reinterpret_cast<unsigned short*>(FreeImage_GetScanLine(view, h - 1 - y));
        for (int x = 0; x < w; ++x) {
            const float d = depth[static_cast<size_t>(y) * w + x];
            row[x] = std::isfinite(d) ? static_cast<unsigned short>(
                                            TruncToInt(65535.0f - (d - lo) / range * 60000.0f))
                                      : 0;
        }
    }
    return Save(view, path + ".png", FIF_PNG, 0);
}

bool SaveIds(const std::string& path, int w, int h, const std::vector<unsigned short>& ids)
{
    FIBITMAP* dib = FreeImage_AllocateT(FIT_UINT16, w, h);
    for (int y = 0; dib && y < h; ++y) {
        unsigned short* row =
            reinterpret_cast<unsigned short*>(FreeImage_GetScanLine(dib, h - 1 - y));
        std::memcpy(row, ids.data() + static_cast<size_t>(y) * w, sizeof(unsigned short) * w);
    }
    return Save(dib, path, FIF_PNG, 0);
}

bool SaveRGB(const std::string& path, int w, int h, const std::vector<unsigned char>& rgb)
{
    FIBITMAP* dib = FreeImage_Allocate(w, h, 24);
    for (int y = 0; dib && y < h; ++y) {
        BYTE* row = FreeImage_GetScanLine(dib, h - 1 - y);
        const unsigned char* src = rgb.data() + static_cast<size_t>(y) * w * 3u;
        for (int x = 0; x < w; ++x) {
            row[x * 3 + FI_RGBA_RED] = src[x * 3 + 0];
            row[x * 3 + FI_RGBA_GREEN] = src[x * 3 + 1];
            row[x * 3 + FI_RGBA_BLUE] = src[x * 3 + 2];
        }
    }
    return Save(dib, path, FIF_PNG, 0);
}

void PrintInfo(const std::string& path, const CModel& m)
{
    std::printf("%s\n  parts      %d\n  triangles  %d\n  materials  %d\n  textures   %d\n",
                path.c_str(), m.partCount, m.triangles, m.materials, m.textures);
    std::printf("  box        %g %g %g .. %g %g %g\n", static_cast<double>(m.boxMin.x),
                static_cast<double>(m.boxMin.y), static_cast<double>(m.boxMin.z),
                static_cast<double>(m.boxMax.x), static_cast<double>(m.boxMax.y),
                static_cast<double>(m.boxMax.z));
    for (int i = 0; i < m.partCount; ++i) {
        const CModelPart& p = m.parts[i];
        std::printf(
            "  part %d: %s, %d triangles, material %d, colour %.3g %.3g %.3g, opacity "
            "%.3g%s\n",
            i + 1, p.name.c_str() && *p.name.c_str() ? p.name.c_str() : "(no name)",
            p.object.NumVertex / 3, p.material, static_cast<double>(p.colour.x),
            static_cast<double>(p.colour.y), static_cast<double>(p.colour.z),
            static_cast<double>(p.colour.w), p.textured ? ", textured" : "");
    }
}

// The progress of many pictures: a bar redrawn in place on a terminal, one count line at the
// end otherwise.
void Progress(int done, int total)
{
    if (total <= 1) return;
    if (isatty(2)) {
        const int width = 40, filled = done * width / total;
        std::fprintf(stderr, "\r%s: [%.*s%*s] %d/%d", kProgram, filled,
                     "########################################", width - filled, "", done, total);
        if (done == total) std::fprintf(stderr, "\n");
    } else if (done == total) {
        std::fprintf(stderr, "%s: %d pictures\n", kProgram, total);
    }
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
    std::vector<View> views;
    if (!o.views.empty() && !ReadViews(o, views)) return 1;
    if (views.empty()) {
        const int frames = o.turntable > 0 ? o.turntable : 1;
        for (int i = 0; i < frames; ++i)
            views.push_back(
                View{o.view.yaw + 360.0f * static_cast<float>(i) / static_cast<float>(frames),
                     o.view.pitch, o.view.distance});
    }
    const int named = o.turntable > 0 || !o.views.empty() ? static_cast<int>(views.size()) : 0;

    CModel model;
    if (!krvLoadModel(&model, o.model.c_str())) {
        // The importer's line names the file; the tool's own line already does.
        std::string line = FirstReportLine();
        const std::string prefix = "Error loading file " + o.model + ": ";
        if (line.compare(0, prefix.size(), prefix) == 0) line.erase(0, prefix.size());
        std::fprintf(stderr, "%s: cannot load %s: %s\n", kProgram, o.model.c_str(), line.c_str());
        return 1;
    }
    // A model that loaded with a missing texture still renders; say what is missing.
    for (const std::string& line : ReportLines())
        std::fprintf(stderr, "%s: %s%s\n", kProgram,
                     line.compare(0, 9, "warning: ") == 0 ? "" : "warning: ", line.c_str());
    krvClearErrorReport();
    if (o.info) {
        PrintInfo(o.model, model);
        krvDestroyModel(&model);
        return 0;
    }
    krvSetAntiAliasing(o.antiAliasing);
    if (!krvCreateOffscreen(o.width, o.height)) {
        std::fprintf(stderr, "%s: %s\n", kProgram, FirstReportLine().c_str());
        krvDestroyModel(&model);
        return 1;
    }

    const size_t pixels = static_cast<size_t>(o.width) * static_cast<size_t>(o.height);
    std::vector<float> depth(o.depth.empty() ? 0 : pixels);
    std::vector<unsigned char> normals(o.normals.empty() ? 0 : pixels * 3u);
    std::vector<unsigned short> ids(o.ids.empty() ? 0 : pixels);
    int result = 0;
    const int total = static_cast<int>(views.size());
    for (int i = 0; i < total && result == 0; ++i) {
        CModelView view = o.view;
        view.yaw = views[static_cast<size_t>(i)].yaw;
        view.pitch = views[static_cast<size_t>(i)].pitch;
        view.distance = views[static_cast<size_t>(i)].distance;
        krvClearErrorReport();
        bool ok = krvRenderModelView(&model, &view) &&
                  krvSavePixelsPNG(FrameName(o.out, i, named).c_str());
        if (!ok) {
            std::fprintf(stderr, "%s: %s\n", kProgram, FirstReportLine().c_str());
            result = 1;
            break;
        }
        if (!o.depth.empty()) {
            ok = krvRenderModelDepth(&model, &view, depth.data(), depth.size());
            if (ok)
                ok = SaveDepth(FrameName(o.depth, i, named), o.width, o.height, depth);
            else
                std::fprintf(stderr, "%s: %s\n", kProgram, FirstReportLine().c_str());
        }
        if (ok && !o.normals.empty()) {
            ok = krvRenderModelNormals(&model, &view, normals.data(), normals.size());
            if (ok)
                ok = SaveRGB(FrameName(o.normals, i, named), o.width, o.height, normals);
            else
                std::fprintf(stderr, "%s: %s\n", kProgram, FirstReportLine().c_str());
        }
        if (ok && !o.ids.empty()) {
            ok = krvRenderModelIds(&model, &view, ids.data(), ids.size());
            if (ok)
                ok = SaveIds(FrameName(o.ids, i, named), o.width, o.height, ids);
            else
                std::fprintf(stderr, "%s: %s\n", kProgram, FirstReportLine().c_str());
        }
        if (!ok) result = 1;
        Progress(i + 1, total);
    }
    krvDestroyModel(&model);
    krvDestroyOffscreen();
    return result;
}
