// The shadow-mapping demonstration: a car on a textured floor, lit by a light that circles it and
// casts shadows through a 1024 x 1024 shadow map. Mouse drag orbits, the wheel zooms, W/S/A/D/Z/X
// move the camera; single keys switch features, modes and resolutions (see WndProc).
//
// F12 saves the frame on screen as a PNG. The scene lives here, apart from main(), so that the
// benchmark and the golden test render exactly what the program shows.
#include "demo/demo_scene.h"

#include "texture/image_save.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// Key codes of the demo: the ASCII code of the digit or capital letter.
enum : int {
    VK_1 = '1',
    VK_2,
    VK_3,
    VK_4,
    VK_5,
    VK_6,
    VK_7,
    VK_8,
    VK_9,
    VK_A = 'A',
    VK_B,
    VK_C,
    VK_D,
    VK_E,
    VK_F,
    VK_G,
    VK_H,
    VK_I,
    VK_K = 'K',
    VK_L,
    VK_M,
    VK_N,
    VK_O,
    VK_P,
    VK_R = 'R',
    VK_S,
    VK_U = 'U',
    VK_V,
    VK_W,
    VK_X,
    VK_Y,
    VK_Z
};

// ---- Switches ---------------------------------------------------------------------------------
bool TextureOnOff = true;
bool LightOnOff = true;
bool RotateLightOnOff = true;
bool TexShadowOnOff = true;
bool OBJMdlOnOff = true;
bool ShadowMapOnOff = false;
bool FogOnOff = false;
int SetRender = 2;
int RenderMode = 0;

// ---- Scene ------------------------------------------------------------------------------------
CLight Light0;
CTexture Texture0;
CTexture Texture1, Texture2;
CObject MdlOBJ;
CObject Mdlvetri;
CObject Mdlruota1, Mdlruota2, Mdlruota3, Mdlruota4;
CObject testmdl;

double QuitAfter = 0.0;
std::string SaveLastFrame;
bool LastFrameSaved = false;
DWORD StartTick = 0;

namespace {

int SavedFrames = 0;

void DrawObject(CObject& o) { krvRendering().DrawTriangles(o.Vertex, 0, o.NumVertex); }

void RefreshShadowMap() { krvRendering().RenderShadowMap(Light0, ShadowMdl); }

// Places one car part: turn about y, centre it by its own box in x and z with the table's
// offsets, then scale by the body's factor.
void Place(CObject& model, float angle, float dx, float ty, float dz, float s)
{
    krvSetObject(model);
    krvRotate3f(angle, 0.0f, 1.0f, 0.0f);
    vec3 mn = krvGetObjectMin(), mx = krvGetObjectMax();
    float cx = (mn.x + mx.x) / 2.0f;
    float cz = (mn.z + mx.z) / 2.0f;
    krvTranslate3f(dx - cx, ty, dz - cz);
    krvScale3fv(vec3(s, s, s));
}

bool SaveFrame(const char* file)
{
    const bool saved = krvSaveWindowImage(_3D_KRV_Wnd.hwnd, file);
    if (saved)
        std::fprintf(stderr, "saved the frame to %s\n", file);
    else
        std::fprintf(stderr, "could not save the frame to %s\n", file);
    return saved;
}

}  // namespace

// ---- Callbacks --------------------------------------------------------------------------------

void ShadowMdl()
{
    krvCullFace(KrvCullMode_Front);
    if (OBJMdlOnOff) {
        DrawObject(MdlOBJ);
        DrawObject(Mdlruota1);
        DrawObject(Mdlruota2);
        DrawObject(Mdlruota3);
        DrawObject(Mdlruota4);
    }
    krvCullFace(KrvCullMode_Back);
}

