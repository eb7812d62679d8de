// The model importer (scene/model.h): the import library parses in a sandboxed child that
// reads only from memory, and the parent builds the parts from the flat arrays it sends back.
//
// Which side files a model needs (an OBJ's material library, a glTF's buffers) is only known
// while parsing, so the parse runs in rounds: the child's file system is the set of buffers the
// parent has read; a name outside it is noted and fails as a missing file would. When the child
// has noted names, it sends them instead of a model; the parent checks each (a relative name
// inside the model's folder after links are resolved, a regular file, within the size limits),
// reads the ones that pass, marks the others absent, and starts a new child, at most
// kImportRounds times. Textures never reach the parser: the parent decodes them through the
// checked, sandboxed image path (texture/image_decode.h), embedded ones from a private
// temporary file.
//
// The stream of a child: a Header; for Status_NeedFiles `count` names, for Status_Error a
// message of `count` bytes, for Status_Model the materials, embedded textures and meshes (each
// vertex 12 floats: position, normal, texture coordinates, colour red, green, blue, alpha), then
// kTrailer. Every count is checked against the limits before anything is allocated for it.
#include "scene/model.h"
#include "scene/model_parse.h"

#include "base/report.h"
#include "platform/sandbox.h"
#include "texture/image_decode.h"
#include "texture/texture_generate.h"

#include <FreeImage.h>
#include <assimp/IOStream.hpp>
#include <assimp/IOSystem.hpp>
#include <assimp/Importer.hpp>
#include <assimp/material.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <limits>
#include <strings.h>
#include <fcntl.h>
#include <map>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint32_t kMagic = 0x314D444B;    // "KDM1"
constexpr uint32_t kTrailer = 0x21444E45;  // "END!"
constexpr int kImportRounds = 4;
constexpr int kMaxNames = 64;     // names a round may ask for
constexpr int kMaxString = 4096;  // bytes of a name, texture name or message
constexpr int kMaxMaterials = 65535;
constexpr int kMaxEmbedded = 4096;
constexpr int kFloatsPerVertex = 12;

enum Status { Status_Model = 0, Status_NeedFiles = 1, Status_Error = 2 };

// Material features the renderer does not show: one warning a kind and model.
enum Feature {
    Feature_NormalMap,
    Feature_Emissive,
    Feature_Specular,
    Feature_MetalRoughness,
    Feature_Occlusion,
    Feature_OpacityMap,
    Feature_Other,
    Feature_Count
};
const char* const kFeatureNames[Feature_Count] = {
    "normal or height maps",
    "emissive colours or maps",
    "specular maps",
    "metal and roughness maps",
    "occlusion or light maps",
    "opacity maps",
    "other texture kinds (reflection, displacement, ...)"};

struct Header {
    uint32_t magic;
    int32_t status;
    int32_t count;
};

struct SideFile {
    std::string name;  // as the parser asks for it, normalised (Key)
    std::vector<char> bytes;
    bool present = false;  // false: refused or absent, the parser finds nothing
    std::string why;       // why it is not present
};

// A name as the parser gives it, in one spelling: forward slashes, no "./" steps.
std::string Key(const char* name)
{
    std::string s(name ? name : "");
    std::replace(s.begin(), s.end(), '\\', '/');
    std::string out;
    size_t i = 0;
    while (i < s.size()) {
        size_t end = s.find('/', i);
        if (end == std::string::npos) end = s.size();
        const std::string part = s.substr(i, end - i);
        if (!part.empty() && part != ".") out += (out.empty() ? "" : "/") + part;
        i = end + 1;
    }
    if (!s.empty() && s[0] == '/') out = "/" + out;
    return out;
}

// ---------------------------------------------------------------------------------------------
// The child: an in-memory file system for the parser.

class MemoryStream : public Assimp::IOStream {
public:
    MemoryStream(const char* data, size_t size) : data_(data), size_(size) {}
    size_t Read(void* buffer, size_t size, size_t count) override
    {
        if (size == 0 || pos_ >= size_) return 0;
        const size_t n = std::min(count, (size_ - pos_) / size);
        std::memcpy(buffer, data_ + pos_, n * size);
        pos_ += n * size;
        return n;
    }
    size_t Write(const void*, size_t, size_t) override { return 0; }
    aiReturn Seek(size_t offset, aiOrigin origin) override
    {
        size_t base = origin == aiOrigin_SET ? 0 : origin == aiOrigin_CUR ? pos_ : size_;
        if (offset > size_ || base + offset > size_) return aiReturn_FAILURE;
        pos_ = base + offset;
        return aiReturn_SUCCESS;
    }
    size_t Tell() const override { return pos_; }
    size_t FileSize() const override { return size_; }
    void Flush() override {}

private:
    const char* data_;
    size_t size_;
    size_t pos_ = 0;
};

class MemoryFiles : public Assimp::IOSystem {
public:
    // `main`, when set, is served for the model's own file (files[0]) instead of its bytes.
    MemoryFiles(const std::vector<SideFile>& files, std::set<std::string>& missing,
                const std::vector<char>* main = nullptr)
        : files_(files), missing_(missing), main_(main)
    {
    }
    bool Exists(const char* name) const override { return Find(name) != nullptr; }
    char getOsSeparator() const override { return '/'; }
    Assimp::IOStream* Open(const char* name, const char* mode) override
    {
        if (mode && (std::strchr(mode, 'w') || std::strchr(mode, 'a'))) return nullptr;
        const SideFile* f = Find(name);
        if (f && main_ && f == &files_[0]) return new MemoryStream(main_->data(), main_->size());
        return f ? new MemoryStream(f->bytes.data(), f->bytes.size()) : nullptr;
    }
    void Close(Assimp::IOStream* stream) override { delete stream; }
    bool ComparePaths(const char* one, const char* two) const override
    {
        return Key(one) == Key(two);
    }

private:
    const SideFile* Find(const char* name) const
    {
        const std::string key = Key(name);
        for (const SideFile& f : files_)
            if (f.name == key) return f.present ? &f : nullptr;
        if (!key.empty() && missing_.size() < kMaxNames) missing_.insert(key);
        return nullptr;
    }
    const std::vector<SideFile>& files_;
    std::set<std::string>& missing_;
    const std::vector<char>* main_;
};

struct Writer {
    krvi::StreamSink sink;
    bool ok = true;
    void Bytes(const void* p, size_t n)
    {
        if (ok && n) ok = sink.write(sink.context, p, n);
    }
    void Int(int32_t v) { Bytes(&v, sizeof v); }
    void Float(float v) { Bytes(&v, sizeof v); }
    void String(const std::string& s)
    {
        const size_t n = std::min(s.size(), static_cast<size_t>(kMaxString));
        Int(static_cast<int32_t>(n));
        Bytes(s.data(), n);
    }
};

struct ImportRequest {
    const std::vector<SideFile>* files;
    std::string mainName;
};

