// Pictures of the placed scene, for looking at the result: a minimal z-buffered rasterizer in
// double with Lambert shading, orthographic side, front, rear and top views and the floor line
// drawn in. The renderer itself is not used here: these views are a check of the geometry, and
// must not depend on the renderer they feed.
#include "tools/make_demo_data/placed_car.h"

#include <FreeImage.h>

#include <cstdio>

namespace {

// One model as triangle corners in double.
struct Loaded {
    std::vector<V3> pos, nrm;
    std::vector<V2> uv;
};

Loaded FromObject(const CObject& m)
{
    Loaded l;
    for (int i = 0; i < m.NumVertex; ++i) {
        const CVertex& v = m.Vertex[i];
        l.pos.push_back(PositionOf(v));
        l.nrm.push_back(NormalOf(v));
        l.uv.push_back({static_cast<double>(v.u), static_cast<double>(v.v)});
    }
    return l;
}

struct Picture {
    int w = 0, h = 0;
    std::vector<V3> px;  // row 0 = bottom, as FreeImage stores it
};

bool LoadPicture(const std::string& path, Picture& pic)
{
    FREE_IMAGE_FORMAT fif = FreeImage_GetFileType(path.c_str(), 0);
    if (fif == FIF_UNKNOWN) return false;
    FIBITMAP* bmp = FreeImage_Load(fif, path.c_str(), 0);
    if (!bmp) return false;
    bool ok = FreeImage_GetBPP(bmp) == 24;
    if (ok) {
        pic.w = static_cast<int>(FreeImage_GetWidth(bmp));
        pic.h = static_cast<int>(FreeImage_GetHeight(bmp));
        pic.px.resize(pic.w * pic.h);
        for (int y = 0; y < pic.h; ++y) {
            BYTE* row = FreeImage_GetScanLine(bmp, y);
            for (int x = 0; x < pic.w; ++x)
                pic.px[y * pic.w + x] =
                    V3{row[x * 3 + FI_RGBA_RED] / 255.0, row[x * 3 + FI_RGBA_GREEN] / 255.0,
                       row[x * 3 + FI_RGBA_BLUE] / 255.0};
        }
    }
    FreeImage_Unload(bmp);
    return ok;
}

// Bilinear lookup with wrap-around, the texture's v = 0 at its bottom row.
V3 Sample(const Picture& t, V2 uv)
{
    double u = uv.x - std::floor(uv.x), v = uv.y - std::floor(uv.y);
    double gx = u * t.w - 0.5, gy = v * t.h - 0.5;
    double fx = std::floor(gx), fy = std::floor(gy);
    int x0 = WrapIndex(TruncToInt(fx), t.w), y0 = WrapIndex(TruncToInt(fy), t.h);
    int x1 = (x0 + 1) % t.w, y1 = (y0 + 1) % t.h;
    double ax = gx - fx, ay = gy - fy;
    V3 a = Lerp(t.px[y0 * t.w + x0], t.px[y0 * t.w + x1], ax);
    V3 b = Lerp(t.px[y1 * t.w + x0], t.px[y1 * t.w + x1], ax);
    return Lerp(a, b, ay);
}

struct Camera {
    bool persp;
    V3 eye, fwd, right, up;
    double scale;  // pixels per unit (orthographic) or focal length in pixels
    int x0, y0, w, h;
};

Camera LookAt(V3 eye, V3 target, double focal, int x0, int y0, int w, int h)
{
    V3 f = Normalize(target - eye);
    V3 r = Normalize(Cross(f, {0.0, 1.0, 0.0}));
    return {true, eye, f, r, Cross(r, f), focal, x0, y0, w, h};
}

struct Frame {
    int w, h;
    std::vector<V3> c;
    std::vector<double> z;
};

const V3 kLightDir = Normalize({0.45, 0.8, 0.4});

void DrawMesh(Frame& f, const Camera& cam, const Loaded& m, const Picture* tex, V3 tint,
              double alpha)
{
    struct SV {
        double x, y, depth, iw;
    };
    auto project = [&](V3 p, SV& s) {
        V3 rel = p - cam.eye;
        double d = Dot(rel, cam.fwd);
        if (cam.persp) {
            if (d < 0.05) return false;
            s = {cam.x0 + cam.w * 0.5 + cam.scale * Dot(rel, cam.right) / d,
                 cam.y0 + cam.h * 0.5 - cam.scale * Dot(rel, cam.up) / d, d, 1.0 / d};
        } else {
            s = {cam.x0 + cam.w * 0.5 + cam.scale * Dot(rel, cam.right),
                 cam.y0 + cam.h * 0.5 - cam.scale * Dot(rel, cam.up), d, 1.0};
        }
        return true;
    };
    for (size_t t = 0; t + 2 < m.pos.size(); t += 3) {
        SV s[3];
        if (!project(m.pos[t], s[0]) || !project(m.pos[t + 1], s[1]) ||
            !project(m.pos[t + 2], s[2]))
            continue;
        double area = (s[1].x - s[0].x) * (s[2].y - s[0].y) - (s[2].x - s[0].x) * (s[1].y - s[0].y);
        if (std::fabs(area) < 1e-12) continue;
        int xa = std::max(cam.x0, TruncToInt(std::floor(std::min({s[0].x, s[1].x, s[2].x}))));
        int xb =
            std::min(cam.x0 + cam.w - 1, TruncToInt(std::ceil(std::max({s[0].x, s[1].x, s[2].x}))));
        int ya = std::max(cam.y0, TruncToInt(std::floor(std::min({s[0].y, s[1].y, s[2].y}))));
        int yb =
            std::min(cam.y0 + cam.h - 1, TruncToInt(std::ceil(std::max({s[0].y, s[1].y, s[2].y}))));
        for (int y = ya; y <= yb; ++y) {
            for (int x = xa; x <= xb; ++x) {
                double px = x + 0.5, py = y + 0.5;
                double b0 = ((s[1].x - px) * (s[2].y - py) - (s[2].x - px) * (s[1].y - py)) / area;
                double b1 = ((s[2].x - px) * (s[0].y - py) - (s[0].x - px) * (s[2].y - py)) / area;
                double b2 = 1.0 - b0 - b1;
                if (b0 < 0.0 || b1 < 0.0 || b2 < 0.0) continue;
                double iw = b0 * s[0].iw + b1 * s[1].iw + b2 * s[2].iw;
                double w0 = b0 * s[0].iw / iw, w1 = b1 * s[1].iw / iw, w2 = b2 * s[2].iw / iw;
                double depth =
                    cam.persp ? 1.0 / iw : b0 * s[0].depth + b1 * s[1].depth + b2 * s[2].depth;
                size_t o = static_cast<size_t>(y) * f.w + x;
                if (depth >= f.z[o]) continue;
                V3 n = Normalize(m.nrm[t] * w0 + m.nrm[t + 1] * w1 + m.nrm[t + 2] * w2);
                V3 col = tint;
                if (tex) {
                    V2 uv = m.uv[t] * w0 + m.uv[t + 1] * w1 + m.uv[t + 2] * w2;
                    col = Mul(col, Sample(*tex, uv));
                }
                double lambert = std::max(0.0, Dot(n, kLightDir));
                col = col * (0.40 + 0.75 * lambert);
                if (alpha >= 1.0) {
                    f.c[o] = col;
                    f.z[o] = depth;
                } else {
                    f.c[o] = Lerp(f.c[o], col, alpha);
                }
            }
        }
    }
}

struct Scene {
    Loaded body, glass, wheels[4], floor;
    Picture bodyTex, wheelTex, floorTex;
};

void RenderView(Frame& f, const Camera& cam, const Scene& sc, bool floor)
{
    for (int y = cam.y0; y < cam.y0 + cam.h; ++y) {
        for (int x = cam.x0; x < cam.x0 + cam.w; ++x) {
            double t = static_cast<double>(y - cam.y0) / cam.h;
            f.c[static_cast<size_t>(y) * f.w + x] =
                Lerp(V3{0.62, 0.70, 0.80}, V3{0.88, 0.90, 0.92}, t);
            f.z[static_cast<size_t>(y) * f.w + x] = 1e30;
        }
    }
    if (floor && cam.eye.y > -0.5) DrawMesh(f, cam, sc.floor, &sc.floorTex, Grey(1.0), 1.0);
    DrawMesh(f, cam, sc.body, &sc.bodyTex, Grey(1.0), 1.0);
    for (const Loaded& w : sc.wheels) DrawMesh(f, cam, w, &sc.wheelTex, Grey(1.0), 1.0);
    DrawMesh(f, cam, sc.glass, nullptr, {0.45, 0.55, 0.62}, 0.55);
    if (!cam.persp && std::fabs(cam.up.y) > 0.5) {
        // The floor seen edge-on: a red line at y = -0.5.
        double row = cam.y0 + cam.h * 0.5 - cam.scale * Dot(V3{0.0, -0.5, 0.0} - cam.eye, cam.up);
        int r = TruncToInt(std::floor(row));
        for (int x = cam.x0; x < cam.x0 + cam.w; ++x)
            if (r >= cam.y0 && r < cam.y0 + cam.h)
                f.c[static_cast<size_t>(r) * f.w + x] = {0.9, 0.1, 0.1};
    }
    for (int x = cam.x0; x < cam.x0 + cam.w; ++x)
        f.c[static_cast<size_t>(cam.y0) * f.w + x] = Grey(0.2);
    for (int y = cam.y0; y < cam.y0 + cam.h; ++y)
        f.c[static_cast<size_t>(y) * f.w + cam.x0] = Grey(0.2);
}

bool SaveFrame(const Frame& f, const std::string& path)
{
    Canvas cv(f.w, f.h, Grey(0.0));
    for (int y = 0; y < f.h; ++y)
        for (int x = 0; x < f.w; ++x) cv.Put(x, y, f.c[static_cast<size_t>(y) * f.w + x]);
    return SaveCanvas(cv, path, false);
}

// Two large perspective views, front three-quarter and rear three-quarter.
bool WriteCloseUp(const Scene& sc, const std::string& path)
{
    const int pw = 800, ph = 700;
    Frame f = {2 * pw, ph, std::vector<V3>(static_cast<size_t>(2 * pw) * ph),
               std::vector<double>(static_cast<size_t>(2 * pw) * ph, 1e30)};
    RenderView(f, LookAt({1.9, 0.55, 1.5}, {0.0, -0.12, 0.0}, 640.0, 0, 0, pw, ph), sc, true);
    RenderView(f, LookAt({-1.7, 0.75, -1.8}, {0.0, -0.12, 0.0}, 640.0, pw, 0, pw, ph), sc, true);
    return SaveFrame(f, path);
}

// One perspective view from eye toward target, for looking at a detail.
bool WriteView(const Scene& sc, const std::string& path, V3 eye, V3 target, double focal)
{
    const int pw = 1000, ph = 700;
    Frame f = {pw, ph, std::vector<V3>(static_cast<size_t>(pw) * ph),
               std::vector<double>(static_cast<size_t>(pw) * ph, 1e30)};
    RenderView(f, LookAt(eye, target, focal, 0, 0, pw, ph), sc, true);
    return SaveFrame(f, path);
}

bool WritePreview(const Scene& sc, const std::string& path)
{
    const int pw = 600, ph = 400;
    Frame f = {3 * pw, 2 * ph, {}, {}};
    f.c.assign(static_cast<size_t>(f.w) * f.h, Grey(0.0));
    f.z.assign(static_cast<size_t>(f.w) * f.h, 1e30);
    const V3 up = {0.0, 1.0, 0.0};
    Camera cams[6] = {
        {false, {0.0, 0.0, 10.0}, {0.0, 0.0, -1.0}, {1.0, 0.0, 0.0}, up, 200.0, 0, 0, pw, ph},
        {false, {10.0, 0.0, 0.0}, {-1.0, 0.0, 0.0}, {0.0, 0.0, -1.0}, up, 250.0, pw, 0, pw, ph},
        {false, {-10.0, 0.0, 0.0}, {1.0, 0.0, 0.0}, {0.0, 0.0, 1.0}, up, 250.0, 2 * pw, 0, pw, ph},
        {false,
         {0.0, 10.0, 0.0},
         {0.0, -1.0, 0.0},
         {1.0, 0.0, 0.0},
         {0.0, 0.0, -1.0},
         200.0,
         0,
         ph,
         pw,
         ph},
        LookAt({2.6, 1.0, 2.3}, {0.0, -0.15, 0.0}, 520.0, pw, ph, pw, ph),
        LookAt({-2.4, 1.3, -2.6}, {0.0, -0.15, 0.0}, 520.0, 2 * pw, ph, pw, ph)};
    for (int i = 0; i < 6; ++i) RenderView(f, cams[i], sc, i >= 3);
    std::string close = path.size() > 4 ? path.substr(0, path.size() - 4) + "_close.png" : path;
    return SaveFrame(f, path) && WriteCloseUp(sc, close);
}

bool LoadScene(const PlacedCar& car, const std::string& outDir, Scene& sc)
{
    sc.body = FromObject(car.body);
    sc.glass = FromObject(car.glass);
    for (int i = 0; i < 4; ++i) sc.wheels[i] = FromObject(car.wheels[i]);
    // The floor exactly as the demo builds it.
    const V3 fp[6] = {{-3, -0.5, 3}, {3, -0.5, 3},   {3, -0.5, -3},
                      {3, -0.5, -3}, {-3, -0.5, -3}, {-3, -0.5, 3}};
    const V2 ft[6] = {{-5, -5}, {5, -5}, {5, 5}, {5, 5}, {-5, 5}, {-5, -5}};
    for (int i = 0; i < 6; ++i) {
        sc.floor.pos.push_back(fp[i]);
        sc.floor.uv.push_back(ft[i]);
        sc.floor.nrm.push_back({0.0, 1.0, 0.0});
    }
    const std::string dir = outDir + "/Models/golf/";
    return LoadPicture(dir + kBodyTexture, sc.bodyTex) &&
           LoadPicture(dir + kWheelTexture, sc.wheelTex) &&
           LoadPicture(outDir + "/" + kFloorTexture, sc.floorTex);
}

}  // namespace

bool WritePreviews(const PlacedCar& car, const std::string& outDir, const std::string& preview,
                   const std::vector<DetailView>& views)
{
    if (preview.empty()) return true;
    Scene sc;
    if (!LoadScene(car, outDir, sc) || !WritePreview(sc, preview)) {
        std::printf("FAILED: preview %s\n", preview.c_str());
        return false;
    }
    std::printf("Preview written to %s\n", preview.c_str());
    for (const DetailView& v : views) {
        if (!WriteView(sc, v.path, v.eye, v.target, v.focal)) {
            std::printf("FAILED: view %s\n", v.path.c_str());
            return false;
        }
    }
    return true;
}
