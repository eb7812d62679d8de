// user32 stand-ins: window classes and windows: registration, creation and destruction, showing,
// moving, their rectangles and titles. A back end (platform.h) mirrors them on a real screen.
#include "platform/user_internal.h"

#include <algorithm>
#include <cstring>

using namespace krvplat::user;

WORD RegisterClassExA(const WNDCLASSEXA* wc)
{
    if (!wc || !wc->lpszClassName || reinterpret_cast<uintptr_t>(wc->lpszClassName) < 0x10000 ||
        wc->lpszClassName[0] == '\0')
        return 0;
    if (FindClass(wc->lpszClassName)) return 0;  // ERROR_CLASS_ALREADY_EXISTS
    static WORD nextAtom = 0xC000;
    WindowClass c;
    c.key = LowerCase(wc->lpszClassName);
    c.atom = nextAtom++;
    c.style = wc->style;
    c.proc = wc->lpfnWndProc;
    S().classes.push_back(c);
    return c.atom;
}

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param)
{
    const WindowClass* cls = FindClass(className);
    if (!cls) return nullptr;
    if (x == CW_USEDEFAULT) {
        x = 0;
        y = 0;
    }
    if (width == CW_USEDEFAULT) {
        int desktopWidth, desktopHeight;
        DesktopSize(desktopWidth, desktopHeight);
        width = desktopWidth * 3 / 4;
        height = desktopHeight * 3 / 4;
    }
    auto window = std::make_unique<Window>();
    Window& w = *window;
    w.handle = NewHandle<HWND>();
    w.proc = cls->proc;
    w.title = windowName ? windowName : "";
    w.outer = {x, y, x + ClampSide(width), y + ClampSide(height)};
    UpdateClientSize(w);
    w.dc.handle = NewHandle<HDC>();
    w.dc.window = w.handle;
    w.dc.image = &w.image;
    HWND hwnd = w.handle;
    krvplat::Backend* backend = S().backend;
    if (backend) {
        if (!backend->OpenWindow(hwnd, w.image.width, w.image.height, w.title.c_str()))
            return nullptr;
        w.opened = true;
        backend->MoveWindow(hwnd, x, y);
    }
    S().windows.push_back(std::move(window));

    CREATESTRUCTA cs;
    cs.lpCreateParams = param;
    cs.hInstance = instance;
    cs.hMenu = menu;
    cs.hwndParent = parent;
    cs.cy = height;
    cs.cx = width;
    cs.y = y;
    cs.x = x;
    cs.style = static_cast<LONG>(style);
    cs.lpszName = windowName;
    cs.lpszClass = className;
    cs.dwExStyle = exStyle;
    if (CallProc(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
        DestroyWindow(hwnd);
        return nullptr;
    }
    Window* created = FindWindow(hwnd);
    if (!created) return nullptr;
    CallProc(hwnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(created->image.width, created->image.height));
    if (style & WS_VISIBLE) ShowWindow(hwnd, SW_SHOW);
    return hwnd;
}

BOOL DestroyWindow(HWND hwnd)
{
    Window* w = FindWindow(hwnd);
    if (!w) return FALSE;
    if (w->destroying) return TRUE;
    w->destroying = true;
    CallProc(hwnd, WM_DESTROY, 0, 0);
    w = FindWindow(hwnd);
    if (w && w->opened && S().backend) S().backend->CloseWindow(hwnd);
    RemoveWindowTraces(hwnd);
    auto& list = S().windows;
    list.erase(
        std::remove_if(list.begin(), list.end(),
                       [hwnd](const std::unique_ptr<Window>& p) { return p->handle == hwnd; }),
        list.end());
    return TRUE;
}

BOOL ShowWindow(HWND hwnd, int cmdShow)
{
    Window* w = FindWindow(hwnd);
    if (!w) return FALSE;
    BOOL wasVisible = w->visible ? TRUE : FALSE;
    krvplat::Backend* backend = w->opened ? S().backend : nullptr;
    if (cmdShow == SW_HIDE) {
        w->visible = false;
        if (backend) backend->ShowWindow(hwnd, false);
        return wasVisible;
    }
    if (cmdShow == SW_MAXIMIZE) {
        int desktopWidth, desktopHeight;
        DesktopSize(desktopWidth, desktopHeight);
        w->outer = {0, 0, desktopWidth, desktopHeight};
        if (backend) backend->MoveWindow(hwnd, 0, 0);
        if (UpdateClientSize(*w)) {
            if (backend) backend->ResizeWindow(hwnd, w->image.width, w->image.height);
            CallProc(hwnd, WM_SIZE, SIZE_MAXIMIZED, MAKELPARAM(w->image.width, w->image.height));
            w = FindWindow(hwnd);
            if (!w) return wasVisible;
        }
    }
    // Showing a window erases it to the black background of the program's class (a strip the
    // next blit does not cover never keeps an earlier picture) and invalidates it, which is what
    // starts a frame loop driven by WM_PAINT.
    if (!w->visible) {
        std::fill(w->image.pixels.begin(), w->image.pixels.end(), static_cast<unsigned char>(0));
        w->image.changed = true;
        w->paintPending = true;
    }
    w->visible = true;
    if (backend) backend->ShowWindow(hwnd, true);
    return wasVisible;
}

BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint)
{
    Window* w = FindWindow(hwnd);
    if (!w) return FALSE;
    w->outer = {x, y, x + ClampSide(width), y + ClampSide(height)};
    krvplat::Backend* backend = w->opened ? S().backend : nullptr;
    if (backend) backend->MoveWindow(hwnd, x, y);
    if (UpdateClientSize(*w)) {
        if (backend) backend->ResizeWindow(hwnd, w->image.width, w->image.height);
        // A new size repaints the whole window, as the CS_HREDRAW | CS_VREDRAW classes ask.
        w->paintPending = true;
        CallProc(hwnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(w->image.width, w->image.height));
        return TRUE;
    }
    if (repaint) w->paintPending = true;
    return TRUE;
}

BOOL GetWindowRect(HWND hwnd, RECT* rect)
{
    if (!rect) return FALSE;
    if (hwnd == DesktopHandle()) {
        int width, height;
        DesktopSize(width, height);
        *rect = {0, 0, width, height};
        return TRUE;
    }
    Window* w = FindWindow(hwnd);
    if (!w) return FALSE;
    *rect = w->outer;
    return TRUE;
}

BOOL GetClientRect(HWND hwnd, RECT* rect)
{
    if (!rect) return FALSE;
    if (hwnd == DesktopHandle()) return GetWindowRect(hwnd, rect);
    Window* w = FindWindow(hwnd);
    if (!w) return FALSE;
    *rect = {0, 0, w->image.width, w->image.height};
    return TRUE;
}

HWND GetDesktopWindow() { return DesktopHandle(); }

BOOL SetWindowTextA(HWND hwnd, LPCSTR text)
{
    Window* w = FindWindow(hwnd);
    if (!w) return FALSE;
    w->title = text ? text : "";
    if (w->opened && S().backend) S().backend->SetTitle(hwnd, w->title.c_str());
    return TRUE;
}

int GetWindowTextA(HWND hwnd, LPSTR buffer, int size)
{
    if (!buffer || size <= 0) return 0;
    buffer[0] = '\0';
    Window* w = FindWindow(hwnd);
    if (!w) return 0;
    size_t count = std::min(w->title.size(), static_cast<size_t>(size - 1));
    std::memcpy(buffer, w->title.data(), count);
    buffer[count] = '\0';
    return static_cast<int>(count);
}
