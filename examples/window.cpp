// A window and its frame loop: a turning triangle until the window is closed or Escape is
// pressed. Needs a display (the SDL2 back end puts the window on screen).
//
//   example_window
#include <korvane/krv.h>
#include "platform/sdl/sdl_backend.h"

static float angle = 0;  // degrees

// Called once by krvCreateWindow: the scene's data, here three vertices.
static bool Init()
{
    krvSetVertex(3);
    krvColor3f(1, 0, 0);
    krvVertex3f(-1, -1, 0);
    krvCount();
    krvColor3f(0, 1, 0);
    krvVertex3f(1, -1, 0);
    krvCount();
    krvColor3f(0, 0, 1);
    krvVertex3f(0, 1, 0);
    krvCount();
    krvCullFace(KrvCullMode_None);  // the back shows as it turns
    return true;
}

// Called every frame: the frame loop presents what it draws.
static void Render()
{
    angle += 90.0f * _3D_KRV_Wnd.GetFrame();  // a quarter turn a second, whatever the rate
    krvClear(KrvClear_Both);
    const float aspect = float(krvViewWidth()) / float(krvViewHeight());
    krvLoadMatrix(perspective(45, aspect, 0.1f, 100) * translate(0, 0, -3) *
                  rotate(angle, vec3(0, 1, 0)));
    krvDrawModel(KrvModel_Triangles, 0, 1);
}

// The window's messages: Escape quits, the rest goes to the library's procedure, which runs
// Render on every paint and resizes the buffers with the window.
LRESULT WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_KEYDOWN && wParam == VK_ESCAPE) {
        PostQuitMessage(0);
        return 0;
    }
    return krvWindowProcedure(hwnd, msg, wParam, lParam, Render, krvProcNull);
}

int main()
{
    if (!krvplat::UseSdlBackend()) return 1;  // it has said why on stderr
    if (!krvCreateWindow("korvane: window example", 640, 480, 32, GetModuleHandleA(nullptr), Init))
        return 1;
    krvRedrawWindow();  // the message loop: returns when the window closes
    krvDestroyWindow();
    return 0;
}
