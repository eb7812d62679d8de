// user32 stand-ins: timers, painting and the windows' device contexts.
#include "platform/user_internal.h"

#include <algorithm>
#include <cstring>

using namespace krvplat::user;

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc)
{
    State& s = S();
    if (hwnd && !FindWindow(hwnd)) return 0;
    elapse = std::min(std::max(elapse, kMinimumTimerElapse), 0x7FFFFFFFu);
    Timer* timer = nullptr;
    for (Timer& t : s.timers)
        if (t.hwnd == hwnd && t.id == id) timer = &t;
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
    if (!hwnd) return timer->id;
    return id ? id : 1;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id)
{
    auto& timers = S().timers;
    auto it = std::find_if(timers.begin(), timers.end(),
                           [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
    if (it == timers.end()) return FALSE;
    timers.erase(it);
    return TRUE;
}

BOOL InvalidateRect(HWND hwnd, const RECT*, BOOL)
{
    if (!hwnd) {
        for (auto& w : S().windows) w->paintPending = true;
        return TRUE;
    }
    Window* w = FindWindow(hwnd);
    if (!w) return FALSE;
    w->paintPending = true;
    return TRUE;
}

HDC BeginPaint(HWND hwnd, PAINTSTRUCT* ps)
{
    Window* w = FindWindow(hwnd);
    if (!w || !ps) return nullptr;
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
    if (!w) return FALSE;
    if (w->image.changed) Present(*w);
    return TRUE;
}

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
    if (!dc) return 0;
    Window* w = FindWindow(dc->window);
    if (w && w->image.changed) Present(*w);
    return 1;
}

BOOL DeleteDC(HDC hdc) { return krvplat::detail::FindDC(hdc) ? TRUE : FALSE; }

HWND WindowFromDC(HDC hdc)
{
    DeviceContext* dc = krvplat::detail::FindDC(hdc);
    return dc ? dc->window : nullptr;
}
