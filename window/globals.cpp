// The program's global objects, in one translation unit so that their construction order is
// fixed: the title line, the program's directory (filled by the window's constructor, so it must
// exist first), the window with the one rendering context, then the error report.
#include "api/string.h"
#include "window/window.h"

#include <cstring>

CString _3D_KRV_Title_Text;
CString ModuleDirectory;
_3D_Korvane_Window _3D_KRV_Wnd;
CString _3D_KRV_Title_Error;
CString _3D_KRV_Report_Error;

_3D_Korvane_Rendering& krvRendering() { return _3D_KRV_Wnd.rendering; }

_3D_Korvane_Window::_3D_Korvane_Window()
{
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
    if (cut) cut[1] = 0; else buffer[0] = 0;
    ModuleDirectory = buffer;
}
