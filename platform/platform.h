// What the platform layer offers beyond the Win32 subset: device contexts over plain images (for
// tests, benchmarks and headless runs), read-back of a window's client image, and the hook
// through which a back end (SDL2, or none) puts windows on a real screen.
#pragma once

#include "platform/win32.h"

#include <string>

namespace krvplat {

// A path in the program's own notation ('\' separators, "Models\golf\golf.obj") turned into one
// this system opens: on Linux every '\' becomes '/'. Loaders pass every file name through here.
std::string NativePath(const char* path);

// A device context that draws into an image of its own, width x height, with no window behind
// it. GDI calls on it behave as on a window's DC. Released with DestroyImageDC only (DeleteDC
// and ReleaseDC leave it alone, as they leave a window's own DC alone).
HDC CreateImageDC(int width, int height);
void DestroyImageDC(HDC hdc);

// The image behind a DC (a window's client image or an image DC): top-down rows of
// width * 3 bytes, blue, green, red. Returns false for an unknown DC.
bool GetImage(HDC hdc, int& width, int& height, const unsigned char*& pixels);
// The same for a window.
bool GetWindowImage(HWND hwnd, int& width, int& height, const unsigned char*& pixels);

// The back end that shows windows and reads input. Without one (the default), windows exist
// only in memory: messages come from PostMessageA and from tests, and presenting does nothing.
// Then GetMessageA cannot wait for input that will never come: with nothing queued, no paint
// pending and no timer, it returns -1 (the failure code) instead of blocking for ever, so a
// message loop in a test or a headless run ends; with a timer it sleeps until the timer is due.
//
// A window's image is presented when it has changed and the program flushes it: EndPaint,
// GdiFlush and ReleaseDC on the window's DC. One frame therefore costs one presentation.
struct Backend {
    virtual ~Backend() {}
    // Opens the real window for hwnd with the given client size and caption.
    virtual bool OpenWindow(HWND hwnd, int clientWidth, int clientHeight, const char* title) = 0;
    virtual void CloseWindow(HWND hwnd) = 0;
    virtual void ShowWindow(HWND hwnd, bool show) = 0;
    virtual void ResizeWindow(HWND hwnd, int clientWidth, int clientHeight) = 0;
    virtual void MoveWindow(HWND hwnd, int x, int y) = 0;
    virtual void SetTitle(HWND hwnd, const char* title) = 0;
    // Puts the client image on the screen.
    virtual void Present(HWND hwnd, int width, int height, const unsigned char* bgrTopDown) = 0;
    // Turns pending input into posted messages; waits up to timeoutMs for one when asked to.
    virtual void PumpEvents(int timeoutMs) = 0;
    // Desktop size in pixels.
    virtual void DesktopSize(int& width, int& height) = 0;
    // What the window frame adds to the client size (outer minus client). The SDL back end
    // sizes the client area itself and has none; a test back end may fake one.
    virtual void FrameSize(int& width, int& height)
    {
        width = 0;
        height = 0;
    }
    virtual int MessageBox(const char* text, const char* caption, unsigned type) = 0;
};
// Installs the back end (null for none). Install it before creating windows: windows that
// already exist stay without a real window.
void SetBackend(Backend* backend);
Backend* GetBackend();

// Key and mouse-button state as GetKeyState reports it. Input messages update it when the
// message loop retrieves them (WM_KEYDOWN, WM_LBUTTONUP, ...), as under Win32; tests and back
// ends may also set it directly. A press (up to down) flips the toggle bit.
void SetKeyDown(int virtualKey, bool down);

// A clock for tests: after SetTickCount(t), GetTickCount answers t (until the next call) instead
// of the system's milliseconds, so that a test can run the frame loop across the counter's
// 32-bit wrap without waiting 49.7 days. ClearTickCount goes back to the system clock. Timers,
// Sleep and the performance counter keep the real time.
void SetTickCount(DWORD ticks);
void ClearTickCount();

// For back ends: the user resized or moved the real window. The window record takes the new
// client size (its image is reallocated, black) and WM_SIZE is posted; a move posts WM_MOVE.
void WindowResized(HWND hwnd, int clientWidth, int clientHeight);
void WindowMoved(HWND hwnd, int x, int y);

}  // namespace krvplat
