// user32 stand-ins: key and mouse-button state, as GetKeyState reports it.
#include "platform/user_internal.h"

namespace krvplat {
namespace user {

void TrackInput(const MSG& msg)
{
    State& s = S();
    switch (msg.message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN: krvplat::SetKeyDown(static_cast<int>(msg.wParam & 0xFF), true); break;
    case WM_KEYUP:
    case WM_SYSKEYUP: krvplat::SetKeyDown(static_cast<int>(msg.wParam & 0xFF), false); break;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP: krvplat::SetKeyDown(VK_LBUTTON, msg.message == WM_LBUTTONDOWN); break;
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP: krvplat::SetKeyDown(VK_RBUTTON, msg.message == WM_RBUTTONDOWN); break;
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP: krvplat::SetKeyDown(VK_MBUTTON, msg.message == WM_MBUTTONDOWN); break;
    default: break;
    }
    if (msg.message >= WM_MOUSEMOVE && msg.message <= WM_MBUTTONUP) {
        Window* w = FindWindow(msg.hwnd);
        LONG x = static_cast<short>(LOWORD(msg.lParam));
        LONG y = static_cast<short>(HIWORD(msg.lParam));
        s.cursor.x = x + (w ? w->outer.left : 0);
        s.cursor.y = y + (w ? w->outer.top : 0);
    }
}

}  // namespace user
}  // namespace krvplat

namespace krvplat {

void SetKeyDown(int virtualKey, bool down)
{
    if (virtualKey < 0 || virtualKey > 255) return;
    user::KeyState& key = user::S().keys[virtualKey];
    if (down && !key.down) key.toggled = !key.toggled;
    key.down = down;
}

}  // namespace krvplat

// The down state is the byte 0x80 sign-extended, as Win32 returns it, so 0x8000 and 0x100 are
// both set while the key is held; bit 0 is the toggle.
short GetKeyState(int virtualKey)
{
    if (virtualKey < 0 || virtualKey > 255) return 0;
    const krvplat::user::KeyState& key = krvplat::user::S().keys[virtualKey];
    int value = (key.down ? 0xFF80 : 0) | (key.toggled ? 1 : 0);
    return static_cast<short>(static_cast<uint16_t>(value));
}
