#include "api/string.h"

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

static int TextLength(const char* text)
{
    return text ? static_cast<int>(std::strlen(text)) : 0;
}

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

// ---------------------------------------------------------------------------------------------

// The report's bookkeeping: how many lines it keeps in full and how many its last line counts.
// It describes the report as this file last left it (array and length); a report changed
// elsewhere is read again once.
namespace {

const char kMorePrefix[] = "... and ";

struct ReportState {
    const char* array = nullptr;
    int length = 0;
    long long keptLines = 0;
    long long moreLines = 0;  // counted in the summary line, which starts at summaryStart
    int summaryStart = 0;
};

ReportState reportState;
CReportCapture* innermostCapture = nullptr;
bool echoReport = true;

// Writes the report's text from `from` on to stderr, line ends as "\n", without allocating: a
// flood of failures may arrive while memory is short.
void Echo(const CString& report, int from)
{
    if (!echoReport || from >= report.length) return;
    const char* p = report.string + from;
    const char* end = report.string + report.length;
    while (p < end) {
        const char* cr = static_cast<const char*>(std::memchr(p, '\r', size_t(end - p)));
        const char* stop = cr ? cr : end;
        std::fwrite(p, 1, size_t(stop - p), stderr);
        p = cr ? cr + 1 : end;
    }
    if (end[-1] != '\n') std::fputc('\n', stderr);
}

long long CountLines(const char* text, size_t n)
{
    long long lines = 0;
    for (size_t i = 0; i < n; ++i)
        if (text[i] == '\n') ++lines;
    return lines;
}

// The count of a summary line starting at text, or -1 when text is not one.
long long SummaryCount(const char* text)
{
    const size_t prefix = sizeof kMorePrefix - 1;
    if (std::strncmp(text, kMorePrefix, prefix) != 0) return -1;
    const char* p = text + prefix;
    long long count = 0;
    if (*p < '0' || *p > '9') return -1;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (count > (LLONG_MAX - 9) / 10) return -1;
        count = count * 10 + (*p - '0');
    }
    const char* rest = count == 1 ? " more error\r\n" : " more errors\r\n";
    return std::strcmp(p, rest) == 0 ? count : -1;
}

void ReadReport(const CString& report, ReportState& state)
{
    state = ReportState();
    state.array = report.string;
    state.length = report.length;
    if (report.length == 0) return;
    const char* text = report.string;
    // The last line, ignoring the line end that closes it.
    int start = report.length - 1;
    if (start > 0 && text[start] == '\n') --start;
    if (start > 0 && text[start] == '\r') --start;
    while (start > 0 && text[start - 1] != '\n') --start;
    long long more = SummaryCount(text + start);
    if (more >= 0) {
        state.moreLines = more;
        state.summaryStart = start;
        state.keptLines = CountLines(text, static_cast<size_t>(start));
    } else {
        state.keptLines = CountLines(text, static_cast<size_t>(report.length));
    }
}

}  // namespace

CReportCapture::CReportCapture() : outer(innermostCapture) { innermostCapture = this; }

CReportCapture::~CReportCapture() { innermostCapture = outer; }

void krvAppendToReport(const char* text)
{
    if (!text || !*text) return;
    if (innermostCapture) innermostCapture->text += text;

    CString& report = _3D_KRV_Report_Error;
    ReportState& state = reportState;
    if (report.string != state.array || report.length != state.length) ReadReport(report, state);

    size_t n = std::strlen(text);
    long long lines = CountLines(text, n);
    if (lines == 0) lines = 1;
    if (state.moreLines == 0 && state.keptLines + lines <= kReportKeptLines) {
        const int from = report.length;
        if (n > static_cast<size_t>(kReportLineBytes)) {
            report.Append("%.*s...\r\n", kReportLineBytes - 5, text);
        } else {
            report += text;
        }
        Echo(report, from);
        state.keptLines += lines;
    } else {
        if (state.moreLines == 0) {
            if (echoReport)
                std::fputs("... further errors are only counted in the error report\n", stderr);
            // The summary must be a line of its own to be found again.
            if (report.length > 0 && report.string[report.length - 1] != '\n') report += "\r\n";
            state.summaryStart = report.length;
        } else {
            // Cut back to the summary's start; the array keeps its size, so the rewrite
            // below does not reallocate.
            report.length = state.summaryStart;
            report.string[report.length] = 0;
        }
        state.moreLines += lines;
        report.Append("%s%lld more %s\r\n", kMorePrefix, state.moreLines,
                      state.moreLines == 1 ? "error" : "errors");
    }
    state.array = report.string;
    state.length = report.length;
}

void krvReportError(const char* line)
{
    _3D_KRV_Title_Error = "Error";
    krvAppendToReport(line);
}

const char* krvGetErrorReport()
{
    return _3D_KRV_Report_Error.string ? _3D_KRV_Report_Error.string : "";
}

void krvClearErrorReport() { _3D_KRV_Report_Error.Empty(); }

void krvSetErrorEcho(bool on) { echoReport = on; }

bool krvGetErrorEcho() { return echoReport; }
