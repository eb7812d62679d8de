// SDL2 back end: SDL windows with a streaming BGR24 texture (or the window surface where no
// renderer can be made), and SDL events translated into posted Win32 messages.
#include "platform/sdl/sdl_backend.h"

#include "platform/platform.h"

#include <SDL.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Win32's virtual-key code of an SDL key; 0 for keys the program has no code for. Letters follow
// the keyboard layout as Win32's do; the digit row is '0'..'9' on every layout, so it goes by
// scancode.
int VirtualKey(SDL_Keycode sym, SDL_Scancode scancode)
{
    if (sym >= SDLK_a && sym <= SDLK_z) return 'A' + (sym - SDLK_a);
    if (scancode >= SDL_SCANCODE_1 && scancode <= SDL_SCANCODE_9)
        return '1' + (scancode - SDL_SCANCODE_1);
    if (scancode == SDL_SCANCODE_0) return '0';
    if (sym >= SDLK_F1 && sym <= SDLK_F12) return VK_F1 + (sym - SDLK_F1);
    if (sym >= SDLK_KP_1 && sym <= SDLK_KP_9) return VK_NUMPAD0 + 1 + (sym - SDLK_KP_1);
    switch (sym) {
    case SDLK_ESCAPE: return VK_ESCAPE;
    case SDLK_SPACE: return VK_SPACE;
    case SDLK_RETURN:
    case SDLK_KP_ENTER: return VK_RETURN;
    case SDLK_BACKSPACE: return VK_BACK;
    case SDLK_TAB: return VK_TAB;
    case SDLK_LEFT: return VK_LEFT;
    case SDLK_RIGHT: return VK_RIGHT;
    case SDLK_UP: return VK_UP;
    case SDLK_DOWN: return VK_DOWN;
    case SDLK_PAGEUP: return VK_PRIOR;
    case SDLK_PAGEDOWN: return VK_NEXT;
    case SDLK_HOME: return VK_HOME;
    case SDLK_END: return VK_END;
    case SDLK_INSERT: return VK_INSERT;
    case SDLK_DELETE: return VK_DELETE;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT: return VK_SHIFT;
    case SDLK_LCTRL:
    case SDLK_RCTRL: return VK_CONTROL;
    case SDLK_LALT:
    case SDLK_RALT: return VK_MENU;
    case SDLK_KP_0: return VK_NUMPAD0;
    case SDLK_KP_MULTIPLY: return VK_MULTIPLY;
    case SDLK_KP_PLUS: return VK_ADD;
    case SDLK_KP_MINUS: return VK_SUBTRACT;
    case SDLK_KP_PERIOD: return VK_DECIMAL;
    case SDLK_KP_DIVIDE: return VK_DIVIDE;
    case SDLK_SEMICOLON: return VK_OEM_1;
    case SDLK_EQUALS: return VK_OEM_PLUS;
    case SDLK_COMMA: return VK_OEM_COMMA;
    case SDLK_MINUS: return VK_OEM_MINUS;
    case SDLK_PERIOD: return VK_OEM_PERIOD;
    case SDLK_SLASH: return VK_OEM_2;
    case SDLK_BACKQUOTE: return VK_OEM_3;
    case SDLK_LEFTBRACKET: return VK_OEM_4;
    case SDLK_BACKSLASH: return VK_OEM_5;
    case SDLK_RIGHTBRACKET: return VK_OEM_6;
    case SDLK_QUOTE: return VK_OEM_7;
    default: return 0;
    }
}

WPARAM ButtonFlag(Uint8 button)
{
    switch (button) {
    case SDL_BUTTON_LEFT: return MK_LBUTTON;
    case SDL_BUTTON_RIGHT: return MK_RBUTTON;
    case SDL_BUTTON_MIDDLE: return MK_MBUTTON;
    default: return 0;
    }
}

