// Models from files in the public interface: loading, drawing their parts, and the model view
// that krv-render and the Python module share (framing, camera, light, shadow, floor, and the
// exact depth, normal and part-id passes).
#include "api/krv.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

void Report(const std::string& line) { krvReportError((line + "\r\n").c_str()); }

std::string Size(int width, int height)
{
    return std::to_string(width) + " x " + std::to_string(height);
}

// The shadow pass looks from the light at the origin through a square 45-degree frustum from
// 2.85 to 8.5 (krvGenTextureShadowProjection): a light this far from the centre has the whole
// unit sphere inside it.
const float kMinShadowLight = 2.85f + 1.0f, kMaxShadowLight = 8.5f - 1.0f;
const int kShadowMapSide = 2048;
const float kPi = 3.14159265358979f;

bool Transparent(const CModelPart& p) { return p.colour.w < 1.0f; }

// The model's unit frame: centre and radius of the sphere around its box.
struct Frame {
    vec3 centre = vec3(0.0f);
    float radius = 1.0f;
    float floorY = -1.0f;  // the lowest point of the box in the unit frame
    mat4x4 model = mat4x4(1.0f);
};

bool FrameOf(const CModel& m, Frame& f, const char* call)
{
    f.centre = (m.boxMin + m.boxMax) * 0.5f;
    const vec3 half = (m.boxMax - m.boxMin) * 0.5f;
    float radius = std::sqrt(dot(half, half));
    if (!std::isfinite(radius) || !std::isfinite(f.centre.x) || !std::isfinite(f.centre.y) ||
        !std::isfinite(f.centre.z)) {
        Report(std::string(call) + ": coordinates too large to frame");
        return false;
    }
    if (!(radius > 0.0f)) radius = 1.0f;  // a single point: nothing to scale
    f.radius = radius;
    f.floorY = -half.y / radius;
    const float s = 1.0f / radius;
    f.model = scale(s, s, s) * translate(-f.centre.x, -f.centre.y, -f.centre.z);
    return true;
}

struct Camera {
    mat4x4 view = mat4x4(1.0f);
    mat4x4 projection = mat4x4(1.0f);
    vec3 eye = vec3(0.0f);
    float zNear = 0.1f, zFar = 100.0f;
};

// The camera of view for a width x height picture. tight: near and far planes hug the unit
// sphere (the depth pass, which has no floor), for the most depth resolution.
bool CameraOf(const CModelView& v, int width, int height, bool tight, Camera& c, const char* call)
{
    if (!(v.fieldOfView >= 1.0f && v.fieldOfView <= 170.0f)) {
        Report(std::string(call) + ": a field of view of " + std::to_string(v.fieldOfView) +
               " degrees is not 1 to 170");
        return false;
    }
    const float aspect = static_cast<float>(width) / static_cast<float>(height);
    vec3 eye, target(0.0f), up(0.0f, 1.0f, 0.0f);
    if (v.lookAt) {
        eye = v.eye;
        target = v.target;
        up = v.up;
    } else {
        if (!(v.pitch >= -89.0f && v.pitch <= 89.0f) || !std::isfinite(v.yaw)) {
            Report(std::string(call) + ": pitch must be -89 to 89 degrees and yaw finite");
            return false;
        }
        float distance = v.distance;
        if (distance == 0.0f) {
            const float halfHeight = std::tan(v.fieldOfView * 0.5f * kPi / 180.0f);
            const float halfNarrow = std::atan(aspect < 1.0f ? halfHeight * aspect : halfHeight);
            distance = 1.08f / std::sin(halfNarrow);
        }
        if (!(distance > 0.0f && distance < 1e6f)) {
            Report(std::string(call) + ": a camera distance of " + std::to_string(distance) +
                   " is not above 0");
            return false;
        }
        const float y = v.yaw * kPi / 180.0f, p = v.pitch * kPi / 180.0f;
        eye = vec3(distance * std::cos(p) * std::sin(y), distance * std::sin(p),
                   distance * std::cos(p) * std::cos(y));
    }
    const vec3 forward = target - eye;
    const float length = std::sqrt(dot(forward, forward));
    const vec3 side = cross(forward, up);
    if (!(length > 1e-6f && length < 1e6f) || !(dot(side, side) > 1e-12f) ||
        !std::isfinite(dot(side, side))) {
        Report(std::string(call) +
               ": the camera cannot look from its eye to its target with "
               "that up direction");
        return false;
    }
    // The unit sphere lies within |eye| + 1 of the eye; the floor within 4.25 of the centre.
    const float reach = std::sqrt(dot(eye, eye));
    if (tight) {
        c.zNear = std::max(reach - 1.05f, reach * 0.001f + 1e-4f);
        c.zFar = reach + 1.05f;
    } else {
        c.zNear = std::max(reach - 4.3f, 0.05f);
        c.zFar = reach + 4.3f;
    }
    c.eye = eye;
    c.view = look(eye, target, up);
    c.projection = perspective(v.fieldOfView, aspect, c.zNear, c.zFar);
    return true;
}

