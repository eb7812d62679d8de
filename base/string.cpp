#include "base/string.h"

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>

// Formats into a new array of exactly the needed size. Returns null (and n = 0) for an empty
// result or a formatting error; the caller owns the array.
static char* FormatNew(const char* format, va_list args, int& n)
{
    va_list measure;
    va_copy(measure, args);
    n = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (n <= 0) {
        n = 0;
        return nullptr;
    }
    char* text = new char[static_cast<size_t>(n) + 1];
    std::vsnprintf(text, static_cast<size_t>(n) + 1, format, args);
    text[n] = 0;
    return text;
}

static int TextLength(const char* text) { return text ? static_cast<int>(std::strlen(text)) : 0; }

// ---------------------------------------------------------------------------------------------
// The two primitives every other operation goes through. Both build the new array before
// freeing the old one, so a source that lies inside this string's own text stays readable.

void CString::Assign(const char* text, int n)
{
    char* fresh = nullptr;
    if (text && n > 0) {
        fresh = new char[n + 1];
        std::memcpy(fresh, text, static_cast<size_t>(n));
        fresh[n] = 0;
    } else {
        n = 0;
    }
    delete[] string;
    string = fresh;
    length = n;
    capacity = n;
}

void CString::Concat(const char* text, int n)
{
    if (!text || n <= 0) return;
    // A text that would take the length past the int range is dropped: there is no error to
    // report from here, and the length must stay an int.
    if (n > INT_MAX - 1 - length) return;
    const int needed = length + n;
    if (needed <= capacity) {
        // In place; text may lie inside this array, but only before string + length.
        std::memmove(string + length, text, static_cast<size_t>(n));
    } else {
        int grown = capacity > (INT_MAX - 1) / 2 ? INT_MAX - 1 : capacity * 2;
        int size = needed > grown ? needed : grown;
        char* fresh = new char[static_cast<size_t>(size) + 1];
        if (length > 0) std::memcpy(fresh, string, static_cast<size_t>(length));
        std::memcpy(fresh + length, text, static_cast<size_t>(n));
        delete[] string;
        string = fresh;
        capacity = size;
    }
    length = needed;
    string[length] = 0;
}

// ---------------------------------------------------------------------------------------------

CString::CString(const CString& other) : string(nullptr), length(0), capacity(0)
{
    Assign(other.string, other.length);
}

CString::CString(const char* text) : string(nullptr), length(0), capacity(0)
{
    Assign(text, TextLength(text));
}

CString::~CString() { delete[] string; }

CString& CString::operator=(const CString& other)
{
    if (this != &other) Assign(other.string, other.length);
    return *this;
}

CString& CString::operator=(const char* text)
{
    if (text != string) Assign(text, TextLength(text));
    return *this;
}

void CString::Set(const char* format, ...)
{
    if (!format) {
        Empty();
        return;
    }
    // The arguments may point into this string's text: format first, free after.
    va_list args;
    va_start(args, format);
    int n = 0;
    char* text = FormatNew(format, args, n);
    va_end(args);
    delete[] string;
    string = text;
    length = n;
    capacity = n;
}

void CString::Set(const CString& other)
{
    if (this != &other) Assign(other.string, other.length);
}

void CString::Append(const char* format, ...)
{
    if (!format) return;
    va_list args;
    va_start(args, format);
    int n = 0;
    char* text = FormatNew(format, args, n);
    va_end(args);
    Concat(text, n);
    delete[] text;
}

void CString::Append(const CString& other) { Concat(other.string, other.length); }

CString& CString::operator+=(const CString& other)
{
    Concat(other.string, other.length);
    return *this;
}

CString& CString::operator+=(const char* text)
{
    Concat(text, TextLength(text));
    return *this;
}

void CString::Empty()
{
    delete[] string;
    string = nullptr;
    length = 0;
    capacity = 0;
}

CString operator+(const CString& a, const CString& b)
{
    CString result(a);
    result.Append(b);
    return result;
}

CString operator+(const char* a, const CString& b)
{
    CString result(a);
    result.Append(b);
    return result;
}

CString operator+(const CString& a, const char* b)
{
    CString result(a);
    result += b;
    return result;
}

// Constant-initialised; filled by the window (title, directory) and the report.
CString _3D_KRV_Title_Text;
CString _3D_KRV_Title_Error;
CString _3D_KRV_Report_Error;
CString ModuleDirectory;
