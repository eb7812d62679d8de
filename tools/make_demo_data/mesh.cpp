// Meshes: adding triangles, clipping polygons by planes, and the OBJ text of a mesh.
#include "tools/make_demo_data/demo_data.h"

#include <algorithm>
#include <cstdio>
#include <map>

// Adds a triangle wound counter-clockwise as seen from the side its normals face, which is what
// the renderer's back-face culling of the wheels needs; slivers are dropped.
void AddTri(Mesh& m, Corner a, Corner b, Corner c)
{
    V3 g = Cross(b.p - a.p, c.p - a.p);
    double area2 = Length(g);
    if (area2 < 1e-9) return;
    a.n = Normalize(a.n);
    b.n = Normalize(b.n);
    c.n = Normalize(c.n);
    if (Dot(g, a.n + b.n + c.n) < 0.0) std::swap(b, c);
    m.tris.push_back(Tri{{a, b, c}});
}

void AddQuad(Mesh& m, const Corner& a, const Corner& b, const Corner& c, const Corner& d)
{
    AddTri(m, a, b, c);
    AddTri(m, a, c, d);
}

// Clipping by half-spaces: the pieces on each side of one plane.
static void ClipPoly(const Poly& in, const Plane& pl, Poly& inside, Poly& outside)
{
    inside.clear();
    outside.clear();
    size_t n = in.size();
    for (size_t i = 0; i < n; ++i) {
        const PolyVert& p = in[i];
        const PolyVert& q = in[(i + 1) % n];
        double dp = Dot(pl.a, p.p) + pl.d, dq = Dot(pl.a, q.p) + pl.d;
        if (dp >= 0.0) inside.push_back(p);
        if (dp < 0.0) outside.push_back(p);
        if ((dp >= 0.0) != (dq >= 0.0)) {
            double t = dp / (dp - dq);
            PolyVert x = {Lerp(p.p, q.p, t), Normalize(Lerp(p.n, q.n, t))};
            inside.push_back(x);
            outside.push_back(x);
        }
    }
    if (inside.size() < 3) inside.clear();
    if (outside.size() < 3) outside.clear();
}

void SplitByRegion(const Poly& poly, const std::vector<Plane>& region, Poly& inside,
                   std::vector<Poly>& outside)
{
    // A polygon wholly outside one plane stays whole: cutting it by the others' extended lines
    // would only splinter it.
    for (const Plane& pl : region) {
        bool allOut = true;
        for (const PolyVert& v : poly) allOut = allOut && Dot(pl.a, v.p) + pl.d < 0.0;
        if (allOut) {
            outside.push_back(poly);
            inside.clear();
            return;
        }
    }
    Poly rest = poly, in, out;
    for (const Plane& pl : region) {
        ClipPoly(rest, pl, in, out);
        if (!out.empty()) outside.push_back(out);
        rest = in;
        if (rest.empty()) break;
    }
    inside = rest;
}

// OBJ text. Numbers are printed with five decimals (positions) or four (normals, texture
// coordinates) and shared by their printed form, so the values the renderer reads are exactly
// the ones the checks see.
static std::string FormatNumber(double v, int decimals = 4)
{
    char buf[32];
    std::snprintf(buf, sizeof(buf), "%.*f", decimals, v);
    std::string s = buf;
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
    if (s == "-0") s = "0";
    return s;
}

static int Intern(std::map<std::string, int>& index, std::vector<std::string>& list,
                  const std::string& key)
{
    auto it = index.find(key);
    if (it != index.end()) return it->second;
    list.push_back(key);
    int id = static_cast<int>(list.size());
    index[key] = id;
    return id;
}

std::string ObjText(const Mesh& m, const char* title, const char* mtl, const char* object)
{
    std::map<std::string, int> vi, ti, ni;
    std::vector<std::string> vs, ts, ns;
    std::string faces;
    for (const Tri& t : m.tris) {
        faces += "f";
        for (const Corner& c : t.c) {
            int a = Intern(vi, vs,
                           FormatNumber(c.p.x, 5) + " " + FormatNumber(c.p.y, 5) + " " +
                               FormatNumber(c.p.z, 5));
            int b = Intern(ti, ts, FormatNumber(c.t.x) + " " + FormatNumber(c.t.y));
            int d =
                Intern(ni, ns,
                       FormatNumber(c.n.x) + " " + FormatNumber(c.n.y) + " " + FormatNumber(c.n.z));
            faces += " " + std::to_string(a) + "/" + std::to_string(b) + "/" + std::to_string(d);
        }
        faces += "\n";
    }
    std::string out = std::string("# ") + title + "\n";
    out += "# " + std::to_string(vs.size()) + " positions, " + std::to_string(m.tris.size()) +
           " triangles\n";
    out += std::string("mtllib ") + mtl + "\n";
    out += std::string("o ") + object + "\n";
    for (const std::string& s : vs) out += "v " + s + "\n";
    for (const std::string& s : ts) out += "vt " + s + "\n";
    for (const std::string& s : ns) out += "vn " + s + "\n";
    out += std::string("usemtl ") + object + "\ns 1\n";
    out += faces;
    return out;
}

bool WriteText(const std::string& path, const std::string& text)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    size_t n = std::fwrite(text.data(), 1, text.size(), f);
    return std::fclose(f) == 0 && n == text.size();
}