unsigned FeaturesOf(const aiMaterial* m)
{
    static const struct {
        aiTextureType type;
        Feature feature;
    } kinds[] = {{aiTextureType_NORMALS, Feature_NormalMap},
                 {aiTextureType_NORMAL_CAMERA, Feature_NormalMap},
                 {aiTextureType_HEIGHT, Feature_NormalMap},
                 {aiTextureType_EMISSIVE, Feature_Emissive},
                 {aiTextureType_EMISSION_COLOR, Feature_Emissive},
                 {aiTextureType_SPECULAR, Feature_Specular},
                 {aiTextureType_SHININESS, Feature_Specular},
                 {aiTextureType_METALNESS, Feature_MetalRoughness},
                 {aiTextureType_DIFFUSE_ROUGHNESS, Feature_MetalRoughness},
                 {aiTextureType_AMBIENT_OCCLUSION, Feature_Occlusion},
                 {aiTextureType_LIGHTMAP, Feature_Occlusion},
                 {aiTextureType_OPACITY, Feature_OpacityMap},
                 {aiTextureType_REFLECTION, Feature_Other},
                 {aiTextureType_DISPLACEMENT, Feature_Other},
                 {aiTextureType_SHEEN, Feature_Other},
                 {aiTextureType_CLEARCOAT, Feature_Other},
                 {aiTextureType_TRANSMISSION, Feature_Other}};
    unsigned bits = 0;
    for (const auto& k : kinds)
        if (m->GetTextureCount(k.type) > 0) bits |= 1u << k.feature;
    aiColor4D emissive;
    if (m->Get(AI_MATKEY_COLOR_EMISSIVE, emissive) == AI_SUCCESS &&
        (emissive.r > 0.01f || emissive.g > 0.01f || emissive.b > 0.01f))
        bits |= 1u << Feature_Emissive;
    return bits;
}

void SendMaterial(Writer& w, const aiMaterial* m)
{
    aiColor4D c(1.0f, 1.0f, 1.0f, 1.0f);
    if (m->Get(AI_MATKEY_BASE_COLOR, c) != AI_SUCCESS) {
        aiColor4D d(1.0f, 1.0f, 1.0f, 1.0f);
        if (m->Get(AI_MATKEY_COLOR_DIFFUSE, d) == AI_SUCCESS) c = d;
        float opacity = 1.0f;
        c.a = m->Get(AI_MATKEY_OPACITY, opacity) == AI_SUCCESS ? opacity : 1.0f;
    }
    w.Float(c.r);
    w.Float(c.g);
    w.Float(c.b);
    w.Float(c.a);
    aiString texture;
    if (m->GetTexture(aiTextureType_BASE_COLOR, 0, &texture) != AI_SUCCESS &&
        m->GetTexture(aiTextureType_DIFFUSE, 0, &texture) != AI_SUCCESS)
        texture.Clear();
    w.String(texture.C_Str());
    w.Int(static_cast<int32_t>(FeaturesOf(m)));
}

void SendEmbedded(Writer& w, const aiTexture* t)
{
    const uint64_t texels = uint64_t{t->mWidth} * (t->mHeight ? t->mHeight : 1u);
    w.Int(static_cast<int32_t>(t->mWidth));
    w.Int(static_cast<int32_t>(t->mHeight));
    w.String(t->mFilename.C_Str());
    const uint64_t bytes = t->mHeight ? texels * 4u : texels;
    const bool fits = t->pcData && bytes <= uint64_t(kMaxModelFileBytes);
    w.Int(fits ? static_cast<int32_t>(bytes) : -1);
    if (fits) w.Bytes(t->pcData, static_cast<size_t>(bytes));
}

void SendMesh(Writer& w, const aiMesh* mesh)
{
    int32_t triangles = 0;
    for (unsigned f = 0; f < mesh->mNumFaces; ++f)
        if (mesh->mFaces[f].mNumIndices == 3) ++triangles;
    w.Int(static_cast<int32_t>(mesh->mMaterialIndex));
    w.String(mesh->mName.C_Str());
    w.Int(triangles);
    const aiVector3D* uv = mesh->mTextureCoords[0];
    const aiColor4D* colour = mesh->mColors[0];
    std::vector<float> batch;
    batch.reserve(3 * kFloatsPerVertex * 1024);
    for (unsigned f = 0; f < mesh->mNumFaces && w.ok; ++f) {
        const aiFace& face = mesh->mFaces[f];
        if (face.mNumIndices != 3) continue;
        for (int k = 0; k < 3; ++k) {
            const unsigned i = face.mIndices[k] < mesh->mNumVertices ? face.mIndices[k] : 0;
            const aiVector3D p = mesh->mVertices[i];
            const aiVector3D n = mesh->mNormals ? mesh->mNormals[i] : aiVector3D(0, 0, 0);
            const aiVector3D t = uv ? uv[i] : aiVector3D(0, 0, 0);
            const aiColor4D c = colour ? colour[i] : aiColor4D(1, 1, 1, 1);
            const float v[kFloatsPerVertex] = {p.x, p.y, p.z, n.x, n.y, n.z,
                                               t.x, t.y, c.r, c.g, c.b, c.a};
            batch.insert(batch.end(), v, v + kFloatsPerVertex);
        }
        if (batch.size() >= 3 * kFloatsPerVertex * 1024) {
            w.Bytes(batch.data(), batch.size() * sizeof(float));
            batch.clear();
        }
    }
    w.Bytes(batch.data(), batch.size() * sizeof(float));
}

bool AllFacesHaveVertices(const aiScene* scene)
{
    for (unsigned i = 0; i < scene->mNumMeshes; ++i) {
        const aiMesh* mesh = scene->mMeshes[i];
        for (unsigned f = 0; f < mesh->mNumFaces; ++f)
            if (mesh->mFaces[f].mNumIndices == 0) return false;
    }
    return true;
}

// The bytes as the MTL reader reads them.
bool TextureBeforeMaterialAsRead(const std::vector<char>& bytes, bool anisotropy)
{
    static const char* const kTextureWords[] = {"map_", "bump", "disp", "decal", "refl", "norm"};
    const char* p = bytes.data();
    const size_t size = bytes.size();
    for (size_t at = 0; at < size;) {
        size_t i = at;
        while (i < size && (p[i] == ' ' || p[i] == '\t')) ++i;
        auto starts = [&](const char* word) {
            const size_t n = std::strlen(word);
            return size - i >= n && strncasecmp(p + i, word, n) == 0;  // the reader ignores case
        };
        if (starts("newmtl")) return false;
        for (const char* word : kTextureWords)
            if (starts(word)) return true;
        // So does its anisotropy statement: an "a" (in lower case only), then its value, with
        // spaces between them or not ("a0"), or nothing. Binary data holds such bytes by
        // chance, so the caller asks for it only where the file may be text.
        if (anisotropy && i < size && p[i] == 'a') {
            const char next = i + 1 < size ? p[i + 1] : ' ';
            if (next == ' ' || next == '\t' || next == '\r' || next == '\n' || next == '\0' ||
                (next >= '0' && next <= '9') || next == '-' || next == '+' || next == '.')
                return true;
        }
        // The reader ends a line at a carriage return or a zero byte as well.
        size_t end = i;
        while (end < size && p[end] != '\n' && p[end] != '\r' && p[end] != '\0') ++end;
        at = end + 1;
    }
    return false;
}

