#include "api/krv.h"
#include "base/report.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// Checks the invariant as well as the text: null exactly when empty, a terminator at length.
void ExpectText(const CString& s, const char* text)
{
    int n = static_cast<int>(std::strlen(text));
    EXPECT_EQ(s.length, n);
    if (n == 0) {
        EXPECT_EQ(s.string, nullptr);
        return;
    }
    ASSERT_NE(s.string, nullptr);
    EXPECT_STREQ(s.string, text);
    EXPECT_EQ(s.string[n], 0);
}

const char* const kNone = nullptr;

}  // namespace

TEST(StringFormat, SetFormatsArguments)
{
    CString s;
    s.Set("%d", 42);
    ExpectText(s, "42");
    s.Set("%s/%03d", "frame", 7);
    ExpectText(s, "frame/007");
    s.Append(" %.1f fps", 59.94);
    ExpectText(s, "frame/007 59.9 fps");

    // Longer than any fixed scratch buffer would be.
    std::string big(5000, 'x');
    s.Set("<%s>", big.c_str());
    EXPECT_EQ(s.length, 5002);
    EXPECT_EQ(s.string[5002], 0);
}

TEST(StringFormat, EmptyResultsHoldNoArray)
{
    CString s("abc");
    s.Set("%s", "");
    ExpectText(s, "");
    s = "abc";
    s.Set(kNone);
    ExpectText(s, "");
    CString e("");
    ExpectText(e, "");
    CString n(kNone);
    ExpectText(n, "");
    e = "";
    ExpectText(e, "");
    EXPECT_EQ(static_cast<char*>(e), nullptr);
    EXPECT_STREQ(e.c_str(), "");
    EXPECT_TRUE(e.IsEmpty());
}

TEST(StringFormat, AppendOnEmptyAndNull)
{
    CString s;
    s.Append("abc");
    ExpectText(s, "abc");
    s.Append(kNone);
    ExpectText(s, "abc");
    s += kNone;
    ExpectText(s, "abc");
    s.Append(CString());
    ExpectText(s, "abc");
}

// Text without arguments is never read as a format: paths and titles may hold '%'.
TEST(StringVerbatim, PercentIsCopied)
{
    CString s("100%d %s %n");
    ExpectText(s, "100%d %s %n");
    s = "50% off";
    ExpectText(s, "50% off");
    s += " %x";
    ExpectText(s, "50% off %x");
    ExpectText("%d+" + s, "%d+50% off %x");
    ExpectText(s + "%%", "50% off %x%%");
    // Only the argument forms format.
    s.Set("%%");
    ExpectText(s, "%");
}

TEST(StringCopy, DeepCopyAndConcatenation)
{
    CString a("left");
    CString b(a);
    EXPECT_NE(a.string, b.string);
    b += "!";
    ExpectText(a, "left");
    ExpectText(b, "left!");

    CString c;
    c = a;
    EXPECT_NE(c.string, a.string);
    ExpectText(c, "left");
    c.Set(b);
    ExpectText(c, "left!");

    ExpectText(a + CString("-right"), "left-right");
    ExpectText(CString() + CString(), "");
    EXPECT_EQ((CString() + CString()).string, nullptr);

    c.Empty();
    ExpectText(c, "");
}

TEST(StringSelf, AssignmentAndAppendToItself)
{
    CString a("abc");
    CString& alias = a;
    a = alias;
    ExpectText(a, "abc");
    a.Set(alias);
    ExpectText(a, "abc");
    a = a.string;
    ExpectText(a, "abc");

    a += alias;
    ExpectText(a, "abcabc");
    a.Append(alias);
    ExpectText(a, "abcabcabcabc");

    CString b("xyz");
    b = b + b;
    ExpectText(b, "xyzxyz");
}

