// _3D_Korvane_Window: the program's one window, its message loop and the frame loop that runs on
// every WM_PAINT (timing, pacing, the title line with the frame rate, presentation). It holds the
// one rendering context by value; every krv function acts on the global _3D_KRV_Wnd.
#pragma once

#include "platform/win32.h"
#include "scene/rendering.h"

#include <cstdint>

// The frame loop's state between paints: the tick counts of the last frame and of the last title
// update, the paints counted since, the pacer's unspent time and the measured frame time. Time
// comes from GetTickCount, which a test can set (krvplat::SetTickCount), so the loop can be
// driven through any sequence of ticks, the counter's wrap included, without waiting.
struct FrameLoopState {
    DWORD lastFPSTime = 0;    // tick of the last title update
    DWORD lastFrameTime = 0;  // tick of the last paint
    bool firstPaint = true;
    int fps = 0;  // paints since the title update, not counting the one that made it
    int queryFPS = 0;
    float queryFrameTime = 0.0f;  // seconds of the last paint, by the performance counter
    bool pacerStarted = false;
    DWORD lastTick = 0;        // tick at the previous pacing decision
    float elapsedTime = 0.0f;  // seconds not yet granted as steps
    // True while Redraw's message loop runs: a second Redraw (a resolution or render-mode change
    // from inside a message handler) then only re-places and shows the window instead of
    // nesting a loop, so one quit request always ends the program.
    bool loopRunning = false;

    // Starts the timing afresh, as for a new process; a running message loop keeps running.
    void Reset()
    {
        const bool running = loopRunning;
        *this = FrameLoopState();
        loopRunning = running;
    }
};

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
    FrameLoopState loop;
};

extern _3D_Korvane_Window _3D_KRV_Wnd;

// ---------------------------------------------------------------------------------------------
// Window functions of the interface; all act on _3D_KRV_Wnd.
bool krvCreateWindow(const char* title, int width, int height, int bits, HINSTANCE instance,
                     bool (*init)());
int krvRedrawWindow();
BOOL krvDestroyWindow();
// The library's ready-made window procedure: WM_CLOSE/WM_DESTROY post the quit message, WM_SIZE
// resizes, WM_PAINT runs one frame with the two callbacks; the rest goes to DefWindowProcA.
LRESULT krvWindowProcedure(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, void (*render)(),
                           void (*frameWorks)());
// Resize the client area (buffers follow through WMSize) and show the window again. Unlike a
// second message loop, one quit request still ends the program afterwards.
int krvChangeResolution(int width, int height);
int krvGetChangeResolution();
void krvLButtonDown(int x, int y);
void krvMButtonDown(int x, int y);
void krvRButtonDown(int x, int y);
void krvLButtonUp(int x, int y, void (*onClick)());
void krvMButtonUp(int x, int y, void (*onClick)());
void krvRButtonUp(int x, int y, void (*onClick)());
void krvMouseWheel(short delta, void (*onWheel)(int));
void krvMouseMove(int x, int y, void (*onMove)(int dx, int dy));
bool krvFastKey(int virtualKey);
bool krvFastKey(int virtualKey, int milliseconds);
int64_t krvGetHz();  // processor clock in MHz (0 where it cannot be measured)
void krvProcNull();

// The window procedure that Create registers. A program defines its own WndProc; without one
// the library's default forwards to krvWindowProcedure with empty callbacks.
LRESULT WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
