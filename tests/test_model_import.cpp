// The model importer through the public interface: the structure of each small model of
// tests/data/models (parts, triangles, materials, textures, vertex colours, box), one report line
// for each malformed file, the exact passes (part ids, depth at a known distance, depth read
// back) and one pixel hash a model pinning its colour picture.
#include "platform/sandbox.h"
#include "tests/rendering_fixture.h"
#include "tests/test_util.h"

#include <FreeImage.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

const std::string kModels = KRV_TEST_DATA_DIR "/models/";

class ModelImport : public RenderingFixture {
protected:
    void SetUp() override
    {
        RenderingFixture::SetUp();
        report_ = _3D_KRV_Report_Error;
        _3D_KRV_Report_Error.Empty();
    }
    void TearDown() override
    {
        krvDestroyModel(&model_);
        krvDestroyOffscreen();
        _3D_KRV_Report_Error = report_;
        RenderingFixture::TearDown();
    }
    // Loads a model with an empty report before and a check that no line but warnings came.
    void Load(const std::string& path)
    {
        krvDestroyModel(&model_);
        krvClearErrorReport();
        ASSERT_TRUE(krvLoadModel(&model_, path.c_str())) << krvGetErrorReport();
    }
    // A picture of w x h without supersampling unless asked.
    void Picture(int w, int h, int aa = KrvAA_Off)
    {
        krvSetAntiAliasing(aa);
        ASSERT_TRUE(krvCreateOffscreen(w, h)) << krvGetErrorReport();
    }
    CModel model_;
    CString report_;
};

int ReportLineCount()
{
    int lines = 0;
    for (const char* p = krvGetErrorReport(); *p; ++p) lines += *p == '\n';
    return lines;
}

// FNV-1a over the bytes, as tests/programs/png_hash.cpp hashes a picture.
uint64_t Fnv1a(const std::vector<unsigned char>& bytes)
{
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char b : bytes) {
        hash ^= b;
        hash *= 1099511628211ull;
    }
    return hash;
}

struct ModelCase {
    const char* file;
    int parts, triangles, materials, textures;
    int texturedParts;
    bool vertexColours;  // some vertex's colour differs from its part's base colour
    vec3 boxMin, boxMax;
    uint64_t pictureHash;  // the default view at 64 x 48, 4x supersampling
};

const ModelCase kModelCases[] = {
    // Quad and hexagon (n-gon): 2 + 4 triangles; assimp adds its default material.
    {"quads.obj", 2, 6, 3, 2, 2, false, vec3(-1, -1, 0), vec3(4, 1, 0), 0xf09a97b8e7cd57e1},
    // A triangle and a quad moved by its node, the second half transparent; and the default.
    {"scene.gltf", 2, 3, 3, 1, 1, false, vec3(0, 0, 0), vec3(3, 1, 0), 0xd51510da7b8d0f1d},
    {"embedded.glb", 2, 3, 3, 1, 1, false, vec3(0, 0, 0), vec3(3, 1, 0), 0xd51510da7b8d0f1d},
    {"colours.ply", 1, 2, 1, 0, 0, true, vec3(0, 0, 0), vec3(1, 1, 0), 0x83284058a163afff},
    // Zero facet normals: each corner takes its face's normal (checked as unit length below).
    {"tetra.stl", 1, 4, 1, 0, 0, false, vec3(0, 0, 0), vec3(1, 1, 1), 0x6a9849ceddfcfd00},
};

TEST_F(ModelImport, StructureOfEachSmallModel)
{
    for (const ModelCase& c : kModelCases) {
        SCOPED_TRACE(c.file);
        Load(kModels + c.file);
        EXPECT_EQ(model_.partCount, c.parts);
        EXPECT_EQ(model_.triangles, c.triangles);
        EXPECT_EQ(model_.materials, c.materials);
        EXPECT_EQ(model_.textures, c.textures);
        ExpectVecNear(model_.boxMin, c.boxMin, 1e-3f);
        ExpectVecNear(model_.boxMax, c.boxMax, 1e-3f);
        int textured = 0, triangles = 0;
        bool coloured = false;
        for (int i = 0; i < model_.partCount; ++i) {
            const CModelPart& p = model_.parts[i];
            textured += p.textured && p.texture.Bits && p.texture.Width > 0;
            ASSERT_EQ(p.object.NumVertex % 3, 0);
            triangles += p.object.NumVertex / 3;
            EXPECT_TRUE(p.material >= 0 && p.material < model_.materials);
            for (int v = 0; v < p.object.NumVertex; ++v) {
                const CVertex& x = p.object.Vertex[v];
                coloured = coloured || std::fabs(x.r - p.colour.x) > 1e-3f ||
                           std::fabs(x.g - p.colour.y) > 1e-3f ||
                           std::fabs(x.b - p.colour.z) > 1e-3f;
                EXPECT_NEAR(std::sqrt(x.nx * x.nx + x.ny * x.ny + x.nz * x.nz), 1.0f, 1e-3f);
            }
        }
        EXPECT_EQ(textured, c.texturedParts);
        EXPECT_EQ(triangles, c.triangles);
        EXPECT_EQ(coloured, c.vertexColours);
    }
}

