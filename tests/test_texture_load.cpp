// Loading textures from image files: exact bytes, every refusal with its one report line, and
// the Dot3 normal map. Images are written with FreeImage into a temporary program directory.
#include "forbidden_calls.h"
#include "rendering_fixture.h"

#include "base/report.h"
#include "platform/sandbox.h"
#include "texture/texture.h"
#include "texture/texture_generate.h"

#include <FreeImage.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <cctype>
#include <iterator>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

uint8 PatternByte(int x, int y, int c) { return static_cast<uint8>(x * 37 + y * 11 + c * 5 + 1); }

// The report's line against the expected one, where a forbidden call's line may also carry the
// call's number: "... forbidden system call (41)!".
bool SameLine(const std::string& got, const std::string& want)
{
    if (got == want) return true;
    const std::string call = "forbidden system call";
    const size_t at = want.find(call + "!");
    if (at == std::string::npos || got.compare(0, at + call.size(), want, 0, at + call.size()) != 0)
        return false;
    const std::string rest = got.substr(at + call.size());
    size_t digits = 0;
    while (digits + 2 < rest.size() && std::isdigit(static_cast<unsigned char>(rest[digits + 2])))
        ++digits;
    return rest.compare(0, 2, " (") == 0 && digits > 0 && rest.substr(2 + digits) == ")!\r\n";
}

class TextureLoad : public testing::Test {
protected:
    void SetUp() override
    {
        krvRestrictImageDecoders();
        char pattern[] = "/tmp/krv_texture_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        savedDirectory_ = ModuleDirectory.c_str();
        ModuleDirectory = (dir_ + "/").c_str();
    }
    void TearDown() override
    {
        ModuleDirectory = savedDirectory_.c_str();
        std::filesystem::remove_all(dir_);
    }

    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    void Write(const std::string& name, const std::string& bytes)
    {
        std::ofstream(Path(name), std::ios::binary) << bytes;
    }

    // Writes a w x h image of bpp bits; fill gives byte c of texel (x, y) (c = 3 is alpha).
    void Save(FREE_IMAGE_FORMAT fif, const std::string& name, int w, int h, int bpp,
              const std::function<uint8(int, int, int)>& fill = PatternByte, int flags = 0)
    {
        FIBITMAP* dib = FreeImage_Allocate(w, h, bpp);
        ASSERT_NE(dib, nullptr);
        const int bytes = bpp / 8;
        for (int y = 0; y < h; ++y) {
            BYTE* row = FreeImage_GetScanLine(dib, y);
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < bytes; ++c) row[x * bytes + c] = fill(x, y, c);
        }
        ASSERT_TRUE(FreeImage_Save(fif, dib, Path(name).c_str(), flags));
        FreeImage_Unload(dib);
    }

    // A 24-bit BMP header claiming w x h texels, with no pixel data after it.
    void WriteBmpHeader(const std::string& name, uint32_t w, uint32_t h)
    {
        unsigned char b[54] = {'B', 'M'};
        auto put = [&b](int at, uint32_t v, int n) {
            for (int i = 0; i < n; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
        };
        put(2, 54 + w * h * 3, 4);  // file size as the header claims it
        put(10, 54, 4);             // pixel data offset
        put(14, 40, 4);             // info header size
        put(18, w, 4);
        put(22, h, 4);
        put(26, 1, 2);   // planes
        put(28, 24, 2);  // bits per pixel
        std::ofstream(Path(name), std::ios::binary).write(reinterpret_cast<char*>(b), sizeof b);
    }

    // Loads name into a texture that already holds a 2x2 image and expects the one line
    // "Error loading file <dir>/<name> -> <problem>" and the texture untouched.
    void ExpectRefused(const std::string& name, const std::string& problem, bool dot3 = false)
    {
        CTexture t;
        t.Create(2, 2, KrvFormat_BGR);
        const CTexture old = t;
        const int before = _3D_KRV_Report_Error.GetLength();
        const bool ok =
            dot3 ? t.LoadTextureToDot3(name.c_str(), 1.0f) : t.LoadTexture(name.c_str());
        EXPECT_FALSE(ok) << name;
        EXPECT_PRED2(SameLine,
                     std::string(_3D_KRV_Report_Error.c_str()).substr(static_cast<size_t>(before)),
                     "Error loading file " + dir_ + "/" + name + " -> " + problem + "\r\n");
        EXPECT_STREQ(_3D_KRV_Title_Error.c_str(), "Error");
        EXPECT_EQ(t.Bits, old.Bits);
        EXPECT_EQ(t.Width, 2);
        EXPECT_EQ(t.Format, KrvFormat_BGR);
        t.Destroy();
    }

    std::string dir_;
    std::string savedDirectory_;
};

}  // namespace

