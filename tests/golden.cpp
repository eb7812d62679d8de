#include "tests/golden.h"

#include "base/report.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

TestTarget::TestTarget(int w, int h, bool withColor, bool withDepth) : width(w), height(h)
{
    if (withColor) color.assign(size_t(w) * h * 3, 0);
    if (withDepth) depth.assign(size_t(w) * h, 0xFFFF);
}

void TestTarget::Bind(_3D_Korvane_Core& core)
{
    core.targetColor = color.empty() ? nullptr : color.data();
    core.targetColorWidth = color.empty() ? 0 : width;
    core.targetColorHeight = color.empty() ? 0 : height;
    core.targetDepth = depth.empty() ? nullptr : depth.data();
    core.targetDepthWidth = depth.empty() ? 0 : width;
    core.targetDepthHeight = depth.empty() ? 0 : height;
    core.maxX = width - 1;
    core.maxY = height - 1;
    core.antiAliasing = KrvAA_Off;
    core.Viewport(0, 0, width, height);
}

void TestTarget::Clear()
{
    std::fill(color.begin(), color.end(), 0);
    std::fill(depth.begin(), depth.end(), 0xFFFF);
}

int TestTarget::CountColored() const
{
    int n = 0;
    for (size_t i = 0; i < color.size(); i += 3)
        n += (color[i] | color[i + 1] | color[i + 2]) ? 1 : 0;
    return n;
}

std::string TestTarget::ColorMap() const
{
    std::string out;
    std::vector<unsigned> legend;
    for (int y = height - 1; y >= 0; --y) {
        for (int x = 0; x < width; ++x) {
            const uint8* p = Pixel(x, y);
            unsigned key = p[0] | (p[1] << 8) | (p[2] << 16);
            if (key == 0) {
                out += '.';
                continue;
            }
            size_t i = 0;
            while (i < legend.size() && legend[i] != key) ++i;
            if (i == legend.size()) legend.push_back(key);
            out += i < 26 ? char('A' + i) : '#';
        }
        if (y > 0) out += '\n';
    }
    return out;
}

std::string TestTarget::DepthMap() const
{
    std::string out;
    for (int y = height - 1; y >= 0; --y) {
        for (int x = 0; x < width; ++x) out += Depth(x, y) == 0xFFFF ? '.' : '#';
        if (y > 0) out += '\n';
    }
    return out;
}

std::string MapRows(std::initializer_list<const char*> rows)
{
    std::string out;
    for (const char* r : rows) {
        if (!out.empty()) out += '\n';
        out += r;
    }
    return out;
}

CVertex ScreenVertex(const _3D_Korvane_Core& core, float sx, float sy, float z, vec3 rgb)
{
    CVertex v = {};
    v.x = (sx - float(core.viewportX)) / float(core.viewportWidth) * 2.0f - 1.0f;
    v.y = (sy - float(core.viewportY)) / float(core.viewportHeight) * 2.0f - 1.0f;
    v.z = z;
    v.r = rgb.x;
    v.g = rgb.y;
    v.b = rgb.z;
    return v;
}

// ---------------------------------------------------------------------------------------------
bool WritePpm(const std::string& path, const std::vector<uint8>& rgb, int width, int height)
{
    std::ofstream f(path, std::ios::binary);
    if (!f) return false;
    f << "P6\n" << width << " " << height << "\n255\n";
    f.write(reinterpret_cast<const char*>(rgb.data()), std::streamsize(rgb.size()));
    return bool(f);
}

bool ReadPpm(const std::string& path, std::vector<uint8>& rgb, int& width, int& height)
{
    std::ifstream f(path, std::ios::binary);
    std::string magic;
    int maxValue = 0;
    if (!(f >> magic >> width >> height >> maxValue) || magic != "P6" || maxValue != 255 ||
        width <= 0 || height <= 0 || width > 4096 || height > 4096)
        return false;
    f.get();  // the one whitespace byte before the samples
    rgb.assign(size_t(width) * height * 3, 0);
    f.read(reinterpret_cast<char*>(rgb.data()), std::streamsize(rgb.size()));
    return f.gcount() == std::streamsize(rgb.size());
}

// The tests provoke failures on purpose: echoed, their report lines would bury the test output.
// The test of the echo turns it on for itself.
[[maybe_unused]] static const bool kQuietReport = (krvSetErrorEcho(false), true);

// Where a failing comparison leaves its pictures: <build>/golden-failures/<name>/.
static std::string FailureFolder(const std::string& name)
{
    const std::string folder = std::string(KRV_GOLDEN_FAILURE_DIR) + "/" + name;
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    std::filesystem::create_directories(folder, ec);
    return folder;
}

