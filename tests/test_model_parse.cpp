// The model import's checks before the parser, and the parse its child runs, called in-process.
#include "scene/model_parse.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>

namespace {

const char kPly[] =
    "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
    "property float z\nelement face 1\nproperty list uchar int vertex_indices\nend_header\n"
    "0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n";

// A binary glTF of `version`: the header, then each part's length word and its bytes.
std::string glb(uint32_t version, std::initializer_list<std::pair<uint32_t, std::string>> parts)
{
    std::string body;
    auto word = [](std::string& out, uint32_t w) {
        for (int i = 0; i < 4; ++i) out += static_cast<char>((w >> (8 * i)) & 0xFF);
    };
    for (const auto& p : parts) {
        word(body, p.first);
        body += p.second;
    }
    std::string out = "glTF";
    word(out, version);
    word(out, static_cast<uint32_t>(12 + body.size()));
    return out + body;
}

TEST(ModelParse, ChecksRefuseOnlyWhatTheLibraryCannotReadSafely)
{
    const std::string noEnd = std::string(kPly).substr(0, std::strstr(kPly, "end_header") - kPly);
    const struct {
        const char* name;
        std::string bytes;
        bool pass;
    } cases[] = {
        {"m.ply", kPly, true},
        {"m.ply", noEnd, false},
        {"M.PLY", "solid x\n", false},          // the name says PLY: the header must end
        {"m.obj", "  PLY\nformat", false},      // the bytes say PLY, whatever the name
        {"m.obj", "v 0 0 0\n# reply\n", true},  // "ply" elsewhere is no PLY
        {"m.ply", noEnd + "end_header\xff\xff\n0 0 0\n", false},  // not a line of its own
        {"m.ply", noEnd + "  end_header\r\n", true},
        {"m.ply", noEnd + "end_header", false},  // the file's last bytes: the library loops
        {"m.ply", noEnd + "end_header\r", true},
        {"m.ply", noEnd + "end_header\v0 0 0\n", false},
        {"m.ply", noEnd + "end_header\f0 0 0\n", true},
        {"m.stl", "", true},
        // An element count beyond the file's bytes, as its digits read.
        {"m.ply", "ply\nelement vertex 99999999999x\nend_header\n", false},
        {"m.ply", "ply\nelement face 12\nend_header\n", true},
        {"m.ply", std::string("ply\nelemt ^\0\0ty\nend_header\n", 27), false},
        {"m.ply", std::string("ply\nend_header\n\0\0", 17), true},  // binary data after it
        // An ASCII list longer than the file, by the number its digits make, a line an entry.
        {"m.ply",
         "ply\nformat ascii 1.0\nelement v 1\nproperty list uchar int i\nend_header\n"
         "  111111111 0 1 2\n",
         false},
        {"m.ply",
         "ply\nformat ascii 1.0\nelement v 2\nproperty float x\nproperty list uchar int i\n"
         "end_header\n1 3 0 1 2\n111111111 2 0 1\n",
         true},
        {"m.ply",
         "ply\nformat binary_little_endian 1.0\nelement v 1\nproperty list uchar int i\n"
         "end_header\n111111111 0 1 2\n",
         true},
        // Two elements of one kind: faces as "face" and "tristrips" are one kind.
        {"m.ply", "ply\nelement face 1\nelement face 2\nend_header\n", false},
        {"m.ply", "ply\nelement vertex 1\nelement Vertex 3\nend_header\n", false},
        {"m.ply", "ply\nelement face 1\nelement tristrips 3\nend_header\n", false},
        {"m.ply", "ply\nelement vertex 1\nelement face 1\nelement edge 1\nend_header\n", true},
        // A material library named by a URL, on its line or a continued one, in any file.
        {"m.obj", "mtllib mtmtll://", false},
        {"m.obj", std::string("sc\0mtllib //://", 15), false},
        {"m.obj", "v 0 0 0\n\tmtllib a.mtl xxxxxx://\r\n", false},
        {"m.obj", "mtllib a.mtl \\\n  b://c\n", false},
        {"m.gltf", "{}\nmtllib abc://", false},
        {"m.obj", "# from https://example.org\nmtllib a.mtl\n", true},
        {"m.obj", "mtllib a.mtl\nusemtl x://\n", true},
        {"m.obj", "mtllibx a://\n", true},
        // Or by two backslashes in a row, joined lines included; one at a time is a path.
        {"m.obj", "mtllib \\\\\\", false},
        {"m.obj", "mtllib \\\\server\\a.mtl\n", false},
        // Joined as the reader joins: everything to the newline goes, the byte after it stays.
        {"m.obj", "mtllib a\\\n\\b.mtl\n", true},
        {"m.obj", "mtllib \\\r\n://", false},
        {"m.obj", "mtllib a:\\\r\n//b\n", false},
        {"m.obj", "mtllib a.mtl\\ \n://\n", true},
        {"m.obj", "mtllib ..\\lib\\a.mtl\nv 0 0 0 \\\\\n", true},
        // A binary glTF's part longer than the file: its scene (version 1) or a chunk.
        {"m.glb", glb(2, {{0xFBFF067Cu, "JSON{}"}}), false},
        {"m.glb", glb(2, {{2, "JSON{}"}, {9, "BIN abcd"}}), false},
        {"m.glb", glb(2, {{2, "JSON{}"}, {4, "BIN abcd"}}), true},
        {"x.bin", glb(2, {{7, "JSON{}"}}), false},
        {"m.glb", glb(1, {{3, "fmt {}"}}), false},
        {"m.glb", glb(1, {{2, "fmt {}"}}), true},
        {"m.glb", "glTF", true},  // too short to say: the library refuses it
        // An image's mimeType without the '/' the library's glTF reader looks past.
        {"m.gltf", R"({"images": [{"mimeType": "image'png"}]})", false},
        {"m.glb", glb(2, {{27, R"(JSON{"mimeType" :"png"}      )"}}), false},
        {"m.gltf", R"({"images": [{"mimeType":"image/png"}]})", true},
        {"m.gltf", R"({"images": [{"mimeType": "image\/png"}, {"mimeType": "a\u002Fb"}]})", true},
        {"m.gltf", R"({"mimeType": 3, "x": "mimeType"})", true},
        {"m.gltf", "{\"mimeType\": \"a\\u002fb\"}", true},  // an escaped '/' counts
    };
    for (const auto& c : cases) {
        std::string why;
        EXPECT_EQ(krvs::CheckModelBytes(c.name, c.bytes.data(), c.bytes.size(), why), c.pass)
            << c.name << ": " << c.bytes;
        EXPECT_EQ(why.empty(), c.pass) << c.name;
    }
}

struct Stream {
    std::string bytes;
    static bool Write(void* context, const void* data, size_t n)
    {
        static_cast<Stream*>(context)->bytes.append(static_cast<const char*>(data), n);
        return true;
    }
};

// The stream's status (0 a model, 1 side files wanted, 2 the library's error) for each kind of
// answer, as the parent reads it.
TEST(ModelParse, InProcessParseSendsTheChildsStream)
{
    const struct {
        const char* name;
        std::string bytes;
        int32_t status;
    } cases[] = {
        {"m.ply", kPly, 0},
        {"m.obj", "mtllib lib.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n", 1},
        {"m.gltf", "{ not json", 2},
        // A texture before the first material of what may be read as a library: refused
        // before the library's MTL reader writes through a material it has not made.
        {"m.obj", "mtllib m.obj\nmap_Kd x\nv 0 0 0\n", 2},
        {"m.obj", "mtllib m.obj\n  bump", 2},
        {"m.obj", "mtllib m.obj\nmAp_Ps", 2},
        {"m.obj", std::string("mtllib m.obj ///\0bump", 22), 2},
        // An anisotropy statement, a lone "a", likewise; a glTF's JSON may reach the OBJ reader.
        {"m.obj", "mtllib m.obj\na", 2},
        {"m.obj", std::string("mtllib m.obj\0a0\0", 16), 2},
        {"m.obj", std::string("mtllib m.obj\0a\0", 15), 2},
        // A library is read as the library's text loader may leave it: a UTF-8 mark dropped,
        // UTF-16 big-endian swapped in pairs or as it is, little-endian as it is (one
        // character a line).
        {"m.obj", std::string("\xFE\xFF\0mtllib m.obj\0a", 17), 2},
        {"m.obj", std::string("\xFE\xFFl\0mtllib m.obj\0a\0", 19), 2},
        {"m.obj", "\xFE\xFFmtllib m.obj\nxa\n", 2},
        {"m.obj", "\xEF\xBB\xBFmap_Kd x\nmtllib m.obj\n", 2},
        {"m.obj", std::string("\xFF\xFEmtllib m.obj\na\0 \0", 19), 2},
        {"m.obj", std::string("mtllib m.obj\0\ta 1\n", 18), 2},
        {"m.gltf", std::string("{\"\"\nmtllib m.gltf\0a\n", 20), 2},
        {"m.obj", "mtllib m.obj\n# a\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n", 0},
        // Only an OBJ or a glTF is asked of its own lines: an ASCII FBX has "Normals:" ones.
        {"m.fbx", "; FBX 7.4.0 project file\nNormals: *3 {\n", 2},
        {"m.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\nnewmtl a\nmap_Kd x\n", 0},
        // A face index the OBJ reader gives up on, on a last line: it steps on by its digits
        // from the next line, which the model's extra line ends hold.
        {"m.obj",
         "l ////1426\xff"
         "0",
         2},
        {"m.obj", "v 0 0 0\nf 1 2 3 ////-2147483648", 2},
    };
    for (const auto& c : cases) {
        Stream s;
        ASSERT_TRUE(krvs::ParseModelToStream(c.name, c.bytes.data(), c.bytes.size(),
                                             krvi::StreamSink{Stream::Write, &s}));
        ASSERT_GE(s.bytes.size(), 12u) << c.name;
        int32_t status = -1;
        std::memcpy(&status, s.bytes.data() + 4, sizeof status);
        EXPECT_EQ(status, c.status) << c.name << ": " << s.bytes.substr(12);
        // The texture-before-material refusal is for what an OBJ reader reads.
        const bool obj =
            std::strstr(c.name, ".obj") != nullptr || std::strstr(c.name, ".gltf") != nullptr;
        if (!obj) {
            EXPECT_EQ(s.bytes.find("material library"), std::string::npos) << c.name;
        }
    }
    // The model's own file is asked only where it names a library: UTF-16 text names none,
    // whatever its characters.
    const std::string utf16("\xFF\xFEv\0 \0\x30\0\n\0a\0 \0\n\0", 16);
    Stream s;
    ASSERT_TRUE(krvs::ParseModelToStream("m.obj", utf16.data(), utf16.size(),
                                         krvi::StreamSink{Stream::Write, &s}));
    EXPECT_EQ(s.bytes.find("material library"), std::string::npos) << s.bytes.substr(12);
}

}  // namespace
