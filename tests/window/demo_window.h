// The demo's scene and window for the headless window tests. Both exist once per process: the
// scene lives in globals (a second load would only orphan the first), and the window class can
// be registered only once. Tests put back what they change with ResetDemoState.
#pragma once

#include "demo/demo_scene.h"
#include "platform/platform.h"

#include <string>

struct DemoScene {
    bool loaded = false;
    std::string errors;  // what the loaders reported while loading the scene
    CLight light;        // Light0 as InitScene left it
};

// Loads the scene from the source tree's data folder on the first call.
inline DemoScene& LoadDemoScene()
{
    static DemoScene scene;
    static bool tried = false;
    if (!tried) {
        tried = true;
        const std::string before = _3D_KRV_Report_Error.c_str();
        ModuleDirectory = KRV_DEMO_DATA_DIR "/";
        scene.loaded = InitScene();
        scene.errors = std::string(_3D_KRV_Report_Error.c_str()).substr(before.size());
        scene.light = Light0;
    }
    return scene;
}

// The demo's window, 800 x 600 as the program opens it, not yet shown; null when it could not be
// created.
inline HWND OpenDemoWindow()
{
    static bool tried = false;
    if (!tried) {
        tried = true;
        krvCreateWindow("3D Korvane Demo", 800, 600, 32, GetModuleHandleA(nullptr), [] {
            LoadDemoScene();
            return true;
        });
    }
    return _3D_KRV_Wnd.hwnd;
}

// The triangle count that ends the title line.
inline int DemoTriangleCount()
{
    return (MdlOBJ.NumVertex + Mdlvetri.NumVertex + 4 * Mdlruota1.NumVertex + 6) / 3;
}

// The switches, modes, light, camera and mouse fields as the program starts with them; the
// window hidden, 800 x 600, its timer stopped and the message queue empty.
inline void ResetDemoState()
{
    TextureOnOff = LightOnOff = RotateLightOnOff = TexShadowOnOff = OBJMdlOnOff = true;
    ShadowMapOnOff = FogOnOff = false;
    SetRender = 2;
    RenderMode = 0;
    QuitAfter = 0.0;
    SaveLastFrame.clear();
    _3D_Korvane_Rendering& r = krvRendering();
    r.renderMode = KrvRenderMode_Speed;
    r.antiAliasing = KrvAA_2x2;
    r.bilinearFilter = true;
    r.shadowMapping = true;
    r.mouseX = r.mouseY = r.clickX = r.clickY = 0;
    r.Camera = CCamera();
    Light0 = LoadDemoScene().light;
    for (int vk : {int(VK_LBUTTON), int(VK_RBUTTON), int(VK_MBUTTON), int('W'), int('S'), int('A'),
                   int('D'), int('Z'), int('X')})
        krvplat::SetKeyDown(vk, false);
    if (HWND hwnd = _3D_KRV_Wnd.hwnd) {
        ShowWindow(hwnd, SW_HIDE);
        KillTimer(hwnd, 100);
        // A hidden window asks for no paint, so this ends; it also takes a pending quit.
        MSG msg;
        for (int i = 0; i < 1000 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {}
    }
    _3D_KRV_Wnd.WMSize(800, 600);
}