// Whether the bytes, read as a material library, hold a texture statement (map_..., bump,
// disp, decal, refl, norm) or an anisotropy one ("a") before their first newmtl: the import
// library's MTL reader then writes through a material it has not made. Any file the model names can
// be read as its library (an OBJ may even name itself), so every side file is asked, and an OBJ
// itself where it names a library.
bool TextureBeforeMaterial(const std::vector<char>& bytes, bool anisotropy)
{
    // The library reads a material library through its text loader, which may drop a UTF-8
    // byte-order mark and, for UTF-16 and UTF-32 ones, converts the text and then keeps the
    // bytes: swapped in pairs for UTF-16 big-endian (FE FF), in fours for UTF-32 big-endian
    // (00 00 FE FF), or as they were (seen for FE FF too). The MTL reader reads those bytes,
    // its lines ending at each zero byte, so UTF-16 text is one character a line to it. The
    // bytes are asked as they are and in each form the loader may leave them.
    if (TextureBeforeMaterialAsRead(bytes, anisotropy)) return true;
    const auto byte = [&](size_t k) {
        return k < bytes.size() ? static_cast<unsigned char>(bytes[k]) : 0x100;
    };
    const bool utf8 = byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF;
    const bool utf32be = byte(0) == 0 && byte(1) == 0 && byte(2) == 0xFE && byte(3) == 0xFF;
    const bool utf16be = byte(0) == 0xFE && byte(1) == 0xFF;
    if (!utf8 && !utf32be && !utf16be) return false;
    std::vector<char> read(bytes.begin() + (utf8 ? 3 : 0), bytes.end());
    const size_t group = utf32be ? 4 : utf16be ? 2 : 1;
    for (size_t k = 0; group > 1 && k + group <= read.size(); k += group)
        std::reverse(read.begin() + static_cast<std::ptrdiff_t>(k),
                     read.begin() + static_cast<std::ptrdiff_t>(k + group));
    return TextureBeforeMaterialAsRead(read, anisotropy);
}

bool KeyEndsIn(const std::string& name, const char* suffix)
{
    const size_t n = std::strlen(suffix);
    return name.size() > n && strcasecmp(name.c_str() + name.size() - n, suffix) == 0;
}

bool Parse(const ImportRequest& request, krvi::StreamSink sink)
{
    std::set<std::string> missing;
    Assimp::Importer importer;
    importer.SetPropertyInteger(AI_CONFIG_PP_SBP_REMOVE,
                                aiPrimitiveType_POINT | aiPrimitiveType_LINE);
    // Normals the file lacks are smoothed across edges below 80 degrees only: a box keeps its
    // corners.
    importer.SetPropertyFloat(AI_CONFIG_PP_GSN_MAX_SMOOTHING_ANGLE, 80.0f);
    // Read and validated first, post-processed only once every face has a vertex: the
    // library's own validation lets a face of none through (a PLY face list of length 0), and
    // its triangulation then stops the process on an assertion.
    std::string refusal;
    // The model's own file only when it is an OBJ, or a glTF, whose JSON the library hands to
    // its OBJ reader when its glTF reader gives up (and JSON has no such line): an ASCII FBX
    // has lines such as "Normals:", a binary file any bytes.
    const std::string& main = request.mainName;
    const bool askMain = KeyEndsIn(main, ".obj") || KeyEndsIn(main, ".gltf");
    // The OBJ reader's line buffer is the file's size, it ends a line in that buffer with two
    // bytes of its own, and it reads past the end of a last line such as "llib /1 4/4/1/1":
    // a last line as long as the file overruns it. In a face it also steps on by the digits of
    // an index it gives up on after it has skipped to the next line ("l ////1426"), up to 11
    // bytes past that line's end, and reads on from there, past the buffer's end on a last
    // line, into whatever the heap holds. The file gets sixteen more line ends, which leave its
    // meaning as it is and keep both within the buffer, whose bytes past the longest line are
    // zero.
    std::vector<char> padded;
    if (askMain && !request.files->empty()) {
        padded = (*request.files)[0].bytes;
        padded.insert(padded.end(), 16, '\n');
    }
    importer.SetIOHandler(new MemoryFiles(*request.files, missing, askMain ? &padded : nullptr));
    // The model's own file is read as a library only where it names one: the OBJ reader
    // opens a library by an "mtllib" line alone, and it may name the model itself. It is read
    // as the library reader gets it, with its extra line ends.
    const std::vector<char>* ownBytes = request.files->empty() ? nullptr : &padded;
    static const char kLibrary[] = "mtllib";
    const bool askOwn =
        askMain && ownBytes &&
        std::search(ownBytes->begin(), ownBytes->end(), kLibrary, kLibrary + 6) != ownBytes->end();
    for (size_t i = 0; i < request.files->size(); ++i) {
        const SideFile& f = (*request.files)[i];
        // A side file with a zero byte is binary (a glTF's buffer), unless it is named as a
        // material library; the model's own file is text.
        const bool text = i == 0 || KeyEndsIn(f.name, ".mtl") ||
                          std::memchr(f.bytes.data(), '\0', f.bytes.size()) == nullptr;
        const std::vector<char>& asked = i == 0 && askOwn ? *ownBytes : f.bytes;
        if (f.present && (i > 0 || askOwn) && TextureBeforeMaterial(asked, text))
            refusal = "a material library (" + f.name +
                      ") with a texture or anisotropy before its first material";
    }
    const aiScene* scene =
        refusal.empty() ? importer.ReadFile(request.mainName, aiProcess_ValidateDataStructure)
                        : nullptr;
    if (scene && !AllFacesHaveVertices(scene))
        refusal = "a face has no vertices";
    else if (scene)
        scene = importer.ApplyPostProcessing(
            aiProcess_Triangulate | aiProcess_GenSmoothNormals | aiProcess_PreTransformVertices |
            aiProcess_JoinIdenticalVertices | aiProcess_SortByPType);
    Writer w{sink};
    Header h = {kMagic, Status_Model, 0};
    if (!missing.empty()) {
        h.status = Status_NeedFiles;
        h.count = static_cast<int32_t>(missing.size());
        w.Bytes(&h, sizeof h);
        for (const std::string& name : missing) w.String(name);
        return w.ok;
    }
    if (!refusal.empty() || !scene || !scene->mRootNode) {
        std::string message = refusal.empty() ? importer.GetErrorString() : refusal;
        // A count in the file that the library believed, beyond the child's memory.
        if (message == "std::bad_alloc")
            message = "the file asks for more memory than the import may use (std::bad_alloc)";
        h.status = Status_Error;
        h.count = static_cast<int32_t>(std::min(message.size(), static_cast<size_t>(kMaxString)));
        w.Bytes(&h, sizeof h);
        w.Bytes(message.data(), static_cast<size_t>(h.count));
        return w.ok;
    }
    w.Bytes(&h, sizeof h);
    w.Int(static_cast<int32_t>(scene->mNumMaterials));
    w.Int(static_cast<int32_t>(scene->mNumTextures));
    w.Int(static_cast<int32_t>(scene->mNumMeshes));
    for (unsigned i = 0; i < scene->mNumMaterials && w.ok; ++i)
        SendMaterial(w, scene->mMaterials[i]);
    for (unsigned i = 0; i < scene->mNumTextures && w.ok; ++i) SendEmbedded(w, scene->mTextures[i]);
    for (unsigned i = 0; i < scene->mNumMeshes && w.ok; ++i) SendMesh(w, scene->mMeshes[i]);
    w.Bytes(&kTrailer, sizeof kTrailer);
    return w.ok;  // nothing released: the child's memory goes with it
}

