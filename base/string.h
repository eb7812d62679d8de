// CString: the owned text the program builds (titles, paths, the error report), and the four
// global strings several parts share. The error report that fills two of them is report.h.
//
// Set and Append with explicit arguments format printf-style. Every const char* form without
// arguments (constructor, operator=, operator+=, operator+) copies its text verbatim, so a path
// or title containing '%' is never read as a format. Assigning or appending a string to itself,
// or a pointer into its own text, through any form is safe.
//
// Appending grows the array geometrically, so a string built by many appends (the error report)
// costs time in proportion to what is appended; assignment allocates exactly.
#pragma once

#include "base/compiler.h"

class CString {
public:
    constexpr CString() : string(nullptr), length(0), capacity(0) {}
    CString(const CString& other);
    CString(const char* text);
    ~CString();

    void SetDefaults()
    {
        string = nullptr;
        length = 0;
        capacity = 0;
    }
    operator char*() const { return string; }
    CString& operator=(const CString& other);
    CString& operator=(const char* text);
    void Set(const char* format, ...) KRV_PRINTF_FORMAT(2, 3);
    void Set(const CString& other);
    void Append(const char* format, ...) KRV_PRINTF_FORMAT(2, 3);
    void Append(const CString& other);
    CString& operator+=(const CString& other);
    CString& operator+=(const char* text);
    void Empty();
    int GetLength() const { return length; }
    bool IsEmpty() const { return length == 0; }
    // The text, or "" for the empty string (never null).
    const char* c_str() const { return string ? string : ""; }

    char* string;
    int length;

private:
    int capacity;  // characters the array holds before its terminator; 0 without an array

    void Assign(const char* text, int n);
    void Concat(const char* text, int n);
};

CString operator+(const CString& a, const CString& b);
CString operator+(const char* a, const CString& b);
CString operator+(const CString& a, const char* b);

// The four strings several parts share. They are constant-initialised (CString's default
// constructor is constexpr), so they are usable from any other unit's static initialisation.
extern CString _3D_KRV_Title_Text;    // the title line
extern CString _3D_KRV_Title_Error;   // caption of the error report ("Error" after a failure)
extern CString _3D_KRV_Report_Error;  // one line a failure, each ending in "\r\n"
extern CString ModuleDirectory;       // the executable's folder with its trailing separator
