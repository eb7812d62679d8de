// The OBJ/MTL reader: the whole file in one buffer, its line ends turned into zeros, scanned
// twice in place (count, then fill) so every array is allocated once at its final size.
//
// Everything in a model file is untrusted: numbers and indices are parsed here with range
// checks, every face index is checked before it is used, names a model file gives for other
// files may not leave the model's folder (neither by their text nor through links), each
// material library and texture is read once however often the model names it, and a model is
// refused before its vertex array would exceed kMaxObjVertices. What asks the system about
// files (opening, reading, resolving links) is platform/model_files.h; this file parses.
#include "scene/object.h"

#include "base/report.h"
#include "platform/model_files.h"
#include "platform/platform.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <string>

// Larger files are refused rather than read: a model of this renderer is a few megabytes, and
// the vertex array of a bigger file would not fit in memory anyway.
static const size_t kMaxSourceBytes = size_t(256) * 1024 * 1024;

static void ReportOpenError(const CString& path)
{
    CString line("Error opening file ");
    line += path;
    line += "!\r\n";
    krvReportError(line.c_str());
}

static void ReportLoadError(const char* fileName)
{
    CString line;
    line.Set("Error loading file %s!\r\n", fileName ? fileName : "");
    krvReportError(line.c_str());
}

static CString FullPath(const char* directory, const char* fileName)
{
    return ModuleDirectory + directory + fileName;
}

// ---------------------------------------------------------------------------------------------
// Formatted scanning of one zero-terminated line, read the way the C library's scanf reads it:
// a blank in the format takes any run of whitespace (also none), numbers skip the whitespace in
// front of them, other characters must match exactly, and text after the last field is
// ignored. Unlike scanf, a number that does not fit (an integer beyond the int range, a float
// that is infinite or not a number) marks the line bad instead of wrapping or passing through.

namespace {

inline bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

class LineScanner {
public:
    explicit LineScanner(const char* line) : p(line) {}

    void SkipSpace()
    {
        while (IsSpace(*p)) ++p;
    }

    bool Literal(char c)
    {
        if (*p != c) return false;
        ++p;
        return true;
    }

    bool Float(float& out)
    {
        SkipSpace();
        char* end = nullptr;
        out = std::strtof(p, &end);
        if (end == p) return false;
        p = end;
        if (!std::isfinite(out)) bad = true;
        return true;
    }

    bool Int(int& out)
    {
        SkipSpace();
        const char* q = p;
        bool negative = false;
        if (*q == '+' || *q == '-') negative = (*q++ == '-');
        if (*q < '0' || *q > '9') return false;
        // Digits keep being consumed after an overflow, so the line's shape is still matched.
        const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
        long long value = 0;
        for (; *q >= '0' && *q <= '9'; ++q) {
            if (value <= limit) value = value * 10 + (*q - '0');
        }
        if (value > limit) {
            bad = true;
            value = 0;
        }
        out = static_cast<int>(negative ? -value : value);
        p = q;
        return true;
    }

    const char* Rest() const { return p; }

