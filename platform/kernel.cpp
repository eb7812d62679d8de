// kernel32 stand-ins: clocks, sleep, the module path, and the program's path notation.
#include "platform/internal.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <sched.h>
#include <unistd.h>

static uint64_t MonotonicNanoseconds()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

// The module handle of the executable: any stable non-null value; only its identity matters.
static char moduleTag;
static HMODULE MainModule() { return reinterpret_cast<HMODULE>(&moduleTag); }

// The tick count a test has set (SetTickCount); fixedTicks says whether there is one.
static std::atomic<bool> fixedTicks{false};
static std::atomic<DWORD> fixedTickCount{0};

// Wraps after about 49.7 days, as the Win32 counter does; callers take unsigned differences.
DWORD GetTickCount()
{
    if (fixedTicks.load(std::memory_order_acquire))
        return fixedTickCount.load(std::memory_order_relaxed);
    return static_cast<DWORD>(MonotonicNanoseconds() / 1000000u);
}

BOOL QueryPerformanceCounter(LARGE_INTEGER* counter)
{
    if (!counter) return FALSE;
    counter->QuadPart = static_cast<LONGLONG>(MonotonicNanoseconds());
    return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency)
{
    if (!frequency) return FALSE;
    frequency->QuadPart = 1000000000;
    return TRUE;
}

void Sleep(DWORD milliseconds)
{
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    timespec rest;
    rest.tv_sec = static_cast<time_t>(milliseconds / 1000);
    rest.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {}
}

HMODULE GetModuleHandleA(LPCSTR name)
{
    // Only the executable itself is a module here.
    return name ? nullptr : MainModule();
}

DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size)
{
    if (!buffer || size == 0) return 0;
    buffer[0] = '\0';
    if (module && module != MainModule()) return 0;
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (length <= 0) return 0;
    DWORD count = static_cast<DWORD>(length);
    if (count > size - 1) count = size - 1;
    std::memcpy(buffer, path, count);
    buffer[count] = '\0';
    return count;
}

namespace krvplat {

uint64_t detail::NowMilliseconds() { return MonotonicNanoseconds() / 1000000u; }

void SetTickCount(DWORD ticks)
{
    fixedTickCount.store(ticks, std::memory_order_relaxed);
    fixedTicks.store(true, std::memory_order_release);
}

void ClearTickCount() { fixedTicks.store(false, std::memory_order_release); }

std::string NativePath(const char* path)
{
    std::string native = path ? path : "";
    for (char& c : native)
        if (c == '\\') c = '/';
    return native;
}

}  // namespace krvplat
