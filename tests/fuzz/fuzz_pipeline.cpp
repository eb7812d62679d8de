// Fuzzer of the triangle pipeline: the input is a program of operations on the one rendering
// context, through the krv interface and the core's own calls: buffer sizes, viewports,
// anti-aliasing, render and cull modes, every switch, fog, matrices, bound textures (small
// ones made here, in every format, and an empty one), a light, the material, alpha and
// transparency, frame buffers, the shadow pass, the texture camera, presentation, threads and
// SIMD lanes, and draws of vertices holding anything: NaN, infinities, huge and denormal values,
// with ranges from the hostile ints too.
//
// Every input starts from a context as the program gets it, so that an input replays alone.
// Sizes and draw counts are bounded: the costliest input (16 draws of 16 screen-filling
// triangles into a 48 x 48 target at 16x supersampling, every feature on) takes about two
// seconds under the sanitizers, a fifth of the fuzzer's time limit.
//
// Input: a sequence of operations, each an opcode byte and its operands (see Run). Ints and
// floats are read as a tag byte and then a small value, an entry of a table of awkward values,
// or raw bits. A short input ends the program where it ends; missing bytes read as 0.
#include "api/krv.h"
#include "core/unproject.h"
#include "platform/platform.h"

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

namespace {

class Input {
public:
    Input(const uint8_t* data, size_t size) : p_(data), n_(size) {}
    bool Empty() const { return n_ == 0; }
    uint8_t Byte()
    {
        if (n_ == 0) return 0;
        --n_;
        return *p_++;
    }
    bool Bool() { return (Byte() & 1) != 0; }
    uint32_t U32()
    {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(Byte()) << (8 * i);
        return v;
    }
    // lo..hi inclusive (hi - lo < 256).
    int Small(int lo, int hi) { return lo + Byte() % (hi - lo + 1); }

    int Int()
    {
        static const int kAwkward[] = {
            0,     1,      -1,      2,       3,           7,           16,          17,
            18,    32,     36,      64,      65,          66,          96,          97,
            112,   128,    132,     255,     256,         65535,       65536,       16384,
            16385, -65536, INT_MAX, INT_MIN, INT_MAX - 1, INT_MIN + 1, INT_MAX / 2, INT_MIN / 2};
        const uint8_t tag = Byte();
        switch (tag % 4) {
        case 0: return kAwkward[Byte() % (sizeof kAwkward / sizeof kAwkward[0])];
        case 1: return static_cast<int32_t>(U32());
        default: return static_cast<int8_t>(Byte());
        }
    }

    float Float()
    {
        const float inf = std::numeric_limits<float>::infinity();
        const float nan = std::numeric_limits<float>::quiet_NaN();
        static const float kAwkward[] = {
            0.0f,    -0.0f,       1.0f,       -1.0f,    0.5f,     2.0f,          nan,
            -nan,    inf,         -inf,       FLT_MAX,  -FLT_MAX, FLT_MIN,       1e-45f,
            -1e-45f, 1e30f,       -1e30f,     65535.0f, 65536.0f, 2147483648.0f, -2147483648.0f,
            1e-7f,   0.99999994f, 1.0000001f, 255.0f,   256.0f,   4294967296.0f, 1e19f};
        const uint8_t tag = Byte();
        switch (tag % 8) {
        case 0: return kAwkward[Byte() % (sizeof kAwkward / sizeof kAwkward[0])];
        case 1: {
            const uint32_t bits = U32();
            float f;
            std::memcpy(&f, &bits, sizeof f);
            return f;
        }
        default: return static_cast<float>(static_cast<int8_t>(Byte())) / 32.0f;  // -4..4
        }
    }
    vec3 Vec3()
    {
        const float x = Float(), y = Float();
        return vec3(x, y, Float());
    }

    // A size for buffers and textures: small, a thin strip, or a side the callers must refuse.
    // Never two long sides: a large area is only slow, at every stage.
    void Size(int& w, int& h)
    {
        static const int kRefused[] = {0, -1, INT_MIN, INT_MAX, 16385, 100000};
        const int n = static_cast<int>(sizeof kRefused / sizeof kRefused[0]);
        w = 1 + Byte() % 48;
        h = 1 + Byte() % 48;
        switch (Byte() % 16) {
        case 0: w = kRefused[Byte() % n]; break;
        case 1: h = kRefused[Byte() % n]; break;
        case 2:
            w = 4096;
            h = 1;
            break;
        case 3:
            w = 1;
            h = 4096;
            break;
        default: break;
        }
    }

