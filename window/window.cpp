// The window and the frame loop: creation, the message loop, one frame per WM_PAINT, resizing by
// render mode, pacing, the frame-rate title and the input helpers.
#include "window/window.h"

#include "base/compiler.h"
#include "base/string.h"

#include <climits>
#include <cstring>
#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#define KRV_HAVE_TSC 1
#endif

namespace {

// One pacing decision: at most one step of `interval` seconds per call.
//
// The time since the last decision is the unsigned difference of two tick counts. Seconds since
// boot kept as floats (now minus then) would run backwards, by 49.7 days, when the 32-bit counter
// wraps, and no step would be granted again; they would also lose the milliseconds as the uptime
// grows. The difference is exact across the wrap and at any uptime.
bool Pace(FrameLoopState& loop, float interval, float& frameStep)
{
    frameStep = 0.0f;
    const DWORD now = GetTickCount();
    if (!loop.pacerStarted) {
        loop.lastTick = now;
        loop.pacerStarted = true;
    }
    loop.elapsedTime =
        static_cast<float>(static_cast<DWORD>(now - loop.lastTick)) * 0.001f + loop.elapsedTime;
    loop.lastTick = now;
    if (loop.elapsedTime > interval) {
        frameStep = interval;
        loop.elapsedTime -= interval;
        return true;
    }
    return false;
}

// from - to for the mouse step. Positions are any ints a caller passes, so the difference of
// two far apart does not fit: it saturates, which keeps the direction of the move.
int SaturatedStep(int from, int to)
{
    const int64_t d = static_cast<int64_t>(from) - to;
    return d > INT_MAX ? INT_MAX : (d < INT_MIN ? INT_MIN : static_cast<int>(d));
}

void PlaceAndShow(_3D_Korvane_Window& wnd, bool maximised)
{
    RECT desktop = {}, window = {}, client = {};
    GetWindowRect(GetDesktopWindow(), &desktop);
    GetWindowRect(wnd.hwnd, &window);
    GetClientRect(wnd.hwnd, &client);
    int outerWidth = wnd.width + ((window.right - window.left) - (client.right - client.left));
    int outerHeight = wnd.height + ((window.bottom - window.top) - (client.bottom - client.top));
    int x = desktop.right / 2 - outerWidth / 2;
    int y = desktop.bottom / 2 - outerHeight / 2;
    MoveWindow(wnd.hwnd, x, y, outerWidth, outerHeight, FALSE);
    ShowWindow(wnd.hwnd, maximised ? SW_MAXIMIZE : SW_SHOWNORMAL);
    // Win32 delivers WM_SIZE while placing the window; the buffers and the projection must exist
    // before the first paint whatever the platform sends.
    wnd.WMSize(wnd.width, wnd.height);
    InvalidateRect(wnd.hwnd, nullptr, FALSE);
}

}  // namespace

// Programs define their own WndProc; this one serves programs that do not.
KRV_WEAK LRESULT WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return krvWindowProcedure(hwnd, msg, wParam, lParam, krvProcNull, krvProcNull);
}

bool _3D_Korvane_Window::InitWnd(HWND h, int bits)
{
    HDC dc = GetDC(h);
    if (!dc) return false;
    PIXELFORMATDESCRIPTOR pfd;
    std::memset(&pfd, 0, sizeof pfd);
    pfd.nSize = sizeof pfd;
    pfd.nVersion = 1;
    pfd.dwFlags =
        PFD_DOUBLEBUFFER | PFD_DRAW_TO_WINDOW | PFD_GENERIC_FORMAT | PFD_GENERIC_ACCELERATED;
    pfd.iPixelType = PFD_TYPE_RGBA;
    BYTE b = static_cast<BYTE>(bits);
    pfd.cColorBits = b;
    pfd.cAlphaBits = b;
    pfd.cAccumBits = b;
    pfd.cDepthBits = b;
    pfd.cStencilBits = b;
    pfd.cAuxBuffers = b;
    pfd.iLayerType = 1;
    int format = ChoosePixelFormat(dc, &pfd);
    if (format == 0) return false;
    SetPixelFormat(dc, format, &pfd);
    hdc = dc;
    return true;
}

