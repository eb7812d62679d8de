// The OBJ/MTL reader: what each line form yields, the exact report lines, exporter-style files,
// and every malformed or hostile input refused without reading out of bounds. Files are written
// into a temporary program directory, models into its subfolder "m".
#include "base/report.h"
#include "scene/object.h"
#include "tests/test_util.h"

#include <FreeImage.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace std::string_literals;

namespace {

const char* const kTriangle = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";

class ObjLoader : public testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/krv_obj_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        std::filesystem::create_directory(dir_ + "/m");
        savedDirectory_ = ModuleDirectory.c_str();
        ModuleDirectory = (dir_ + "/").c_str();
        savedReport_ = _3D_KRV_Report_Error.c_str();
        savedTitle_ = _3D_KRV_Title_Error.c_str();
        _3D_KRV_Report_Error.Empty();
        _3D_KRV_Title_Error.Empty();
    }
    void TearDown() override
    {
        obj_.Destroy();
        ModuleDirectory = savedDirectory_.c_str();
        _3D_KRV_Report_Error = savedReport_.c_str();
        _3D_KRV_Title_Error = savedTitle_.c_str();
        std::filesystem::remove_all(dir_);
    }

    // Writes text (binary, so line ends stay as given) to m/<name>.
    void Write(const std::string& name, const std::string& text)
    {
        std::ofstream f(Full(name), std::ios::binary);
        f.write(text.data(), static_cast<std::streamsize>(text.size()));
        ASSERT_TRUE(f.good());
    }
    std::string Full(const std::string& name) const { return dir_ + "/m/" + name; }

    // A 2x3 24-bit PNG with a distinct byte everywhere.
    void WritePng(const std::string& name)
    {
        FIBITMAP* dib = FreeImage_Allocate(2, 3, 24);
        ASSERT_NE(dib, nullptr);
        for (int y = 0; y < 3; ++y) {
            BYTE* row = FreeImage_GetScanLine(dib, y);
            for (int i = 0; i < 6; ++i) row[i] = static_cast<BYTE>(10 * y + i + 1);
        }
        ASSERT_TRUE(FreeImage_Save(FIF_PNG, dib, Full(name).c_str(), 0));
        FreeImage_Unload(dib);
    }

    bool Load(const std::string& name) { return obj_.LoadObj("m/", name.c_str()); }
    std::string Report() const { return _3D_KRV_Report_Error.c_str(); }
    std::string LoadError(const std::string& name) const
    {
        return "Error loading file " + name + "!\r\n";
    }
    std::string OpenError(const std::string& path) const
    {
        return "Error opening file " + path + "!\r\n";
    }

    // The object a failed load leaves: no vertices, and (unless a material step failed) no
    // texture.
    void ExpectEmpty(bool textureEmpty = true)
    {
        EXPECT_EQ(obj_.Vertex, nullptr);
        EXPECT_EQ(obj_.NumVertex, 0);
        if (textureEmpty) {
            EXPECT_EQ(obj_.Texture.Bits, nullptr);
            EXPECT_EQ(obj_.Texture.Width, 0);
        }
        EXPECT_STREQ(_3D_KRV_Title_Error.c_str(), "Error");
    }

    // Writes text as name and expects the load to fail with exactly one loading-error line.
    void ExpectRejected(const std::string& name, const std::string& text)
    {
        SCOPED_TRACE(name + ": " + text.substr(0, 80));
        _3D_KRV_Report_Error.Empty();
        Write(name, text);
        EXPECT_FALSE(Load(name));
        EXPECT_EQ(Report(), LoadError(name));
        ExpectEmpty();
    }

    std::string dir_;
    std::string savedDirectory_, savedReport_, savedTitle_;
    CObject obj_;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Line forms.