    mat4x4 Matrix()
    {
        switch (Byte() % 4) {
        case 0: return mat4x4(1.0f);
        case 1: {
            // A camera that sees the unit cube, from a direction the input gives.
            const float fov = Float(), near = Float(), far = Float();
            return perspective(fov, 4.0f / 3.0f, near, far) *
                   look(Vec3(), vec3(0.0f, 0.0f, 0.0f), vec3(0.0f, 1.0f, 0.0f));
        }
        case 2:
            return perspective(45.0f, 1.0f, 0.5f, 20.0f) *
                   look(vec3(1.5f, 2.0f, 3.0f), vec3(0.0f, 0.0f, 0.0f), vec3(0.0f, 1.0f, 0.0f));
        default: {
            mat4x4 m;
            for (int i = 0; i < 16; ++i) m[i] = Float();
            return m;
        }
        }
    }

private:
    const uint8_t* p_;
    size_t n_;
};

// Budgets of one input: operations, and draws (the shadow pass and the texture camera draw the
// vertex buffer again).
const int kMaxOperations = 96;
const int kMaxDraws = 16;
const int kMaxVertices = 48;

int drawsLeft = 0;

// Textures of every kind the pipeline may meet, made once, their texels rewritten for each input
// (draws into the frame buffers change them).
struct Textures {
    CTexture bgr1x1, bgr5x3, bgr16x16, rgba4x4, depth16x16, depth7x9, empty;
    CTexture colorTarget, depthTarget;  // 24 x 20, for the frame buffers
    std::vector<CTexture*> all;

