// Messages and text: message boxes, the error report, the title line, text onto the window and
// the descriptive strings.
#include "api/krv.h"

#include <climits>
#include <cstring>

int krvAddMsg(const char* caption, const char* text)
{
    return MessageBoxA(nullptr, text, caption, MB_OK);
}

int krvAddMsg(const char* caption, const char* text, unsigned long type)
{
    return MessageBoxA(nullptr, text, caption, static_cast<UINT>(type));
}

// Caption and text are copied as they are: a '%' in a file name is not a format.
void krvSetMsgError(const char* caption, const char* text)
{
    _3D_KRV_Title_Error = caption;
    _3D_KRV_Report_Error += text;
}

void krvSetMsgError(const char* caption, const char* format, const char* argument)
{
    _3D_KRV_Title_Error = caption;
    if (format) _3D_KRV_Report_Error.Append(format, argument ? argument : "");
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

// Without arguments there is nothing to format: the text is appended as it is.
void krvAddToText(const char* text) { _3D_KRV_Title_Text += text; }

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
    const COLORREF colour = static_cast<COLORREF>(r & 0xFF) |
                            static_cast<COLORREF>(g & 0xFF) << 8 |
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
