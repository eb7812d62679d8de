// CString: the owned text the program builds (titles, paths, the error report), and the four
// global strings several parts share.
//
// Set and Append with explicit arguments format printf-style. Every const char* form without
// arguments (constructor, operator=, operator+=, operator+) copies its text verbatim, so a path
// or title containing '%' is never read as a format. Assigning or appending a string to itself,
// or a pointer into its own text, through any form is safe.
//
// Appending grows the array geometrically, so a string built by many appends (the error report)
// costs time in proportion to what is appended; assignment allocates exactly.
#pragma once

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
    void Set(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void Set(const CString& other);
    void Append(const char* format, ...) __attribute__((format(printf, 2, 3)));
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

extern CString _3D_KRV_Title_Text;    // the title line
extern CString _3D_KRV_Title_Error;   // caption of the error report ("Error" after a failure)
extern CString _3D_KRV_Report_Error;  // one line a failure, each ending in "\r\n"
extern CString ModuleDirectory;       // the executable's folder with its trailing separator

// Appends one line to the error report and sets its caption to "Error"; the text is taken
// verbatim. Every loader reports through here.
void krvReportError(const char* line);

// Appends text to the error report without touching its caption. The report keeps its first
// kReportKeptLines lines in full; every later line is only counted, in one last line
// "... and N more errors\r\n" that is rewritten in place, so a flood of failures costs time and
// memory in proportion to the lines kept. A line longer than kReportLineBytes is cut there and
// ends in "...\r\n". Code that edits the report directly (Empty, assignment) is noticed and
// the count starts again from what the report then holds.
void krvAppendToReport(const char* text);
constexpr int kReportKeptLines = 1000;
constexpr int kReportLineBytes = 4096;

// The report as a program reads it: its text ("" when empty) until the next report, and
// emptied for a new start. Clearing keeps the caption.
const char* krvGetErrorReport();
void krvClearErrorReport();
// Each line the report keeps is also written to stderr as it arrives (with "\n" for "\r\n"),
// so a failure is seen even by a program that never reads the report; on by default. Once the
// report only counts its lines, one last line on stderr says so and the rest stay silent.
void krvSetErrorEcho(bool on);
bool krvGetErrorEcho();

// While a CReportCapture lives, every text appended to the error report is also appended, in
// full and whether or not the report keeps it, to its text: a loader that skips a failing step
// it has already taken can repeat that step's report. Captures nest; the innermost receives.
class CReportCapture {
public:
    CReportCapture();
    ~CReportCapture();
    CReportCapture(const CReportCapture&) = delete;
    CReportCapture& operator=(const CReportCapture&) = delete;

    CString text;

private:
    CReportCapture* outer;
};