bool WritePipe(void* context, const void* data, size_t bytes)
{
    return krvplat::WriteAll(*static_cast<const int*>(context), data, bytes);
}

bool ImportJob(int fd, void* context)
{
    return Parse(*static_cast<const ImportRequest*>(context), krvi::StreamSink{WritePipe, &fd});
}

// ---------------------------------------------------------------------------------------------
// The parent.

struct Material {
    vec4 colour;
    std::string texture;
    unsigned features = 0;
};

struct Embedded {
    int width = 0, height = 0;
    std::string name;
    std::vector<char> bytes;
};

struct Mesh {
    int material = 0;
    std::string name;
    std::vector<float> vertices;  // kFloatsPerVertex a vertex
};

struct Received {
    std::vector<Material> materials;
    std::vector<Embedded> embedded;
    std::vector<Mesh> meshes;
};

struct Reader {
    krvplat::ChildProcess& child;
    bool ok = true;
    bool Bytes(void* p, size_t n) { return ok = ok && (n == 0 || child.Read(p, n)); }
    bool Int(int32_t& v) { return Bytes(&v, sizeof v); }
    bool Float(float& v) { return Bytes(&v, sizeof v); }
    bool Count(int32_t& v, int32_t max) { return Int(v) && (ok = v >= 0 && v <= max); }
    bool String(std::string& s)
    {
        int32_t n = 0;
        if (!Count(n, kMaxString)) return false;
        s.assign(static_cast<size_t>(n), '\0');
        return Bytes(&s[0], static_cast<size_t>(n));
    }
};

bool Finite(float f) { return std::isfinite(f); }

bool ReceiveModel(Reader& in, Received& out, std::string& problem)
{
    int32_t materials = 0, textures = 0, meshes = 0;
    if (!in.Count(materials, kMaxMaterials) || !in.Count(textures, kMaxEmbedded) ||
        !in.Count(meshes, kMaxModelParts)) {
        problem = "the importer sent bad counts";
        return false;
    }
    out.materials.resize(static_cast<size_t>(materials));
    for (Material& m : out.materials) {
        float c[4];
        int32_t features = 0;
        for (float& f : c) in.Float(f);
        in.String(m.texture);
        in.Int(features);
        if (!in.ok) return false;
        for (float& f : c) f = Finite(f) ? krvi::Clamp01(f) : 1.0f;
        m.colour = vec4(c[0], c[1], c[2], c[3]);
        m.features = static_cast<unsigned>(features) & ((1u << Feature_Count) - 1u);
    }
    long long total = 0;
    out.embedded.resize(static_cast<size_t>(textures));
    for (Embedded& e : out.embedded) {
        int32_t w = 0, h = 0, bytes = 0;
        if (!in.Int(w) || !in.Int(h) || !in.String(e.name) || !in.Int(bytes)) return false;
        e.width = w;
        e.height = h;
        if (bytes < 0) continue;  // too large: left empty, warned about when used
        const long long expected =
            h == 0
                ? w
                : (w > 0 && h > 0 && w <= kMaxImageSide && h <= kMaxImageSide ? 4LL * w * h : -1);
        total += bytes;
        if (bytes != expected || total > kMaxModelTotalBytes) {
            problem = "the importer sent a bad embedded texture";
            return false;
        }
        e.bytes.resize(static_cast<size_t>(bytes));
        if (!in.Bytes(e.bytes.data(), e.bytes.size())) return false;
    }
    long long vertices = 0;
    out.meshes.resize(static_cast<size_t>(meshes));
    for (Mesh& m : out.meshes) {
        int32_t material = 0, triangles = 0;
        if (!in.Int(material) || !in.String(m.name) || !in.Count(triangles, kMaxObjVertices / 3))
            return false;
        vertices += 3LL * triangles;
        if (vertices > kMaxObjVertices) {
            problem = "more than " + std::to_string(kMaxObjVertices) + " vertices";
            return false;
        }
        if (material < 0 || material >= materials) {
            problem = "a mesh names a material the file does not have";
            return false;
        }
        m.material = material;
        m.vertices.resize(static_cast<size_t>(triangles) * 3u * kFloatsPerVertex);
        if (!in.Bytes(m.vertices.data(), m.vertices.size() * sizeof(float))) return false;
    }
    uint32_t trailer = 0;
    return in.Bytes(&trailer, sizeof trailer) && trailer == kTrailer;
}

std::string Folder(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

std::string BaseName(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file a model names, relative to its folder, or "" with the reason: absolute names, ".."
// steps and links that resolve outside the folder are refused. A name not found as spelt is
// looked for in the folder without regard to case (models written on other systems).
std::string Resolve(const std::string& folder, const std::string& name, std::string& why)
{
    const std::string key = Key(name.c_str());
    if (key.empty() || key[0] == '/' || (key.size() > 1 && key[1] == ':')) {
        why = "an absolute name";
        return "";
    }
    if (key == ".." || key.compare(0, 3, "../") == 0 || key.find("/../") != std::string::npos ||
        (key.size() >= 3 && key.compare(key.size() - 3, 3, "/..") == 0)) {
        why = "a name that leaves the model's folder";
        return "";
    }
    std::string path = folder + "/" + key;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        // The same name in another case, in the folder the name points into.
        const std::string sub = Folder(folder + "/" + key);
        const std::string leaf = BaseName(key);
        bool found = false;
        if (DIR* d = opendir(sub.c_str())) {
            while (dirent* e = readdir(d))
                if (strcasecmp(e->d_name, leaf.c_str()) == 0) {
                    path = sub + e->d_name;
                    found = true;
                    break;
                }
            closedir(d);
        }
        if (!found || stat(path.c_str(), &st) != 0) {
            why = "no such file";
            return "";
        }
    }
    if (!S_ISREG(st.st_mode)) {
        why = "not a file";
        return "";
    }
    char* realFolder = realpath(folder.c_str(), nullptr);
    char* realFile = realpath(path.c_str(), nullptr);
    bool inside = false;
    if (realFolder && realFile) {
        std::string f = realFolder;
        if (f.empty() || f.back() != '/') f += '/';
        inside = std::strncmp(realFile, f.c_str(), f.size()) == 0;
    }
    std::free(realFolder);
    std::free(realFile);
    if (!inside) {
        why = "a link that leaves the model's folder";
        return "";
    }
    return path;
}

// Reads a whole regular file of at most kMaxModelFileBytes.
bool ReadWhole(const std::string& path, std::vector<char>& bytes, std::string& why)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (!ok) why = "not a file";
    if (ok && st.st_size > kMaxModelFileBytes) {
        why = "larger than " + std::to_string(kMaxModelFileBytes >> 20) + " MiB";
        ok = false;
    }
    if (ok) {
        bytes.resize(static_cast<size_t>(st.st_size));
        size_t done = 0;
        while (ok && done < bytes.size()) {
            const ssize_t n = read(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                why = n < 0 ? std::strerror(errno) : "the file shrank while read";
                ok = false;
            } else {
                done += static_cast<size_t>(n);
            }
        }
    }
    close(fd);
    return ok;
}

void Line(const std::string& line) { krvReportError((line + "\r\n").c_str()); }