    bool bad = false;

private:
    const char* p;
};

// Matches line against a format of %f, %d, blanks and literal characters. True only when every
// field was read; floats and ints receive the fields in order.
bool ScanAll(const char* line, const char* format, float* floats, int* ints, bool& bad)
{
    LineScanner s(line);
    for (const char* c = format; *c; ++c) {
        if (*c == ' ') {
            s.SkipSpace();
        } else if (*c == '%') {
            ++c;
            if (*c == 'f') {
                if (!s.Float(*floats++)) return false;
            } else if (!s.Int(*ints++)) {
                return false;
            }
        } else if (!s.Literal(*c)) {
            return false;
        }
    }
    bad = s.bad;
    return true;
}

// A keyword followed by a space or tab; returns the rest of the line after the blanks (trailing
// blanks belong to the name), or null.
const char* KeywordName(const char* line, const char* keyword)
{
    size_t n = std::strlen(keyword);
    if (std::strncmp(line, keyword, n) != 0) return nullptr;
    const char* p = line + n;
    if (*p != ' ' && *p != '\t') return nullptr;
    while (*p == ' ' || *p == '\t') ++p;
    return p;
}

enum ObjLineKind {
    kLineOther,
    kLineMtllib,
    kLinePosition,
    kLineTexCoord,
    kLineNormal,
    kLineFaceVTN,  // v/t/n
    kLineFaceVN,   // v//n
    kLineFaceAB,   // a/b
    kLineFaceV     // v
};

struct ObjLine {
    int kind = kLineOther;
    bool bad = false;  // matched a form, but a number in it is out of range
    float f[3] = {};
    int d[9] = {};
    const char* name = nullptr;
};

const char kFaceVTN[] = "f %d/%d/%d %d/%d/%d %d/%d/%d";
const char kFaceVN[] = "f %d//%d %d//%d %d//%d";
const char kFaceAB[] = "f %d/%d %d/%d %d/%d";
const char kFaceV[] = "f %d %d %d";

// The one face form that can match line, or null. Tried in order, the forms all read "f %d"
// and then part ways at the first corner: "/%d/" (v/t/n), "//" (v//n), "/%d" then anything
// else (a/b), or no '/' (v). So the first corner alone tells which form may match, and a file
// of faces is scanned once a line rather than up to four times.
const char* FaceForm(const char* line)
{
    LineScanner s(line);
    int ignored = 0;
    if (!s.Literal('f') || !s.Int(ignored)) return nullptr;
    const char* p = s.Rest();
    if (p[0] != '/') return kFaceV;
    if (p[1] == '/') return kFaceVN;
    LineScanner second(p + 1);
    if (!second.Int(ignored)) return nullptr;
    return *second.Rest() == '/' ? kFaceVTN : kFaceAB;
}

// The forms in the order they are tried; the first whose fields are all read wins.
ObjLine ClassifyObjLine(const char* line)
{
    static const struct {
        int kind;
        const char* format;
    } kForms[] = {
        {kLinePosition, "v %f %f %f"},
        {kLineTexCoord, "vt %f %f"},
        {kLineNormal, "vn %f %f %f"},
    };
    ObjLine out;
    if ((out.name = KeywordName(line, "mtllib")) != nullptr) {
        out.kind = kLineMtllib;
        return out;
    }
    // Every form starts with 'v' or 'f': most lines of a large file are decided here.
    if (line[0] == 'v') {
        for (const auto& form : kForms) {
            if (ScanAll(line, form.format, out.f, out.d, out.bad)) {
                out.kind = form.kind;
                return out;
            }
        }
    } else if (line[0] == 'f') {
        const char* format = FaceForm(line);
        if (format && ScanAll(line, format, out.f, out.d, out.bad)) {
            out.kind = format == kFaceVTN  ? kLineFaceVTN
                       : format == kFaceVN ? kLineFaceVN
                       : format == kFaceAB ? kLineFaceAB
                                           : kLineFaceV;
            return out;
        }
    }
    out = ObjLine();
    return out;
}

// Calls visit(line) for each line of a ReadSource buffer: blanks in front skipped, runs of
// zeros (line ends, empty lines, NUL bytes) stepped over. buffer[length] is 0.
template <class Visit>
bool ForEachLine(char* buffer, long length, Visit visit)
{
    const size_t n = static_cast<size_t>(length);
    size_t i = 0;
    while (i < n) {
        while (i < n && (buffer[i] == ' ' || buffer[i] == '\t')) ++i;
        if (!visit(static_cast<const char*>(buffer + i))) return false;
        while (i < n && buffer[i] != 0) ++i;
        while (i < n && buffer[i] == 0) ++i;
    }
    return true;
}

vec3 UnitOrZeroDouble(double x, double y, double z)
{
    double l = std::sqrt(x * x + y * y + z * z);
    if (!(l > 0.0) || !std::isfinite(l)) return vec3();
    return vec3(static_cast<float>(x / l), static_cast<float>(y / l), static_cast<float>(z / l));
}

// The unit vector along v, or zero when v has no usable direction. Float first, so ordinary
// input gives exactly normalize(v); a length that overflows or underflows in float is redone
// in double rather than coming out as NaN or infinity.
vec3 UnitOrZero(const vec3& v)
{
    float l = length(v);
    if (l > 0.0f && std::isfinite(l)) return normalize(v);
    return UnitOrZeroDouble(static_cast<double>(v.x), static_cast<double>(v.y),
                            static_cast<double>(v.z));
}

// normalize(cross(P1 - P0, P2 - P0)); zero for a degenerate triangle. Differences of finite
// floats can overflow in float, so the double fallback starts from the positions.
vec3 FlatNormal(const CVertex& a, const CVertex& b, const CVertex& c)
{
    vec3 p0(a.x, a.y, a.z), p1(b.x, b.y, b.z), p2(c.x, c.y, c.z);
    vec3 n = cross(p1 - p0, p2 - p0);
    if (std::isfinite(n.x) && std::isfinite(n.y) && std::isfinite(n.z)) {
        float l = length(n);
        if (l > 0.0f && std::isfinite(l)) return normalize(n);
    }
    auto d = [](float f) { return static_cast<double>(f); };
    double ux = d(b.x) - d(a.x), uy = d(b.y) - d(a.y), uz = d(b.z) - d(a.z);
    double vx = d(c.x) - d(a.x), vy = d(c.y) - d(a.y), vz = d(c.z) - d(a.z);
    return UnitOrZeroDouble(uy * vz - uz * vy, uz * vx - ux * vz, ux * vy - uy * vx);
}

bool IsOneBased(int index, size_t count)
{
    return index >= 1 && static_cast<size_t>(index) <= count;
}

// The temporary arrays of one load; released however the load ends.
struct ObjArrays {
    char* buffer = nullptr;
    vec3* positions = nullptr;
    vec2* texCoords = nullptr;
    vec3* normals = nullptr;
    ~ObjArrays()
    {
        delete[] buffer;
        delete[] positions;
        delete[] texCoords;
        delete[] normals;
    }
};

}  // namespace

