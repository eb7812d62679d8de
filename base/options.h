// Command-line values for the programs (demo, benchmark, tools): whole-text parses that refuse
// trailing junk, and the one-line complaint each program gives for a bad option.
#pragma once

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace krvopt {

// The whole of s as an integer in lo..hi.
inline bool ParseInt(const char* s, long lo, long hi, int& out)
{
    if (!s || !*s) return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(s, &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
    out = static_cast<int>(v);
    return true;
}

// The whole of s as a finite number in lo..hi.
inline bool ParseFloat(const char* s, double lo, double hi, double& out)
{
    if (!s || !*s) return false;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(s, &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v) || v < lo || v > hi) return false;
    out = v;
    return true;
}

// "WxH" (or "WXH") with both sides in 1..maxSide.
inline bool ParseSize(const char* s, int maxSide, int& width, int& height)
{
    if (!s) return false;
    const char* x = std::strchr(s, 'x');
    if (!x) x = std::strchr(s, 'X');
    if (!x || x == s) return false;
    char w[16];
    const size_t n = static_cast<size_t>(x - s);
    if (n >= sizeof w) return false;
    std::memcpy(w, s, n);
    w[n] = '\0';
    return ParseInt(w, 1, maxSide, width) && ParseInt(x + 1, 1, maxSide, height);
}

// Three comma-separated numbers: "x,y,z".
inline bool ParseVec3(const char* s, double out[3])
{
    if (!s) return false;
    char buf[128];
    if (std::strlen(s) >= sizeof buf) return false;
    std::strcpy(buf, s);
    char* parts[3];
    char* p = buf;
    for (int i = 0; i < 3; ++i) {
        parts[i] = p;
        char* comma = std::strchr(p, ',');
        if (i < 2) {
            if (!comma) return false;
            *comma = '\0';
            p = comma + 1;
        } else if (comma) {
            return false;
        }
    }
    for (int i = 0; i < 3; ++i)
        if (!ParseFloat(parts[i], -1e6, 1e6, out[i])) return false;
    return true;
}

// Case-insensitive equality, for names a program prints in capitals and accepts as typed.
inline bool SameName(const char* a, const char* b)
{
    for (; *a && *b; ++a, ++b) {
        char ca = *a >= 'A' && *a <= 'Z' ? static_cast<char>(*a - 'A' + 'a') : *a;
        char cb = *b >= 'A' && *b <= 'Z' ? static_cast<char>(*b - 'A' + 'a') : *b;
        if (ca != cb) return false;
    }
    return *a == *b;
}

// The program's name as a message starts with it: argv[0] without its folder.
inline const char* ProgramName(const char* argv0)
{
    const char* slash = std::strrchr(argv0, '/');
    return slash ? slash + 1 : argv0;
}

// One line on stderr, "program: what went wrong (--help lists the options)", and the exit
// status of a bad command line.
__attribute__((format(printf, 2, 3))) inline int BadOption(const char* program, const char* format,
                                                           ...)
{
    std::fprintf(stderr, "%s: ", ProgramName(program));
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fprintf(stderr, " (--help lists the options)\n");
    return 2;
}

}  // namespace krvopt