bool _3D_Korvane_Window::Create(const char* t, int w, int h, int bits, HINSTANCE instance,
                                bool (*init)())
{
    WNDCLASSEXA wc;
    std::memset(&wc, 0, sizeof wc);
    wc.cbSize = sizeof wc;
    wc.style = CS_VREDRAW | CS_HREDRAW | CS_OWNDC;
    wc.lpfnWndProc = WndProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    wc.hIconSm = LoadIconA(nullptr, IDI_APPLICATION);
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    wc.lpszClassName = "3D-Korvane";
    if (!RegisterClassExA(&wc)) {
        MessageBoxA(nullptr, "The main window could not be registered!", "Window Error",
                    MB_ICONWARNING);
        return false;
    }
    title = t;
    width = w;
    height = h;
    hwnd = CreateWindowExA(WS_EX_APPWINDOW, "3D-Korvane", t,
                           WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, 0, 0, w, h,
                           nullptr, nullptr, instance, nullptr);
    if (!hwnd) {
        MessageBoxA(nullptr, "Window creation failed!", "Window Error", MB_ICONWARNING);
        return false;
    }
    hdc = GetDC(hwnd);
    if (!hdc) {
        MessageBoxA(nullptr, "GetDC failed!", "HDC Error", MB_ICONWARNING);
        return false;
    }
    if (!InitWnd(hwnd, bits)) {
        MessageBoxA(nullptr, "The window initialize is failed!", "Window Error", MB_ICONWARNING);
        return false;
    }
    rendering.windowDC = hdc;
    accelerators = LoadAcceleratorsA(instance, t);
    return init ? init() : true;
}