// The difference picture: equal pixels as a dim grey copy of the expected image, so the scene
// stays recognisable; differing pixels red, brighter the larger their largest channel difference.
static std::vector<uint8> DifferencePicture(const std::vector<uint8>& expected,
                                            const std::vector<uint8>& actual)
{
    std::vector<uint8> diff(expected.size());
    for (size_t i = 0; i < expected.size(); i += 3) {
        int largest = 0;
        for (int c = 0; c < 3; ++c)
            largest = std::max(largest, std::abs(int(expected[i + c]) - int(actual[i + c])));
        if (largest == 0) {
            const uint8 grey = uint8((expected[i] + expected[i + 1] + expected[i + 2]) / 12);
            diff[i] = diff[i + 1] = diff[i + 2] = grey;
        } else {
            diff[i] = uint8(std::min(255, 128 + 2 * largest));
            diff[i + 1] = diff[i + 2] = 0;
        }
    }
    return diff;
}

static std::string Rgb(const uint8* p)
{
    std::ostringstream s;
    s << "(" << int(p[0]) << ", " << int(p[1]) << ", " << int(p[2]) << ")";
    return s.str();
}

::testing::AssertionResult MatchesGolden(const std::string& name, const uint8* bgr, int width,
                                         int height, int stride)
{
    std::vector<uint8> rgb(size_t(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const uint8* s = bgr + (size_t(height - 1 - y) * stride + x) * 3;
            uint8* d = &rgb[(size_t(y) * width + x) * 3];
            d[0] = s[2];
            d[1] = s[1];
            d[2] = s[0];
        }
    }
    const std::string reference = std::string(KRV_TEST_DATA_DIR) + "/golden/" + name + ".ppm";
    const char* update = std::getenv("KRV_UPDATE_GOLDEN");
    if (update && std::strcmp(update, "1") == 0) {
        if (!WritePpm(reference, rgb, width, height))
            return ::testing::AssertionFailure() << "cannot write " << reference;
        return ::testing::AssertionSuccess();
    }

    std::vector<uint8> expected;
    int ew = 0, eh = 0;
    if (!ReadPpm(reference, expected, ew, eh)) {
        const std::string folder = FailureFolder(name);
        WritePpm(folder + "/actual.ppm", rgb, width, height);
        return ::testing::AssertionFailure()
               << "no reference " << reference << " (run with KRV_UPDATE_GOLDEN=1); actual image "
               << folder << "/actual.ppm";
    }
    if (ew != width || eh != height) {
        const std::string folder = FailureFolder(name);
        WritePpm(folder + "/expected.ppm", expected, ew, eh);
        WritePpm(folder + "/actual.ppm", rgb, width, height);
        return ::testing::AssertionFailure()
               << name << ": reference is " << ew << "x" << eh << ", image is " << width << "x"
               << height << "; both in " << folder;
    }
    size_t differing = 0, worst = 0;
    int largest = 0;
    for (size_t i = 0; i < rgb.size(); i += 3) {
        if (std::memcmp(&rgb[i], &expected[i], 3) == 0) continue;
        ++differing;
        for (int c = 0; c < 3; ++c) {
            const int d = std::abs(int(rgb[i + c]) - int(expected[i + c]));
            if (d > largest) {
                largest = d;
                worst = i / 3;
            }
        }
    }
    if (differing == 0) return ::testing::AssertionSuccess();
    const std::string folder = FailureFolder(name);
    WritePpm(folder + "/expected.ppm", expected, width, height);
    WritePpm(folder + "/actual.ppm", rgb, width, height);
    WritePpm(folder + "/diff.ppm", DifferencePicture(expected, rgb), width, height);
    std::ostringstream msg;
    msg << name << ": " << differing << " pixels differ; the largest difference, " << largest
        << ", is at (" << worst % width << ", " << worst / width << ") from the top left: expected "
        << Rgb(&expected[worst * 3]) << ", actual " << Rgb(&rgb[worst * 3])
        << "; expected, actual and diff pictures in " << folder;
    return ::testing::AssertionFailure() << msg.str();
}

void RandomiseShading(_3D_Korvane_Core& core, std::mt19937& rng)
{
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    core.texturing = rng() & 1;
    core.material = rng() & 1;
    core.multiTexture = rng() & 1;
    core.bumpMapping = rng() & 1;
    core.dot3 = rng() & 1;
    core.transparency = rng() & 1;
    core.TransparencySet = rng() & 1;
    core.alphaBlend = rng() & 1;
    core.AlphaFlag = rng() & 1;
    core.depthColorCompare = rng() & 1;
    core.bilinearFilter = rng() & 1;
    core.AlphaValue = unit(rng);
    core.Transparency = unit(rng);
    core.BumpMapFactor = 10.0f * unit(rng);
    core.Material.ambient = vec3(unit(rng), unit(rng), unit(rng));
    core.Material.diffuse = vec3(unit(rng), unit(rng), unit(rng));
    core.Material.specular = vec3(unit(rng), unit(rng), unit(rng));
    core.Material.emission = unit(rng);
}
