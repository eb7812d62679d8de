// The window object with the one rendering context. The global strings it fills
// (base/string.h) are constant-initialised, so they exist before this constructor runs
// whatever order the units are initialised in.
#include "base/string.h"
#include "window/window.h"

#include <cstring>

_3D_Korvane_Window _3D_KRV_Wnd;

_3D_Korvane_Window::_3D_Korvane_Window()
{
    // Every krv function reaches the context through the scene's pointer; the window owns it.
    _3D_KRV_Rendering = &rendering;
    // The directory keeps its trailing separator: loaders append names to it as plain text.
    char buffer[4096];
    DWORD n = GetModuleFileNameA(GetModuleHandleA(nullptr), buffer, sizeof buffer);
    if (n == 0 || n >= sizeof buffer) {
        ModuleDirectory = "";
        return;
    }
    buffer[n] = 0;
    char* cut = nullptr;
    for (char* p = buffer; *p; ++p)
        if (*p == '\\' || *p == '/') cut = p;
    if (cut)
        cut[1] = 0;
    else
        buffer[0] = 0;
    ModuleDirectory = buffer;
}