int _3D_Korvane_Window::Redraw(bool maximised)
{
    if (!hwnd) return -1;
    PlaceAndShow(*this, maximised);
    if (loop.loopRunning) return 0;
    SetTimer(hwnd, 100, 10, nullptr);
    loop.loopRunning = true;
    MSG msg;
    BOOL result;
    for (;;) {
        result = GetMessageA(&msg, nullptr, 0, 0);
        if (result <= 0) break;
        if (!TranslateAcceleratorA(hwnd, accelerators, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    loop.loopRunning = false;
    return result;
}

void _3D_Korvane_Window::WMPaint(void (*render)(), void (*frameWorks)())
{
    loop.queryFPS += 1;
    LARGE_INTEGER li;
    QueryPerformanceFrequency(&li);
    frequency = li.QuadPart;
    PAINTSTRUCT ps;
    BeginPaint(hwnd, &ps);

    const bool first = loop.firstPaint;
    if (loop.firstPaint) {
        loop.lastFPSTime = GetTickCount();
        loop.lastFrameTime = loop.lastFPSTime;
        loop.firstPaint = false;
    }
    DWORD now = GetTickCount();
    frameTime = static_cast<float>(static_cast<DWORD>(now - loop.lastFrameTime)) * 0.001f;
    loop.lastFrameTime = now;

    // The title shows one counter, the paints per second since the last update, measured over
    // the real interval (which is a little over a second). The paint that starts an interval
    // (the first one, or the one that updated the title) is not counted in it.
    // Milliseconds since the last title update, an unsigned difference so that the counter's
    // wrap does not stop the updates. queryFrameTime, in seconds, moves the threshold by a
    // fraction of a millisecond.
    const DWORD sinceTitle = now - loop.lastFPSTime;
    if (static_cast<float>(sinceTitle) - loop.queryFrameTime > 1000.0f) {
        int rate = sinceTitle > 0 ? TruncToInt(static_cast<double>(loop.fps + 1) * 1000.0 /
                                                   static_cast<double>(sinceTitle) +
                                               0.5)
                                  : 0;
        _3D_KRV_Title_Text = title ? title : "";
        _3D_KRV_Title_Text.Append(" - FPS: %d", rate);
        if (frameWorks) frameWorks();
        SetWindowTextA(hwnd, _3D_KRV_Title_Text.c_str());
        loop.lastFPSTime = now;
        loop.fps = 0;
    } else if (!first) {
        loop.fps += 1;
    }

    rendering.frustum.Update(rendering.Camera.ProjectionMatrix, rendering.Camera.ViewMatrix);

    if (Pace(loop, 0.0002f, frameStep)) {
        if (render) render();
    } else {
        Sleep(1);
    }

    rendering.SwapBuffers(hdc);

    QueryPerformanceCounter(&li);
    counter = li.QuadPart;
    int64_t ticks = counter - lastCounter;
    if (ticks > 0 && frequency > 0) {
        double seconds = static_cast<double>(ticks) / static_cast<double>(frequency);
        loop.queryFrameTime = static_cast<float>(seconds);
        loop.queryFPS = TruncToInt(1.0 / seconds);
    }
    lastCounter = counter;

    EndPaint(hwnd, &ps);
    InvalidateRect(hwnd, nullptr, FALSE);
}

void _3D_Korvane_Window::WMSize(int w, int h)
{
    width = w;
    height = h;
    const int bw = krvi::InternalSize(rendering.renderMode, w);
    const int bh = krvi::InternalSize(rendering.renderMode, h);
    rendering.ResizeBuffers(bw, bh);
    rendering.sizeWidth = bw;
    rendering.sizeHeight = bh;
    rendering.Viewport(0, 0, bw, bh);
    float aspect = bh != 0 ? static_cast<float>(bw) / static_cast<float>(bh) : 1.0f;
    rendering.Camera.SetPerspective(rendering.FieldOfView, aspect, rendering.NearPlane,
                                    rendering.FarPlane);
}

bool _3D_Korvane_Window::EqualizeFrame(int hz)
{
    if (hz <= 0) {
        frameStep = 0.0f;
        return false;
    }
    return Pace(loop, 1.0f / static_cast<float>(hz), frameStep);
}

BOOL _3D_Korvane_Window::Destroy()
{
    rendering.Destroy();
    if (!hwnd) return FALSE;
    KillTimer(hwnd, 100);
    BOOL ok = DestroyWindow(hwnd);
    hwnd = nullptr;
    hdc = nullptr;
    rendering.windowDC = nullptr;
    return ok;
}

// ---------------------------------------------------------------------------------------------

bool krvCreateWindow(const char* title, int width, int height, int bits, HINSTANCE instance,
                     bool (*init)())
{
    return _3D_KRV_Wnd.Create(title, width, height, bits, instance, init);
}

int krvRedrawWindow() { return _3D_KRV_Wnd.Redraw(false); }

BOOL krvDestroyWindow() { return _3D_KRV_Wnd.Destroy(); }

LRESULT krvWindowProcedure(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, void (*render)(),
                           void (*frameWorks)())
{
    switch (msg) {
    case WM_DESTROY:
    case WM_CLOSE: PostQuitMessage(0); return 0;
    case WM_SIZE: _3D_KRV_Wnd.WMSize(LOWORD(lParam), HIWORD(lParam)); return 0;
    case WM_PAINT: _3D_KRV_Wnd.WMPaint(render, frameWorks); return 0;
    default: return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
}

int krvChangeResolution(int width, int height)
{
    ShowWindow(_3D_KRV_Wnd.hwnd, SW_HIDE);
    _3D_KRV_Wnd.WMSize(width, height);
    return _3D_KRV_Wnd.Redraw(false);
}

int krvGetChangeResolution() { return krvChangeResolution(_3D_KRV_Wnd.width, _3D_KRV_Wnd.height); }

void krvLButtonDown(int x, int y)
{
    krvRendering().clickX = x;
    krvRendering().clickY = y;
}
void krvMButtonDown(int x, int y) { krvLButtonDown(x, y); }
void krvRButtonDown(int x, int y) { krvLButtonDown(x, y); }

void krvLButtonUp(int x, int y, void (*onClick)())
{
    if (onClick && x == krvRendering().clickX && y == krvRendering().clickY) onClick();
}
void krvMButtonUp(int x, int y, void (*onClick)()) { krvLButtonUp(x, y, onClick); }
void krvRButtonUp(int x, int y, void (*onClick)()) { krvLButtonUp(x, y, onClick); }

void krvMouseWheel(short delta, void (*onWheel)(int))
{
    if (onWheel) onWheel(static_cast<int>(delta));
}

void krvMouseMove(int x, int y, void (*onMove)(int dx, int dy))
{
    _3D_Korvane_Rendering& r = krvRendering();
    if (onMove) onMove(SaturatedStep(r.mouseX, x), SaturatedStep(r.mouseY, y));
    r.mouseX = x;
    r.mouseY = y;
}

bool krvFastKey(int virtualKey) { return (GetKeyState(virtualKey) & 0x100) != 0; }

bool krvFastKey(int virtualKey, int milliseconds)
{
    if (milliseconds > 0) Sleep(static_cast<DWORD>(milliseconds));
    return krvFastKey(virtualKey);
}

int64_t krvGetHz()
{
#ifdef KRV_HAVE_TSC
    LARGE_INTEGER f, q0, q1;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&q0);
    uint32_t c0 = static_cast<uint32_t>(__rdtsc());
    for (volatile int32_t i = 0; i < 1000000; i = i + 1) {}
    QueryPerformanceCounter(&q1);
    uint32_t c1 = static_cast<uint32_t>(__rdtsc());
    int64_t cycles = static_cast<int32_t>(c1 - c0);
    int64_t ticks = q1.QuadPart - q0.QuadPart;
    if (ticks <= 0) return 0;
    int64_t hz = (f.QuadPart * cycles) / ticks;
    return hz / 1000000;
#else
    return 0;
#endif
}

void krvProcNull() {}