bool HaveBuffers(const char* call)
{
    const _3D_Korvane_Rendering& r = krvRendering();
    if (!r.colorBuffer || r.width <= 0 || r.height <= 0) {
        Report(std::string(call) + ": there is no picture (no window or offscreen image)");
        return false;
    }
    return true;
}

bool CheckModel(const CModel* model, const CModelView* view, const char* call)
{
    if (!model || !view) {
        Report(std::string(call) + ": no model or no view");
        return false;
    }
    return HaveBuffers(call);
}

// The floor: a 6 x 6 square under the model, light grey, in the unit frame.
void FloorVertices(float y, CVertex out[6])
{
    static const float corners[6][2] = {{-3, 3}, {3, 3}, {3, -3}, {3, -3}, {-3, -3}, {-3, 3}};
    for (int i = 0; i < 6; ++i) {
        CVertex& v = out[i];
        v = CVertex();
        v.x = corners[i][0];
        v.y = y;
        v.z = corners[i][1];
        v.r = v.g = v.b = 0.8f;
        v.ny = 1.0f;
    }
}

// The shadow map of the last colour view: the light and model it was drawn for, so that a
// turntable (the camera moving, the light still) draws it once.
struct ShadowCache {
    const CModel* model = nullptr;
    const CModelPart* parts = nullptr;
    int partCount = -1;
    vec3 light = vec3(0.0f);
    bool valid = false;
} shadowCache;

const CModel* casterModel = nullptr;
mat4x4 casterMatrix = mat4x4(1.0f);

void DrawCasters()
{
    // Front faces culled: the map holds the far side, so a lit surface does not shadow itself.
    _3D_Korvane_Rendering& r = krvRendering();
    const mat4x4 lightViewProjection = r.GetModelViewProjectionMatrix();
    r.LoadModelViewProjectionMatrix(lightViewProjection * casterMatrix);
    krvCullFace(KrvCullMode_Front);
    for (int i = 0; i < casterModel->partCount; ++i) {
        const CObject& o = casterModel->parts[i].object;
        krvDrawArray(o.Vertex, 0, o.NumVertex);
    }
    krvCullFace(KrvCullMode_None);
    r.LoadModelViewProjectionMatrix(lightViewProjection);
}

// Saves and restores the switches and binds a model view changes, so a program's own state
// survives it.
struct StateGuard {
    _3D_Korvane_Rendering& r = krvRendering();
    bool texturing = r.texturing, lighting = r.lighting, shadowMapping = r.shadowMapping,
         transparency = r.transparency, transparencySet = r.TransparencySet, fog = r.fog,
         material = r.material, alphaBlend = r.alphaBlend;
    float transparencyValue = r.Transparency;
    int cullFace = r.GetCullFace();
    CLight* light = r.light;
    CTexture* texture = r.texture0;
    CTexture* shadowMap = r.shadowMap;
    mat4x4 mvp = r.GetModelViewProjectionMatrix();
    mat4x4 shadowMatrix = r.shadowMapMatrix;
    ~StateGuard()
    {
        r.texturing = texturing;
        r.lighting = lighting;
        r.shadowMapping = shadowMapping;
        r.transparency = transparency;
        r.TransparencySet = transparencySet;
        r.Transparency = transparencyValue;
        r.fog = fog;
        r.material = material;
        r.alphaBlend = alphaBlend;
        r.SetCullFace(cullFace);
        r.BindLight(light);
        r.BindTexture(texture);
        r.BindShadowMap(shadowMap);
        r.LoadModelViewProjectionMatrix(mvp);
        r.LoadShadowMapMatrix(shadowMatrix);
    }
};