TEST_F(TextureLoad, ExactBytesAlphaDropped)
{
    struct Case {
        FREE_IMAGE_FORMAT fif;
        const char* name;
        int bpp;
        int flags;
    };
    // Run-length TGAs of 5 texels a row: rows padded to 16 bytes, which the checks walk.
    const Case cases[] = {{FIF_PNG, "a24.png", 24, 0},
                          {FIF_PNG, "a32.png", 32, 0},
                          {FIF_BMP, "a24.bmp", 24, 0},
                          {FIF_BMP, "a32.bmp", 32, 0},
                          {FIF_TARGA, "a24.tga", 24, 0},
                          {FIF_TARGA, "rle24.tga", 24, TARGA_SAVE_RLE},
                          {FIF_TARGA, "rle32.tga", 32, TARGA_SAVE_RLE}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Save(c.fif, c.name, 5, 3, c.bpp, PatternByte, c.flags);
        CTexture t;
        ASSERT_TRUE(t.LoadTexture(c.name));
        ASSERT_EQ(t.Width, 5);
        ASSERT_EQ(t.Height, 3);
        EXPECT_EQ(t.Format, KrvFormat_BGR);
        EXPECT_EQ(t.Pitch, 15);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x)
                for (int k = 0; k < 3; ++k)
                    EXPECT_EQ(t.Bits[y * 15 + x * 3 + k], PatternByte(x, y, k))
                        << x << "," << y << "," << k;
        t.Destroy();
    }
}

TEST_F(TextureLoad, JpegStaysReadable)
{
    // The demo's floor is a JPEG; lossy, so a uniform colour is compared with a tolerance.
    Save(FIF_JPEG, "floor.jpg", 8, 8, 24, [](int, int, int c) { return uint8(60 + 50 * c); });
    CTexture t;
    ASSERT_TRUE(t.LoadTexture("floor.jpg"));
    ASSERT_EQ(t.Width, 8);
    for (int i = 0; i < 8 * 8; ++i)
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(t.Bits[i * 3 + c], 60 + 50 * c, 3) << i;
    t.Destroy();
}

TEST_F(TextureLoad, ProgramNotationPath)
{
    std::filesystem::create_directory(Path("sub"));
    Save(FIF_PNG, "sub/b.png", 2, 2, 24);
    CTexture t = krvLoadTexture("sub\\b.png");
    EXPECT_EQ(t.Width, 2);
    t.Destroy();
}

TEST_F(TextureLoad, RefusalsReportOneLineEach)
{
    Save(FIF_PNG, "palette.png", 4, 4, 8);
    Save(FIF_BMP, "palette.bmp", 4, 4, 8);
    std::ofstream(Path("junk.xyz"), std::ios::binary) << "not an image at all, just words";
    std::ofstream(Path("empty.png"), std::ios::binary);

    struct Case {
        const char* name;
        const char* problem;
    };
    const Case cases[] = {
        {"palette.png", "BPP is not 24 nor 32!"}, {"palette.bmp", "BPP is not 24 nor 32!"},
        {"junk.xyz", "FIF is FIF_UNKNOWN!"},      {"missing.xyz", "FIF is FIF_UNKNOWN!"},
        {"missing.png", "DIB is NULL!"},          {"empty.png", "DIB is NULL!"},
    };
    for (bool dot3 : {false, true})
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            ExpectRefused(c.name, c.problem, dot3);
        }
}