bool InitScene()
{
    Texture0.LoadTexture("ceiling.jpg");
    MdlOBJ.LoadObj("Models\\golf\\", "golf.obj");
    Mdlvetri.LoadObj("Models\\golf\\", "GolfVetri.obj");
    Mdlruota1.LoadObj("Models\\golf\\", "GolfRuota.obj");
    Mdlruota2.LoadObj("Models\\golf\\", "GolfRuota.obj");
    Mdlruota3.LoadObj("Models\\golf\\", "GolfRuota.obj");
    Mdlruota4.LoadObj("Models\\golf\\", "GolfRuota.obj");
    testmdl.Sphere(0.0f, 1.0f, 1.0f, 0.5f, 16, 12, 0.25f, 0.5f);

    // One factor for all parts, from the body as loaded: the body ends up 0.975 high.
    float bodyHeight = MdlOBJ.Max.y - MdlOBJ.Min.y;
    float s = (MdlOBJ.NumVertex > 0 && bodyHeight > 0.0f) ? 0.975f / bodyHeight : 1.0f;
    krvMatrixMode(KrvMatrixMode_Object);
    Place(MdlOBJ, -90.0f, 0.0f, -0.57f, 0.0f, s);
    Place(Mdlvetri, -90.0f, -0.42f, -0.57f, 0.0f, s);
    Place(Mdlruota1, -90.0f, -1.18f, -0.32f, 0.7f, s);
    Place(Mdlruota2, -90.0f, 1.1f, -0.32f, 0.7f, s);
    Place(Mdlruota3, 90.0f, -1.18f, -0.32f, -0.7f, s);
    Place(Mdlruota4, 90.0f, 1.1f, -0.32f, -0.7f, s);

    // The floor: a 6 x 6 square at y = -0.5 whose texture repeats ten times across.
    krvMatrixMode(KrvMatrixMode_BufferModel);
    krvSetVertex(6);
    static const float floorVertices[6][4] = {
        {-3.0f, 3.0f, -5.0f, -5.0f}, {3.0f, 3.0f, 5.0f, -5.0f},   {3.0f, -3.0f, 5.0f, 5.0f},
        {3.0f, -3.0f, 5.0f, 5.0f},   {-3.0f, -3.0f, -5.0f, 5.0f}, {-3.0f, 3.0f, -5.0f, -5.0f}};
    for (const auto& fv : floorVertices) {
        krvVertex3f(fv[0], -0.5f, fv[1]);
        krvTexture2f(fv[2], fv[3]);
        krvNormal3f(0.0f, 1.0f, 0.0f);
        krvCount();
    }
    krvGlobalColor3f(0, 6, 1.0f, 1.0f, 1.0f);

    Light0 = krvSetLight(vec3(0.0f, 2.625f, 3.5f), vec3(0.5f, 0.5f, 0.5f),
                         vec3(0.75f, 0.75f, 0.75f), vec3(0.95f, 0.95f, 0.95f), 0.0f, 0.0f, 0.0f);
    krvSetView2D(1, 1, -2.0f, 2.0f);
    krvGenTextureShadowProjection(1024, 1024);
    krvSetView3D(45.0f, 0.125f, 100.0f);
    return true;
}

// The shadow map drawn over the lower left of the frame (key M).
void RenderScene2D()
{
    if (!ShadowMapOnOff) return;
    _3D_Korvane_Rendering& r = krvRendering();
    static CVertex overlay[6];
    static const float corners[6][4] = {{0.0f, 0.0f, 0.0f, 0.0f}, {1.6f, 0.0f, 1.0f, 0.0f},
                                        {1.6f, 1.6f, 1.0f, 1.0f}, {1.6f, 1.6f, 1.0f, 1.0f},
                                        {0.0f, 1.6f, 0.0f, 1.0f}, {0.0f, 0.0f, 0.0f, 0.0f}};
    for (int i = 0; i < 6; ++i) {
        CVertex& v = overlay[i];
        v = CVertex();
        v.x = corners[i][0];
        v.y = corners[i][1];
        v.u = corners[i][2];
        v.v = corners[i][3];
        v.r = v.g = v.b = 1.0f;
        v.nz = 1.0f;
    }
    r.LoadModelViewProjectionMatrix(r.OrthoMatrix);
    krvViewport(-384, -384, 800, 800);
    CTexture shadow = r.GetTexShadow();
    r.BindTexture(&shadow);
    bool depthTest = r.depthTest;
    r.depthTest = false;
    r.DrawTriangles(overlay, 0, 6);
    r.depthTest = depthTest;
    r.BindTexture(nullptr);
    krvViewport(0, 0, krvViewWidth(), krvViewHeight());
}