WPARAM ButtonFlags(Uint32 sdlState)
{
    WPARAM flags = 0;
    if (sdlState & SDL_BUTTON_LMASK) flags |= MK_LBUTTON;
    if (sdlState & SDL_BUTTON_RMASK) flags |= MK_RBUTTON;
    if (sdlState & SDL_BUTTON_MMASK) flags |= MK_MBUTTON;
    return flags;
}

WPARAM ModifierFlags()
{
    SDL_Keymod mod = SDL_GetModState();
    WPARAM flags = 0;
    if (mod & KMOD_SHIFT) flags |= MK_SHIFT;
    if (mod & KMOD_CTRL) flags |= MK_CONTROL;
    return flags;
}

// Coordinates travel as signed 16-bit words, as in Win32: a captured drag left of the window
// arrives as a negative x.
LPARAM PackPoint(int x, int y)
{
    return MAKELPARAM(static_cast<WORD>(static_cast<int16_t>(x)),
                      static_cast<WORD>(static_cast<int16_t>(y)));
}

class SdlBackend : public krvplat::Backend {
public:
    ~SdlBackend() override
    {
        for (RealWindow& w : windows) Release(w);
    }

    bool OpenWindow(HWND hwnd, int clientWidth, int clientHeight, const char* title) override
    {
        RealWindow w;
        w.hwnd = hwnd;
        w.window = SDL_CreateWindow(title, SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED,
                                    std::max(clientWidth, 1), std::max(clientHeight, 1),
                                    SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE);
        if (!w.window) {
            std::fprintf(stderr, "SDL_CreateWindow: %s\n", SDL_GetError());
            return false;
        }
        // No vsync: the frame loop paces itself.
        w.renderer = SDL_CreateRenderer(w.window, -1, 0);
        windows.push_back(w);
        return true;
    }

    void CloseWindow(HWND hwnd) override
    {
        auto it = std::find_if(windows.begin(), windows.end(),
                               [hwnd](const RealWindow& w) { return w.hwnd == hwnd; });
        if (it == windows.end()) return;
        Release(*it);
        windows.erase(it);
    }

    void ShowWindow(HWND hwnd, bool show) override
    {
        if (RealWindow* w = Find(hwnd)) {
            if (show)
                SDL_ShowWindow(w->window);
            else
                SDL_HideWindow(w->window);
        }
    }

    void ResizeWindow(HWND hwnd, int clientWidth, int clientHeight) override
    {
        if (RealWindow* w = Find(hwnd))
            SDL_SetWindowSize(w->window, std::max(clientWidth, 1), std::max(clientHeight, 1));
    }

    void MoveWindow(HWND hwnd, int x, int y) override
    {
        if (RealWindow* w = Find(hwnd)) SDL_SetWindowPosition(w->window, x, y);
    }

    void SetTitle(HWND hwnd, const char* title) override
    {
        if (RealWindow* w = Find(hwnd)) SDL_SetWindowTitle(w->window, title);
    }

    void Present(HWND hwnd, int width, int height, const unsigned char* bgrTopDown) override
    {
        RealWindow* w = Find(hwnd);
        if (!w || width <= 0 || height <= 0) return;
        const int pitch = width * 3;
        if (w->renderer) {
            if (!w->texture || w->textureWidth != width || w->textureHeight != height) {
                if (w->texture) SDL_DestroyTexture(w->texture);
                w->texture = SDL_CreateTexture(w->renderer, SDL_PIXELFORMAT_BGR24,
                                               SDL_TEXTUREACCESS_STREAMING, width, height);
                w->textureWidth = width;
                w->textureHeight = height;
            }
            if (w->texture) {
                SDL_UpdateTexture(w->texture, nullptr, bgrTopDown, pitch);
                SDL_RenderClear(w->renderer);
                SDL_RenderCopy(w->renderer, w->texture, nullptr, nullptr);
                SDL_RenderPresent(w->renderer);
                return;
            }
        }
        SDL_Surface* target = SDL_GetWindowSurface(w->window);
        if (!target) return;
        SDL_Surface* source =
            SDL_CreateRGBSurfaceWithFormatFrom(const_cast<unsigned char*>(bgrTopDown), width,
                                               height, 24, pitch, SDL_PIXELFORMAT_BGR24);
        if (!source) return;
        SDL_BlitScaled(source, nullptr, target, nullptr);
        SDL_FreeSurface(source);
        SDL_UpdateWindowSurface(w->window);
    }