// Each face form and what every corner of the first triangle gets from it: position, texture
// coordinates, normal. Colours are white without a material, and the box spans all positions.
TEST_F(ObjLoader, FaceFormsFillEveryCorner)
{
    struct Corner {
        float x, y, z, u, v, nx, ny, nz;
    };
    struct Case {
        const char* name;
        std::string text;
        Corner corners[3];
        vec3 max;
    };
    const Case cases[] = {
        // Positions only: a flat normal, no texture coordinates.
        {"positions only",
         std::string(kTriangle) + "f 1 2 3\n",
         {{0, 0, 0, 0, 0, 0, 0, 1}, {1, 0, 0, 0, 0, 0, 0, 1}, {0, 1, 0, 0, 0, 0, 0, 1}},
         vec3(1, 1, 0)},
        // Only the first three corners of a longer face count.
        {"full quad",
         "v 0 0 0\nv 2 0 0\nv 2 2 0\nv 0 2 0\n"
         "vt 0 0\nvt 0.5 0\nvt 0.5 0.25\nvt 0 0.25\n"
         "vn 0 0 1\nvn 0 1 0\nvn 1 0 0\nvn 0 0 -1\n"
         "f 1/1/1 2/2/2 3/3/3 4/4/4\n",
         {{0, 0, 0, 0, 0, 0, 0, 1}, {2, 0, 0, 0.5f, 0, 0, 1, 0}, {2, 2, 0, 0.5f, 0.25f, 1, 0, 0}},
         vec3(2, 2, 0)},
        {"position//normal",
         std::string(kTriangle) + "vt 0.5 0.5\nvn 0 0 1\nvn 0 1 0\nf 1//2 2//1 3//2\n",
         {{0, 0, 0, 0, 0, 0, 1, 0}, {1, 0, 0, 0, 0, 0, 0, 1}, {0, 1, 0, 0, 0, 0, 1, 0}},
         vec3(1, 1, 0)},
        // Leading blanks are skipped, a two-number position is no position, normals are unit.
        {"blanks and short lines",
         "  \tv 0 0 0\nv 7 7\n\t v 1 0 0\nv 0 1 0\nvn 0 0 5\nf 1//1 2//1 3//1\n",
         {{0, 0, 0, 0, 0, 0, 0, 1}, {1, 0, 0, 0, 0, 0, 0, 1}, {0, 1, 0, 0, 0, 0, 0, 1}},
         vec3(1, 1, 0)},
        // Two indices: the second is the texture coordinate.
        {"position/texture",
         "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\n"
         "vt 0.1 0.1\nvt 0.2 0.2\nvt 0.3 0.3\nvt 0.4 0.4\n"
         "f 2/1 3/2 4/3\n",
         {{1, 0, 0, 0.1f, 0.1f, 0, 0, -1},
          {0, 1, 0, 0.2f, 0.2f, 0, 0, -1},
          {1, 1, 0, 0.3f, 0.3f, 0, 0, -1}},
         vec3(1, 1, 0)},
        // A file with normals gets no flat normals: a corner takes normal a only while a is
        // within the normals, the others keep zero.
        {"normals but positions-only face",
         std::string(kTriangle) + "vn 0 1 0\nf 1 2 3\n",
         {{0, 0, 0, 0, 0, 0, 1, 0}, {1, 0, 0, 0, 0, 0, 0, 0}, {0, 1, 0, 0, 0, 0, 0, 0}},
         vec3(1, 1, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        _3D_KRV_Report_Error.Empty();
        Write("form.obj", c.text);
        ASSERT_TRUE(Load("form.obj"));
        ASSERT_EQ(obj_.NumVertex, 3);
        for (int i = 0; i < 3; ++i) {
            const CVertex& v = obj_.Vertex[i];
            const Corner& e = c.corners[i];
            const float got[11] = {v.x, v.y, v.z, v.u, v.v, v.nx, v.ny, v.nz, v.r, v.g, v.b};
            const float want[11] = {e.x, e.y, e.z, e.u, e.v, e.nx, e.ny, e.nz, 1, 1, 1};
            for (int k = 0; k < 11; ++k)
                EXPECT_EQ(got[k], want[k]) << "corner " << i << " field " << k;
        }
        ExpectVecEq(obj_.Min, vec3(0.0f, 0.0f, 0.0f));
        ExpectVecEq(obj_.Max, vec3(c.max.x, c.max.y, c.max.z));
        EXPECT_EQ(Report(), "");
    }
}

TEST_F(ObjLoader, LineEndsBlankLinesAndNulBytesReadAlike)
{
    const std::string lf = std::string("# c\n") + kTriangle + "vt 0 1\nf 1/1 2/1 3/1\n";
    std::vector<std::string> variants = {
        lf,
        "# c\r\nv 0 0 0\r\nv 1 0 0\r\nv 0 1 0\r\nvt 0 1\r\nf 1/1 2/1 3/1\r\n",
        "# c\rv 0 0 0\rv 1 0 0\rv 0 1 0\rvt 0 1\rf 1/1 2/1 3/1",  // CR only, no final end
        "\n\n# c\n\n\r\n  \nv 0 0 0\n\n\nv 1 0 0\nv 0 1 0\nvt 0 1\n\n\nf 1/1 2/1 3/1\n\n",
        "# c\0junk\nv 0 0 0\n\0\0\0v 1 0 0\nv 0 1 0\0vt 0 1\nf 1/1 2/1 3/1"s,
    };
    Write("ref.obj", lf);
    ASSERT_TRUE(Load("ref.obj"));
    std::vector<CVertex> reference(obj_.Vertex, obj_.Vertex + obj_.NumVertex);
    for (size_t i = 0; i < variants.size(); ++i) {
        SCOPED_TRACE(i);
        Write("variant.obj", variants[i]);
        ASSERT_TRUE(Load("variant.obj"));
        ASSERT_EQ(obj_.NumVertex, 3);
        EXPECT_EQ(std::memcmp(obj_.Vertex, reference.data(), sizeof(CVertex) * 3), 0);
    }
}

TEST_F(ObjLoader, TruncatedEndsAndVeryLongLines)
{
    const std::string base = std::string(kTriangle) + "f 1 2 3\n";
    const struct {
        const char* tail;
        int vertices;
    } cuts[] = {{"mtl", 3}, {"mtllib", 3}, {"map_Ka", 3}, {"f 1 2", 3},
                {"v 1", 3}, {"f 1/", 3},   {"vn", 3},     {"f 1 2 3 4/", 6}};
    for (const auto& c : cuts) {
        SCOPED_TRACE(c.tail);
        Write("cut.obj", base + c.tail);
        ASSERT_TRUE(Load("cut.obj"));
        EXPECT_EQ(obj_.NumVertex, c.vertices);
    }
    // A megabyte comment, a position spread over a megabyte of blanks, a face of 10000
    // corners and a number of 100000 digits.
    std::string big = "#" + std::string(1 << 20, 'x') + "\n";
    big += "v 0" + std::string(1 << 20, ' ') + "0 0\nv 1 0 0\nv 0 1 0\n";
    big += "v 0.0" + std::string(100000, '0') + "1 0 0\n";
    big += "f 1 2 3";
    for (int i = 0; i < 10000; ++i) big += " 4";
    big += "\n";
    Write("big.obj", big);
    ASSERT_TRUE(Load("big.obj"));
    EXPECT_EQ(obj_.NumVertex, 3);
    ExpectVecEq(Nrm(obj_.Vertex[0]), vec3(0.0f, 0.0f, 1.0f));
}

// ---------------------------------------------------------------------------------------------
// Reports.

TEST_F(ObjLoader, ReadSourceZeroesLineEnds)
{
    Write("src.txt", "ab\r\nc\rd\n");
    char* buffer = nullptr;
    long length = -1;
    ASSERT_TRUE(obj_.ReadSource("m/", "src.txt", buffer, length));
    ASSERT_EQ(length, 8);
    EXPECT_EQ(std::memcmp(buffer, "ab\0\0c\0d\0\0", 9), 0);
    delete[] buffer;
}

TEST_F(ObjLoader, NoFacesOrEmptyFileFailsWithFileName)
{
    ExpectRejected("nofaces.obj", kTriangle);
    ExpectRejected("empty.obj", "");
    ExpectRejected("100%s.obj", "# no faces\n");  // a percent sign is text, not a format
}

// A file that cannot be opened (missing, not a regular file, a directory) stops the load with one
// line naming its full path as written; the object is left empty and its box unchanged.
TEST_F(ObjLoader, UnopenableFilesReportTheirFullPath)
{
    const std::string tail = std::string(kTriangle) + "f 1 2 3\n";
    Write("blank.mtl", "");
    Write("tri.obj", tail);
    Write("mtl.obj", "mtllib nowhere.mtl\n" + tail);
    Write("trail.obj", "mtllib blank.mtl  \n" + tail);  // trailing blanks are part of the name
    Write("p.obj", "mtllib pipe.mtl\n" + tail);
    Write("pipe_tex.mtl", "map_Ka pipe.png\n");
    for (const char* pipe : {"pipe.obj", "pipe.mtl", "pipe.png"})
        ASSERT_EQ(mkfifo(Full(pipe).c_str(), 0600), 0);
    const struct {
        bool mtl;  // ParseMtl rather than LoadObj
        const char *folder, *name, *path;
    } cases[] = {
        {false, "m/", "missing.obj", "/m/missing.obj"},
        // Backslashes are the program's notation: reported as given, opened natively.
        {false, "m\\", "gone.obj", "/m\\gone.obj"},
        {false, "m/", "mtl.obj", "/m/nowhere.mtl"},
        {false, "m/", "trail.obj", "/m/blank.mtl  "},
        {false, "m/", "pipe.obj", "/m/pipe.obj"},
        {false, "m/", "p.obj", "/m/pipe.mtl"},
        {true, "m/", "pipe_tex.mtl", "/m/pipe.png"},
        {false, "", "m", "/m"},  // a directory
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.folder) + c.name);
        _3D_KRV_Report_Error.Empty();
        obj_.Min = vec3(5.0f);
        EXPECT_FALSE(c.mtl ? obj_.ParseMtl(c.folder, c.name) : obj_.LoadObj(c.folder, c.name));
        EXPECT_EQ(Report(), OpenError(dir_ + c.path));
        ExpectEmpty();
        ExpectVecEq(obj_.Min, vec3(5.0f, 5.0f, 5.0f));  // the box changes only on success
    }
    EXPECT_TRUE(obj_.LoadObj("m\\", "tri.obj"));

    // A file rejected after its material loaded a texture releases the texture.
    _3D_KRV_Report_Error.Empty();
    WritePng("ok.png");
    Write("ok.mtl", "map_Ka ok.png\n");
    Write("tex.obj", "mtllib ok.mtl\n" + std::string(kTriangle) + "f 1 2 9\n");
    EXPECT_FALSE(Load("tex.obj"));
    EXPECT_EQ(Report(), LoadError("tex.obj"));
    ExpectEmpty();
}