// ---------------------------------------------------------------------------------------------

// Reads the file at native whole into a ReadSource buffer, reporting a failure: path is the
// full name the open-error line gives, fileName the name of the load-error line. The buffer's
// line ends become zeros, so each line is a string of its own. identity is the file read.
static bool ReadModelFile(const std::string& native, bool followLinks, const CString& path,
                          const char* fileName, char*& buffer, long& length,
                          krvplat::FileIdentity& identity)
{
    char* data = nullptr;
    size_t got = 0;
    switch (krvplat::ReadWholeFile(native, followLinks, kMaxSourceBytes, data, got, identity)) {
    case krvplat::kReadFileOk: break;
    case krvplat::kReadFileNotOpened: ReportOpenError(path); return false;
    default: ReportLoadError(fileName); return false;
    }
    for (size_t i = 0; i < got; ++i)
        if (data[i] == '\r' || data[i] == '\n') data[i] = 0;
    buffer = data;
    length = static_cast<long>(got);
    return true;
}

bool CObject::ReadSource(const char* directory, const char* fileName, char*& buffer, long& length)
{
    CString path = FullPath(directory, fileName);
    krvplat::FileIdentity identity;
    return ReadModelFile(krvplat::NativePath(path.c_str()), true, path, fileName, buffer, length,
                         identity);
}

// ---------------------------------------------------------------------------------------------
// The material step of one load. A model may name its material library many times, and a
// library may name one texture on many lines: each file is read, and each texture decoded,
// once per load, and the object ends as reading them all again in order would leave it: with
// the texture of the last "map_Ka" line that loaded, after the report lines of every line that
// failed, in order.
//
// Files are known by device and inode, so every spelling of a name and every link to a file is
// one file. Only the texels of the latest successful decode are held: when the winner turns
// out to be a texture decoded earlier and let go since (a library that names a, then b, then
// a again), it is decoded once more at the end. A model naming many large textures so costs the
// memory of one, and at most one decode more than it has textures.

namespace {

class MaterialStep {
public:
    MaterialStep(CTexture& texture, const char* directory);
    ~MaterialStep() { Finish(); }
    MaterialStep(const MaterialStep&) = delete;
    MaterialStep& operator=(const MaterialStep&) = delete;

    // Reads a material library named in the model and loads its textures; false when it could
    // not be read or some texture failed, as CObject::ParseMtl.
    bool ParseMtl(const char* fileName);
    // Gives the object the texture the step ends with, if any texture loaded. Once; the
    // destructor calls it too.
    void Finish();

private:
    bool LoadMapKa(const char* name);
    bool Decode(const std::string& key, const CString& relative);

    struct TextureResult {
        bool ok = false;
        CString relative;  // directory + name, as the texture loader takes it
        CString path;      // the full path its report names
        CString report;    // what its failure reported
    };