// The glTF's second material is blended: its opacity reaches the part; the PLY's corners keep
// their own colours.
TEST_F(ModelImport, OpacityAndVertexColoursReachTheParts)
{
    for (const char* file : {"scene.gltf", "embedded.glb"}) {
        Load(kModels + file);
        ASSERT_EQ(model_.partCount, 2);
        EXPECT_EQ(model_.parts[0].colour.w, 1.0f) << file;
        EXPECT_NEAR(model_.parts[1].colour.w, 0.5f, 1e-6f) << file;
        EXPECT_NEAR(model_.parts[1].colour.y, 1.0f, 1e-6f) << file;
    }
    Load(kModels + "colours.ply");
    // Each corner: x, y and its colour in bytes.
    std::set<std::vector<int>> corners;
    const CObject& o = model_.parts[0].object;
    for (int v = 0; v < o.NumVertex; ++v)
        corners.insert({static_cast<int>(o.Vertex[v].x), static_cast<int>(o.Vertex[v].y),
                        static_cast<int>(std::lround(o.Vertex[v].r * 255)),
                        static_cast<int>(std::lround(o.Vertex[v].g * 255)),
                        static_cast<int>(std::lround(o.Vertex[v].b * 255))});
    const std::set<std::vector<int>> expected = {
        {0, 0, 255, 0, 0}, {1, 0, 0, 255, 0}, {1, 1, 0, 0, 255}, {0, 1, 255, 255, 255}};
    EXPECT_EQ(corners, expected);
}

// A palette texture is converted to 24 bits, and a name from the author's machine (a Windows
// absolute path) is found beside the model: the part is textured, with no warning.
TEST_F(ModelImport, PaletteTextureNamedByAnAbsolutePathLoads)
{
    const std::string dir = ::testing::TempDir() + "krv_model_palette";
    std::filesystem::create_directories(dir);
    FIBITMAP* dib = FreeImage_Allocate(2, 2, 8);
    ASSERT_NE(dib, nullptr);
    RGBQUAD* palette = FreeImage_GetPalette(dib);
    palette[0] = RGBQUAD{10, 20, 200, 0};  // blue, green, red
    palette[1] = RGBQUAD{0, 0, 0, 0};
    for (int y = 0; y < 2; ++y) std::memset(FreeImage_GetScanLine(dib, y), 0, 2);
    const int was = FreeImage_IsPluginEnabled(FIF_PNG);
    FreeImage_SetPluginEnabled(FIF_PNG, TRUE);
    const bool saved = FreeImage_Save(FIF_PNG, dib, (dir + "/pal.png").c_str(), 0);
    FreeImage_SetPluginEnabled(FIF_PNG, was);
    FreeImage_Unload(dib);
    ASSERT_TRUE(saved);
    std::ofstream(dir + "/m.mtl") << "newmtl p\nKd 1 1 1\nmap_Kd C:\\work\\maps\\pal.png\n";
    std::ofstream(dir + "/m.obj")
        << "mtllib m.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nusemtl p\nf 1/1 2/1 3/1\n";
    Load(dir + "/m.obj");
    EXPECT_STREQ(krvGetErrorReport(), "");
    EXPECT_EQ(model_.textures, 1);
    ASSERT_EQ(model_.partCount, 1);
    const CTexture& t = model_.parts[0].texture;
    ASSERT_TRUE(model_.parts[0].textured && t.Bits && t.Width == 2 && t.Height == 2);
    EXPECT_EQ(t.Bits[0], 10);
    EXPECT_EQ(t.Bits[1], 20);
    EXPECT_EQ(t.Bits[2], 200);
    std::filesystem::remove_all(dir);
}