// One child's round of the parse. Returns the status, or -1 when the child failed (problem says
// why); stalled tells whether it waited out its deadline without working.
int ParseInChild(const ImportRequest& request, std::vector<std::string>& names, Received& model,
                 std::string& problem, bool& stalled)
{
    krvplat::ChildLimits limits;
    limits.cpuSeconds = kImportCpuSeconds;
    limits.maxCpuSeconds = kImportCpuSeconds;
    limits.wallMilliseconds = kImportWallMilliseconds;
    limits.memoryBytes = kImportMemoryBytes;
    krvplat::ChildProcess child;
    if (!child.Start(ImportJob, const_cast<ImportRequest*>(&request), limits)) {
        problem = "could not start the importer";
        return -1;
    }
    Reader in{child};
    Header h = {0, 0, 0};
    bool complete = false;
    int status = -1;
    if (in.Bytes(&h, sizeof h) && h.magic == kMagic) {
        if (h.status == Status_NeedFiles && h.count > 0 && h.count <= kMaxNames) {
            names.resize(static_cast<size_t>(h.count));
            complete = true;
            for (std::string& n : names) complete = complete && in.String(n);
            status = Status_NeedFiles;
        } else if (h.status == Status_Error && h.count >= 0 && h.count <= kMaxString) {
            problem.assign(static_cast<size_t>(h.count), '\0');
            complete = in.Bytes(&problem[0], problem.size());
            status = Status_Error;
        } else if (h.status == Status_Model) {
            complete = ReceiveModel(in, model, problem);
            status = Status_Model;
        }
    }
    const krvplat::ChildEnd end = child.Finish(complete);
    stalled = end == krvplat::ChildEnd_TooSlow && child.Stalled();
    if (end == krvplat::ChildEnd_TooSlow) {
        problem = "the import took too long";
        return -1;
    }
    if (end == krvplat::ChildEnd_Forbidden) {
        problem = "the importer made a forbidden system call";
        if (child.ForbiddenCall() >= 0)
            problem += " (" + std::to_string(child.ForbiddenCall()) + ")";
        return -1;
    }
    if (end != krvplat::ChildEnd_Done || !complete) {
        if (problem.empty()) problem = "the importer failed on the file (crashed or out of memory)";
        return -1;
    }
    return status;
}

// One round of the parse, as ParseInChild; a child that waited out its deadline without working
// was stuck on something of the program's, not of the file, and one more child parses it.
int RunParse(const ImportRequest& request, std::vector<std::string>& names, Received& model,
             std::string& problem)
{
    bool stalled = false;
    int status = ParseInChild(request, names, model, problem, stalled);
    if (stalled) {
        names.clear();
        model = Received();
        problem.clear();
        status = ParseInChild(request, names, model, problem, stalled);
    }
    return status;
}

// A picture of another depth (palette, grey, 16 bits a channel), decoded in the child as a
// bitmap and converted to 24 bits here: the conversion reads only the checked bitmap.
bool ConvertedTexture(const std::string& path, CTexture& texture)
{
    krvi::DecodedImage image;
    if (krvDecodeImage(path.c_str(), krvi::Rows_Bitmap, image) != krvi::Image_Ok || !image.dib)
        return false;
    FIBITMAP* rgb = FreeImage_ConvertTo24Bits(image.dib);
    FreeImage_Unload(image.dib);
    const int w = rgb ? static_cast<int>(FreeImage_GetWidth(rgb)) : 0;
    const int h = rgb ? static_cast<int>(FreeImage_GetHeight(rgb)) : 0;
    bool ok = rgb && FreeImage_GetBPP(rgb) == 24 && w > 0 && h > 0 && w <= kMaxImageSide &&
              h <= kMaxImageSide;
    if (ok) {
        texture.Init();
        texture.Create(w, h, KrvFormat_BGR);
        ok = texture.Bits != nullptr;
    }
    for (int y = 0; ok && y < h; ++y)  // both bottom row first, blue, green, red
        std::memcpy(texture.Bits + static_cast<size_t>(y) * texture.Pitch,
                    FreeImage_GetScanLine(rgb, y), static_cast<size_t>(w) * 3u);
    if (rgb) FreeImage_Unload(rgb);
    return ok;
}

// A decoded picture as a texture, or false with the reason.
bool DecodeTexture(const std::string& path, CTexture& texture, std::string& why)
{
    krvi::DecodedImage image;
    switch (krvDecodeImage(path.c_str(), krvi::Rows_BGR, image)) {
    case krvi::Image_Ok: break;
    case krvi::Image_BadDepth:
        if (ConvertedTexture(path, texture)) return true;
        why = "not 24 or 32 bits a pixel, and no conversion to 24 bits";
        return false;
    case krvi::Image_UnknownType: why = "not an image format the renderer reads"; return false;
    case krvi::Image_TooLarge: why = "larger than 8192 pixels a side"; return false;
    case krvi::Image_TooSlow: why = "took too long to decode"; return false;
    default: why = "could not be decoded"; return false;
    }
    texture.Init();
    texture.Bits = image.texels.release();
    texture.Width = image.width;
    texture.Height = image.height;
    texture.Format = KrvFormat_BGR;
    texture.Pitch = image.width * 3;
    return true;
}