    void PumpEvents(int timeoutMs) override
    {
        SDL_Event e;
        if (timeoutMs > 0 && SDL_WaitEventTimeout(&e, timeoutMs)) Translate(e);
        while (SDL_PollEvent(&e)) Translate(e);
    }

    void DesktopSize(int& width, int& height) override
    {
        SDL_DisplayMode mode;
        if (SDL_GetDesktopDisplayMode(0, &mode) == 0 && mode.w > 0 && mode.h > 0) {
            width = mode.w;
            height = mode.h;
        }
    }

    int MessageBox(const char* text, const char* caption, unsigned type) override
    {
        Uint32 flags = SDL_MESSAGEBOX_INFORMATION;
        switch (type & 0xF0) {
        case MB_ICONERROR: flags = SDL_MESSAGEBOX_ERROR; break;
        case MB_ICONWARNING: flags = SDL_MESSAGEBOX_WARNING; break;
        default: break;
        }
        const Uint32 enter = SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT;
        const Uint32 escape = SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT;
        SDL_MessageBoxButtonData choices[2] = {{enter | escape, IDOK, "OK"}, {0, 0, nullptr}};
        int count = 1;
        if ((type & 0xF) == MB_OKCANCEL) {
            choices[0] = {enter, IDOK, "OK"};
            choices[1] = {escape, IDCANCEL, "Cancel"};
            count = 2;
        } else if ((type & 0xF) == MB_YESNO) {
            choices[0] = {enter, IDYES, "Yes"};
            choices[1] = {escape, IDNO, "No"};
            count = 2;
        }
        SDL_MessageBoxData box = {flags, nullptr, caption, text, count, choices, nullptr};
        int pressed = 0;
        if (SDL_ShowMessageBox(&box, &pressed) == 0 && pressed > 0) return pressed;
        // No display to ask on: report it where a user will see it, and take the first button.
        std::fprintf(stderr, "%s: %s\n", caption, text);
        return choices[0].buttonid;
    }

private:
    struct RealWindow {
        HWND hwnd = nullptr;
        SDL_Window* window = nullptr;
        SDL_Renderer* renderer = nullptr;
        SDL_Texture* texture = nullptr;
        int textureWidth = 0;
        int textureHeight = 0;
    };

    static void Release(RealWindow& w)
    {
        if (w.texture) SDL_DestroyTexture(w.texture);
        if (w.renderer) SDL_DestroyRenderer(w.renderer);
        if (w.window) SDL_DestroyWindow(w.window);
        w = RealWindow();
    }

    RealWindow* Find(HWND hwnd)
    {
        for (RealWindow& w : windows)
            if (w.hwnd == hwnd) return &w;
        return nullptr;
    }

    // Events without a window of ours (focus already gone) go to the first window.
    HWND FromId(Uint32 windowId)
    {
        SDL_Window* window = SDL_GetWindowFromID(windowId);
        for (RealWindow& w : windows)
            if (w.window == window) return w.hwnd;
        return windows.empty() ? nullptr : windows.front().hwnd;
    }

