// user32 stand-ins: accelerators, resources and message boxes.
#include "platform/user_internal.h"

#include <cstdio>

HACCEL LoadAcceleratorsA(HINSTANCE, LPCSTR) { return nullptr; }
int TranslateAcceleratorA(HWND, HACCEL, MSG*) { return 0; }

// Resources do not exist here; these handles only need to be non-null and distinct.
HICON LoadIconA(HINSTANCE, LPCSTR) { return reinterpret_cast<HICON>(uintptr_t{0x20}); }
HCURSOR LoadCursorA(HINSTANCE, LPCSTR) { return reinterpret_cast<HCURSOR>(uintptr_t{0x24}); }
HGDIOBJ GetStockObject(int object)
{
    if (object < 0 || object > 31) return nullptr;
    return reinterpret_cast<HGDIOBJ>(uintptr_t{0x100} + static_cast<uintptr_t>(object) * 4u);
}

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type)
{
    if (!text) text = "";
    if (!caption) caption = "Error";
    if (krvplat::user::S().backend)
        return krvplat::user::S().backend->MessageBox(text, caption, type);
    std::fprintf(stderr, "%s: %s\n", caption, text);
    // Nobody can answer: take the affirmative button of the box.
    return (type & 0xF) == MB_YESNO ? IDYES : IDOK;
}