    Textures()
    {
        bgr1x1.Create(1, 1, KrvFormat_BGR);
        bgr5x3.Create(5, 3, KrvFormat_BGR);
        bgr16x16.Create(16, 16, KrvFormat_BGR);
        rgba4x4.Create(4, 4, KrvFormat_RGBA32);
        depth16x16.Create(16, 16, KrvFormat_Depth16);
        depth7x9.Create(7, 9, KrvFormat_Depth16);
        colorTarget.Create(24, 20, KrvFormat_BGR);
        depthTarget.Create(24, 20, KrvFormat_Depth16);
        all = {&bgr1x1,   &bgr5x3,      &bgr16x16,    &rgba4x4, &depth16x16,
               &depth7x9, &colorTarget, &depthTarget, &empty};
    }
    void Refill()
    {
        uint32_t state = 12345u;
        for (CTexture* t : all) {
            if (!t->Bits) continue;
            const int bytes = t->Format == KrvFormat_BGR      ? 3
                              : t->Format == KrvFormat_RGBA32 ? 4
                                                              : 2;
            const size_t n = static_cast<size_t>(t->Width) * static_cast<size_t>(t->Height) *
                             static_cast<size_t>(bytes);
            for (size_t i = 0; i < n; ++i) {
                state = state * 1664525u + 1013904223u;
                t->Bits[i] = static_cast<uint8>(state >> 24);
            }
        }
    }
    CTexture* Pick(Input& in)
    {
        const size_t i = in.Byte() % (all.size() + 1);
        return i < all.size() ? all[i] : nullptr;
    }
};

Textures& TheTextures()
{
    static Textures* t = new Textures();  // for the life of the process
    return *t;
}

HDC TheWindowDC()
{
    static HDC dc = krvplat::CreateImageDC(64, 48);
    return dc;
}

// The rendering context as the program starts with it. Whatever the last input left allocated
// in it is released first, so that nothing grows from input to input.
void FreshContext()
{
    krvSetErrorEcho(false);  // every rejected input reports a line
    _3D_Korvane_Rendering& r = krvRendering();
    r.Destroy();
    r.~_3D_Korvane_Rendering();
    new (&r) _3D_Korvane_Rendering();
    _3D_KRV_Report_Error.Empty();  // the loaders' and generators' reports, which only grow
}

// The draw callback of the shadow pass and the texture camera.
void DrawBuffer()
{
    _3D_Korvane_Rendering& r = krvRendering();
    if (drawsLeft <= 0) return;
    --drawsLeft;
    r.DrawTriangles(r.Buffer, 0, r.BufferSize);
}

void ReadVertex(Input& in, CVertex& v)
{
    v.x = in.Float();
    v.y = in.Float();
    v.z = in.Float();
    v.r = in.Float();
    v.g = in.Float();
    v.b = in.Float();
    v.u = in.Float();
    v.v = in.Float();
    v.nx = in.Float();
    v.ny = in.Float();
    v.nz = in.Float();
}

void Run(Input& in)
{
    _3D_Korvane_Rendering& r = krvRendering();
    Textures& textures = TheTextures();
    CFrameBuffer colorAndDepth, colorOnly, depthOnly;
    colorAndDepth.SetColorTexture(&textures.colorTarget);
    colorAndDepth.SetDepthTexture(&textures.depthTarget);
    colorOnly.SetColorTexture(&textures.bgr16x16);
    depthOnly.SetDepthTexture(&textures.depth7x9);
    CLight light =
        krvSetLight(vec3(0.5f, 3.0f, 2.0f), vec3(0.25f), vec3(0.5f), vec3(0.75f), 0, 0, 0);
    CVertex vertices[kMaxVertices];
    std::memset(vertices, 0, sizeof vertices);

    r.windowDC = TheWindowDC();
    _3D_KRV_Wnd.WMSize(32, 24);  // a window's buffers; the anti-aliasing calls resize to them

    for (int op = 0; op < kMaxOperations && !in.Empty(); ++op) {
        switch (in.Byte() % 24) {
        case 0: {  // buffers: as a window resize does it (by render mode), or directly
            int w, h;
            in.Size(w, h);
            if (in.Bool()) {
                _3D_KRV_Wnd.WMSize(w, h);
            } else {
                r.ResizeBuffers(w, h);
                r.Viewport(0, 0, w, h);
            }
            break;
        }
        case 1: {  // viewport
            const int x = in.Int(), y = in.Int(), w = in.Int(), h = in.Int();
            if (in.Bool())
                krvViewport(x, y, w, h);
            else
                r.Viewport(x, y, w, h);
            break;
        }
        case 2: {  // anti-aliasing, and the filter run on its own
            static const int kModes[] = {KrvAA_Off, KrvAA_2x2, KrvAA_3x3, KrvAA_4x4};
            const int mode = in.Bool() ? kModes[in.Byte() % 4] : in.Int();
            if (in.Bool())
                krvSetAntiAliasing(mode);
            else
                r.SetAntiAliasingFilter(mode);
            break;
        }
        case 3: {
            const int code = in.Small(0, 16);
            krvSwitch(code, in.Bool());
            break;
        }
        case 4: krvCullFace(in.Bool() ? in.Small(16, 18) : in.Int()); break;
        case 5: {
            const int mode = in.Bool() ? in.Small(32, 36) : in.Int();
            const vec3 color = in.Vec3();
            const float start = in.Float(), end = in.Float(), density = in.Float();
            krvSetFog(mode, color, start, end, density, in.Float());
            break;
        }
        case 6: krvLoadMatrix(in.Matrix()); break;
        case 7: r.LoadShadowMapMatrix(in.Matrix()); break;
        case 8: {  // binds: texture units, the shadow map
            const int unit = in.Small(0, 4);
            CTexture* t = textures.Pick(in);
            if (unit <= 2)
                krvBindMultiTexture(unit, t);
            else if (unit == 3)
                r.BindShadowMap(t);
            else
                r.BindTexShadow();
            break;
        }
        case 9: {  // the light
            const vec3 position = in.Vec3(), ambient = in.Vec3(), diffuse = in.Vec3();
            light = krvSetLight(position, ambient, diffuse, in.Vec3(), 0, 0, 0);
            if (in.Bool()) {
                light.constantAttenuation = in.Float();
                light.linearAttenuation = in.Float();
                light.quadraticAttenuation = in.Float();
            }
            switch (in.Small(0, 2)) {
            case 0: krvAddLight(&light); break;
            case 1: r.BindLight(&light); break;
            default: krvResetLight(); break;
            }
            break;
        }
        case 10: {
            const vec3 ambient = in.Vec3(), diffuse = in.Vec3(), specular = in.Vec3();
            krvSetMaterial(ambient, diffuse, specular, in.Float());
            break;
        }
        case 11:
            switch (in.Small(0, 3)) {
            case 0: krvSetAlpha(in.Float()); break;
            case 1: {
                const int what = in.Bool() ? KrvAlpha_Invert : in.Int();
                krvSetAlpha(what, in.Bool());
                break;
            }
            case 2: krvSetTransparecy(in.Float()); break;
            default: krvSetBumpMapTexture(in.Float()); break;
            }
            break;
        case 12: {
            CFrameBuffer* targets[] = {nullptr, &colorAndDepth, &colorOnly, &depthOnly};
            krvBindFrameBuffer(targets[in.Byte() % 4]);
            break;
        }
        case 13: {  // a draw of the input's vertices
            const int n = in.Small(0, kMaxVertices);
            for (int i = 0; i < n; ++i) ReadVertex(in, vertices[i]);
            // Ranges inside the array, as the interface asks of its callers; their ends and
            // the counts past them come from the awkward values.
            int first = in.Small(-2, n);
            int count = in.Bool() ? in.Small(-2, n) : in.Int();
            if (first >= 0 && count > n - first) count = n - first;
            if (drawsLeft-- <= 0) break;
            if (in.Bool())
                r.DrawTriangles(vertices, first, count);
            else
                krvDrawArray(vertices, first, count);
            break;
        }
        case 14: {
            static const int kCodes[] = {KrvClear_Color, KrvClear_Depth, KrvClear_Both};
            krvClear(in.Bool() ? kCodes[in.Byte() % 3] : in.Int());
            break;
        }
        case 15:  // presentation, in any render mode
            krvSetRenderingMode(in.Bool() ? in.Small(128, 132) : in.Int());
            r.SwapBuffers(TheWindowDC());
            break;
        case 16: {
            krvSetThreads(in.Small(1, 2));
            static const int kLanes[] = {0, 1, 4, 8, 16};
            krvSetSimdWidth(in.Bool() ? kLanes[in.Byte() % 5] : in.Int());
            break;
        }
        case 17: {  // the shadow pass into a shadow map of the input's size, then its bind
            if (in.Bool()) {
                int w, h;
                in.Size(w, h);
                krvGenTextureShadowProjection(w, h);
            }
            krvRenderTextureShadowProjection(light, DrawBuffer);
            krvBindTextureShadowProjection();
            break;
        }
        case 18: {  // the texture camera; a view size other than the texture's is allowed
            int w, h, viewW, viewH;
            in.Size(w, h);
            CTexture camera = krvGenTextureCamera(w, h);
            if (in.Bool()) {
                viewW = w;
                viewH = h;
            } else {
                in.Size(viewW, viewH);
            }
            krvBindTextureCamera(viewW, viewH, &camera, DrawBuffer);
            if (in.Bool()) {
                krvBindTexture(&camera);
                if (drawsLeft-- > 0) r.DrawTriangles(r.Buffer, 0, r.BufferSize);
                krvBindTexture(nullptr);
            }
            camera.Destroy();
            break;
        }
        case 19: {  // the vertex buffer, written through the immediate-mode calls
            const int n = in.Small(0, kMaxVertices);
            krvSetVertex(n);
            r.BufferCursor = in.Bool() ? 0 : in.Int();
            const int written = in.Small(0, n);
            for (int i = 0; i < written; ++i) {
                CVertex v;
                ReadVertex(in, v);
                krvVertex3f(v.x, v.y, v.z);
                krvColor3f(v.r, v.g, v.b);
                krvTexture2f(v.u, v.v);
                krvNormal3f(v.nx, v.ny, v.nz);
                krvCount();
            }
            break;
        }
        case 20: {  // transforms of the buffer's selected range
            static const int kModes[] = {KrvMatrixMode_BufferModel, KrvMatrixMode_Object,
                                         KrvMatrixMode_BufferTexture, KrvMatrixMode_ObjectTexture};
            krvMatrixMode(in.Bool() ? kModes[in.Byte() % 4] : in.Int());
            const int kind = in.Bool() ? in.Small(96, 97) : in.Int();
            const int first = in.Int();
            krvSetVertexModel(kind, first, in.Int());
            switch (in.Small(0, 2)) {
            case 0: krvTranslate3fv(in.Vec3()); break;
            case 1: {
                const float angle = in.Float();
                krvRotate3fv(angle, in.Vec3());
                break;
            }
            default: krvScale3fv(in.Vec3()); break;
            }
            break;
        }
        case 21: {
            const int kind = in.Bool() ? in.Small(96, 97) : in.Int();
            const int first = in.Int(), count = in.Int();
            if (drawsLeft-- > 0) krvDrawModel(kind, first, count);
            break;
        }
        case 22: {  // pixel reads and the debug drawing, anywhere
            const int x = in.Int(), y = in.Int();
            const int which = in.Bool() ? in.Small(48, 50) : in.Int();
            (void)r.getPixel(x, y, which);
            const int x1 = in.Int(), y1 = in.Int();
            const float red = in.Float(), green = in.Float(), blue = in.Float();
            switch (in.Small(0, 2)) {
            case 0: r.SetPixel(x, y, red, green, blue); break;
            case 1: r.SetLineBresenham(x, y, x1, y1, red, green, blue); break;
            default: r.SetLineOptimized(x, y, x1, y1, red, green, blue); break;
            }
            break;
        }
        default: {  // the un-projection helpers, and the camera's own matrices
            (void)r.FindOcclusionPoint(in.Vec3());
            const vec3 p = in.Vec3();
            (void)krvUnProject_(p, in.Matrix());
            const int dx = in.Int();
            krvCameraMove(dx, in.Int());
            krvCameraZoom(in.Int());
            if (in.Bool()) {
                const float fov = in.Float(), aspect = in.Float(), near = in.Float();
                krvPerspective(fov, aspect, near, in.Float());
            }
            krvLoadMatrix(krvGetViewProjectionMatrix());
            break;
        }
        }
    }
    // The context must not keep pointers to this call's frame buffers and light.
    krvBindFrameBuffer(nullptr);
    r.light = nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FreshContext();
    TheTextures().Refill();
    krvSetThreads(1);
    krvSetSimdWidth(0);
    drawsLeft = kMaxDraws;
    Input in(data, size);
    Run(in);
    return 0;
}
