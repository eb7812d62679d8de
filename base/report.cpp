#include "base/report.h"

#include <climits>
#include <cstdio>
#include <cstring>

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
