// The demonstration's scene: its switches, objects and callbacks. main() (software_shadow_mapping
// .cpp) opens the window with them; the benchmark and the golden test drive them without one.
#pragma once

#include "api/krv.h"

#include <string>

// Switches, toggled by keys.
extern bool TextureOnOff, LightOnOff, RotateLightOnOff, TexShadowOnOff, OBJMdlOnOff;
extern bool ShadowMapOnOff, FogOnOff;
extern int SetRender, RenderMode;

// The scene.
extern CLight Light0;
extern CTexture Texture0, Texture1, Texture2;
extern CObject MdlOBJ, Mdlvetri, Mdlruota1, Mdlruota2, Mdlruota3, Mdlruota4, testmdl;

// Callbacks of the window and the shadow pass.
bool InitScene();
void RenderScene();
void FrameWorks();
void ShadowMdl();
void RenderScene2D();
LRESULT WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// RenderScene in its three steps, for timing them apart: held keys and switches, the light's
// turn with the shadow pass, the scene pass into the window's buffers.
void DemoMoveCamera();
void DemoShadowPass();
void DemoScenePass();

// A run without a user: end after QuitAfter seconds (0: never) counted from StartTick, saving
// the last frame to SaveLastFrame when it is not empty (LastFrameSaved tells whether it was).
extern double QuitAfter;
extern std::string SaveLastFrame;
extern bool LastFrameSaved;
extern DWORD StartTick;