TEST_F(ObjLoader, EmptyMaterialFilesAreAccepted)
{
    Write("empty.mtl", "");
    Write("plain.mtl", "newmtl a\nKd 1 1 1\nmap_Kd x.png\n");
    EXPECT_TRUE(obj_.ParseMtl("m/", "empty.mtl"));
    EXPECT_TRUE(obj_.ParseMtl("m/", "plain.mtl"));
    Write("e.obj", std::string("mtllib empty.mtl\n") + kTriangle + "f 1 2 3\n");
    EXPECT_TRUE(Load("e.obj"));
    EXPECT_EQ(obj_.Texture.Bits, nullptr);
    EXPECT_EQ(Report(), "");
}

// ---------------------------------------------------------------------------------------------
// Exporter-style files.

TEST_F(ObjLoader, ExporterStyleModelWithMaterialAndTexture)
{
    WritePng("paint.png");
    Write("car.mtl",
          "# Material file\r\n"
          "newmtl Paint\r\n"
          "Ns 96.078431\r\nKa 1.000000 1.000000 1.000000\r\n"
          "Kd 0.640000 0.640000 0.640000\r\nKs 0.5 0.5 0.5\r\n"
          "Ni 1.000000\r\nd 1.000000\r\nillum 2\r\n"
          "map_Kd paint.png\r\n"
          "\tmap_Ka paint.png\r\n");
    Write("car.obj",
          "# Exported model\r\n"
          "mtllib car.mtl\r\n"
          "o Body\r\n"
          "v -1.000000 0.000000 1.000000\r\n"
          "v 1.000000 0.000000 1.000000\r\n"
          "v 1.000000 0.000000 -1.000000\r\n"
          "v -1.000000 0.000000 -1.000000\r\n"
          "vt 0.000000 0.000000\r\nvt 1.000000 0.000000\r\n"
          "vt 1.000000 1.000000\r\nvt 0.000000 1.000000\r\n"
          "vn 0.0000 1.0000 0.0000\r\n"
          "usemtl Paint\r\n"
          "s off\r\n"
          "f 1/1/1 2/2/1 3/3/1 4/4/1\r\n"
          "f 1/1/1 3/3/1 4/4/1\r\n");
    ASSERT_TRUE(Load("car.obj")) << Report();
    ASSERT_EQ(obj_.NumVertex, 6);
    ExpectVecEq(Pos(obj_.Vertex[4]), vec3(1.0f, 0.0f, -1.0f));
    EXPECT_EQ(obj_.Vertex[4].u, 1.0f);
    EXPECT_EQ(obj_.Vertex[4].v, 1.0f);
    ExpectVecEq(Nrm(obj_.Vertex[5]), vec3(0.0f, 1.0f, 0.0f));
    ExpectVecEq(obj_.Min, vec3(-1.0f, 0.0f, -1.0f));
    ExpectVecEq(obj_.Max, vec3(1.0f, 0.0f, 1.0f));
    ASSERT_NE(obj_.Texture.Bits, nullptr);
    ASSERT_EQ(obj_.Texture.Width, 2);
    ASSERT_EQ(obj_.Texture.Height, 3);
    for (int y = 0; y < 3; ++y)
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(obj_.Texture.Bits[y * obj_.Texture.Pitch + i], 10 * y + i + 1);
    EXPECT_EQ(Report(), "");
}