// Paints the background colour where nothing was drawn (depth still at the cleared 65535).
void PaintBackground(const vec3& background)
{
    _3D_Korvane_Rendering& r = krvRendering();
    if (!r.targetColor || !r.targetDepth) return;
    uint8 bgr[3];
    const vec3 c(krvi::Clamp01(background.x), krvi::Clamp01(background.y),
                 krvi::Clamp01(background.z));
    bgr[0] = static_cast<uint8>(TruncToInt(c.z * 255.0f + 0.5f));
    bgr[1] = static_cast<uint8>(TruncToInt(c.y * 255.0f + 0.5f));
    bgr[2] = static_cast<uint8>(TruncToInt(c.x * 255.0f + 0.5f));
    if (!bgr[0] && !bgr[1] && !bgr[2]) return;
    const int w = std::min(r.targetColorWidth, r.targetDepthWidth);
    const int h = std::min(r.targetColorHeight, r.targetDepthHeight);
    for (int y = 0; y < h; ++y) {
        const unsigned short* d = r.targetDepth + static_cast<size_t>(y) * r.targetDepthWidth;
        uint8* p = r.targetColor + static_cast<size_t>(y) * r.targetColorWidth * 3u;
        for (int x = 0; x < w; ++x)
            if (d[x] == 0xFFFF) std::copy(bgr, bgr + 3, p + static_cast<size_t>(x) * 3u);
    }
}

enum Pass { Pass_Depth, Pass_Normals, Pass_Ids };

// Draws the model for an exact pass: flat vertex colours (the normal or the id), nothing that
// blends or shades, supersampling off for the pass.
bool DrawExactPass(const CModel& model, const CModelView& view, Pass pass, const char* call,
                   Camera& camera)
{
    _3D_Korvane_Rendering& r = krvRendering();
    Frame frame;
    if (!FrameOf(model, frame, call) ||
        !CameraOf(view, r.width, r.height, pass == Pass_Depth, camera, call))
        return false;
    StateGuard guard;
    r.texturing = r.lighting = r.transparency = r.fog = r.material = r.alphaBlend = false;
    r.TransparencySet = false;
    r.BindTexture(nullptr);
    r.BindShadowMap(nullptr);
    r.SetCullFace(KrvCullMode_None);
    krvClear(KrvClear_Both);
    r.LoadModelViewProjectionMatrix(camera.projection * camera.view * frame.model);
    const mat4x4& v = camera.view;
    std::vector<CVertex> copy;
    for (int i = 0; i < model.partCount; ++i) {
        const CObject& o = model.parts[i].object;
        if (!o.Vertex || o.NumVertex < 3) continue;
        if (pass == Pass_Depth) {
            krvDrawArray(o.Vertex, 0, o.NumVertex);
            continue;
        }
        copy.assign(o.Vertex, o.Vertex + o.NumVertex);
        // The id in the low and high bytes of red and green, each at the middle of its byte's
        // range: the interpolated colour of three equal vertex colours stays within a rounding
        // error of it, far from the truncation's edges.
        const int id = i + 1;
        const float idRed = (static_cast<float>(id & 255) + 0.5f) / 255.0f;
        const float idGreen = (static_cast<float>(id >> 8) + 0.5f) / 255.0f;
        for (CVertex& c : copy) {
            if (pass == Pass_Ids) {
                c.r = idRed;
                c.g = idGreen;
                c.b = 0.5f / 255.0f;
                continue;
            }
            // The view's rotation (the framing only scales) turns the normal.
            vec3 n(v[0] * c.nx + v[4] * c.ny + v[8] * c.nz, v[1] * c.nx + v[5] * c.ny + v[9] * c.nz,
                   v[2] * c.nx + v[6] * c.ny + v[10] * c.nz);
            const float len = std::sqrt(dot(n, n));
            n = len > 0.0f && std::isfinite(len) ? n / len : vec3(0.0f);
            c.r = krvi::Clamp01((n.x + 1.0f) * 0.5f);
            c.g = krvi::Clamp01((n.y + 1.0f) * 0.5f);
            c.b = krvi::Clamp01((n.z + 1.0f) * 0.5f);
        }
        krvDrawArray(copy.data(), 0, static_cast<int>(copy.size()));
    }
    return true;
}