    void Translate(const SDL_Event& e)
    {
        switch (e.type) {
        case SDL_WINDOWEVENT: {
            HWND hwnd = FromId(e.window.windowID);
            switch (e.window.event) {
            case SDL_WINDOWEVENT_CLOSE: PostMessageA(hwnd, WM_CLOSE, 0, 0); break;
            case SDL_WINDOWEVENT_SIZE_CHANGED:
                krvplat::WindowResized(hwnd, e.window.data1, e.window.data2);
                break;
            case SDL_WINDOWEVENT_MOVED:
                krvplat::WindowMoved(hwnd, e.window.data1, e.window.data2);
                break;
            case SDL_WINDOWEVENT_EXPOSED: InvalidateRect(hwnd, nullptr, FALSE); break;
            default: break;
            }
            break;
        }
        case SDL_KEYDOWN:
        case SDL_KEYUP: {
            int vk = VirtualKey(e.key.keysym.sym, e.key.keysym.scancode);
            if (vk == 0) break;
            const bool down = e.type == SDL_KEYDOWN;
            const bool alt = (e.key.keysym.mod & KMOD_ALT) != 0 || vk == VK_MENU;
            // Repeat count 1, scancode, context (Alt), previous state and transition bits.
            DWORD bits = 1u | (static_cast<DWORD>(e.key.keysym.scancode & 0xFF) << 16);
            if (alt) bits |= 1u << 29;
            if (!down || e.key.repeat) bits |= 1u << 30;
            if (!down) bits |= 1u << 31;
            UINT message =
                down ? (alt ? WM_SYSKEYDOWN : WM_KEYDOWN) : (alt ? WM_SYSKEYUP : WM_KEYUP);
            PostMessageA(FromId(e.key.windowID), message, static_cast<WPARAM>(vk),
                         static_cast<LPARAM>(bits));
            break;
        }
        case SDL_MOUSEMOTION:
            lastX = e.motion.x;
            lastY = e.motion.y;
            PostMessageA(FromId(e.motion.windowID), WM_MOUSEMOVE,
                         ButtonFlags(e.motion.state) | ModifierFlags(),
                         PackPoint(e.motion.x, e.motion.y));
            break;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: {
            const bool down = e.type == SDL_MOUSEBUTTONDOWN;
            UINT message;
            switch (e.button.button) {
            case SDL_BUTTON_LEFT: message = down ? WM_LBUTTONDOWN : WM_LBUTTONUP; break;
            case SDL_BUTTON_RIGHT: message = down ? WM_RBUTTONDOWN : WM_RBUTTONUP; break;
            case SDL_BUTTON_MIDDLE: message = down ? WM_MBUTTONDOWN : WM_MBUTTONUP; break;
            default: return;
            }
            if (down)
                buttons |= ButtonFlag(e.button.button);
            else
                buttons &= ~ButtonFlag(e.button.button);
            lastX = e.button.x;
            lastY = e.button.y;
            PostMessageA(FromId(e.button.windowID), message, buttons | ModifierFlags(),
                         PackPoint(e.button.x, e.button.y));
            break;
        }
        case SDL_MOUSEWHEEL: {
            int notches = e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -e.wheel.y : e.wheel.y;
            if (notches == 0) break;
            int delta = std::min(std::max(notches * WHEEL_DELTA, -32768), 32767);
            HWND hwnd = FromId(e.wheel.windowID);
            // The wheel message carries screen coordinates.
            RECT outer = {0, 0, 0, 0};
            GetWindowRect(hwnd, &outer);
            PostMessageA(hwnd, WM_MOUSEWHEEL,
                         MAKEWPARAM(buttons | ModifierFlags(), static_cast<WORD>(delta)),
                         PackPoint(outer.left + lastX, outer.top + lastY));
            break;
        }
        default: break;
        }
    }

    std::vector<RealWindow> windows;
    WPARAM buttons = 0;
    int lastX = 0;
    int lastY = 0;
};

SdlBackend* installed = nullptr;

}  // namespace

namespace krvplat {

bool UseSdlBackend()
{
    if (installed) return true;
    // Ctrl+C in the terminal keeps ending the program as it would without SDL.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "SDL video unavailable (%s); running without a window\n",
                     SDL_GetError());
        return false;
    }
    installed = new SdlBackend;
    SetBackend(installed);
    return true;
}

void StopSdlBackend()
{
    if (!installed) return;
    if (GetBackend() == installed) SetBackend(nullptr);
    delete installed;
    installed = nullptr;
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

}  // namespace krvplat
