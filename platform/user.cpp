// user32 stand-ins: window classes and windows held in memory, the message queue with Win32's
// retrieval order, painting, timers, key state and message boxes. A back end (platform.h)
// mirrors the windows on a real screen and feeds input in as posted messages.
//
// Single-threaded, like the program: every call comes from the thread of the message loop.
#include "platform/internal.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <string>

namespace {

using krvplat::detail::DeviceContext;
using krvplat::detail::Image;

struct WindowClass {
    std::string key;  // lower-case name: class names compare without case, as in Win32
    WORD atom = 0;
    UINT style = 0;
    WNDPROC proc = nullptr;
};

struct Window {
    HWND handle = nullptr;
    WNDPROC proc = nullptr;
    std::string title;
    RECT outer = {0, 0, 0, 0};
    bool visible = false;
    bool paintPending = false;
    bool destroying = false;
    bool opened = false;  // the back end holds a real window for it
    Image image;
    DeviceContext dc;
};

struct Timer {
    HWND hwnd = nullptr;
    UINT_PTR id = 0;
    UINT elapse = 0;
    TIMERPROC proc = nullptr;
    uint64_t due = 0;
};

struct KeyState {
    bool down = false;
    bool toggled = false;
};

struct State {
    std::vector<WindowClass> classes;
    std::vector<std::unique_ptr<Window>> windows;  // creation order, which is paint order
    std::vector<std::unique_ptr<DeviceContext>> imageDCs;
    std::deque<MSG> queue;
    std::vector<Timer> timers;
    bool quitPosted = false;
    int quitCode = 0;
    KeyState keys[256];
    POINT cursor = {0, 0};
    krvplat::Backend* backend = nullptr;
    uintptr_t nextHandle = 0x10000;
    UINT_PTR nextThreadTimer = 1;
};

// Never destroyed: windows and DCs may still be touched by static destructors at exit.
State& S()
{
    static State* state = new State;
    return *state;
}

constexpr uintptr_t kDesktopHandle = 0x10;
constexpr int kDefaultDesktopWidth = 1920;
constexpr int kDefaultDesktopHeight = 1080;
constexpr UINT kMinimumTimerElapse = 10;  // USER_TIMER_MINIMUM
constexpr int kMaxImageSide = 1 << 15;

HWND DesktopHandle() { return reinterpret_cast<HWND>(kDesktopHandle); }

template <class Handle>
Handle NewHandle()
{
    uintptr_t value = S().nextHandle;
    S().nextHandle += 4;
    return reinterpret_cast<Handle>(value);
}

Window* FindWindow(HWND hwnd)
{
    if (!hwnd)
        return nullptr;
    for (auto& w : S().windows)
        if (w->handle == hwnd)
            return w.get();
    return nullptr;
}

std::string LowerCase(const char* text)
{
    std::string lower = text;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

// A class name pointer below 0x10000 is an atom (MAKEINTATOM), as in Win32.
const WindowClass* FindClass(LPCSTR name)
{
    uintptr_t value = reinterpret_cast<uintptr_t>(name);
    if (value == 0)
        return nullptr;
    if (value < 0x10000) {
        for (const WindowClass& c : S().classes)
            if (c.atom == value)
                return &c;
        return nullptr;
    }
    std::string key = LowerCase(name);
    for (const WindowClass& c : S().classes)
        if (c.key == key)
            return &c;
    return nullptr;
}

void DesktopSize(int& width, int& height)
{
    width = kDefaultDesktopWidth;
    height = kDefaultDesktopHeight;
    if (S().backend)
        S().backend->DesktopSize(width, height);
}

int ClampSide(int side) { return std::min(std::max(side, 0), kMaxImageSide); }

// Headless, and with the SDL back end, the client area fills the whole outer rectangle.
void FrameSize(int& width, int& height)
{
    width = 0;
    height = 0;
    if (S().backend)
        S().backend->FrameSize(width, height);
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
    if (!w)
        return 0;
    if (!w->proc)
        return DefWindowProcA(hwnd, msg, wParam, lParam);
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
    if (width == w.image.width && height == w.image.height)
        return false;
    w.image.Resize(width, height);
    return true;
}

void TrackInput(const MSG& msg)
{
    State& s = S();
    switch (msg.message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
        krvplat::SetKeyDown(static_cast<int>(msg.wParam & 0xFF), true);
        break;
    case WM_KEYUP:
    case WM_SYSKEYUP:
        krvplat::SetKeyDown(static_cast<int>(msg.wParam & 0xFF), false);
        break;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
        krvplat::SetKeyDown(VK_LBUTTON, msg.message == WM_LBUTTONDOWN);
        break;
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
        krvplat::SetKeyDown(VK_RBUTTON, msg.message == WM_RBUTTONDOWN);
        break;
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
        krvplat::SetKeyDown(VK_MBUTTON, msg.message == WM_MBUTTONDOWN);
        break;
    default:
        break;
    }
    if (msg.message >= WM_MOUSEMOVE && msg.message <= WM_MBUTTONUP) {
        Window* w = FindWindow(msg.hwnd);
        LONG x = static_cast<short>(LOWORD(msg.lParam));
        LONG y = static_cast<short>(HIWORD(msg.lParam));
        s.cursor.x = x + (w ? w->outer.left : 0);
        s.cursor.y = y + (w ? w->outer.top : 0);
    }
}

bool MatchesWindow(HWND filter, HWND hwnd)
{
    if (!filter)
        return true;
    if (filter == reinterpret_cast<HWND>(static_cast<intptr_t>(-1)))
        return hwnd == nullptr;
    return filter == hwnd;
}

bool MatchesRange(UINT min, UINT max, UINT message)
{
    return (min == 0 && max == 0) || (message >= min && message <= max);
}

MSG MakeMsg(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    MSG msg;
    msg.hwnd = hwnd;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = GetTickCount();
    msg.pt = S().cursor;
    return msg;
}

// One step of retrieval in Win32's order: posted and input messages, the quit request (which
// any filter lets through), paints of visible windows (regenerated until BeginPaint validates
// them, so there is never more than one per window), then due timers.
bool NextMessage(MSG* out, HWND filter, UINT min, UINT max, bool remove)
{
    State& s = S();
    if (s.backend)
        s.backend->PumpEvents(0);
    for (auto it = s.queue.begin(); it != s.queue.end(); ++it) {
        if (!MatchesWindow(filter, it->hwnd) || !MatchesRange(min, max, it->message))
            continue;
        *out = *it;
        if (remove) {
            s.queue.erase(it);
            TrackInput(*out);
        }
        return true;
    }
    if (s.quitPosted) {
        *out = MakeMsg(nullptr, WM_QUIT, static_cast<WPARAM>(s.quitCode), 0);
        if (remove)
            s.quitPosted = false;
        return true;
    }
    if (MatchesRange(min, max, WM_PAINT)) {
        for (auto& w : s.windows) {
            if (w->visible && w->paintPending && !w->destroying &&
                MatchesWindow(filter, w->handle)) {
                *out = MakeMsg(w->handle, WM_PAINT, 0, 0);
                return true;
            }
        }
    }
    if (MatchesRange(min, max, WM_TIMER)) {
        uint64_t now = krvplat::detail::NowMilliseconds();
        for (Timer& t : s.timers) {
            if (t.due > now || !MatchesWindow(filter, t.hwnd))
                continue;
            *out = MakeMsg(t.hwnd, WM_TIMER, t.id, reinterpret_cast<LPARAM>(t.proc));
            if (remove)
                t.due = now + t.elapse;
            return true;
        }
    }
    return false;
}

// Milliseconds until the earliest timer that the filter admits is due; -1 when there is none.
int64_t MillisecondsToNextTimer(HWND filter, UINT min, UINT max)
{
    if (!MatchesRange(min, max, WM_TIMER))
        return -1;
    uint64_t now = krvplat::detail::NowMilliseconds();
    int64_t best = -1;
    for (const Timer& t : S().timers) {
        if (!MatchesWindow(filter, t.hwnd))
            continue;
        int64_t wait = t.due > now ? static_cast<int64_t>(t.due - now) : 0;
        if (best < 0 || wait < best)
            best = wait;
    }
    return best;
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

// The character that TranslateMessage makes of a key press, 0 for none.
int CharacterOfKey(int vk)
{
    bool shift = (GetKeyState(VK_SHIFT) & 0x8000) != 0;
    if (vk >= 'A' && vk <= 'Z')
        return shift ? vk : vk - 'A' + 'a';
    if (vk >= '0' && vk <= '9')
        return vk;
    switch (vk) {
    case VK_SPACE:
    case VK_RETURN:
    case VK_BACK:
    case VK_TAB:
    case VK_ESCAPE:
        return vk;
    default:
        return 0;
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
namespace krvplat {

void detail::Image::Resize(int w, int h)
{
    width = w;
    height = h;
    pixels.assign(static_cast<size_t>(w) * static_cast<size_t>(h) * 3u, 0);
    changed = true;
}

detail::DeviceContext* detail::FindDC(HDC hdc)
{
    if (!hdc)
        return nullptr;
    for (auto& w : S().windows)
        if (w->dc.handle == hdc)
            return &w->dc;
    for (auto& dc : S().imageDCs)
        if (dc->handle == hdc)
            return dc.get();
    return nullptr;
}

void detail::PresentChangedWindows()
{
    for (auto& w : S().windows)
        if (w->image.changed && !w->destroying)
            Present(*w);
}

HDC CreateImageDC(int width, int height)
{
    if (width < 0 || height < 0 || width > kMaxImageSide || height > kMaxImageSide)
        return nullptr;
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
    list.erase(std::remove_if(list.begin(), list.end(),
                              [hdc](const std::unique_ptr<DeviceContext>& dc) {
                                  return dc->handle == hdc;
                              }),
               list.end());
}

bool GetImage(HDC hdc, int& width, int& height, const unsigned char*& pixels)
{
    DeviceContext* dc = detail::FindDC(hdc);
    if (!dc)
        return false;
    width = dc->image->width;
    height = dc->image->height;
    pixels = dc->image->pixels.data();
    return true;
}

bool GetWindowImage(HWND hwnd, int& width, int& height, const unsigned char*& pixels)
{
    Window* w = FindWindow(hwnd);
    if (!w)
        return false;
    width = w->image.width;
    height = w->image.height;
    pixels = w->image.pixels.data();
    return true;
}

void SetBackend(Backend* backend) { S().backend = backend; }
Backend* GetBackend() { return S().backend; }

void SetKeyDown(int virtualKey, bool down)
{
    if (virtualKey < 0 || virtualKey > 255)
        return;
    KeyState& key = S().keys[virtualKey];
    if (down && !key.down)
        key.toggled = !key.toggled;
    key.down = down;
}

void WindowResized(HWND hwnd, int clientWidth, int clientHeight)
{
    Window* w = FindWindow(hwnd);
    if (!w)
        return;
    int frameWidth, frameHeight;
    FrameSize(frameWidth, frameHeight);
    w->outer.right = w->outer.left + ClampSide(clientWidth) + frameWidth;
    w->outer.bottom = w->outer.top + ClampSide(clientHeight) + frameHeight;
    if (UpdateClientSize(*w)) {
        w->paintPending = true;
        PostMessageA(hwnd, WM_SIZE, SIZE_RESTORED,
                     MAKELPARAM(w->image.width, w->image.height));
    }
}

void WindowMoved(HWND hwnd, int x, int y)
{
    Window* w = FindWindow(hwnd);
    if (!w)
        return;
    LONG width = w->outer.right - w->outer.left;
    LONG height = w->outer.bottom - w->outer.top;
    w->outer = {x, y, x + width, y + height};
    PostMessageA(hwnd, WM_MOVE, 0, MAKELPARAM(x, y));
}

}  // namespace krvplat

// ---------------------------------------------------------------------------------------------
// Classes and windows.

WORD RegisterClassExA(const WNDCLASSEXA* wc)
{
    if (!wc || !wc->lpszClassName || reinterpret_cast<uintptr_t>(wc->lpszClassName) < 0x10000 ||
        wc->lpszClassName[0] == '\0')
        return 0;
    if (FindClass(wc->lpszClassName))
        return 0;  // ERROR_CLASS_ALREADY_EXISTS
    static WORD nextAtom = 0xC000;
    WindowClass c;
    c.key = LowerCase(wc->lpszClassName);
    c.atom = nextAtom++;
    c.style = wc->style;
    c.proc = wc->lpfnWndProc;
    S().classes.push_back(c);
    return c.atom;
}

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param)
{
    const WindowClass* cls = FindClass(className);
    if (!cls)
        return nullptr;
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
    if (!created)
        return nullptr;
    CallProc(hwnd, WM_SIZE, SIZE_RESTORED,
             MAKELPARAM(created->image.width, created->image.height));
    if (style & WS_VISIBLE)
        ShowWindow(hwnd, SW_SHOW);
    return hwnd;
}

BOOL DestroyWindow(HWND hwnd)
{
    Window* w = FindWindow(hwnd);
    if (!w)
        return FALSE;
    if (w->destroying)
        return TRUE;
    w->destroying = true;
    CallProc(hwnd, WM_DESTROY, 0, 0);
    w = FindWindow(hwnd);
    if (w && w->opened && S().backend)
        S().backend->CloseWindow(hwnd);
    RemoveWindowTraces(hwnd);
    auto& list = S().windows;
    list.erase(std::remove_if(list.begin(), list.end(),
                              [hwnd](const std::unique_ptr<Window>& p) {
                                  return p->handle == hwnd;
                              }),
               list.end());
    return TRUE;
}

BOOL ShowWindow(HWND hwnd, int cmdShow)
{
    Window* w = FindWindow(hwnd);
    if (!w)
        return FALSE;
    BOOL wasVisible = w->visible ? TRUE : FALSE;
    krvplat::Backend* backend = w->opened ? S().backend : nullptr;
    if (cmdShow == SW_HIDE) {
        w->visible = false;
        if (backend)
            backend->ShowWindow(hwnd, false);
        return wasVisible;
    }
    if (cmdShow == SW_MAXIMIZE) {
        int desktopWidth, desktopHeight;
        DesktopSize(desktopWidth, desktopHeight);
        w->outer = {0, 0, desktopWidth, desktopHeight};
        if (backend)
            backend->MoveWindow(hwnd, 0, 0);
        if (UpdateClientSize(*w)) {
            if (backend)
                backend->ResizeWindow(hwnd, w->image.width, w->image.height);
            CallProc(hwnd, WM_SIZE, SIZE_MAXIMIZED, MAKELPARAM(w->image.width, w->image.height));
            w = FindWindow(hwnd);
            if (!w)
                return wasVisible;
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
    if (backend)
        backend->ShowWindow(hwnd, true);
    return wasVisible;
}

BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint)
{
    Window* w = FindWindow(hwnd);
    if (!w)
        return FALSE;
    w->outer = {x, y, x + ClampSide(width), y + ClampSide(height)};
    krvplat::Backend* backend = w->opened ? S().backend : nullptr;
    if (backend)
        backend->MoveWindow(hwnd, x, y);
    if (UpdateClientSize(*w)) {
        if (backend)
            backend->ResizeWindow(hwnd, w->image.width, w->image.height);
        // A new size repaints the whole window, as the CS_HREDRAW | CS_VREDRAW classes ask.
        w->paintPending = true;
        CallProc(hwnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(w->image.width, w->image.height));
        return TRUE;
    }
    if (repaint)
        w->paintPending = true;
    return TRUE;
}

BOOL GetWindowRect(HWND hwnd, RECT* rect)
{
    if (!rect)
        return FALSE;
    if (hwnd == DesktopHandle()) {
        int width, height;
        DesktopSize(width, height);
        *rect = {0, 0, width, height};
        return TRUE;
    }
    Window* w = FindWindow(hwnd);
    if (!w)
        return FALSE;
    *rect = w->outer;
    return TRUE;
}

BOOL GetClientRect(HWND hwnd, RECT* rect)
{
    if (!rect)
        return FALSE;
    if (hwnd == DesktopHandle())
        return GetWindowRect(hwnd, rect);
    Window* w = FindWindow(hwnd);
    if (!w)
        return FALSE;
    *rect = {0, 0, w->image.width, w->image.height};
    return TRUE;
}

HWND GetDesktopWindow() { return DesktopHandle(); }

BOOL SetWindowTextA(HWND hwnd, LPCSTR text)
{
    Window* w = FindWindow(hwnd);
    if (!w)
        return FALSE;
    w->title = text ? text : "";
    if (w->opened && S().backend)
        S().backend->SetTitle(hwnd, w->title.c_str());
    return TRUE;
}

int GetWindowTextA(HWND hwnd, LPSTR buffer, int size)
{
    if (!buffer || size <= 0)
        return 0;
    buffer[0] = '\0';
    Window* w = FindWindow(hwnd);
    if (!w)
        return 0;
    size_t count = std::min(w->title.size(), static_cast<size_t>(size - 1));
    std::memcpy(buffer, w->title.data(), count);
    buffer[count] = '\0';
    return static_cast<int>(count);
}

// ---------------------------------------------------------------------------------------------
// Timers and painting.

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc)
{
    State& s = S();
    if (hwnd && !FindWindow(hwnd))
        return 0;
    elapse = std::min(std::max(elapse, kMinimumTimerElapse), 0x7FFFFFFFu);
    Timer* timer = nullptr;
    for (Timer& t : s.timers)
        if (t.hwnd == hwnd && t.id == id)
            timer = &t;
    if (!timer) {
        s.timers.emplace_back();
        timer = &s.timers.back();
        timer->hwnd = hwnd;
        // A thread timer (no window) gets an id of its own, as in Win32.
        timer->id = hwnd ? id : s.nextThreadTimer++;
    }
    timer->elapse = elapse;
    timer->proc = proc;
    timer->due = krvplat::detail::NowMilliseconds() + elapse;
    if (!hwnd)
        return timer->id;
    return id ? id : 1;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id)
{
    auto& timers = S().timers;
    auto it = std::find_if(timers.begin(), timers.end(),
                           [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
    if (it == timers.end())
        return FALSE;
    timers.erase(it);
    return TRUE;
}

BOOL InvalidateRect(HWND hwnd, const RECT*, BOOL)
{
    if (!hwnd) {
        for (auto& w : S().windows)
            w->paintPending = true;
        return TRUE;
    }
    Window* w = FindWindow(hwnd);
    if (!w)
        return FALSE;
    w->paintPending = true;
    return TRUE;
}

HDC BeginPaint(HWND hwnd, PAINTSTRUCT* ps)
{
    Window* w = FindWindow(hwnd);
    if (!w || !ps)
        return nullptr;
    w->paintPending = false;
    std::memset(ps, 0, sizeof(*ps));
    ps->hdc = w->dc.handle;
    ps->fErase = FALSE;
    ps->rcPaint = {0, 0, w->image.width, w->image.height};
    return w->dc.handle;
}

BOOL EndPaint(HWND hwnd, const PAINTSTRUCT*)
{
    Window* w = FindWindow(hwnd);
    if (!w)
        return FALSE;
    if (w->image.changed)
        Present(*w);
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
// Messages.

BOOL GetMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax)
{
    if (!msg)
        return -1;
    if (hwnd && hwnd != reinterpret_cast<HWND>(static_cast<intptr_t>(-1)) && !FindWindow(hwnd))
        return -1;
    for (;;) {
        if (NextMessage(msg, hwnd, filterMin, filterMax, true))
            return msg->message == WM_QUIT ? 0 : 1;
        int64_t wait = MillisecondsToNextTimer(hwnd, filterMin, filterMax);
        if (S().backend) {
            // Wake at least every 100 ms: a window the filter admits may appear meanwhile.
            S().backend->PumpEvents(static_cast<int>(wait < 0 || wait > 100 ? 100 : wait));
            continue;
        }
        // Nothing but a timer can still produce a message here.
        if (wait < 0)
            return -1;
        Sleep(static_cast<DWORD>(wait));
    }
}

BOOL PeekMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT remove)
{
    if (!msg)
        return FALSE;
    return NextMessage(msg, hwnd, filterMin, filterMax, (remove & PM_REMOVE) != 0) ? TRUE : FALSE;
}

BOOL PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (hwnd && !FindWindow(hwnd))
        return FALSE;
    S().queue.push_back(MakeMsg(hwnd, msg, wParam, lParam));
    return TRUE;
}

LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return CallProc(hwnd, msg, wParam, lParam);
}

BOOL TranslateMessage(const MSG* msg)
{
    if (!msg)
        return FALSE;
    switch (msg->message) {
    case WM_KEYDOWN: {
        int c = CharacterOfKey(static_cast<int>(msg->wParam & 0xFF));
        if (c) {
            MSG chr = *msg;
            chr.message = WM_CHAR;
            chr.wParam = static_cast<WPARAM>(c);
            S().queue.push_front(chr);
        }
        return TRUE;
    }
    case WM_KEYUP:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
        return TRUE;
    default:
        return FALSE;
    }
}

LRESULT DispatchMessageA(const MSG* msg)
{
    if (!msg || !msg->hwnd)
        return 0;
    if (msg->message == WM_TIMER && msg->lParam) {
        reinterpret_cast<TIMERPROC>(msg->lParam)(msg->hwnd, WM_TIMER, msg->wParam, GetTickCount());
        return 0;
    }
    return CallProc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

void PostQuitMessage(int exitCode)
{
    S().quitPosted = true;
    S().quitCode = exitCode;
}

LRESULT DefWindowProcA(HWND hwnd, UINT msg, WPARAM, LPARAM)
{
    switch (msg) {
    case WM_CLOSE:
        DestroyWindow(hwnd);
        break;
    case WM_PAINT: {
        // Validates the window; otherwise WM_PAINT would come back for ever.
        PAINTSTRUCT ps;
        if (BeginPaint(hwnd, &ps))
            EndPaint(hwnd, &ps);
        break;
    }
    default:
        break;
    }
    return 0;
}

// The down state is the byte 0x80 sign-extended, as Win32 returns it, so 0x8000 and 0x100 are
// both set while the key is held; bit 0 is the toggle.
short GetKeyState(int virtualKey)
{
    if (virtualKey < 0 || virtualKey > 255)
        return 0;
    const KeyState& key = S().keys[virtualKey];
    int value = (key.down ? 0xFF80 : 0) | (key.toggled ? 1 : 0);
    return static_cast<short>(static_cast<uint16_t>(value));
}

HACCEL LoadAcceleratorsA(HINSTANCE, LPCSTR) { return nullptr; }
int TranslateAcceleratorA(HWND, HACCEL, MSG*) { return 0; }

// Resources do not exist here; these handles only need to be non-null and distinct.
HICON LoadIconA(HINSTANCE, LPCSTR) { return reinterpret_cast<HICON>(uintptr_t{0x20}); }
HCURSOR LoadCursorA(HINSTANCE, LPCSTR) { return reinterpret_cast<HCURSOR>(uintptr_t{0x24}); }
HGDIOBJ GetStockObject(int object)
{
    if (object < 0 || object > 31)
        return nullptr;
    return reinterpret_cast<HGDIOBJ>(uintptr_t{0x100} + static_cast<uintptr_t>(object) * 4u);
}

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type)
{
    if (!text)
        text = "";
    if (!caption)
        caption = "Error";
    if (S().backend)
        return S().backend->MessageBox(text, caption, type);
    std::fprintf(stderr, "%s: %s\n", caption, text);
    // Nobody can answer: take the affirmative button of the box.
    return (type & 0xF) == MB_YESNO ? IDYES : IDOK;
}

// ---------------------------------------------------------------------------------------------
// Window device contexts. Every window keeps one DC for its life (CS_OWNDC behaviour for every
// class), so releasing or deleting it changes nothing; releasing flushes what was drawn.

HDC GetDC(HWND hwnd)
{
    Window* w = FindWindow(hwnd);
    return w ? w->dc.handle : nullptr;
}

int ReleaseDC(HWND, HDC hdc)
{
    DeviceContext* dc = krvplat::detail::FindDC(hdc);
    if (!dc)
        return 0;
    Window* w = FindWindow(dc->window);
    if (w && w->image.changed)
        Present(*w);
    return 1;
}

BOOL DeleteDC(HDC hdc) { return krvplat::detail::FindDC(hdc) ? TRUE : FALSE; }

HWND WindowFromDC(HDC hdc)
{
    DeviceContext* dc = krvplat::detail::FindDC(hdc);
    return dc ? dc->window : nullptr;
}