// Runs an exact pass with supersampling off, restoring it afterwards (the buffers are
// reallocated both times, their contents lost).
template <class Read>
bool ExactPass(const CModel* model, const CModelView* view, Pass pass, const char* call, Read read)
{
    if (!CheckModel(model, view, call)) return false;
    _3D_Korvane_Rendering& r = krvRendering();
    const int aa = r.antiAliasing;
    if (aa != KrvAA_Off) krvSetAntiAliasing(KrvAA_Off);
    Camera camera;
    bool ok = HaveBuffers(call) && DrawExactPass(*model, *view, pass, call, camera) && read(camera);
    if (aa != KrvAA_Off) krvSetAntiAliasing(aa);
    return ok;
}

bool CheckCount(const char* call, size_t have, size_t per, const char* unit)
{
    const _3D_Korvane_Rendering& r = krvRendering();
    const size_t needed = static_cast<size_t>(r.width) * static_cast<size_t>(r.height) * per;
    if (have < needed) {
        Report(std::string(call) + ": the " + Size(r.width, r.height) + " picture needs " +
               std::to_string(needed) + " " + unit + ", the buffer holds " + std::to_string(have));
        return false;
    }
    return true;
}

// The stored depth of picture pixel (x, y), y counted from the top: with supersampling the
// nearest of its samples.
unsigned short DepthAt(int x, int y)
{
    const _3D_Korvane_Rendering& r = krvRendering();
    const int rowFromBottom = r.height - 1 - y;
    if (r.depthWidth == r.width) {
        return r.depthBuffer[static_cast<size_t>(rowFromBottom) * r.depthWidth + x];
    }
    const int f = r.width > 0 ? r.depthWidth / r.width : 1;
    unsigned short best = 0xFFFF;
    for (int j = 0; j < f; ++j)
        for (int i = 0; i < f; ++i) {
            const size_t at = static_cast<size_t>(rowFromBottom * f + j) * r.depthWidth +
                              static_cast<size_t>(x * f + i);
            best = std::min(best, r.depthBuffer[at]);
        }
    return best;
}

}  // namespace

bool krvReadDepth(float* depth, size_t count)
{
    if (!HaveBuffers("krvReadDepth")) return false;
    const _3D_Korvane_Rendering& r = krvRendering();
    if (!r.depthBuffer) {
        Report("krvReadDepth: there is no depth buffer");
        return false;
    }
    if (!CheckCount("krvReadDepth", depth ? count : 0, 1, "floats")) return false;
    for (int y = 0; y < r.height; ++y)
        for (int x = 0; x < r.width; ++x)
            depth[static_cast<size_t>(y) * r.width + x] =
                static_cast<float>(DepthAt(x, y)) / 65535.0f;
    return true;
}

bool krvLoadModel(CModel* model, const char* path)
{
    if (!model) {
        Report("krvLoadModel: no model record");
        return false;
    }
    if (!path || !*path) {
        *model = CModel();
        Report("krvLoadModel: no file name");
        return false;
    }
    if (shadowCache.model == model) shadowCache.valid = false;
    return krvs::ImportModel(*model, path);
}

