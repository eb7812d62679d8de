// The error report: every loader appends one line a failure to _3D_KRV_Report_Error and marks
// _3D_KRV_Title_Error; the program shows the report when it chooses to. It sits at the bottom
// so that textures, meshes and the window can all report without looking up.
#pragma once

#include "base/string.h"

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