TEST_F(ObjLoader, GroupedModelWithSmoothingAndPositionNormalFaces)
{
    Write("box.obj",
          "# 4 vertices\n"
          "g side\n"
          "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
          "# 1 normals\nvn 0 0 2\n"
          "s 1\n"
          "usemtl none\n"
          "f 1//1 2//1 3//1\n"
          "g other\n"
          "f 1//1 3//1 4//1 # trailing comment\n");
    ASSERT_TRUE(Load("box.obj"));
    ASSERT_EQ(obj_.NumVertex, 6);
    for (int i = 0; i < 6; ++i) ExpectVecEq(Nrm(obj_.Vertex[i]), vec3(0.0f, 0.0f, 1.0f));
    ExpectVecEq(Pos(obj_.Vertex[5]), vec3(0.0f, 1.0f, 0.0f));
}

TEST_F(ObjLoader, FailingTexturesAreReportedInOrderAndTheLoadStops)
{
    WritePng("ok.png");
    Write("bad.mtl", "map_Ka missing.png\nmap_Ka ../ok.png\nmap_Ka ok.png\n");
    Write("bad.obj", std::string("mtllib bad.mtl\n") + kTriangle + "f 1 2 3\n");
    EXPECT_FALSE(Load("bad.obj"));
    std::string report = Report();
    const std::string first = "Error loading file " + dir_ + "/m/missing.png -> ";
    ASSERT_EQ(report.compare(0, first.size(), first), 0) << report;
    const size_t end = report.find("\r\n");
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(report.substr(end + 2), OpenError(dir_ + "/m/../ok.png"));
    // The texture that did load stays; the vertices do not.
    ExpectEmpty(false);
    EXPECT_EQ(obj_.Texture.Width, 2);
}