void krvDestroyModel(CModel* model)
{
    // A model loaded later may get the same record and part addresses: the shadow map of this
    // one must not be taken for its.
    if (model && shadowCache.model == model) shadowCache.valid = false;
    if (model) krvs::DestroyModel(*model);
}

void krvDrawModelParts(const CModel* model)
{
    if (!model || !model->parts) return;
    _3D_Korvane_Rendering& r = krvRendering();
    const bool transparency = r.transparency, transparencySet = r.TransparencySet;
    const float transparencyValue = r.Transparency;
    std::vector<CVertex> faded;
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < model->partCount; ++i) {
            const CModelPart& p = model->parts[i];
            if (Transparent(p) != (round == 1) || !p.object.Vertex || p.object.NumVertex < 3)
                continue;
            r.BindTexture(p.textured && p.texture.Bits ? const_cast<CTexture*>(&p.texture)
                                                       : nullptr);
            if (round == 0) {
                krvDrawArray(p.object.Vertex, 0, p.object.NumVertex);
                continue;
            }
            // Blended: the target keeps 1 - opacity of itself and the part adds its colour
            // times its opacity.
            const float a = krvi::Clamp01(p.colour.w);
            faded.assign(p.object.Vertex, p.object.Vertex + p.object.NumVertex);
            for (CVertex& v : faded) {
                v.r *= a;
                v.g *= a;
                v.b *= a;
            }
            r.transparency = true;
            r.TransparencySet = true;
            r.Transparency = 1.0f - a;
            krvDrawArray(faded.data(), 0, static_cast<int>(faded.size()));
        }
    }
    r.transparency = transparency;
    r.TransparencySet = transparencySet;
    r.Transparency = transparencyValue;
    r.BindTexture(nullptr);
}

bool krvRenderModelView(const CModel* model, const CModelView* view)
{
    const char* call = "krvRenderModelView";
    if (!CheckModel(model, view, call)) return false;
    _3D_Korvane_Rendering& r = krvRendering();
    Frame frame;
    Camera camera;
    if (!FrameOf(*model, frame, call) || !CameraOf(*view, r.width, r.height, false, camera, call))
        return false;
    const vec3 light = view->light;
    const float lightDistance = std::sqrt(dot(light, light));
    const bool shadows = view->shadows && view->lighting;
    if (shadows && !(lightDistance >= kMinShadowLight && lightDistance <= kMaxShadowLight)) {
        Report(std::string(call) + ": the light is " + std::to_string(lightDistance) +
               " from the centre; with shadows it must be 3.85 to 7.5");
        return false;
    }
    if (view->lighting && !(lightDistance > 1e-6f && std::isfinite(lightDistance))) {
        Report(std::string(call) + ": the light cannot be at the centre");
        return false;
    }
    StateGuard guard;
    r.fog = r.material = r.alphaBlend = r.transparency = false;
    r.TransparencySet = false;
    // The pipeline lights with a third of the light over its attenuation (the formula the
    // demo's pictures rely on): a constant attenuation of a third gives a surface facing the
    // light its full colour, not a third of it. The lit colour is written
    // without a clamp (its low 8 bits), so ambient, diffuse and specular stay below 1 together.
    CLight unitLight = krvSetLight(light, vec3(0.3f, 0.3f, 0.3f), vec3(0.6f, 0.6f, 0.6f),
                                   vec3(0.09f, 0.09f, 0.09f), 0, 0, 0);
    unitLight.constantAttenuation = krvi::kLightShare;
    // The light in the model's own coordinates, where its vertices are lit.
    CLight modelLight = unitLight;
    modelLight.position = frame.centre + light * frame.radius;

    if (shadows) {
        r.shadowMapping = true;
        const bool cached = shadowCache.valid && shadowCache.model == model &&
                            shadowCache.parts == model->parts &&
                            shadowCache.partCount == model->partCount &&
                            shadowCache.light.x == light.x && shadowCache.light.y == light.y &&
                            shadowCache.light.z == light.z && r.ShadowTexture.Bits;
        if (!cached) {
            krvGenTextureShadowProjection(kShadowMapSide, kShadowMapSide);
            casterModel = model;
            casterMatrix = frame.model;
            r.RenderShadowMap(unitLight, DrawCasters);
            shadowCache.model = model;
            shadowCache.parts = model->parts;
            shadowCache.partCount = model->partCount;
            shadowCache.light = light;
            shadowCache.valid = r.ShadowTexture.Bits != nullptr;
        }
    }
    r.texturing = true;
    r.lighting = view->lighting;
    r.SetCullFace(KrvCullMode_None);  // any winding: a model's faces are drawn from both sides
    r.BindShadowMap(shadows ? &r.ShadowTexture : nullptr);
    r.shadowMapping = shadows;
    krvClear(KrvClear_Both);

    const mat4x4 viewProjection = camera.projection * camera.view;
    const mat4x4 shadowUnit = BiasMatrix * r.LightViewProjection;
    if (view->floor) {
        CVertex floor[6];
        FloorVertices(frame.floorY, floor);
        r.BindLight(view->lighting ? &unitLight : nullptr);
        r.LoadShadowMapMatrix(shadowUnit);
        r.LoadModelViewProjectionMatrix(viewProjection);
        r.BindTexture(nullptr);
        krvDrawArray(floor, 0, 6);
    }
    r.BindLight(view->lighting ? &modelLight : nullptr);
    r.LoadShadowMapMatrix(shadowUnit * frame.model);
    r.LoadModelViewProjectionMatrix(viewProjection * frame.model);
    krvDrawModelParts(model);
    PaintBackground(view->background);
    r.BindLight(nullptr);
    return true;
}