// Every malformed file, whatever its format, fails with exactly one line naming it.
TEST_F(ModelImport, MalformedFilesGiveOneLineAndNoModel)
{
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(kModels + "malformed")) {
        const std::string path = entry.path().string();
        SCOPED_TRACE(path);
        krvClearErrorReport();
        EXPECT_FALSE(krvLoadModel(&model_, path.c_str()));
        EXPECT_EQ(ReportLineCount(), 1) << krvGetErrorReport();
        EXPECT_EQ(std::string(krvGetErrorReport()).rfind("Error loading file " + path + ": ", 0),
                  0u)
            << krvGetErrorReport();
        EXPECT_EQ(model_.parts, nullptr);
        EXPECT_EQ(model_.partCount, 0);
        EXPECT_EQ(model_.triangles, 0);
        ++files;
    }
    EXPECT_GE(files, 7);
}

// A count the library believes (a binary PLY face list of 1,111,111,111 indices) asks for more than
// the child's memory: one line that says so. Sanitizer builds lift the child's memory limit, so
// the file would take its 8.9 GB there.
TEST_F(ModelImport, ACountBeyondTheChildsMemoryGivesOneLine)
{
    if (krvplat::SanitizedBuild()) GTEST_SKIP() << "no memory limit for the child here";
    const std::string path = kModels + "memory/list_length_past_memory.ply";
    krvClearErrorReport();
    EXPECT_FALSE(krvLoadModel(&model_, path.c_str()));
    EXPECT_EQ(ReportLineCount(), 1) << krvGetErrorReport();
    EXPECT_NE(std::string(krvGetErrorReport()).find("more memory than the import may use"),
              std::string::npos)
        << krvGetErrorReport();
    EXPECT_EQ(model_.parts, nullptr);
}

// Seen from the front each model shows every part and the background, nothing else; the OBJ's
// quad lies left of its hexagon.
TEST_F(ModelImport, PartIdsCoverEveryPartAndTheBackground)
{
    const int w = 96, h = 72;
    for (const ModelCase& c : kModelCases) {
        SCOPED_TRACE(c.file);
        Load(kModels + c.file);
        Picture(w, h, KrvAA_2x2);
        CModelView view;
        view.yaw = 0.0f;
        view.pitch = 0.0f;
        std::vector<unsigned short> ids(size_t(w) * h);
        ASSERT_TRUE(krvRenderModelIds(&model_, &view, ids.data(), ids.size()))
            << krvGetErrorReport();
        std::map<int, long> pixels, columns;
        for (size_t i = 0; i < ids.size(); ++i) {
            pixels[ids[i]] += 1;
            columns[ids[i]] += static_cast<long>(i % w);
        }
        std::vector<int> seen, expected;
        for (const auto& p : pixels) seen.push_back(p.first);
        for (int id = 0; id <= c.parts; ++id) expected.push_back(id);
        EXPECT_EQ(seen, expected);
        if (std::string(c.file) == "quads.obj") {
            EXPECT_LT(columns[1] / pixels[1], columns[2] / pixels[2]);
        }
    }
}

// A square facing the camera at distance d reads d everywhere it covers, +inf elsewhere; the
// window depth read back is 1 where nothing was drawn.
TEST_F(ModelImport, DepthOfASquareAtAKnownDistance)
{
    const std::string dir = ::testing::TempDir() + "krv_model_depth";
    std::filesystem::create_directories(dir);
    const std::string square = dir + "/square.obj";
    std::ofstream(square) << "v -1 -1 0\nv 1 -1 0\nv 1 1 0\nv -1 1 0\nf 1 2 3 4\n";
    Load(square);
    const int w = 64, h = 48;
    Picture(w, h);
    for (float d : {1.8f, 2.5f, 4.0f, 9.0f}) {
        SCOPED_TRACE(d);
        CModelView view;
        view.lookAt = true;
        view.eye = vec3(0.0f, 0.0f, d);
        std::vector<float> depth(size_t(w) * h, -1.0f);
        ASSERT_TRUE(krvRenderModelDepth(&model_, &view, depth.data(), depth.size()))
            << krvGetErrorReport();
        // The square spans +-1/sqrt(2) in the unit frame: its projected half width in pixels.
        const float halfHeight = std::tan(45.0f * 0.5f * 3.14159265f / 180.0f) * d;
        const float half = 0.70710678f / halfHeight * (h * 0.5f);
        int inside = 0, outside = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const float dx = std::fabs(x + 0.5f - w * 0.5f),
                            dy = std::fabs(y + 0.5f - h * 0.5f);
                const float z = depth[size_t(y) * w + x];
                if (dx < half - 1.0f && dy < half - 1.0f) {
                    EXPECT_NEAR(z, d, d * 2e-4f) << x << "," << y;
                    ++inside;
                } else if (dx > half + 1.0f || dy > half + 1.0f) {
                    EXPECT_TRUE(std::isinf(z) && z > 0) << x << "," << y << ": " << z;
                    ++outside;
                }
            }
        EXPECT_GT(inside, 0);
        if (d > 2.0f) {
            EXPECT_GT(outside, 0);
        }

        std::vector<float> window(size_t(w) * h, -1.0f);
        ASSERT_TRUE(krvReadDepth(window.data(), window.size()));
        EXPECT_GT(window[size_t(h / 2) * w + w / 2], 0.0f);
        EXPECT_LT(window[size_t(h / 2) * w + w / 2], 1.0f);
        if (d > 2.0f) {
            EXPECT_EQ(window[0], 1.0f);
        }
    }
    std::filesystem::remove_all(dir);
}