// ---------------------------------------------------------------------------------------------
// Hostile input.

TEST_F(ObjLoader, BadIndicesAndNumbersRejectTheFile)
{
    const std::string t = kTriangle;
    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"beyond.obj", t + "f 1 2 4\n"},
        {"zero.obj", t + "f 0 1 2\n"},
        {"negative.obj", t + "f -1 -2 -3\n"},
        {"wraps.obj", t + "f 4294967297 2 3\n"},
        {"huge.obj", t + "f 99999999999999999999999 2 3\n"},
        {"forward.obj", "f 1 2 3\n" + t},
        {"no_vt.obj", t + "vn 0 0 1\nf 1/1/1 2/1/1 3/1/1\n"},
        {"no_vn.obj", t + "vt 0 0\nf 1/1/1 2/1/1 3/1/1\n"},
        {"vn_missing.obj", t + "f 1//1 2//1 3//1\n"},
        {"vn_beyond.obj", t + "vt 0 0\nvn 0 0 1\nf 1/1/2 2/1/1 3/1/1\n"},
        {"ab_nothing.obj", t + "f 1/1 2/1 3/1\n"},
        {"ab_beyond.obj", t + "vt 0 0\nf 1/1 2/1 3/2\n"},
        {"ab_zero.obj", t + "vt 0 0\nf 1/0 2/1 3/1\n"},
        {"nan.obj", t + "v nan 0 0\nf 1 2 3\n"},
        {"inf.obj", t + "v 0 -inf 0\nf 1 2 3\n"},
        {"overflow.obj", t + "v 0 0 1e999\nf 1 2 3\n"},
        {"vt_nan.obj", t + "vt 0 NAN\nf 1 2 3\n"},
        {"vn_inf.obj", t + "vn 0 0 infinity\nf 1 2 3\n"},
    };
    for (const auto& c : cases) ExpectRejected(c.name, c.text);
}

