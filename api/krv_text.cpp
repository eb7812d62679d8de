// Messages and text: message boxes, the error report, the title line, text onto the window and
// the descriptive strings.
#include "api/krv.h"

#include <climits>
#include <cstring>
#include <string>

int krvAddMsg(const char* caption, const char* text)
{
    return MessageBoxA(nullptr, text, caption, MB_OK);
}

int krvAddMsg(const char* caption, const char* text, unsigned long type)
{
    return MessageBoxA(nullptr, text, caption, static_cast<UINT>(type));
}

// A text given without arguments is a format with nothing to fill in: its "%%" stand for '%',
// as the formatter would write them. Every other '%' is kept as it is rather than interpreted,
// so a file name with "%s" or "%n" in it cannot make the formatter read arguments that were
// never passed.
static std::string PercentsUnescaped(const char* text)
{
    std::string out;
    if (!text) return out;
    for (const char* p = text; *p; ++p) {
        out += *p;
        if (p[0] == '%' && p[1] == '%') ++p;
    }
    return out;
}

// The caption is copied as it is, as krvSetText copies its text.
void krvSetMsgError(const char* caption, const char* text)
{
    _3D_KRV_Title_Error = caption;
    krvAppendToReport(PercentsUnescaped(text).c_str());
}

void krvSetMsgError(const char* caption, const char* format, const char* argument)
{
    _3D_KRV_Title_Error = caption;
    if (!format) return;
    CString text;
    text.Set(format, argument ? argument : "");
    krvAppendToReport(text.c_str());
}

int krvAddMsgError()
{
    return MessageBoxA(nullptr, _3D_KRV_Report_Error.c_str(), _3D_KRV_Title_Error.c_str(),
                       MB_ICONERROR);
}

// ---------------------------------------------------------------------------------------------
// The title line.

void krvSetText(const char* text) { _3D_KRV_Title_Text = text; }

CString krvGetText() { return _3D_KRV_Title_Text; }

void krvAddToText(const char* text) { _3D_KRV_Title_Text += PercentsUnescaped(text).c_str(); }

void krvAddToText(const char* format, int a)
{
    if (format) _3D_KRV_Title_Text.Append(format, a);
}

void krvAddToText(const char* format, int a, int b)
{
    if (format) _3D_KRV_Title_Text.Append(format, a, b);
}

void krvAddToText(const char* format, int a, int b, int c)
{
    if (format) _3D_KRV_Title_Text.Append(format, a, b, c);
}

void krvSetWndText(HWND hwnd) { SetWindowTextA(hwnd, _3D_KRV_Title_Text.c_str()); }

// ---------------------------------------------------------------------------------------------

void krvDrawText(int x, int y, int r, int g, int b, const char* text)
{
    HDC hdc = _3D_KRV_Wnd.hdc;
    if (!hdc || !text) return;
    const COLORREF colour = static_cast<COLORREF>(r & 0xFF) | static_cast<COLORREF>(g & 0xFF) << 8 |
                            static_cast<COLORREF>(b & 0xFF) << 16;
    SetTextColor(hdc, colour);
    SetBkMode(hdc, TRANSPARENT);
    const size_t n = std::strlen(text);
    TextOutA(hdc, x, y, text, n > INT_MAX ? INT_MAX : static_cast<int>(n));
    ReleaseDC(_3D_KRV_Wnd.hwnd, hdc);
}

CString krvGetStrInfo(int which)
{
    switch (which) {
    case 1: return CString("Dorar 3dkrv");
    case 2: return CString("3D Korvane GDI");
    case 3: return CString("1");
    case 4: return CString("0");
    case 5: return CString("Software rendering");
    case 6: return CString("None");
    default: return CString();
    }
}
