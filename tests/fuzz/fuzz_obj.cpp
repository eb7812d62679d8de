// Fuzzes the OBJ/MTL reader: whatever a model folder holds, LoadObj ends with a well-formed
// mesh or with report lines, in bounded time and memory, never reads a file outside the model's
// folder, and leaves nothing allocated once the mesh is destroyed.
//
// The input is a small model folder: sections separated by a line "--", written in order as
// m.obj (the model loaded), m.mtl, b.mtl, t.bmp, t.tga and t.png; a section whose first line
// is "@NAME" is written as NAME instead (letters, digits, '_', '-' and '.', optionally under
// "sub/"). Beside them the folder holds fixed links, inside and out:
//
//   up -> ..            pw.mtl -> /etc/passwd     sec.mtl -> ../secret.mtl
//   out.bmp -> ../outside.bmp                     loop -> loop
//   in.mtl -> m.mtl     self -> .                 sub/back -> ..      sub/far -> ../..
//
// Outside the folder lie secret.mtl and outside.bmp, a material library and an image the
// links lead to: neither may ever be opened. That is watched through the kernel rather than
// read off the report or the texture, so the fuzzer's comparison tracing cannot learn what
// would trip the check and forge it.
//
// Every texture decode runs in a child process: inputs naming more than a few distinct
// textures are refused, so the fuzzer spends its time in the reader.
#include "base/report.h"
#include "scene/object.h"

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <set>
#include <string>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::string root;  // ModuleDirectory; the model folder is root/m
std::vector<std::string> written;

int outsideOpens = -1;  // inotify descriptor watching the files outside
const size_t kMaxDistinctTextures = 3;

// A 24-bit BMP of one colour.
std::string Bmp(int w, int h, const unsigned char bgr[3])
{
    const int row = (w * 3 + 3) & ~3;
    const uint32_t pixels = static_cast<uint32_t>(row * h), size = 54 + pixels;
    std::string b(size, '\0');
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
    };
    b[0] = 'B';
    b[1] = 'M';
    put32(2, size);
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<uint32_t>(w));
    put32(22, static_cast<uint32_t>(h));
    b[26] = 1;
    b[28] = 24;
    put32(34, pixels);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            std::memcpy(&b[54 + static_cast<size_t>(y * row + x * 3)], bgr, 3);
    return b;
}

void WriteFile(const std::string& path, const std::string& text)
{
    // Never through a link, never over a file already there.
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return;
    if (!text.empty() && write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        std::abort();
    close(fd);
    written.push_back(path);
}

void Prepare()
{
    krvSetErrorEcho(false);  // every rejected input reports a line
    char pattern[64];
    std::snprintf(pattern, sizeof pattern, "%s/krv_fuzz_obj_XXXXXX",
                  access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
    if (!mkdtemp(pattern)) std::abort();
    root = pattern;
    std::atexit([] { std::filesystem::remove_all(root); });
    ModuleDirectory = (root + "/").c_str();
    const std::string m = root + "/m";
    if (mkdir(m.c_str(), 0700) != 0 || mkdir((m + "/sub").c_str(), 0700) != 0) std::abort();
    const unsigned char grey[3] = {128, 128, 128};
    WriteFile(root + "/secret.mtl", "map_Ka outside.bmp\n");
    WriteFile(root + "/outside.bmp", Bmp(5, 7, grey));
    written.clear();
    outsideOpens = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (outsideOpens < 0 ||
        inotify_add_watch(outsideOpens, (root + "/secret.mtl").c_str(), IN_OPEN) < 0 ||
        inotify_add_watch(outsideOpens, (root + "/outside.bmp").c_str(), IN_OPEN) < 0)
        std::abort();
    const char* links[][2] = {
        {"up", ".."},
        {"pw.mtl", "/etc/passwd"},
        {"sec.mtl", "../secret.mtl"},
        {"out.bmp", "../outside.bmp"},
        {"loop", "loop"},
        {"in.mtl", "m.mtl"},
        {"self", "."},
        {"sub/back", ".."},
        {"sub/far", "../.."},
    };
    for (const auto& l : links)
        if (symlink(l[1], (m + "/" + l[0]).c_str()) != 0) std::abort();
}

bool ValidName(const std::string& name)
{
    std::string base = name.compare(0, 4, "sub/") == 0 ? name.substr(4) : name;
    if (base.empty() || base.size() > 40 || base[0] == '.') return false;
    for (char c : base)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-' && c != '.')
            return false;
    return true;
}

// The distinct names of "map_Ka" lines anywhere in the input.
size_t DistinctTextures(const std::string& text)
{
    std::set<std::string> names;
    for (size_t at = text.find("map_Ka"); at != std::string::npos;
         at = text.find("map_Ka", at + 6)) {
        size_t end = text.find_first_of(std::string("\n\r\0", 3), at);
        names.insert(text.substr(at + 6, end == std::string::npos ? end : end - at - 6));
    }
    return names.size();
}

bool Finite(float v) { return std::isfinite(v); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (root.empty()) Prepare();
    const std::string input(reinterpret_cast<const char*>(data), size);
    if (DistinctTextures(input) > kMaxDistinctTextures) return -1;

    static const char* const kNames[] = {"m.obj", "m.mtl", "b.mtl", "t.bmp", "t.tga", "t.png"};
    size_t start = 0;
    for (size_t index = 0; start <= input.size(); ++index) {
        size_t end = input.find("\n--\n", start);
        std::string text = input.substr(start, end == std::string::npos ? end : end - start);
        std::string name = index < 6 ? kNames[index] : "";
        if (text.compare(0, 1, "@") == 0) {
            size_t line = text.find('\n');
            name = text.substr(1, line == std::string::npos ? line : line - 1);
            text = line == std::string::npos ? "" : text.substr(line + 1);
        }
        if (ValidName(name)) WriteFile(root + "/m/" + name, text);
        if (end == std::string::npos) break;
        start = end + 4;
    }

    CObject o;
    const bool loaded = o.LoadObj("m/", "m.obj");
    alignas(inotify_event) char event[sizeof(inotify_event) + NAME_MAX + 1];
    if (read(outsideOpens, event, sizeof event) > 0) std::abort();  // a link led outside
    const char* report = _3D_KRV_Report_Error.c_str();
    if (loaded) {
        if (!o.Vertex || o.NumVertex < 3 || o.NumVertex % 3 != 0 || o.NumVertex > kMaxObjVertices)
            std::abort();
        for (int i = 0; i < o.NumVertex; ++i) {
            const CVertex& v = o.Vertex[i];
            if (!Finite(v.x) || !Finite(v.y) || !Finite(v.z) || !Finite(v.u) || !Finite(v.v) ||
                !Finite(v.nx) || !Finite(v.ny) || !Finite(v.nz) || v.r != 1.0f)
                std::abort();
        }
    } else if (o.Vertex || o.NumVertex != 0 || !std::strstr(report, "\r\n")) {
        std::abort();  // a failed load leaves no vertices and says why
    }

    o.Destroy();
    for (const std::string& path : written) unlink(path.c_str());
    written.clear();
    // The report would otherwise grow with every input the fuzzer tries.
    _3D_KRV_Report_Error.Empty();
    _3D_KRV_Title_Error.Empty();
    return 0;
}