// Buffers too small for the picture are refused with a line and left as they were.
TEST_F(ModelImport, TooSmallBuffersAreRefused)
{
    Load(kModels + "tetra.stl");
    Picture(4, 3);
    CModelView view;
    std::vector<float> depth(11, -7.0f);
    std::vector<unsigned short> ids(11, 7);
    std::vector<unsigned char> rgb(35, 7);
    const struct {
        std::function<bool()> call;
        const char* line;
    } cases[] = {
        {[&] { return krvReadDepth(depth.data(), depth.size()); },
         "krvReadDepth: the 4 x 3 picture needs 12 floats, the buffer holds 11\r\n"},
        {[&] { return krvReadDepth(nullptr, 12); },
         "krvReadDepth: the 4 x 3 picture needs 12 floats, the buffer holds 0\r\n"},
        {[&] { return krvRenderModelDepth(&model_, &view, depth.data(), depth.size()); },
         "krvRenderModelDepth: the 4 x 3 picture needs 12 floats, the buffer holds 11\r\n"},
        {[&] { return krvRenderModelIds(&model_, &view, ids.data(), ids.size()); },
         "krvRenderModelIds: the 4 x 3 picture needs 12 ids, the buffer holds 11\r\n"},
        {[&] { return krvRenderModelNormals(&model_, &view, rgb.data(), rgb.size()); },
         "krvRenderModelNormals: the 4 x 3 picture needs 36 bytes, the buffer holds 35\r\n"},
    };
    for (const auto& c : cases) {
        krvClearErrorReport();
        EXPECT_FALSE(c.call()) << c.line;
        EXPECT_STREQ(krvGetErrorReport(), c.line);
    }
    for (float f : depth) EXPECT_EQ(f, -7.0f);
    for (unsigned short i : ids) EXPECT_EQ(i, 7);
    for (unsigned char b : rgb) EXPECT_EQ(b, 7);
    krvDestroyOffscreen();
    krvClearErrorReport();
    EXPECT_FALSE(krvReadDepth(depth.data(), depth.size()));
    EXPECT_STREQ(krvGetErrorReport(),
                 "krvReadDepth: there is no picture (no window or offscreen image)\r\n");
}

// The colour picture of each model, pinned by the hash of its pixels: materials, textures,
// blending, light, shadow and floor together. One model after another in the same record: a
// shadow map kept from the model before (whose parts may have had the same address) shows.
TEST_F(ModelImport, ColourPicturesArePinned)
{
    const int w = 64, h = 48;
    for (const ModelCase& c : kModelCases) {
        SCOPED_TRACE(c.file);
        Load(kModels + c.file);
        Picture(w, h, KrvAA_2x2);
        CModelView view;
        ASSERT_TRUE(krvRenderModelView(&model_, &view)) << krvGetErrorReport();
        std::vector<unsigned char> rgb(size_t(w) * h * 3);
        ASSERT_TRUE(krvReadPixels(rgb.data(), rgb.size()));
        char hash[32];
        std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(Fnv1a(rgb)));
        char expected[32];
        std::snprintf(expected, sizeof expected, "%016llx",
                      static_cast<unsigned long long>(c.pictureHash));
        EXPECT_STREQ(hash, expected);
    }
}

}  // namespace
