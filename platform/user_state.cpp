// user32 stand-ins: the state record, the lookups the other parts share, and the platform's own
// entry points (image DCs, back end, resize and move reports from the back end).
#include "platform/user_internal.h"

#include <algorithm>
#include <cctype>

namespace krvplat {
namespace user {

// Never destroyed: windows and DCs may still be touched by static destructors at exit.
State& S()
{
    static State* state = new State;
    return *state;
}

Window* FindWindow(HWND hwnd)
{
    if (!hwnd) return nullptr;
    for (auto& w : S().windows)
        if (w->handle == hwnd) return w.get();
    return nullptr;
}

std::string LowerCase(const char* text)
{
    std::string lower = text;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

// A class name pointer below 0x10000 is an atom (MAKEINTATOM), as in Win32.
const WindowClass* FindClass(LPCSTR name)
{
    uintptr_t value = reinterpret_cast<uintptr_t>(name);
    if (value == 0) return nullptr;
    if (value < 0x10000) {
        for (const WindowClass& c : S().classes)
            if (c.atom == value) return &c;
        return nullptr;
    }
    std::string key = LowerCase(name);
    for (const WindowClass& c : S().classes)
        if (c.key == key) return &c;
    return nullptr;
}

void DesktopSize(int& width, int& height)
{
    width = kDefaultDesktopWidth;
    height = kDefaultDesktopHeight;
    if (S().backend) S().backend->DesktopSize(width, height);
}

int ClampSide(int side) { return std::min(std::max(side, 0), kMaxImageSide); }

// Headless, and with the SDL back end, the client area fills the whole outer rectangle.
void FrameSize(int& width, int& height)
{
    width = 0;
    height = 0;
    if (S().backend) S().backend->FrameSize(width, height);
    width = ClampSide(width);
    height = ClampSide(height);
}

void ClientSize(const Window& w, int& width, int& height)
{
    int frameWidth, frameHeight;
    FrameSize(frameWidth, frameHeight);
    width = ClampSide(w.outer.right - w.outer.left - frameWidth);
    height = ClampSide(w.outer.bottom - w.outer.top - frameHeight);
}

LRESULT CallProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    Window* w = FindWindow(hwnd);
    if (!w) return 0;
    if (!w->proc) return DefWindowProcA(hwnd, msg, wParam, lParam);
    return w->proc(hwnd, msg, wParam, lParam);
}

void Present(Window& w)
{
    w.image.changed = false;
    if (S().backend && w.opened && w.image.width > 0 && w.image.height > 0)
        S().backend->Present(w.handle, w.image.width, w.image.height, w.image.pixels.data());
}

// Reallocates the client image after the outer rectangle changed; true when the client size
// differs from before.
bool UpdateClientSize(Window& w)
{
    int width, height;
    ClientSize(w, width, height);
    if (width == w.image.width && height == w.image.height) return false;
    w.image.Resize(width, height);
    return true;
}

void RemoveWindowTraces(HWND hwnd)
{
    State& s = S();
    s.queue.erase(std::remove_if(s.queue.begin(), s.queue.end(),
                                 [hwnd](const MSG& m) { return m.hwnd == hwnd; }),
                  s.queue.end());
    s.timers.erase(std::remove_if(s.timers.begin(), s.timers.end(),
                                  [hwnd](const Timer& t) { return t.hwnd == hwnd; }),
                   s.timers.end());
}

}  // namespace user
}  // namespace krvplat

namespace krvplat {

using namespace user;

void detail::Image::Resize(int w, int h)
{
    width = w;
    height = h;
    pixels.assign(static_cast<size_t>(w) * static_cast<size_t>(h) * 3u, 0);
    changed = true;
}

detail::DeviceContext* detail::FindDC(HDC hdc)
{
    if (!hdc) return nullptr;
    for (auto& w : S().windows)
        if (w->dc.handle == hdc) return &w->dc;
    for (auto& dc : S().imageDCs)
        if (dc->handle == hdc) return dc.get();
    return nullptr;
}

void detail::PresentChangedWindows()
{
    for (auto& w : S().windows)
        if (w->image.changed && !w->destroying) Present(*w);
}

HDC CreateImageDC(int width, int height)
{
    if (width < 0 || height < 0 || width > kMaxImageSide || height > kMaxImageSide) return nullptr;
    auto dc = std::make_unique<DeviceContext>();
    dc->handle = NewHandle<HDC>();
    dc->image = &dc->ownImage;
    dc->ownImage.Resize(width, height);
    HDC handle = dc->handle;
    S().imageDCs.push_back(std::move(dc));
    return handle;
}

void DestroyImageDC(HDC hdc)
{
    auto& list = S().imageDCs;
    list.erase(std::remove_if(
                   list.begin(), list.end(),
                   [hdc](const std::unique_ptr<DeviceContext>& dc) { return dc->handle == hdc; }),
               list.end());
}

bool GetImage(HDC hdc, int& width, int& height, const unsigned char*& pixels)
{
    DeviceContext* dc = detail::FindDC(hdc);
    if (!dc) return false;
    width = dc->image->width;
    height = dc->image->height;
    pixels = dc->image->pixels.data();
    return true;
}

bool GetWindowImage(HWND hwnd, int& width, int& height, const unsigned char*& pixels)
{
    Window* w = FindWindow(hwnd);
    if (!w) return false;
    width = w->image.width;
    height = w->image.height;
    pixels = w->image.pixels.data();
    return true;
}

void SetBackend(Backend* backend) { S().backend = backend; }
Backend* GetBackend() { return S().backend; }

void WindowResized(HWND hwnd, int clientWidth, int clientHeight)
{
    Window* w = FindWindow(hwnd);
    if (!w) return;
    int frameWidth, frameHeight;
    FrameSize(frameWidth, frameHeight);
    w->outer.right = w->outer.left + ClampSide(clientWidth) + frameWidth;
    w->outer.bottom = w->outer.top + ClampSide(clientHeight) + frameHeight;
    if (UpdateClientSize(*w)) {
        w->paintPending = true;
        PostMessageA(hwnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(w->image.width, w->image.height));
    }
}

void WindowMoved(HWND hwnd, int x, int y)
{
    Window* w = FindWindow(hwnd);
    if (!w) return;
    LONG width = w->outer.right - w->outer.left;
    LONG height = w->outer.bottom - w->outer.top;
    w->outer = {x, y, x + width, y + height};
    PostMessageA(hwnd, WM_MOVE, 0, MAKELPARAM(x, y));
}

}  // namespace krvplat