TEST_F(ObjLoader, DegenerateAndExtremeGeometryGiveFiniteNormals)
{
    Write("flat.obj", "v 0 0 0\nv 1 1 1\nv 2 2 2\nv 1 0 0\nf 1 2 3\nf 1 1 4\n");
    ASSERT_TRUE(Load("flat.obj"));
    for (int i = 0; i < 6; ++i) ExpectVecEq(Nrm(obj_.Vertex[i]), vec3(0.0f, 0.0f, 0.0f));

    Write("far.obj",
          "v -3e38 -3e38 0\nv 3e38 -3e38 0\nv -3e38 3e38 0\n"
          "v 1e-30 0 0\nv 0 1e-30 0\nf 1 2 3\nf 1 1 4\n");
    ASSERT_TRUE(Load("far.obj"));
    ExpectVecEq(Nrm(obj_.Vertex[0]), vec3(0.0f, 0.0f, 1.0f));

    Write("tiny.obj", "v 0 0 0\nv 1e-30 0 0\nv 0 1e-30 0\nf 1 2 3\n");
    ASSERT_TRUE(Load("tiny.obj"));
    ExpectVecEq(Nrm(obj_.Vertex[0]), vec3(0.0f, 0.0f, 1.0f));

    Write("vn0.obj", std::string(kTriangle) + "vn 0 0 0\nvn 1e-30 0 0\nf 1//1 2//2 3//1\n");
    ASSERT_TRUE(Load("vn0.obj"));
    ExpectVecEq(Nrm(obj_.Vertex[0]), vec3(0.0f, 0.0f, 0.0f));
    ExpectVecEq(Nrm(obj_.Vertex[1]), vec3(1.0f, 0.0f, 0.0f));
}

TEST_F(ObjLoader, NamesMayNotLeaveTheModelFolder)
{
    Write("../outside.mtl", "");
    const char* names[] = {"/etc/hostname",
                           "\\x.mtl",
                           "C:\\x.mtl",
                           "c:x.mtl",
                           "../outside.mtl",
                           "a\\..\\..\\outside.mtl",
                           "sub/../../outside.mtl"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        _3D_KRV_Report_Error.Empty();
        Write("esc.obj", std::string("mtllib ") + name + "\n" + kTriangle + "f 1 2 3\n");
        EXPECT_FALSE(Load("esc.obj"));
        EXPECT_EQ(Report(), OpenError(dir_ + "/m/" + name));
        ExpectEmpty();
    }
    // ".." inside a longer component is an ordinary name.
    Write("a..b.mtl", "");
    Write("dots.obj", std::string("mtllib a..b.mtl\n") + kTriangle + "f 1 2 3\n");
    EXPECT_TRUE(Load("dots.obj"));

    _3D_KRV_Report_Error.Empty();
    Write("abs.mtl", "map_Ka /etc/hostname\n");
    EXPECT_FALSE(obj_.ParseMtl("m/", "abs.mtl"));
    EXPECT_EQ(Report(), OpenError(dir_ + "/m//etc/hostname"));
}

TEST_F(ObjLoader, OversizedFileIsRefusedBeforeReading)
{
    // Sparse: takes no disk space.
    {
        std::ofstream f(Full("big.obj"), std::ios::binary);
    }
    ASSERT_EQ(truncate(Full("big.obj").c_str(), (256L << 20) + 1), 0);
    char* buffer = nullptr;
    long length = -1;
    EXPECT_FALSE(obj_.ReadSource("m/", "big.obj", buffer, length));
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(length, -1);
    EXPECT_EQ(Report(), LoadError("big.obj"));
}