TEST_F(TextureLoad, OnlyTheFourFormatsAreDecoded)
{
    // A TIFF under a JPEG name: the TIFF decoder is off, so it is read as a JPEG and fails.
    int was = FreeImage_SetPluginEnabled(FIF_TIFF, TRUE);
    Save(FIF_TIFF, "photo.jpg", 4, 4, 24);
    Save(FIF_TIFF, "photo.tif", 4, 4, 24);
    FreeImage_SetPluginEnabled(FIF_TIFF, was);
    ASSERT_FALSE(FreeImage_IsPluginEnabled(FIF_TIFF));
    ExpectRefused("photo.jpg", "DIB is NULL!");

    CTexture t;
    int before = _3D_KRV_Report_Error.GetLength();
    EXPECT_FALSE(t.LoadTexture("photo.tif"));
    EXPECT_EQ(t.Bits, nullptr);
    std::string line =
        std::string(_3D_KRV_Report_Error.c_str()).substr(static_cast<size_t>(before));
    EXPECT_EQ(line.find("\r\n"), line.size() - 2);  // exactly one line

    int w = 0, h = 0, bpp = 0;
    EXPECT_EQ(krvGetBitmap(Path("photo.jpg").c_str(), w, h, bpp), nullptr);
    EXPECT_EQ(krvGetBitmap(Path("photo.tif").c_str(), w, h, bpp), nullptr);
}

TEST_F(TextureLoad, OversizedRefusedFromHeader)
{
    struct Case {
        FREE_IMAGE_FORMAT fif;
        const char* name;
    };
    for (const Case& c : {Case{FIF_PNG, "wide.png"}, Case{FIF_JPEG, "wide.jpg"},
                          Case{FIF_BMP, "wide.bmp"}, Case{FIF_TARGA, "wide.tga"}}) {
        Save(c.fif, c.name, 9000, 1, 24);
        ExpectRefused(c.name, "Image is larger than 8192 pixels a side!");
    }
    Save(FIF_PNG, "tall.png", 1, 8193, 24);
    ExpectRefused("tall.png", "Image is larger than 8192 pixels a side!");

    // Only the header of this one exists: decoding its pixels would fail, so the size message
    // shows the refusal came before any decoding.
    WriteBmpHeader("header.bmp", 9000, 9000);
    ExpectRefused("header.bmp", "Image is larger than 8192 pixels a side!");

    Save(FIF_PNG, "edge.png", 8192, 1, 24);
    CTexture t;
    EXPECT_TRUE(t.LoadTexture("edge.png"));
    t.Destroy();
}

TEST_F(TextureLoad, OnlyRegularFilesAreOpened)
{
    ASSERT_EQ(mkfifo(Path("pipe.png").c_str(), 0600), 0);
    std::filesystem::create_directory(Path("folder.png"));
    ExpectRefused("pipe.png", "DIB is NULL!");
    ExpectRefused("folder.png", "DIB is NULL!");
    ExpectRefused("pipe.png", "DIB is NULL!", true);
    int w = 0, h = 0, bpp = 0;
    EXPECT_EQ(krvGetBitmap(Path("pipe.png").c_str(), w, h, bpp), nullptr);
}