void DemoMoveCamera()
{
    _3D_Korvane_Rendering& r = krvRendering();
    float frameTime = _3D_KRV_Wnd.GetFrame();
    if (GetKeyState(VK_W) & 0x100) r.MoveCameraZ(frameTime, 1);
    if (GetKeyState(VK_S) & 0x100) r.MoveCameraZ(frameTime, -1);
    if (GetKeyState(VK_A) & 0x100) r.MoveCameraX(frameTime, -1);
    if (GetKeyState(VK_D) & 0x100) r.MoveCameraX(frameTime, 1);
    if (GetKeyState(VK_Z) & 0x100) r.MoveCameraY(frameTime, 1);
    if (GetKeyState(VK_X) & 0x100) r.MoveCameraY(frameTime, -1);

    r.lighting = LightOnOff;
    r.texturing = TextureOnOff;
    r.fog = FogOnOff;
    if (FogOnOff) krvSetFog(KrvFogMode_Height, vec3(0.25f, 0.5f, 0.0f), 0.0f, 0.0f, 0.25f, 1.0f);
}

void DemoShadowPass()
{
    if (RotateLightOnOff) {
        float frameTime = _3D_KRV_Wnd.GetFrame();
        Light0.position = rotate(Light0.position, 11.25f * frameTime, vec3(0.0f, 1.0f, 0.0f));
        RefreshShadowMap();
    }
}

void DemoScenePass()
{
    _3D_Korvane_Rendering& r = krvRendering();
    r.Clear(true, true);
    r.LoadModelViewProjectionMatrix(r.Camera.ViewProjectionMatrix);
    if (r.lighting) r.light = &Light0;
    if (LightOnOff && r.shadowMapping) {
        r.LoadTexShadowMatrix();
        r.BindTexShadow();
    }

    r.BindTexture(&Texture0);
    r.DrawTriangles(r.Buffer, 0, 6);

    if (OBJMdlOnOff) {
        r.cullEnabled = false;
        r.BindTexture(&MdlOBJ.Texture);
        DrawObject(MdlOBJ);

        krvSwitch(KrvSwitch_Transparency, true);
        krvSetTransparency(0.75f);
        r.BindTexture(nullptr);
        // The glass is a curved shell: from most views part of it lies behind another part.
        // Blended in one pass with depth writes, which part blends over which would follow the
        // order of the triangles, and the picture would show that order (a comb along the top
        // of the windscreen, stripes through the side windows). The back faces go first, then
        // the front faces, so the far glass always lies under the near.
        r.cullEnabled = true;
        const int cullFace = r.GetCullFace();
        r.SetCullFace(KrvCullMode_Front);
        DrawObject(Mdlvetri);
        r.SetCullFace(KrvCullMode_Back);
        DrawObject(Mdlvetri);
        r.SetCullFace(cullFace);
        r.transparency = false;
        r.TransparencySet = false;

        r.cullEnabled = true;
        r.BindTexture(&Mdlruota1.Texture);
        DrawObject(Mdlruota1);
        DrawObject(Mdlruota2);
        DrawObject(Mdlruota3);
        DrawObject(Mdlruota4);
    }

    if (LightOnOff) {
        r.BindTexture(nullptr);
        r.shadowMap = nullptr;
        if (r.lighting) r.light = nullptr;
    }
    if (FogOnOff) r.fog = false;

    RenderScene2D();
}

void RenderScene()
{
    DemoMoveCamera();
    DemoShadowPass();
    DemoScenePass();

    if (QuitAfter > 0.0 && (GetTickCount() - StartTick) * 0.001 >= QuitAfter) {
        if (!SaveLastFrame.empty()) {
            // The frame is presented after this callback: resolve and blit it now so the saved
            // picture is this frame, not the one before.
            krvRendering().SwapBuffers(_3D_KRV_Wnd.hdc);
            LastFrameSaved = SaveFrame(SaveLastFrame.c_str());
        }
        PostQuitMessage(0);
    }
}