// The source lies inside the array being replaced.
TEST(StringSelf, PointersIntoOwnText)
{
    CString a("hello world");
    a = a.string + 6;
    ExpectText(a, "world");

    a += a.string + 3;
    ExpectText(a, "worldld");

    a.Set("[%s|%s]", a.string, a.string + 5);
    ExpectText(a, "[worldld|ld]");

    a.Append("%s", a.string);
    ExpectText(a, "[worldld|ld][worldld|ld]");

    a.Set("%s", a.string + 1);
    ExpectText(a, "worldld|ld][worldld|ld]");
}

TEST(StringReport, ReportsAccumulateInOrder)
{
    CString before(_3D_KRV_Report_Error);
    krvReportError("first failure\r\n");
    krvReportError("100% of the second\r\n");
    ExpectText(_3D_KRV_Title_Error, "Error");
    std::string expect = std::string(before.c_str()) + "first failure\r\n100% of the second\r\n";
    ExpectText(_3D_KRV_Report_Error, expect.c_str());
}

// The globals the report and title tests write, restored afterwards.
class StringGlobals : public testing::Test {
protected:
    void SetUp() override
    {
        report_ = _3D_KRV_Report_Error;
        caption_ = _3D_KRV_Title_Error;
        title_ = _3D_KRV_Title_Text;
        _3D_KRV_Report_Error.Empty();
        _3D_KRV_Title_Text.Empty();
    }
    void TearDown() override
    {
        _3D_KRV_Report_Error = report_;
        _3D_KRV_Title_Error = caption_;
        _3D_KRV_Title_Text = title_;
    }
    CString report_, caption_, title_;
};

TEST_F(StringGlobals, ReportKeepsItsFirstLinesAndCountsTheRestInPlace)
{
    std::string kept;
    int arrays = 0;
    const char* last = nullptr;
    for (int i = 0; i < 50000; ++i) {
        std::string line = "failure " + std::to_string(i) + "\r\n";
        if (i < kReportKeptLines) kept += line;
        krvReportError(line.c_str());
        if (_3D_KRV_Report_Error.string != last) ++arrays;
        last = _3D_KRV_Report_Error.string;
        if (i == kReportKeptLines)
            ExpectText(_3D_KRV_Report_Error, (kept + "... and 1 more error\r\n").c_str());
    }
    ExpectText(_3D_KRV_Report_Error, (kept + "... and 49000 more errors\r\n").c_str());
    // Grown geometrically, and the count rewritten in place: appending costs its own length.
    EXPECT_LT(arrays, 40);

    // A report replaced or emptied elsewhere is read again, its count included.
    _3D_KRV_Report_Error = "a\r\n... and 7 more errors\r\n";
    krvReportError("b\r\n");
    ExpectText(_3D_KRV_Report_Error, "a\r\n... and 8 more errors\r\n");
    _3D_KRV_Report_Error.Empty();
    krvReportError("c\r\n");
    ExpectText(_3D_KRV_Report_Error, "c\r\n");

    // An overlong line is cut, and still ends its line.
    std::string longLine(3 * kReportLineBytes, 'x');
    krvReportError((longLine + "\r\n").c_str());
    std::string expect = "c\r\n" + longLine.substr(0, kReportLineBytes - 5) + "...\r\n";
    ExpectText(_3D_KRV_Report_Error, expect.c_str());
}

// Texts without arguments: "%%" is the formatter's '%', every other '%' stays as written.
TEST_F(StringGlobals, DoublePercentIsOnePercentInTextsWithoutArguments)
{
    const struct {
        const char* text;
        const char* result;
    } cases[] = {
        {"50%%", "50%"},
        {"100%", "100%"},
        {"%%%", "%%"},
        {"%%%%", "%%"},
        {"a%%b%%c", "a%b%c"},
        {"%d %s %n %", "%d %s %n %"},
        {"%%d", "%d"},
        {"%%s and %s", "%s and %s"},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        _3D_KRV_Report_Error.Empty();
        _3D_KRV_Title_Text.Empty();
        krvSetMsgError("%% caption", c.text);
        krvAddToText(c.text);
        ExpectText(_3D_KRV_Report_Error, c.result);
        ExpectText(_3D_KRV_Title_Text, c.result);
        ExpectText(_3D_KRV_Title_Error, "%% caption");
    }
}