TEST_F(TextureLoad, FactoriesAndBitmap)
{
    CTexture t = krvLoadTexture("nothing.png");
    EXPECT_EQ(t.Bits, nullptr);
    EXPECT_EQ(t.Format, 0);
    t = krvLoadTextureToDot3("nothing.png", 1.0f);
    EXPECT_EQ(t.Bits, nullptr);

    Save(FIF_PNG, "c.png", 3, 2, 32);
    int w = 0, h = 0, bpp = 0;
    FIBITMAP* dib = krvGetBitmap(Path("c.png").c_str(), w, h, bpp);
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(w, 3);
    EXPECT_EQ(h, 2);
    EXPECT_EQ(bpp, 32);
    FreeImage_Unload(dib);
    // The name is used as given: no program directory in front.
    EXPECT_EQ(krvGetBitmap("c.png", w, h, bpp), nullptr);
}

// An 18-byte TGA header: identification field length, image type, size, bits a texel.
static std::string TgaHeader(int idLength, int type, int w, int h, int depth)
{
    const int b[18] = {idLength, 0, type, 0,       0,      0,       0,      0,     0,
                       0,        0, 0,    w & 255, w >> 8, h & 255, h >> 8, depth, 0};
    std::string header;
    for (int v : b) header += static_cast<char>(v);
    return header;
}