    CTexture& texture_;
    const char* directory_;
    krvplat::ContainedFolder folder_;
    std::map<std::string, TextureResult> textures_;
    std::map<std::string, std::string> libraries_;  // library key -> its last texture's key
    std::string winner_;  // key of the texture the object ends with; empty: it keeps its own
    std::string heldKey_;
    CTexture held_;  // texels of heldKey_
    bool finished_ = false;
};

// A file's key in the caches. A texture's key carries the extension of the name too: the
// decoder falls back on it for a file whose bytes do not tell its type.
std::string IdentityKey(const krvplat::FileIdentity& identity, const std::string& native)
{
    std::string key = std::to_string(identity.device) + ":" + std::to_string(identity.inode);
    size_t dot = native.rfind('.');
    size_t slash = native.rfind('/');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
        key += native.substr(dot);
    return key;
}

// The model's folder is ModuleDirectory + directory: the names in a model are relative to it.
MaterialStep::MaterialStep(CTexture& texture, const char* directory)
    : texture_(texture),
      directory_(directory ? directory : ""),
      folder_(krvplat::NativePath(FullPath(directory_, "").c_str()))
{
}

bool MaterialStep::ParseMtl(const char* fileName)
{
    if (!fileName) fileName = "";
    CString path = FullPath(directory_, fileName);
    std::string real;
    krvplat::FileIdentity identity;
    bool inside = krvplat::IsContainedName(fileName) &&
                  folder_.Locate(krvplat::NativePath(path.c_str()), real) ==
                      krvplat::ContainedFolder::kInside &&
                  krvplat::RegularFileIdentity(real, identity);
    if (!inside) {
        ReportOpenError(path);
        return false;
    }
    auto known = libraries_.find(IdentityKey(identity, ""));
    if (known != libraries_.end()) {
        // Read before, and without a failure (a failure ends the load): reading it again would
        // load the same textures, its last one winning.
        if (!known->second.empty()) winner_ = known->second;
        return true;
    }
    // The resolved name is opened, not following a link, so the file checked is the file
    // read; it is known by what was opened.
    char* buffer = nullptr;
    long length = 0;
    if (!ReadModelFile(real, false, path, fileName, buffer, length, identity)) return false;
    const std::string key = IdentityKey(identity, "");
    bool allLoaded = true;
    std::string last;
    ForEachLine(buffer, length, [&](const char* line) {
        const char* name = KeywordName(line, "map_Ka");
        if (!name) return true;
        if (LoadMapKa(name))
            last = winner_;
        else
            allLoaded = false;
        return true;
    });
    delete[] buffer;
    if (allLoaded) libraries_[key] = last;
    return allLoaded;
}

// One "map_Ka" line; true when its texture loaded (now or earlier in the load).
bool MaterialStep::LoadMapKa(const char* name)
{
    CString relative = CString(directory_) + name;
    CString full = ModuleDirectory + relative;
    std::string native = krvplat::NativePath(full.c_str());
    std::string real;
    using Folder = krvplat::ContainedFolder;
    Folder::Place place =
        krvplat::IsContainedName(name) ? folder_.Locate(native, real) : Folder::kOutside;
    // Something that exists but is not a regular file is not opened at all.
    krvplat::FileIdentity identity;
    if (place == Folder::kInside && !krvplat::RegularFileIdentity(real, identity))
        place = Folder::kOutside;
    if (place == Folder::kMissing) {
        // Left to the texture loader, which reports it in its own words; not remembered, since
        // that costs the loader no decode, and a model may name any number of missing files. A
        // file that appears meanwhile was never checked, so it is not taken.
        CTexture appeared;
        if (!appeared.LoadTexture(relative.c_str())) return false;
        appeared.Destroy();
        place = Folder::kOutside;
    }
    if (place == Folder::kOutside) {
        ReportOpenError(full);
        return false;
    }
    // Only files that exist are remembered: as many as the folder holds.
    const std::string key = IdentityKey(identity, native);

    auto found = textures_.find(key);
    if (found == textures_.end()) {
        TextureResult& result = textures_[key];
        result.relative = relative;
        result.path = full;
        CReportCapture capture;
        result.ok = Decode(key, relative);
        result.report = capture.text;
        found = textures_.find(key);
    } else if (!found->second.ok) {
        // The same failure again, under this line's spelling of the name.
        const TextureResult& result = found->second;
        std::string line = result.report.c_str();
        size_t at = line.find(result.path.c_str());
        if (at != std::string::npos)
            line.replace(at, static_cast<size_t>(result.path.GetLength()), full.c_str());
        krvReportError(line.c_str());
    }
    if (found->second.ok) winner_ = key;
    return found->second.ok;
}

// Decodes a texture; on success its texels are the ones held, in place of the previous ones
// (which were the winner's until now, and are no longer).
bool MaterialStep::Decode(const std::string& key, const CString& relative)
{
    CTexture decoded;
    if (!decoded.LoadTexture(relative.c_str())) return false;
    held_.Destroy();
    held_ = decoded;
    heldKey_ = key;
    return true;
}

void MaterialStep::Finish()
{
    if (finished_) return;
    finished_ = true;
    if (!winner_.empty() && heldKey_ != winner_) {
        held_.Destroy();
        heldKey_.clear();
        // Loaded before in this load: a failure now means the file changed under it, and
        // the load then ends with the texture the object had.
        if (!Decode(winner_, textures_[winner_].relative)) winner_.clear();
    }
    if (winner_.empty()) {
        held_.Destroy();
        return;
    }
    // A texture that loads replaces the object's, as CTexture::LoadTexture does.
    texture_.Destroy();
    texture_ = held_;
    held_.Init();
}

}  // namespace