bool krvRenderModelDepth(const CModel* model, const CModelView* view, float* depth, size_t count)
{
    const char* call = "krvRenderModelDepth";
    return ExactPass(model, view, Pass_Depth, call, [&](const Camera& c) {
        if (!CheckCount(call, depth ? count : 0, 1, "floats")) return false;
        const _3D_Korvane_Rendering& r = krvRendering();
        const float n = c.zNear, f = c.zFar;
        for (int y = 0; y < r.height; ++y)
            for (int x = 0; x < r.width; ++x) {
                const unsigned short d = DepthAt(x, y);
                float z = std::numeric_limits<float>::infinity();
                if (d != 0xFFFF) {
                    // The stored value truncates the window depth: its middle is nearest.
                    const double w = (static_cast<double>(d) + 0.5) / 65535.0;
                    const double ndc = w * 2.0 - 1.0;
                    const double fd = static_cast<double>(f), nd = static_cast<double>(n);
                    z = static_cast<float>(2.0 * fd * nd / (fd + nd - ndc * (fd - nd)));
                }
                depth[static_cast<size_t>(y) * r.width + x] = z;
            }
        return true;
    });
}

bool krvRenderModelNormals(const CModel* model, const CModelView* view, unsigned char* rgb,
                           size_t bytes)
{
    const char* call = "krvRenderModelNormals";
    return ExactPass(model, view, Pass_Normals, call, [&](const Camera&) {
        if (!CheckCount(call, rgb ? bytes : 0, 3, "bytes")) return false;
        return krvReadPixels(rgb, bytes);
    });
}

bool krvRenderModelIds(const CModel* model, const CModelView* view, unsigned short* ids,
                       size_t count)
{
    const char* call = "krvRenderModelIds";
    return ExactPass(model, view, Pass_Ids, call, [&](const Camera&) {
        if (!CheckCount(call, ids ? count : 0, 1, "ids")) return false;
        const _3D_Korvane_Rendering& r = krvRendering();
        for (int y = 0; y < r.height; ++y) {
            const uint8* row =
                r.colorBuffer + static_cast<size_t>(r.height - 1 - y) * r.colorWidth * 3u;
            for (int x = 0; x < r.width; ++x) {
                const uint8* p = row + static_cast<size_t>(x) * 3u;
                // Blue, green, red: the id's high byte in green, low byte in red.
                ids[static_cast<size_t>(y) * r.width + x] =
                    static_cast<unsigned short>(p[2] | (p[1] << 8));
            }
        }
        return true;
    });
}