TEST_F(TextureLoad, HostileFilesEndInOneLine)
{
    // Files that crashed the program, or made the decoder allocate gigabytes or run for a
    // minute. Each now ends at once in one line and leaves the texture as it was.
    Write("crash18.tga", TgaHeader(255, 10, 64, 64, 24));  // identification past the end
    Write("crash47.tga", TgaHeader(200, 10, 64, 64, 24) + std::string(29, '\x11'));
    // The first of them under a name that tells no format: no check in the program's process
    // applies, the decoder knows it as a TGA by its content and crashes in the child process.
    Write("crash18.dat", TgaHeader(255, 10, 64, 64, 24));
    // A run-length TGA declaring 8192 x 8192 with 4 bytes of data (a minute of decoding).
    Write("rle22.tga", TgaHeader(0, 10, 8192, 8192, 24) + "\xff\x10\x20\x30");
    // Run-length packets running past the last texel of an image with padded rows, which the
    // decoder writes past its bitmap: 5 x 6 texels of 16 bits with one raw packet of 33 (found
    // by the in-process fuzzer), and 5 x 3 of 24 bits with one packet of 16.
    Write("rle_overrun26.tga",
          TgaHeader(0, 10, 5, 6, 16) + "\x20\xda" + "FILE," + std::string(1, '\0'));
    Write("rle_overrun.tga",
          TgaHeader(0, 10, 5, 3, 24) + "\x8f\x10\x20\x30" + std::string(30, 'x'));
    // A PNG whose text chunk claims 1.95e9 bytes.
    Save(FIF_PNG, "small.png", 16, 16, 24);
    std::ifstream in(Path("small.png"), std::ios::binary);
    const std::string png((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Write("text106.png",
          png.substr(0, 33) + std::string("\x74\0\0\0tEXtComment\0", 17) + std::string(56, 'A'));
    // A progressive JPEG of a few kilobytes whose frame claims 8192 x 8192 (its coefficients
    // alone would take 384 MiB).
    Save(FIF_JPEG, "small.jpg", 72, 72, 24, PatternByte);
    {
        const int was = FreeImage_SetPluginEnabled(FIF_JPEG, TRUE);
        FIBITMAP* dib = FreeImage_Load(FIF_JPEG, Path("small.jpg").c_str(), 0);
        ASSERT_TRUE(FreeImage_Save(FIF_JPEG, dib, Path("small.jpg").c_str(),
                                   JPEG_PROGRESSIVE | JPEG_SUBSAMPLING_444 | 95));
        FreeImage_Unload(dib);
        FreeImage_SetPluginEnabled(FIF_JPEG, was);
    }
    std::ifstream jin(Path("small.jpg"), std::ios::binary);
    std::string jpeg((std::istreambuf_iterator<char>(jin)), std::istreambuf_iterator<char>());
    const size_t frame = jpeg.find("\xff\xc2");
    ASSERT_NE(frame, std::string::npos);
    jpeg.replace(frame + 5, 4, std::string("\x20\0\x20\0", 4));
    Write("bomb.jpg", jpeg);

    for (const char* name : {"crash18.tga", "crash47.tga", "crash18.dat", "rle22.tga",
                             "rle_overrun26.tga", "rle_overrun.tga", "text106.png", "bomb.jpg"}) {
        SCOPED_TRACE(name);
        const auto start = std::chrono::steady_clock::now();
        std::string problem = "DIB is NULL!";
        if (krvplat::SanitizedBuild()) {
            // A sanitizer that catches the library's fault reports it on stderr, and that write
            // is one the child's filter forbids: either line is the one line.
            CTexture probe;
            const int before = _3D_KRV_Report_Error.GetLength();
            probe.LoadTexture(name);
            if (std::string(_3D_KRV_Report_Error.c_str() + before).find("forbidden") !=
                std::string::npos)
                problem = "Decoder made a forbidden system call!";
        }
        ExpectRefused(name, problem);
        ExpectRefused(name, problem, true);
        int w = 0, h = 0, bpp = 0;
        EXPECT_EQ(krvGetBitmap(Path(name).c_str(), w, h, bpp), nullptr);
        EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                  3.0);
    }

    // A truncated run-length TGA that could still cover its image loads as before, the missing
    // texels black.
    std::string rows;
    for (int y = 0; y < 64; ++y) rows += std::string("\xbf") + char(y) + char(2 * y) + char(3 * y);
    Write("half.tga", TgaHeader(0, 10, 64, 64, 24) + rows.substr(0, 128));
    CTexture t;
    ASSERT_TRUE(t.LoadTexture("half.tga"));
    EXPECT_EQ(t.Width, 64);
    t.Destroy();
}

TEST_F(TextureLoad, BitmapKeepsTypeDepthPaletteAndPixels)
{
    // krvGetBitmap's bitmap is built from what the decoding child sent: it must be the image
    // the library itself decodes, palette and all.
    Save(FIF_PNG, "p8.png", 5, 3, 8);
    Save(FIF_BMP, "p24.bmp", 7, 2, 24);
    Save(FIF_PNG, "p32.png", 3, 4, 32);
    for (const char* name : {"p8.png", "p24.bmp", "p32.png"}) {
        SCOPED_TRACE(name);
        int w = 0, h = 0, bpp = 0;
        FIBITMAP* got = krvGetBitmap(Path(name).c_str(), w, h, bpp);
        ASSERT_NE(got, nullptr);
        FIBITMAP* want =
            FreeImage_Load(FreeImage_GetFileType(Path(name).c_str(), 0), Path(name).c_str(), 0);
        ASSERT_NE(want, nullptr);
        EXPECT_EQ(w, static_cast<int>(FreeImage_GetWidth(want)));
        EXPECT_EQ(h, static_cast<int>(FreeImage_GetHeight(want)));
        EXPECT_EQ(bpp, static_cast<int>(FreeImage_GetBPP(want)));
        EXPECT_EQ(FreeImage_GetImageType(got), FreeImage_GetImageType(want));
        EXPECT_EQ(FreeImage_GetColorType(got), FreeImage_GetColorType(want));
        ASSERT_EQ(FreeImage_GetColorsUsed(got), FreeImage_GetColorsUsed(want));
        if (FreeImage_GetColorsUsed(want) > 0) {
            EXPECT_EQ(std::memcmp(FreeImage_GetPalette(got), FreeImage_GetPalette(want),
                                  FreeImage_GetColorsUsed(want) * sizeof(RGBQUAD)),
                      0);
        }
        for (int y = 0; y < h; ++y)
            EXPECT_EQ(std::memcmp(FreeImage_GetScanLine(got, y), FreeImage_GetScanLine(want, y),
                                  FreeImage_GetLine(want)),
                      0)
                << y;
        FreeImage_Unload(want);
        FreeImage_Unload(got);
    }
}

// A decoder as an exploited one behaves: files starting "KRVEXPLT" and a byte n are its own,
// and loading one makes forbidden call n of tests/forbidden_calls.h, then gives a 1 x 1 picture.
namespace {

BOOL DLL_CALLCONV ExploitValidate(FreeImageIO* io, fi_handle handle)
{
    char magic[8];
    return io->read_proc(magic, 1, 8, handle) == 8 && std::memcmp(magic, "KRVEXPLT", 8) == 0;
}

FIBITMAP* DLL_CALLCONV ExploitLoad(FreeImageIO* io, fi_handle handle, int, int, void*)
{
    unsigned char file[9];
    if (io->read_proc(file, 1, 9, handle) != 9) return nullptr;
    int count = 0;
    const krvtest::ForbiddenCall* calls = krvtest::ForbiddenCalls(count);
    if (file[8] < count) calls[file[8]].attempt();
    return FreeImage_Allocate(1, 1, 24);
}

void DLL_CALLCONV ExploitInit(Plugin* plugin, int)
{
    plugin->format_proc = [] { return "KRVEXPLT"; };
    plugin->validate_proc = ExploitValidate;
    plugin->load_proc = ExploitLoad;
}

}  // namespace

TEST_F(TextureLoad, AnExploitedDecoderEndsInOneLine)
{
    static const FREE_IMAGE_FORMAT exploit =
        FreeImage_RegisterLocalPlugin(ExploitInit, "KRVEXPLT", "", "krvexplt", nullptr);
    ASSERT_NE(exploit, FIF_UNKNOWN);
    FreeImage_SetPluginEnabled(exploit, TRUE);
    int count = 0;
    const krvtest::ForbiddenCall* calls = krvtest::ForbiddenCalls(count);
    for (int i = 0; i < count; ++i)
        Write("exploit" + std::to_string(i) + ".dat", "KRVEXPLT" + std::string(1, char(i)));
    {
        // Where the system has no seccomp the same files decode, unfiltered: the program says
        // so once on stderr, not once a texture in the error report.
        krvplat::SimulateNoSeccomp(true);
        testing::internal::CaptureStderr();
        for (const char* name : {"exploit0.dat", "exploit2.dat"}) {
            CTexture t;
            const int before = _3D_KRV_Report_Error.GetLength();
            EXPECT_TRUE(t.LoadTexture(name)) << name;
            EXPECT_EQ(_3D_KRV_Report_Error.GetLength(), before);
            t.Destroy();
        }
        const std::string said = testing::internal::GetCapturedStderr();
        krvplat::SimulateNoSeccomp(false);
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    }
    if (!krvtest::ChildrenAreFiltered()) GTEST_SKIP() << "no seccomp filter on this system";
    for (int i = 0; i < count; ++i) {
        SCOPED_TRACE(calls[i].name);
        const std::string name = "exploit" + std::to_string(i) + ".dat";
        ExpectRefused(name, "Decoder made a forbidden system call!");
        ExpectRefused(name, "Decoder made a forbidden system call!", true);
        int w = 0, h = 0, bpp = 0;
        EXPECT_EQ(krvGetBitmap(Path(name).c_str(), w, h, bpp), nullptr);
    }
    FreeImage_SetPluginEnabled(exploit, FALSE);
}

using TextureSideLimit = RenderingFixture;

TEST_F(TextureSideLimit, RenderTargetsObeyTheImageSideLimit)
{
    const std::string line =
        "Error generating texture  -> Texture is larger than 8192 pixels a side!\r\n";
    struct Case {
        bool shadow;
        int w, h;
        bool made;
    };
    const Case cases[] = {{false, 8193, 1, false},      {false, 1, 8193, false},
                          {false, 26754, 26754, false}, {false, 8192, 1, true},
                          {true, 30000, 30000, false},  {true, 1, 8192, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.shadow << " " << c.w << "x" << c.h);
        const int before = _3D_KRV_Report_Error.GetLength();
        CTexture t;
        if (c.shadow) {
            krvGenTextureShadowProjection(4, 4);  // a shadow texture to be replaced
            krvGenTextureShadowProjection(c.w, c.h);
            t = r.ShadowTexture;
            EXPECT_EQ(r.ShadowFrameBuffer.DepthTexture, c.made ? &r.ShadowTexture : nullptr);
        } else {
            t = krvGenTextureCamera(c.w, c.h);
        }
        EXPECT_EQ(t.Bits != nullptr, c.made);
        EXPECT_EQ(t.Width, c.made ? c.w : 0);
        EXPECT_EQ(std::string(_3D_KRV_Report_Error.c_str()).substr(static_cast<size_t>(before)),
                  c.made ? "" : line);
        if (!c.shadow) t.Destroy();
    }
}

// ---------------------------------------------------------------------------------------------

TEST_F(TextureLoad, Dot3UniformIsFlat)
{
    for (int bpp : {24, 32}) {
        const std::string name = "flat" + std::to_string(bpp) + ".png";
        Save(FIF_PNG, name, 3, 2, bpp, [](int, int, int c) { return uint8(c == 3 ? 9 : 90); });
        CTexture t;
        ASSERT_TRUE(t.LoadTextureToDot3(name.c_str(), 4.0f)) << bpp;
        for (int i = 0; i < 6; ++i) {
            EXPECT_EQ(t.Bits[i * 3 + 0], 255) << bpp;
            EXPECT_EQ(t.Bits[i * 3 + 1], 127) << bpp;
            EXPECT_EQ(t.Bits[i * 3 + 2], 127) << bpp;
        }
        t.Destroy();
    }
}

TEST_F(TextureLoad, Dot3GradientFromRed)
{
    // Red 0, 255, 0 in one row; blue and green vary but only red is the height.
    Save(FIF_PNG, "ridge.png", 3, 1, 24,
         [](int x, int, int c) { return uint8(c == 2 ? (x == 1 ? 255 : 0) : 40 * x + c); });
    CTexture t;
    ASSERT_TRUE(t.LoadTextureToDot3("ridge.png", 1.0f));
    // x = 0: gx = -4, gy = 0, L = sqrt(17); x = 1: flat; x = 2: gx = 4.
    const uint8 expected[9] = {158, 127, 3, 255, 127, 127, 158, 127, 251};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(t.Bits[i], expected[i]) << i;
    t.Destroy();
}

TEST_F(TextureLoad, Dot3OneColumnAnd32BitSources)
{
    // One column: left and right neighbour coincide, so gx = 0 (red byte 127) whatever the
    // heights; the vertical gradient still shows in green.
    Save(FIF_PNG, "column.png", 1, 3, 24, [](int, int y, int) { return uint8(y * 100); });
    CTexture t;
    ASSERT_TRUE(t.LoadTextureToDot3("column.png", 1.0f));
    bool sloped = false;
    for (int y = 0; y < 3; ++y) {
        EXPECT_EQ(t.Bits[y * 3 + 2], 127) << y;
        sloped |= t.Bits[y * 3 + 1] != 127;
    }
    EXPECT_TRUE(sloped);
    t.Destroy();

    // The same colours at 24 and 32 bits give the same normal map.
    Save(FIF_PNG, "n24.png", 5, 4, 24);
    Save(FIF_PNG, "n32.png", 5, 4, 32);
    CTexture a, b;
    ASSERT_TRUE(a.LoadTextureToDot3("n24.png", 2.5f));
    ASSERT_TRUE(b.LoadTextureToDot3("n32.png", 2.5f));
    for (int i = 0; i < 5 * 4 * 3; ++i) EXPECT_EQ(a.Bits[i], b.Bits[i]) << i;
    a.Destroy();
    b.Destroy();
}