bool CObject::ParseMtl(const char* directory, const char* fileName)
{
    MaterialStep step(Texture, directory);
    return step.ParseMtl(fileName);
}

namespace {

// What the first pass finds: the number of each kind of line, and whether any matched a form
// with a number out of range.
struct ObjCounts {
    size_t positions = 0, texCoords = 0, normals = 0, faces = 0;
    bool malformed = false;
};

// The first pass: counts the lines and parses the material libraries as they come. False when
// a library failed (it has reported itself).
bool CountObj(char* buffer, long length, MaterialStep& materials, ObjCounts& n)
{
    return ForEachLine(buffer, length, [&](const char* text) {
        ObjLine line = ClassifyObjLine(text);
        if (line.bad) n.malformed = true;
        switch (line.kind) {
        case kLineMtllib: return materials.ParseMtl(line.name);
        case kLinePosition: ++n.positions; break;
        case kLineTexCoord: ++n.texCoords; break;
        case kLineNormal: ++n.normals; break;
        case kLineFaceVTN:
        case kLineFaceVN:
        case kLineFaceAB:
        case kLineFaceV: ++n.faces; break;
        default: break;
        }
        return true;
    });
}

// The second pass's progress: how many of each attribute have been read so far, and whether
// the file has any texture coordinates or normals at all.
struct ObjRead {
    size_t positions = 0, texCoords = 0, normals = 0, vertices = 0;
    bool anyTexCoords = false, anyNormals = false;
};

// The 1-based indices of corner k of a face line (0: the attribute stays zero), checked against
// what has been read so far. False when an index is out of range.
bool FaceCorner(const ObjLine& line, int k, const ObjRead& r, int& pos, int& tex, int& nrm)
{
    const int* d = line.d;
    pos = tex = nrm = 0;
    switch (line.kind) {
    case kLineFaceVTN:
        pos = d[3 * k];
        tex = d[3 * k + 1];
        nrm = d[3 * k + 2];
        if (!IsOneBased(tex, r.texCoords) || !IsOneBased(nrm, r.normals)) return false;
        break;
    case kLineFaceVN:
        pos = d[2 * k];
        nrm = d[2 * k + 1];
        if (!IsOneBased(nrm, r.normals)) return false;
        break;
    case kLineFaceAB: {
        // The second index is read as whichever attribute it fits, and wins over the first;
        // it must refer to something.
        int first = d[2 * k], second = d[2 * k + 1];
        pos = first;
        if (!IsOneBased(second, r.texCoords > r.normals ? r.texCoords : r.normals)) return false;
        if (r.anyTexCoords) {
            if (IsOneBased(first, r.texCoords)) tex = first;
            if (IsOneBased(second, r.texCoords)) tex = second;
        }
        if (r.anyNormals) {
            if (IsOneBased(first, r.normals)) nrm = first;
            if (IsOneBased(second, r.normals)) nrm = second;
        }
        break;
    }
    default:
        pos = d[k];
        if (r.anyTexCoords && IsOneBased(pos, r.texCoords)) tex = pos;
        if (r.anyNormals && IsOneBased(pos, r.normals)) nrm = pos;
        break;
    }
    return IsOneBased(pos, r.positions);
}

// The three vertices of a face line, from the attributes read so far.
bool ReadFace(const ObjLine& line, const ObjArrays& a, const ObjRead& r, CVertex* out)
{
    for (int k = 0; k < 3; ++k) {
        int pos, tex, nrm;
        if (!FaceCorner(line, k, r, pos, tex, nrm)) return false;
        CVertex& v = out[k];
        const vec3& p = a.positions[pos - 1];
        v.x = p.x;
        v.y = p.y;
        v.z = p.z;
        if (tex) {
            v.u = a.texCoords[tex - 1].x;
            v.v = a.texCoords[tex - 1].y;
        }
        if (nrm) {
            v.nx = a.normals[nrm - 1].x;
            v.ny = a.normals[nrm - 1].y;
            v.nz = a.normals[nrm - 1].z;
        }
    }
    return true;
}

// The second pass: the attributes into a's arrays (sized by the counts) and the faces into
// vertices. Indices are checked against what has been read so far: an index beyond that is
// out of range (also one that points forward to data further down the file).
bool ReadObj(ObjArrays& a, long length, const ObjCounts& n, CVertex* vertices)
{
    ObjRead r;
    r.anyTexCoords = n.texCoords != 0;
    r.anyNormals = n.normals != 0;
    const size_t numVertices = n.faces * 3;
    return ForEachLine(a.buffer, length, [&](const char* text) {
        ObjLine line = ClassifyObjLine(text);
        switch (line.kind) {
        case kLinePosition:
            if (r.positions < n.positions)
                a.positions[r.positions++] = vec3(line.f[0], line.f[1], line.f[2]);
            return true;
        case kLineTexCoord:
            if (r.texCoords < n.texCoords) a.texCoords[r.texCoords++] = vec2(line.f[0], line.f[1]);
            return true;
        case kLineNormal:
            if (r.normals < n.normals)
                a.normals[r.normals++] = UnitOrZero(vec3(line.f[0], line.f[1], line.f[2]));
            return true;
        case kLineFaceVTN:
        case kLineFaceVN:
        case kLineFaceAB:
        case kLineFaceV:
            if (r.vertices + 3 > numVertices) return false;
            if (!ReadFace(line, a, r, vertices + r.vertices)) return false;
            r.vertices += 3;
            return true;
        default: return true;
        }
    });
}

// White vertex colours, and for files without any normal the face normal at every corner, even
// where a face used none.
void FinishVertices(CVertex* v, int count, bool flatNormals)
{
    for (int i = 0; i < count; ++i) {
        v[i].r = 1.0f;
        v[i].g = 1.0f;
        v[i].b = 1.0f;
    }
    if (!flatNormals) return;
    for (int i = 0; i + 2 < count; i += 3) {
        vec3 n = FlatNormal(v[i], v[i + 1], v[i + 2]);
        for (int k = 0; k < 3; ++k) {
            v[i + k].nx = n.x;
            v[i + k].ny = n.y;
            v[i + k].nz = n.z;
        }
    }
}

}  // namespace