// An embedded texture: a compressed file goes through the image path from a private temporary
// file; raw texels (blue, green, red, alpha, top row first) are taken as they are.
bool EmbeddedTexture(const Embedded& e, CTexture& texture, std::string& why)
{
    if (e.bytes.empty()) {
        why = "empty or too large";
        return false;
    }
    if (e.height > 0) {
        texture.Init();
        texture.Create(e.width, e.height, KrvFormat_BGR);
        if (!texture.Bits) {
            why = "no memory";
            return false;
        }
        for (int y = 0; y < e.height; ++y) {
            const char* src = e.bytes.data() + static_cast<size_t>(e.height - 1 - y) * e.width * 4u;
            uint8* dst = texture.Bits + static_cast<size_t>(y) * texture.Pitch;
            for (int x = 0; x < e.width; ++x)
                for (int k = 0; k < 3; ++k) dst[x * 3 + k] = static_cast<uint8>(src[x * 4 + k]);
        }
        return true;
    }
    const char* dir = std::getenv("TMPDIR");
    std::string path = std::string(dir && *dir ? dir : "/tmp") + "/krv-texture-XXXXXX";
    const int fd = mkstemp(&path[0]);
    if (fd < 0) {
        why = std::string("no temporary file: ") + std::strerror(errno);
        return false;
    }
    size_t done = 0;
    while (done < e.bytes.size()) {
        const ssize_t n = write(fd, e.bytes.data() + done, e.bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    close(fd);
    const bool ok = done == e.bytes.size() && DecodeTexture(path, texture, why);
    if (done != e.bytes.size()) why = "could not write a temporary file";
    unlink(path.c_str());
    return ok;
}

// A file may give zero normals (an STL's "facet normal 0 0 0"), which the importer keeps as
// given: such a corner takes its triangle's own normal, so it is lit as the face it belongs to.
void FillZeroNormals(CObject& o)
{
    for (int t = 0; t + 2 < o.NumVertex; t += 3) {
        CVertex* v = o.Vertex + t;
        vec3 face(0.0f);
        bool haveFace = false;
        for (int k = 0; k < 3; ++k) {
            const float length2 = v[k].nx * v[k].nx + v[k].ny * v[k].ny + v[k].nz * v[k].nz;
            if (length2 > 1e-12f) continue;
            if (!haveFace) {
                const vec3 a(v[0].x, v[0].y, v[0].z), b(v[1].x, v[1].y, v[1].z),
                    c(v[2].x, v[2].y, v[2].z);
                face = cross(b - a, c - a);
                const float length = std::sqrt(dot(face, face));
                face = length > 0.0f && std::isfinite(length) ? face / length : vec3(0.0f);
                haveFace = true;
            }
            v[k].nx = face.x;
            v[k].ny = face.y;
            v[k].nz = face.z;
        }
    }
}

// A PLY element as its header gives it: the entries and, a property at a time, whether it is
// a list.
struct PlyElement {
    std::string kind;  // the name in lower case, "tristrips" as "face"
    uint64_t count = 0;
    std::vector<bool> lists;
};

// Whether a list of an ASCII PLY's body says it holds more values than the file has bytes.
// The library reads an entry a line, a list's length as the number its digits make (whatever
// the length's type: a "uchar" of 111111111), and makes room for that many values before it
// reads them: 888 MB and seconds for a file of a few hundred bytes. No such list can be read.
bool PlyListBeyondFile(const char* bytes, size_t size, size_t at,
                       const std::vector<PlyElement>& elements)
{
    auto space = [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
    };
    for (const PlyElement& e : elements) {
        for (uint64_t n = 0; n < e.count && at < size; ++n) {
            const void* newline = std::memchr(bytes + at, '\n', size - at);
            const size_t end =
                newline ? static_cast<size_t>(static_cast<const char*>(newline) - bytes) : size;
            size_t k = at;
            auto token = [&]() {
                while (k < end && space(bytes[k])) ++k;
                const size_t from = k;
                while (k < end && !space(bytes[k])) ++k;
                return from;
            };
            for (size_t p = 0; p < e.lists.size() && k < end; ++p) {
                const size_t from = token();
                if (!e.lists[p]) continue;
                uint64_t length = 0;
                for (size_t d = from + (from < k && bytes[from] == '+'); d < k; ++d) {
                    if (bytes[d] < '0' || bytes[d] > '9') break;
                    length = length * 10 + static_cast<uint64_t>(bytes[d] - '0');
                    if (length > size) return true;
                }
                for (uint64_t v = 0; v < length && k < end; ++v) token();
            }
            at = end + 1;
        }
    }
    return false;
}

void Fail(CModel& model, const std::string& path, const std::string& problem)
{
    krvs::DestroyModel(model);
    Line("Error loading file " + path + ": " + problem);
}

}  // namespace

namespace krvs {

bool CheckModelBytes(const char* name, const void* data, size_t size, std::string& why)
{
    const std::string n = name ? name : "";
    const char* bytes = static_cast<const char*>(data);
    const bool plyName = n.size() > 4 && strcasecmp(n.c_str() + n.size() - 4, ".ply") == 0;
    size_t first = 0;
    while (first < size && std::isspace(static_cast<unsigned char>(bytes[first]))) ++first;
    const bool plyBytes = size - first >= 3 && strncasecmp(bytes + first, "ply", 3) == 0;
    if (plyName || plyBytes) {
        // A line of its own: spaces before it, a space, line end or the end of the bytes after.
        // An element's count is read from its digits as the library reads it; every entry takes
        // a byte of the file at least, and the library loops over a count larger than that
        // for minutes (a count of zero-property entries costs it nothing a byte).
        // A zero byte in the header stops the library's line reader from moving on: it loops.
        // Two elements of one kind (two vertex lists, or faces twice, as "face" or
        // "tristrips") are filled into arrays the library sizes by the first: a second one
        // with more entries writes past them.
        bool ended = false, tooMany = false, zero = false, twice = false, ascii = false;
        bool atEnd = false;
        std::vector<PlyElement> elements;
        size_t body = size;
        for (size_t at = 0; at < size && !ended;) {
            size_t i = at;
            while (i < size && (bytes[i] == ' ' || bytes[i] == '\t')) ++i;
            const size_t after = i + 10;
            // The library's reader does not end the line at a vertical tab, and loops.
            ended =
                after <= size && std::memcmp(bytes + i, "end_header", 10) == 0 &&
                (after == size ||
                 (std::isspace(static_cast<unsigned char>(bytes[after])) && bytes[after] != '\v') ||
                 bytes[after] == '\0');
            if (!ended && size - i > 8 && std::memcmp(bytes + i, "element", 7) == 0 &&
                (bytes[i + 7] == ' ' || bytes[i + 7] == '\t')) {
                size_t k = i + 7;
                while (k < size && (bytes[k] == ' ' || bytes[k] == '\t')) ++k;
                const size_t nameAt = k;
                while (k < size && !std::isspace(static_cast<unsigned char>(bytes[k]))) ++k;
                std::string kind(bytes + nameAt, k - nameAt);
                for (char& c : kind)
                    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                if (kind == "tristrips") kind = "face";
                for (const PlyElement& e : elements) twice = twice || e.kind == kind;
                while (k < size && (bytes[k] == ' ' || bytes[k] == '\t')) ++k;
                uint64_t count = 0;
                for (; k < size && bytes[k] >= '0' && bytes[k] <= '9' && count <= size; ++k)
                    count = count * 10 + static_cast<uint64_t>(bytes[k] - '0');
                tooMany = tooMany || count > size;
                elements.emplace_back();
                elements.back().kind = kind;
                elements.back().count = count;
            }
            auto word = [&](const char* w) {
                const size_t length = std::strlen(w);
                return size - i > length && std::memcmp(bytes + i, w, length) == 0 &&
                       (bytes[i + length] == ' ' || bytes[i + length] == '\t');
            };
            if (!ended && word("format")) {
                size_t k = i + 6;
                while (k < size && (bytes[k] == ' ' || bytes[k] == '\t')) ++k;
                ascii = size - k >= 5 && std::memcmp(bytes + k, "ascii", 5) == 0;
            }
            if (!ended && word("property") && !elements.empty()) {
                size_t k = i + 8;
                while (k < size && (bytes[k] == ' ' || bytes[k] == '\t')) ++k;
                elements.back().lists.push_back(
                    size - k > 4 && std::memcmp(bytes + k, "list", 4) == 0 &&
                    std::isspace(static_cast<unsigned char>(bytes[k + 4])));
            }
            const void* newline = std::memchr(bytes + at, '\n', size - at);
            const size_t lineEnd =
                newline ? static_cast<size_t>(static_cast<const char*>(newline) - bytes) : size;
            zero = zero || (!ended && std::memchr(bytes + at, '\0', lineEnd - at) != nullptr);
            at = lineEnd < size ? lineEnd + 1 : size;
            if (ended) body = at;
            // The library's line reader never ends its header when its last line is the
            // file's last bytes (from 40 bytes on): it loops for as long as it may.
            atEnd = ended && after == size;
        }
        if (!ended) {
            why = "a PLY file whose header has no end_header line";
            return false;
        }
        if (zero) {
            why = "a PLY file with a zero byte in its header";
            return false;
        }
        if (atEnd) {
            why = "a PLY file that ends with its end_header";
            return false;
        }
        if (tooMany) {
            why = "a PLY element with more entries than the file has bytes";
            return false;
        }
        if (twice) {
            why = "a PLY file with two elements of one kind";
            return false;
        }
        if (ascii && PlyListBeyondFile(bytes, size, body, elements)) {
            why = "a PLY list with more values than the file has bytes";
            return false;
        }
    }
    // A binary glTF's parts (its scene in version 1, its chunks in version 2) each give their
    // length, and the library allocates that much before it reads them: a length beyond the
    // file asks it for up to 4 GiB. None of those can be read, so they are refused.
    const bool glbName = n.size() > 4 && strcasecmp(n.c_str() + n.size() - 4, ".glb") == 0;
    if ((glbName || (size >= 4 && std::memcmp(bytes, "glTF", 4) == 0)) && size >= 12) {
        auto word = [&](size_t at) {
            const unsigned char* b = reinterpret_cast<const unsigned char*>(bytes) + at;
            return uint64_t{b[0]} | uint64_t{b[1]} << 8 | uint64_t{b[2]} << 16 |
                   uint64_t{b[3]} << 24;
        };
        bool past = false;
        if (word(4) == 1) {
            past = size < 20 || word(12) > size - 20;
        } else {
            for (size_t at = 12; at + 8 <= size && !past; at += 8 + word(at))
                past = word(at) > size - at - 8;
        }
        if (past) {
            why = "a binary glTF file with a part longer than the file";
            return false;
        }
    }
    // The library's glTF reader takes an embedded image's file type from the text after the
    // '/' of its "mimeType" without looking for the '/': a type without one makes it read
    // through a null pointer. Every type names "image/..."; a '/' written as \/ or \u002f
    // counts. Looked for in every file, as the library tries its glTF reader on any JSON.
    static const char kMime[] = "\"mimeType\"";
    for (const char* at = bytes; size > 0;) {
        const void* hit =
            memmem(at, size - static_cast<size_t>(at - bytes), kMime, sizeof kMime - 1);
        if (!hit) break;
        const char* k = static_cast<const char*>(hit) + sizeof kMime - 1;
        const char* end = bytes + size;
        at = k;
        while (k < end && std::isspace(static_cast<unsigned char>(*k))) ++k;
        if (k == end || *k != ':') continue;
        ++k;
        while (k < end && std::isspace(static_cast<unsigned char>(*k))) ++k;
        if (k == end || *k != '"') continue;
        bool slash = false;
        for (++k; k < end && *k != '"'; ++k) {
            if (*k == '/') slash = true;
            if (*k == '\\' && k + 1 < end) {
                ++k;
                if (*k == '/') slash = true;
                if (*k == 'u' && end - k >= 5 &&
                    (std::memcmp(k + 1, "002f", 4) == 0 || std::memcmp(k + 1, "002F", 4) == 0))
                    slash = true;
            }
        }
        if (!slash) {
            why = "a glTF image whose mimeType has no '/'";
            return false;
        }
    }
    // The import library's OBJ reader overruns its stack or a string on a material library
    // whose name ends in "://", and it reads any file whose own reader gives up as an OBJ: such
    // a library line, continued lines included, is refused in every file. A name with "://"
    // cannot name a file of the model's folder, which is all the import reads. Nor can one
    // with two backslashes in a row (a network path, "\\\\server"), on which the reader's
    // path clean-up steps past the name's end when they are all of it (the bytes "mtllib
    // \\\" as the reader joins the continued line): such a line is refused too. Lines are
    // joined as the reader joins them: a backslash right before a line end drops everything
    // to the next newline, and the byte after that is taken as it is ("mtllib \\\r\n://" is
    // a library "://").
    auto lineEnd = [](char c) { return c == '\r' || c == '\n' || c == '\0' || c == '\f'; };
    std::string line;
    for (size_t at = 0; at < size;) {
        line.clear();
        size_t p = at;
        while (p < size) {
            // Past the file's end the reader sees line ends (the import adds them).
            if (bytes[p] == '\\' && (p + 1 >= size || lineEnd(bytes[p + 1]))) {
                ++p;
                while (p < size && bytes[p] != '\n') ++p;
                if (++p >= size) break;
            } else if (lineEnd(bytes[p])) {
                break;
            }
            line += bytes[p++];
        }
        at = p + 1;
        size_t i = 0;
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        const bool library = line.size() - i > 6 && line.compare(i, 6, "mtllib") == 0 &&
                             (line[i + 6] == ' ' || line[i + 6] == '\t');
        if (!library) continue;
        if (line.find("://", i + 6) != std::string::npos) {
            why = "an OBJ material library named by a URL";
            return false;
        }
        if (line.find("\\\\", i + 6) != std::string::npos) {
            why = "an OBJ material library whose name has two backslashes in a row";
            return false;
        }
    }
    return true;
}

bool ParseModelToStream(const char* name, const void* data, size_t size, krvi::StreamSink sink)
{
    std::vector<SideFile> files(1);
    files[0].name = Key(name);
    files[0].present = true;
    files[0].bytes.assign(static_cast<const char*>(data), static_cast<const char*>(data) + size);
    ImportRequest request;
    request.files = &files;
    request.mainName = files[0].name;
    return Parse(request, sink);
}

bool ImportModel(CModel& model, const char* pathText)
{
    model = CModel();
    const std::string path = pathText ? pathText : "";
    std::string why;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        Fail(model, path, std::strerror(errno));
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        Fail(model, path, "not a file");
        return false;
    }
    std::vector<SideFile> files(1);
    ImportRequest request;
    request.files = &files;
    request.mainName = Key(BaseName(path).c_str());
    files[0].name = request.mainName;
    files[0].present = true;
    if (!ReadWhole(path, files[0].bytes, why) ||
        !CheckModelBytes(path.c_str(), files[0].bytes.data(), files[0].bytes.size(), why)) {
        Fail(model, path, why);
        return false;
    }
    long long total = static_cast<long long>(files[0].bytes.size());
    const std::string folder = Folder(path);

    Received received;
    std::string problem;
    int status = Status_NeedFiles;
    for (int round = 0; round < kImportRounds && status == Status_NeedFiles; ++round) {
        std::vector<std::string> names;
        status = RunParse(request, names, received, problem);
        for (const std::string& name : names) {
            SideFile f;
            f.name = Key(name.c_str());
            bool known = false;
            for (const SideFile& g : files) known = known || g.name == f.name;
            if (known) continue;
            const std::string side = Resolve(folder, f.name, why);
            f.present = !side.empty() && ReadWhole(side, f.bytes, why);
            f.why = why;
            if (f.present) total += static_cast<long long>(f.bytes.size());
            if (total > kMaxModelTotalBytes) {
                Fail(model, path,
                     "its files are larger than " + std::to_string(kMaxModelTotalBytes >> 20) +
                         " MiB together");
                return false;
            }
            files.push_back(std::move(f));
        }
    }
    if (status == Status_NeedFiles) {
        Fail(model, path, "it names side files beyond the import's rounds");
        return false;
    }
    if (status != Status_Model) {
        Fail(model, path, problem.empty() ? std::string("the importer failed") : problem);
        return false;
    }
    // A side file the model names that is refused or not there fails the load, as the OBJ
    // loader fails on a missing library: the model would not look as its author saw it. The
    // importer's own guesses (the model's name with another extension) are no such names.
    const std::string stem = request.mainName.substr(0, request.mainName.find_last_of('.'));
    for (size_t i = 1; i < files.size(); ++i) {
        const SideFile& f = files[i];
        if (f.present || f.name.compare(0, stem.size() + 1, stem + ".") == 0) continue;
        Fail(model, path, "side file " + f.name + ": " + f.why);
        return false;
    }

    // The textures, one a distinct name, shared by the parts that use them.
    std::map<std::string, int> textureOf;  // name -> index in textures, -1 when it failed
    std::vector<CTexture> textures;
    std::vector<int> materialTexture(received.materials.size(), -1);
    unsigned features = 0;
    for (size_t m = 0; m < received.materials.size(); ++m) {
        const Material& mat = received.materials[m];
        features |= mat.features;
        if (mat.texture.empty()) continue;
        auto found = textureOf.find(mat.texture);
        if (found != textureOf.end()) {
            materialTexture[m] = found->second;
            continue;
        }
        CTexture t;
        bool ok = false;
        const Embedded* embedded = nullptr;
        if (mat.texture[0] == '*') {
            char* end = nullptr;
            const long index = std::strtol(mat.texture.c_str() + 1, &end, 10);
            if (end && *end == '\0' && index >= 0 &&
                index < static_cast<long>(received.embedded.size()))
                embedded = &received.embedded[static_cast<size_t>(index)];
            else
                why = "names an embedded texture the file does not have";
        } else {
            for (const Embedded& e : received.embedded)
                if (!e.name.empty() &&
                    BaseName(Key(e.name.c_str())) == BaseName(Key(mat.texture.c_str())))
                    embedded = &e;
        }
        if (embedded) {
            ok = EmbeddedTexture(*embedded, t, why);
        } else if (mat.texture[0] != '*') {
            std::string file = Resolve(folder, mat.texture, why);
            // A name from the author's machine (an absolute or outside path, common in FBX
            // files): the same file name in the model's folder, with the same checks.
            const std::string leaf = BaseName(Key(mat.texture.c_str()));
            std::string whyLeaf;
            if (file.empty() && !leaf.empty() && leaf != Key(mat.texture.c_str()) &&
                (why == "an absolute name" || why == "a name that leaves the model's folder")) {
                file = Resolve(folder, leaf, whyLeaf);
                if (file.empty()) why += ", and no " + leaf + " beside the model";
            }
            ok = !file.empty() && DecodeTexture(file, t, why);
        }
        int index = -1;
        if (ok) {
            index = static_cast<int>(textures.size());
            textures.push_back(t);
        } else {
            Line("warning: " + path + ": texture " + mat.texture + ": " + why +
                 "; its parts are drawn in their colour");
        }
        textureOf[mat.texture] = index;
        materialTexture[m] = index;
    }
    for (int f = 0; f < Feature_Count; ++f)
        if (features & (1u << f))
            Line("warning: " + path + ": " + kFeatureNames[f] + " are not shown");

    // The parts: meshes with at least one triangle.
    int parts = 0;
    for (const Mesh& m : received.meshes) parts += m.vertices.empty() ? 0 : 1;
    model.materials = static_cast<int>(received.materials.size());
    model.textures = static_cast<int>(textures.size());
    model.parts = parts ? new CModelPart[static_cast<size_t>(parts)] : nullptr;
    vec3 lo(std::numeric_limits<float>::infinity()), hi(-std::numeric_limits<float>::infinity());
    bool unusedTextures = true;
    for (const Mesh& m : received.meshes) {
        if (m.vertices.empty()) continue;
        CModelPart& part = model.parts[model.partCount++];
        const Material& mat = received.materials[static_cast<size_t>(m.material)];
        part.material = m.material;
        part.name = m.name.c_str();
        part.colour = mat.colour;
        const int t = materialTexture[static_cast<size_t>(m.material)];
        part.textured = t >= 0;
        if (part.textured) part.texture = textures[static_cast<size_t>(t)];
        const int n = static_cast<int>(m.vertices.size() / kFloatsPerVertex);
        part.object.Vertex = new CVertex[static_cast<size_t>(n)];
        part.object.NumVertex = n;
        part.object.Cursor = n;
        const vec3 base(mat.colour.x, mat.colour.y, mat.colour.z);
        for (int i = 0; i < n; ++i) {
            const float* s = m.vertices.data() + static_cast<size_t>(i) * kFloatsPerVertex;
            for (int k = 0; k < 3; ++k)
                if (!Finite(s[k]) || std::fabs(s[k]) > 1e30f) {
                    // The parts built so far share the textures: released once, from the list.
                    for (int q = 0; q < model.partCount; ++q) model.parts[q].texture.Init();
                    for (CTexture& tex : textures) tex.Destroy();
                    Fail(model, path, "a vertex position is not a finite number");
                    return false;
                }
            CVertex& v = part.object.Vertex[i];
            v = CVertex();
            v.x = s[0];
            v.y = s[1];
            v.z = s[2];
            v.nx = Finite(s[3]) ? s[3] : 0.0f;
            v.ny = Finite(s[4]) ? s[4] : 0.0f;
            v.nz = Finite(s[5]) ? s[5] : 0.0f;
            v.u = Finite(s[6]) ? s[6] : 0.0f;
            v.v = Finite(s[7]) ? s[7] : 0.0f;
            // The base colour times the vertex colour: what the pipeline modulates the texture
            // and the light by.
            v.r = base.x * (Finite(s[8]) ? krvi::Clamp01(s[8]) : 1.0f);
            v.g = base.y * (Finite(s[9]) ? krvi::Clamp01(s[9]) : 1.0f);
            v.b = base.z * (Finite(s[10]) ? krvi::Clamp01(s[10]) : 1.0f);
            lo = vec3(std::min(lo.x, v.x), std::min(lo.y, v.y), std::min(lo.z, v.z));
            hi = vec3(std::max(hi.x, v.x), std::max(hi.y, v.y), std::max(hi.z, v.z));
        }
        FillZeroNormals(part.object);
        part.object.GetMinMax();
        model.triangles += n / 3;
    }
    (void)unusedTextures;
    // Textures no part uses are released now; the model owns the others.
    for (size_t i = 0; i < textures.size(); ++i) {
        bool used = false;
        for (int p = 0; p < model.partCount && !used; ++p)
            used = model.parts[p].texture.Bits == textures[i].Bits;
        if (!used) textures[i].Destroy();
    }
    if (model.partCount == 0) {
        Fail(model, path, "the file has no triangles");
        return false;
    }
    model.boxMin = lo;
    model.boxMax = hi;
    return true;
}

void DestroyModel(CModel& model)
{
    // Parts share textures: each buffer is released once.
    std::set<const uint8*> released;
    for (int i = 0; i < model.partCount && model.parts; ++i) {
        CModelPart& p = model.parts[i];
        if (p.texture.Bits && released.insert(p.texture.Bits).second) p.texture.Destroy();
        p.texture.Init();
        delete[] p.object.Vertex;
        p.object.Init();
    }
    delete[] model.parts;
    model = CModel();
}

}  // namespace krvs