TEST_F(ObjLoader, LinksMustResolveInsideTheModelFolder)
{
    // Outside the model folder m/: the program folder itself, and the system.
    std::ofstream(dir_ + "/outside.mtl") << "map_Ka ok.png\n";
    WritePng("../outside.png");
    WritePng("ok.png");
    Write("real.mtl", "map_Ka ok.png\n");
    std::filesystem::create_directory(Full("sub"));
    WritePng("sub/ok.png");
    const struct {
        const char* link;
        std::string target;
    } links[] = {
        {"passwd.mtl", "/etc/passwd"},
        {"up", ".."},
        {"out.mtl", "../outside.mtl"},
        {"out.png", dir_ + "/outside.png"},
        {"loop.mtl", "loop.mtl"},
        {"dangling.mtl", "../none.mtl"},
        {"in.mtl", "real.mtl"},
        {"abs_in.png", Full("ok.png")},
        {"subdir", "sub"},
        {"in_sub.png", "sub/../ok.png"},
    };
    for (const auto& l : links)
        ASSERT_EQ(symlink(l.target.c_str(), Full(l.link).c_str()), 0) << l.link;

    const struct {
        const char* keyword;
        const char* name;
        bool inside;
    } cases[] = {
        {"mtllib", "passwd.mtl", false},
        {"mtllib", "up/outside.mtl", false},
        {"mtllib", "out.mtl", false},
        {"mtllib", "loop.mtl", false},
        {"mtllib", "dangling.mtl", false},
        {"mtllib", "in.mtl", true},
        {"mtllib", "subdir/../real.mtl", false},  // ".." is refused by its text alone
        {"map_Ka", "up/outside.png", false},
        {"map_Ka", "out.png", false},
        {"map_Ka", "in_sub.png", true},
        {"map_Ka", "abs_in.png", true},
        {"map_Ka", "subdir/ok.png", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.keyword) + " " + c.name);
        _3D_KRV_Report_Error.Empty();
        std::string obj = std::string(kTriangle) + "f 1 2 3\n";
        if (std::strcmp(c.keyword, "mtllib") == 0) {
            Write("link.obj", "mtllib " + std::string(c.name) + "\n" + obj);
        } else {
            Write("link.mtl", "map_Ka " + std::string(c.name) + "\n");
            Write("link.obj", "mtllib link.mtl\n" + obj);
        }
        EXPECT_EQ(Load("link.obj"), c.inside);
        EXPECT_EQ(Report(), c.inside ? "" : OpenError(Full(c.name)));
        EXPECT_EQ(obj_.Texture.Width, c.inside ? 2 : 0);
    }

    // The model folder is the one the links lead to: a linked model folder reads as the real one.
    ASSERT_EQ(symlink("m", (dir_ + "/alias").c_str()), 0);
    _3D_KRV_Report_Error.Empty();
    Write("alias.obj", std::string("mtllib in.mtl\n") + kTriangle + "f 1 2 3\n");
    EXPECT_TRUE(obj_.LoadObj("alias/", "alias.obj")) << Report();
    EXPECT_EQ(obj_.Texture.Width, 2);
}

// The times a file was opened while the watch lived. Closes are watched too: the kernel merges
// an event into an identical one still unread, and an open then never directly follows an open.
class OpenCounter {
public:
    explicit OpenCounter(const std::string& path)
        : fd_(inotify_init1(IN_NONBLOCK)),
          watch_(inotify_add_watch(fd_, path.c_str(), IN_OPEN | IN_CLOSE_NOWRITE))
    {
    }
    ~OpenCounter() { close(fd_); }
    bool Ok() const { return fd_ >= 0 && watch_ >= 0; }
    int Count()
    {
        int opens = 0;
        alignas(inotify_event) char events[4096];
        ssize_t n;
        while ((n = read(fd_, events, sizeof events)) > 0)
            for (ssize_t at = 0; at < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(events + at);
                if (e->mask & IN_OPEN) ++opens;
                at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            }
        return opens;
    }

private:
    int fd_, watch_;
};