bool CObject::LoadObj(const char* directory, const char* fileName)
{
    Destroy();

    ObjArrays a;
    long length = 0;
    if (!ReadSource(directory, fileName, a.buffer, length)) return false;

    ObjCounts n;
    MaterialStep materials(Texture, directory);
    const bool mtlOk = CountObj(a.buffer, length, materials, n);
    // A failing material library has reported itself; the texture it loaded stays.
    materials.Finish();
    if (!mtlOk) return false;

    auto fail = [&]() {
        ReportLoadError(fileName);
        Destroy();
        return false;
    };
    if (length == 0 || n.faces == 0 || n.malformed) return fail();
    // Refused before anything is allocated: a file of short face lines would otherwise ask for
    // 21 bytes of vertices for each byte it has.
    if (n.faces > static_cast<size_t>(kMaxObjVertices) / 3) {
        CString line;
        line.Set("Error loading file %s: more than %d vertices!\r\n", fileName ? fileName : "",
                 kMaxObjVertices);
        krvReportError(line.c_str());
        Destroy();
        return false;
    }

    const size_t numVertices = n.faces * 3;
    if (n.positions) a.positions = new (std::nothrow) vec3[n.positions];
    if (n.texCoords) a.texCoords = new (std::nothrow) vec2[n.texCoords];
    if (n.normals) a.normals = new (std::nothrow) vec3[n.normals];
    Vertex = new (std::nothrow) CVertex[numVertices]();
    if ((n.positions && !a.positions) || (n.texCoords && !a.texCoords) ||
        (n.normals && !a.normals) || !Vertex)
        return fail();
    NumVertex = static_cast<int>(numVertices);

    if (!ReadObj(a, length, n, Vertex)) return fail();
    FinishVertices(Vertex, NumVertex, n.normals == 0);
    GetMinMax();
    return true;
}
