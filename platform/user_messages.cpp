// user32 stand-ins: the message queue with Win32's retrieval order, posting, translating and
// dispatching messages, the quit request and the default window procedure.
#include "platform/user_internal.h"

#include <algorithm>

using namespace krvplat::user;

namespace {

bool MatchesWindow(HWND filter, HWND hwnd)
{
    if (!filter) return true;
    if (filter == reinterpret_cast<HWND>(static_cast<intptr_t>(-1))) return hwnd == nullptr;
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
    if (s.backend) s.backend->PumpEvents(0);
    for (auto it = s.queue.begin(); it != s.queue.end(); ++it) {
        if (!MatchesWindow(filter, it->hwnd) || !MatchesRange(min, max, it->message)) continue;
        *out = *it;
        if (remove) {
            s.queue.erase(it);
            TrackInput(*out);
        }
        return true;
    }
    if (s.quitPosted) {
        *out = MakeMsg(nullptr, WM_QUIT, static_cast<WPARAM>(s.quitCode), 0);
        if (remove) s.quitPosted = false;
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
            if (t.due > now || !MatchesWindow(filter, t.hwnd)) continue;
            *out = MakeMsg(t.hwnd, WM_TIMER, t.id, reinterpret_cast<LPARAM>(t.proc));
            if (remove) t.due = now + t.elapse;
            return true;
        }
    }
    return false;
}

// Milliseconds until the earliest timer that the filter admits is due; -1 when there is none.
int64_t MillisecondsToNextTimer(HWND filter, UINT min, UINT max)
{
    if (!MatchesRange(min, max, WM_TIMER)) return -1;
    uint64_t now = krvplat::detail::NowMilliseconds();
    int64_t best = -1;
    for (const Timer& t : S().timers) {
        if (!MatchesWindow(filter, t.hwnd)) continue;
        int64_t wait = t.due > now ? static_cast<int64_t>(t.due - now) : 0;
        if (best < 0 || wait < best) best = wait;
    }
    return best;
}

// The character that TranslateMessage makes of a key press, 0 for none.
int CharacterOfKey(int vk)
{
    bool shift = (GetKeyState(VK_SHIFT) & 0x8000) != 0;
    if (vk >= 'A' && vk <= 'Z') return shift ? vk : vk - 'A' + 'a';
    if (vk >= '0' && vk <= '9') return vk;
    switch (vk) {
    case VK_SPACE:
    case VK_RETURN:
    case VK_BACK:
    case VK_TAB:
    case VK_ESCAPE: return vk;
    default: return 0;
    }
}

}  // namespace

BOOL GetMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax)
{
    if (!msg) return -1;
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
        if (wait < 0) return -1;
        Sleep(static_cast<DWORD>(wait));
    }
}

BOOL PeekMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT remove)
{
    if (!msg) return FALSE;
    return NextMessage(msg, hwnd, filterMin, filterMax, (remove & PM_REMOVE) != 0) ? TRUE : FALSE;
}

BOOL PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (hwnd && !FindWindow(hwnd)) return FALSE;
    S().queue.push_back(MakeMsg(hwnd, msg, wParam, lParam));
    return TRUE;
}

LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return CallProc(hwnd, msg, wParam, lParam);
}

BOOL TranslateMessage(const MSG* msg)
{
    if (!msg) return FALSE;
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
    case WM_SYSKEYUP: return TRUE;
    default: return FALSE;
    }
}

LRESULT DispatchMessageA(const MSG* msg)
{
    if (!msg || !msg->hwnd) return 0;
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
    case WM_CLOSE: DestroyWindow(hwnd); break;
    case WM_PAINT: {
        // Validates the window; otherwise WM_PAINT would come back for ever.
        PAINTSTRUCT ps;
        if (BeginPaint(hwnd, &ps)) EndPaint(hwnd, &ps);
        break;
    }
    default: break;
    }
    return 0;
}