TEST_F(ObjLoader, EachLibraryAndTextureIsReadOnceALoad)
{
    WritePng("a.png");
    FIBITMAP* dib = FreeImage_Allocate(4, 1, 24);
    ASSERT_NE(dib, nullptr);
    ASSERT_TRUE(FreeImage_Save(FIF_PNG, dib, Full("b.png").c_str(), 0));
    FreeImage_Unload(dib);
    ASSERT_EQ(symlink("a.png", Full("also_a.png").c_str()), 0);
    Write("a.mtl", "map_Ka a.png\nmap_Ka ./also_a.png\nmap_Ka a.png\n");
    Write("b.mtl", "map_Ka a.png\nmap_Ka b.png\n");
    const std::string tail = std::string(kTriangle) + "f 1 2 3\n";

    // Which texture stays is what reading every library again would leave: the last map_Ka
    // of the last library named.
    const struct {
        const char* libraries;
        int width;
    } orders[] = {{"a", 2}, {"b", 4}, {"a b", 4}, {"b a", 2}, {"a b a", 2}, {"b a b a b", 4}};
    for (const auto& order : orders) {
        SCOPED_TRACE(order.libraries);
        std::string once, often;
        for (const char* c = order.libraries; *c; ++c)
            if (*c != ' ') once += std::string("mtllib ") + *c + ".mtl\n";
        for (int i = 0; i < 200; ++i) often += once;
        Write("once.obj", once + tail);
        Write("often.obj",
              often + "mtllib ./" + std::string(1, order.libraries[0]) + ".mtl\n" + once + tail);

        OpenCounter onceA(Full("a.png")), onceMtl(Full("a.mtl"));
        ASSERT_TRUE(onceA.Ok() && onceMtl.Ok());
        ASSERT_TRUE(Load("once.obj")) << Report();
        EXPECT_EQ(obj_.Texture.Width, order.width);
        const int decodeOpens = onceA.Count(), mtlOpens = onceMtl.Count();
        ASSERT_GT(decodeOpens, 0);
        ASSERT_EQ(mtlOpens, std::strchr(order.libraries, 'a') ? 1 : 0);

        OpenCounter oftenA(Full("a.png")), oftenMtl(Full("a.mtl"));
        ASSERT_TRUE(Load("often.obj")) << Report();
        EXPECT_EQ(obj_.Texture.Width, order.width);
        // At most one decode more, for a winner whose texels were let go meanwhile.
        EXPECT_LE(oftenA.Count(), 2 * decodeOpens);
        EXPECT_EQ(oftenMtl.Count(), mtlOpens);
    }
    EXPECT_EQ(Report(), "");
}

TEST_F(ObjLoader, RepeatedFailuresAreReportedOnceEachAndCountedPastTheCap)
{
    // A texture that exists but does not decode, under several spellings, and a refused name.
    Write("bad.png", "not an image");
    std::string mtl;
    for (int i = 0; i < 1500; ++i) mtl += i % 3 == 0 ? "map_Ka bad.png\n" : "map_Ka ./bad.png\n";
    for (int i = 0; i < 1500; ++i) mtl += "map_Ka ../x.png\n";
    Write("many.mtl", mtl);
    Write("one.mtl", "map_Ka bad.png\n");
    Write("many.obj", std::string("mtllib many.mtl\n") + kTriangle + "f 1 2 3\n");
    Write("one.obj", std::string("mtllib one.mtl\n") + kTriangle + "f 1 2 3\n");
    OpenCounter once(Full("bad.png"));
    ASSERT_TRUE(once.Ok());
    EXPECT_FALSE(Load("one.obj"));
    const int oneDecode = once.Count();
    ASSERT_GT(oneDecode, 0);
    _3D_KRV_Report_Error.Empty();
    OpenCounter opens(Full("bad.png"));
    EXPECT_FALSE(Load("many.obj"));
    EXPECT_EQ(opens.Count(), oneDecode);

    std::string report = Report(), first, second;
    std::vector<std::string> lines;
    for (size_t at = 0, end; (end = report.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(report.substr(at, end + 2 - at));
    ASSERT_EQ(lines.size(), 1001u);
    EXPECT_EQ(lines.back(), "... and 2000 more errors\r\n");
    // The same failure each time, naming the line's own spelling.
    const std::string plain = "Error loading file " + Full("bad.png") + " -> ";
    const std::string dotted = "Error loading file " + Full("./bad.png") + " -> ";
    for (int i = 0; i < 1000; ++i) {
        const std::string& expect = i % 3 == 0 ? plain : dotted;
        ASSERT_EQ(lines[static_cast<size_t>(i)].compare(0, expect.size(), expect), 0)
            << i << ": " << lines[static_cast<size_t>(i)];
        EXPECT_EQ(lines[static_cast<size_t>(i)].substr(expect.size()),
                  lines[0].substr(plain.size()));
    }
}

TEST_F(ObjLoader, ModelsBeyondTheVertexBudgetAreRefused)
{
    // One face line more than the budget allows, written by doubling.
    const size_t faces = kMaxObjVertices / 3 + 1;
    std::string lines = "f 1 2 3\n";
    while (lines.size() < 8 * faces) lines += lines;
    lines.resize(8 * faces);
    Write("huge.obj", kTriangle + lines);
    EXPECT_FALSE(Load("huge.obj"));
    EXPECT_EQ(Report(), "Error loading file huge.obj: more than 16777216 vertices!\r\n");
    ExpectEmpty();
}
