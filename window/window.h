// _3D_Korvane_Window: the program's one window, its message loop and the frame loop that runs on
// every WM_PAINT (timing, pacing, the title line with the frame rate, presentation). It holds the
// one rendering context by value; every krv function acts on the global _3D_KRV_Wnd.
#pragma once

#include "platform/win32.h"
#include "scene/rendering.h"

#include <cstdint>

class _3D_Korvane_Window {
public:
    _3D_Korvane_Window();
    ~_3D_Korvane_Window() {}

    bool InitWnd(HWND hwnd, int bits);
    bool Create(const char* title, int width, int height, int bits, HINSTANCE instance,
                bool (*init)());
    int Redraw(bool maximised);
    void WMPaint(void (*render)(), void (*frameWorks)());
    void WMSize(int width, int height);
    bool EqualizeFrame(int hz);
    BOOL Destroy();

    float GetFrame() const { return frameTime; }
    const char* GetTitle() const { return title; }
    HWND GetHwnd() const { return hwnd; }
    HDC GetHdc() const { return hdc; }
    int GetWidth() const { return width; }
    int GetHeight() const { return height; }
    void SetHwnd(HWND h) { hwnd = h; }
    void SetHdc(HDC h) { hdc = h; }

    const char* title = nullptr;
    int width = 0;
    int height = 0;
    HWND hwnd = nullptr;
    HDC hdc = nullptr;
    HACCEL accelerators = nullptr;
    _3D_Korvane_Rendering rendering;
    int64_t frequency = 0;
    int64_t lastCounter = 0;
    int64_t counter = 0;
    float frameTime = 0.0f;
    float frameStep = 0.0f;
};

extern _3D_Korvane_Window _3D_KRV_Wnd;