void FrameWorks()
{
    _3D_Korvane_Rendering& r = krvRendering();
    krvAddToText(" - %dx%d", _3D_KRV_Wnd.width, _3D_KRV_Wnd.height);
    krvAddToText(", TF: ");
    krvAddToText(r.bilinearFilter ? "ON" : "OFF");
    switch (r.antiAliasing) {
    case KrvAA_Off: krvAddToText(", AA: OFF"); break;
    case KrvAA_2x2: krvAddToText(", AA: 4x"); break;
    case KrvAA_3x3: krvAddToText(", AA: 9x"); break;
    case KrvAA_4x4: krvAddToText(", AA: 16x"); break;
    default: break;
    }
    static const char* const modes[5] = {", RM: NORMAL", ", RM: DEVICE", ", RM: SPEED",
                                         ", RM: BOOST", ", RM: NEAREST"};
    if (SetRender >= 0 && SetRender <= 4) krvAddToText(modes[SetRender]);
    krvAddToText(", NT: %d",
                 (MdlOBJ.NumVertex + Mdlvetri.NumVertex + 4 * Mdlruota1.NumVertex + 6) / 3);
}

namespace {

void SetAntiAliasingKey(int mode)
{
    _3D_Korvane_Rendering& r = krvRendering();
    if (r.antiAliasing != mode) {
        r.antiAliasing = mode;
        r.ResizeBuffers(r.sizeWidth, r.sizeHeight);
    }
}

void OnKey(int key)
{
    _3D_Korvane_Rendering& r = krvRendering();
    switch (key) {
    case VK_ESCAPE: PostQuitMessage(0); break;
    case VK_SPACE: RotateLightOnOff = !RotateLightOnOff; break;
    case VK_1: SetAntiAliasingKey(KrvAA_Off); break;
    case VK_2: SetAntiAliasingKey(KrvAA_2x2); break;
    case VK_3: SetAntiAliasingKey(KrvAA_3x3); break;
    case VK_4: SetAntiAliasingKey(KrvAA_4x4); break;
    case VK_5: krvChangeResolution(400, 300); break;
    case VK_6: krvChangeResolution(512, 384); break;
    case VK_7: krvChangeResolution(640, 480); break;
    case VK_8: krvChangeResolution(800, 600); break;
    case VK_9: krvChangeResolution(1024, 768); break;
    case '0': krvChangeResolution(1280, 800); break;
    case VK_F: r.bilinearFilter = !r.bilinearFilter; break;
    case VK_L:
        LightOnOff = !LightOnOff;
        if (!RotateLightOnOff) RefreshShadowMap();
        break;
    case VK_M:
        ShadowMapOnOff = !ShadowMapOnOff;
        if (!RotateLightOnOff) RefreshShadowMap();
        break;
    case VK_O:
        OBJMdlOnOff = !OBJMdlOnOff;
        if (!RotateLightOnOff) RefreshShadowMap();
        break;
    case VK_P:
        TexShadowOnOff = !TexShadowOnOff;
        r.shadowMapping = TexShadowOnOff;
        if (!RotateLightOnOff) RefreshShadowMap();
        break;
    case VK_R:
        SetRender += 1;
        if (SetRender > 4) SetRender = 0;
        RenderMode = KrvRenderMode_Normal + SetRender;
        krvSetRenderingMode(RenderMode);
        krvGetChangeResolution();
        break;
    case 'T': TextureOnOff = !TextureOnOff; break;
    case VK_F12: {
        char name[64];
        std::snprintf(name, sizeof name, "krv_frame_%03d.png", ++SavedFrames);
        SaveFrame(name);
        break;
    }
    default: break;
    }
}

}  // namespace

LRESULT WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    _3D_Korvane_Rendering& r = krvRendering();
    switch (msg) {
    case WM_KEYDOWN: OnKey(static_cast<int>(wParam)); break;
    // The coordinates are signed words: a drag held past the left or top edge reports them
    // below zero, and read unsigned that would be a jump of some 65,000 pixels.
    case WM_MOUSEMOVE:
        // Orbits by the step from the last position while the left button is held.
        krvMouseMove(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam), MouseMove);
        break;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN: krvLButtonDown(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)); break;
    case WM_MOUSEWHEEL:
        r.Camera.ZoomView(static_cast<float>(GET_WHEEL_DELTA_WPARAM(wParam)));
        break;
    default: break;
    }
    // Input messages go on to the default handling too; closing, sizing and painting are the
    // library's ready-made procedure with this scene's callbacks.
    return krvWindowProcedure(hwnd, msg, wParam, lParam, RenderScene, FrameWorks);
}
