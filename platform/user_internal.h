// Internals of the user32 stand-ins (user_*.cpp): window classes and windows held in memory,
// the message queue, timers and key state, all in one state record.
//
// Single-threaded, like the program: every call comes from the thread of the message loop.
#pragma once

#include "platform/internal.h"

#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace krvplat {
namespace user {

using detail::DeviceContext;
using detail::Image;

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
State& S();

constexpr uintptr_t kDesktopHandle = 0x10;
constexpr int kDefaultDesktopWidth = 1920;
constexpr int kDefaultDesktopHeight = 1080;
constexpr UINT kMinimumTimerElapse = 10;  // USER_TIMER_MINIMUM
constexpr int kMaxImageSide = 1 << 15;

inline HWND DesktopHandle() { return reinterpret_cast<HWND>(kDesktopHandle); }

template <class Handle>
Handle NewHandle()
{
    uintptr_t value = S().nextHandle;
    S().nextHandle += 4;
    return reinterpret_cast<Handle>(value);
}

// Windows and classes (user_state.cpp).
Window* FindWindow(HWND hwnd);
std::string LowerCase(const char* text);
const WindowClass* FindClass(LPCSTR name);
void DesktopSize(int& width, int& height);
int ClampSide(int side);
void FrameSize(int& width, int& height);
void ClientSize(const Window& w, int& width, int& height);
LRESULT CallProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
void Present(Window& w);
bool UpdateClientSize(Window& w);
void RemoveWindowTraces(HWND hwnd);  // drops the window's queued messages and timers

// Key and mouse state from a retrieved input message (user_input.cpp).
void TrackInput(const MSG& msg);

}  // namespace user
}  // namespace krvplat
