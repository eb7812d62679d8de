// The child process of platform/sandbox.h: how each way a child can end is seen by the parent,
// within the limits, that forking beside busy threads leaves the child able to allocate, and
// that the filter kills the child on each call a taken-over decoder would try, holds it to its
// pipe, and lets it compute.
#include "platform/sandbox.h"

#include "forbidden_calls.h"
#include "platform/thread_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <cstring>
#include <string>
#include <sys/random.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace krvplat;

bool WritesThreeNumbers(int fd, void*)
{
    const int numbers[3] = {7, 8, 9};
    return WriteAll(fd, numbers, sizeof numbers);
}
bool Crashes(int, void*)
{
    raise(SIGSEGV);
    return true;
}
bool ExitsSilently(int, void*) { return true; }
bool Fails(int fd, void*) { return WritesThreeNumbers(fd, nullptr) && false; }
bool Spins(int, void*)
{
    for (volatile unsigned long i = 0;; i = i + 1) {}
    return true;
}
// Takes 1.5 s of processor time, past the 1 s it starts with, after raising its own limit.
bool RaisesItsLimit(int fd, void*)
{
    LimitProcessorTime(3);
    const std::clock_t start = std::clock();
    while (std::clock() - start < CLOCKS_PER_SEC * 3 / 2) {}
    return WritesThreeNumbers(fd, nullptr);
}
bool AsksTooMuchThenSpins(int fd, void* context)
{
    LimitProcessorTime(100);
    return Spins(fd, context);
}
bool Sleeps(int, void*)
{
    sleep(60);
    return true;
}
bool WritesForEver(int fd, void*)
{
    while (WritesThreeNumbers(fd, nullptr)) {}
    return true;
}
// Touches 1 GiB: beyond the 64 MiB the case allows.
bool AllocatesTooMuch(int fd, void*)
{
    const size_t bytes = size_t{1} << 30;
    // Volatile stores, a page apart: an optimiser may drop a block that is only filled and
    // never read, and with it the allocation.
    volatile char* p = static_cast<char*>(std::malloc(bytes));
    if (!p) return false;
    for (size_t i = 0; i < bytes; i += 4096) p[i] = 1;
    return WritesThreeNumbers(fd, nullptr);
}

}  // namespace

TEST(Sandbox, EveryEndOfTheChildIsSeenWithinItsLimits)
{
    struct Case {
        const char* name;
        ChildProcess::Job job;
        int cpuSeconds, maxCpuSeconds, wallMilliseconds;
        size_t memoryBytes;
        bool readsNumbers;  // the parent gets the three numbers
        bool complete;      // and takes them as all there is to read
        ChildEnd end;
        bool stalled;  // at the deadline without working: the caller may try again
        double maxSeconds;
    };
    const Case cases[] = {
        {"done", WritesThreeNumbers, 2, 0, 5000, 0, true, true, ChildEnd_Done, false, 5},
        {"crash", Crashes, 2, 0, 5000, 0, false, false, ChildEnd_Failed, false, 5},
        {"no data", ExitsSilently, 2, 0, 5000, 0, false, false, ChildEnd_Failed, false, 5},
        {"job failed", Fails, 2, 0, 5000, 0, true, true, ChildEnd_Failed, false, 5},
        {"processor limit", Spins, 1, 0, 20000, 0, false, false, ChildEnd_TooSlow, false, 10},
        {"processor limit raised", RaisesItsLimit, 1, 3, 20000, 0, true, true, ChildEnd_Done, false,
         15},
        {"raised no further", AsksTooMuchThenSpins, 1, 0, 20000, 0, false, false, ChildEnd_TooSlow,
         false, 10},
        {"deadline, waiting", Sleeps, 5, 0, 300, 0, false, false, ChildEnd_TooSlow, true, 5},
        {"deadline, working", Spins, 5, 0, 1500, 0, false, false, ChildEnd_TooSlow, false, 5},
        {"parent stops reading", WritesForEver, 2, 0, 5000, 0, true, false, ChildEnd_Failed, false,
         5},
        {"memory limit", AllocatesTooMuch, 5, 0, 20000, size_t{64} << 20, false, false,
         ChildEnd_Failed, false, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.memoryBytes > 0 && SanitizedBuild()) continue;  // no memory limit there
        const auto start = std::chrono::steady_clock::now();
        ChildLimits limits;
        limits.cpuSeconds = c.cpuSeconds;
        limits.maxCpuSeconds = c.maxCpuSeconds;
        limits.wallMilliseconds = c.wallMilliseconds;
        limits.memoryBytes = c.memoryBytes;
        ChildProcess child;
        ASSERT_TRUE(child.Start(c.job, nullptr, limits));
        int numbers[3] = {};
        const bool read = child.Read(numbers, sizeof numbers);
        EXPECT_EQ(read, c.readsNumbers);
        if (read) {
            EXPECT_EQ(numbers[2], 9);
        }
        EXPECT_EQ(child.Finish(read && c.complete), c.end);
        EXPECT_EQ(child.Stalled(), c.stalled);
        EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                  c.maxSeconds);
    }
}

#if defined(__SANITIZE_ADDRESS__)
#define KRV_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KRV_ASAN 1
#endif
#endif

TEST(Sandbox, ChildrenForkedBesideBusyThreadsCanAllocate)
{
#ifdef KRV_ASAN
    // This AddressSanitizer runtime does not reset its allocator's locks in a forked child: a
    // child forked while another thread allocates can wait for ever (the deadline ends it). The
    // program forks from its loading thread while the pool's workers sleep or spin, not
    // allocate; this test makes threads allocate on purpose.
    GTEST_SKIP() << "AddressSanitizer's allocator is not fork-safe";
#endif
    // Threads that hold the allocator's locks at the moment of a fork: the child must still be
    // able to allocate (the C library and ThreadSanitizer reset those locks in the child).
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < 2; ++i)
        threads.emplace_back([&stop] {
            while (!stop.load(std::memory_order_relaxed)) {
                std::vector<char> v(4096 + 64 * 1024);
                v[100] = 1;
            }
        });
    int done = 0;
    for (int i = 0; i < 40; ++i) {
        ChildProcess child;
        ASSERT_TRUE(child.Start(
            [](int fd, void*) {
                std::vector<char> v(1 << 20, 3);
                return WriteAll(fd, v.data() + 5, 4);
            },
            nullptr, ChildLimits()));
        char got[4] = {};
        const bool read = child.Read(got, sizeof got);
        done += child.Finish(read) == ChildEnd_Done && got[3] == 3;
    }
    stop = true;
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(done, 40);
}

// The program's own order: the thread count set, then a file decoded at once. The pool's new
// workers are past their start-up by then, where a runtime (AddressSanitizer's) allocates and
// holds locks a child forked beside them would wait for until its deadline.
TEST(Sandbox, ChildrenForkedRightAfterThePoolGrowsCanAllocate)
{
    krvi::ThreadPool& pool = krvi::ThreadPool::Shared();
    const int before = pool.Threads();
    int done = 0;
    for (int i = 0; i < 30; ++i) {
        pool.SetThreads(1);
        pool.SetThreads(7);
        // The fork comes a little later each time, somewhere in the workers' start-up.
        std::this_thread::sleep_for(std::chrono::microseconds(50 * i));
        ChildLimits limits;
        limits.wallMilliseconds = 3000;
        ChildProcess child;
        ASSERT_TRUE(child.Start(
            [](int fd, void*) {
                // Blocks of every size class, thousands freed: the sanitizer's free takes locks
                // of its own (a new batch of its quarantine every thousand or so).
                char last = 0;
                for (int round = 0; round < 100; ++round)
                    for (size_t size = 8; size <= (size_t{1} << 16); size += size / 4 + 8) {
                        std::vector<char> v(size, 3);
                        last = v[size / 2];
                    }
                return WriteAll(fd, &last, 1);
            },
            nullptr, limits));
        char got = 0;
        const bool read = child.Read(&got, 1);
        done += child.Finish(read) == ChildEnd_Done && got == 3;
    }
    pool.SetThreads(before);
    EXPECT_EQ(done, 30);
}

// ---------------------------------------------------------------------------------------------
// The filter.

namespace {

bool AttemptsTheCall(int fd, void* context)
{
    const krvtest::ForbiddenCall& call = *static_cast<const krvtest::ForbiddenCall*>(context);
    return call.attempt() && WritesThreeNumbers(fd, nullptr);
}

// Every call the filter allows, as a decoder and its allocator make them.
bool MakesTheAllowedCalls(int fd, void*)
{
    void* p = mmap(nullptr, 1 << 20, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return false;
    static_cast<char*>(p)[5] = 1;
    if (mprotect(p, 4096, PROT_READ) != 0 || mprotect(p, 4096, PROT_READ | PROT_WRITE) != 0 ||
        madvise(p, 1 << 20, MADV_DONTNEED) != 0)
        return false;
    p = mremap(p, 1 << 20, 4 << 20, MREMAP_MAYMOVE);
    if (p == MAP_FAILED || munmap(p, 4 << 20) != 0) return false;
    std::vector<char> big(64 << 20, 1);  // the allocator's own mappings
    std::vector<std::vector<char>> small(1000, std::vector<char>(100, 2));
    unsigned char random[8];
    timespec now, nap = {0, 1000};
    if (getrandom(random, sizeof random, 0) != sizeof random ||
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now) != 0 || nanosleep(&nap, nullptr) != 0 ||
        sched_yield() != 0 || getpid() <= 0 || gettid() <= 0)
        return false;
    LimitProcessorTime(2);
    return WritesThreeNumbers(fd, nullptr);
}

// Writes how many descriptors below 1024 the child holds, and the first of them.
bool CountsDescriptors(int fd, void*)
{
    int numbers[3] = {0, -1, 9};
    for (int i = 0; i < 1024; ++i)
        if (fcntl(i, F_GETFD) != -1) {
            if (numbers[0]++ == 0) numbers[1] = i;
        }
    return WriteAll(fd, numbers, sizeof numbers);
}

}  // namespace

TEST(Sandbox, EachForbiddenCallKillsTheChild)
{
    if (!krvtest::ChildrenAreFiltered()) GTEST_SKIP() << "no seccomp filter on this system";
    int count = 0;
    const krvtest::ForbiddenCall* calls = krvtest::ForbiddenCalls(count);
    for (int i = 0; i < count; ++i) {
        SCOPED_TRACE(calls[i].name);
        ChildProcess child;
        ASSERT_TRUE(child.Start(AttemptsTheCall, const_cast<krvtest::ForbiddenCall*>(&calls[i]),
                                ChildLimits()));
        int numbers[3] = {};
        EXPECT_FALSE(child.Read(numbers, sizeof numbers));
        EXPECT_TRUE(child.Filtered());
        EXPECT_EQ(child.Finish(false), ChildEnd_Forbidden);
        // The parent learns which call it was, except in a sanitized build, whose filter kills
        // without a handler.
        if (SanitizedBuild()) {
            EXPECT_EQ(child.ForbiddenCall(), -1);
        } else if (calls[i].number >= 0) {
            EXPECT_EQ(child.ForbiddenCall(), calls[i].number);
        } else {
            EXPECT_GE(child.ForbiddenCall(), 0);
        }
    }
    EXPECT_EQ(access("/tmp/krv_sandbox_probe", F_OK), -1);

    ChildProcess child;
    ASSERT_TRUE(child.Start(MakesTheAllowedCalls, nullptr, ChildLimits()));
    int numbers[3] = {};
    EXPECT_TRUE(child.Read(numbers, sizeof numbers));
    EXPECT_EQ(numbers[2], 9);
    EXPECT_EQ(child.Finish(true), ChildEnd_Done);
}

TEST(Sandbox, TheChildHoldsOnlyItsPipe)
{
    // The parent's files, sockets and other pipes: a low descriptor, one at the number the
    // forbidden calls use, and the standard three. The count is taken without the filter, which
    // would kill the child for fcntl.
    const int file = open("/proc/self/status", O_RDONLY);
    ASSERT_GE(file, 0);
    ASSERT_EQ(dup2(file, krvtest::kOtherFd), krvtest::kOtherFd);
    SimulateNoSeccomp(true);
    testing::internal::CaptureStderr();
    ChildProcess child;
    ASSERT_TRUE(child.Start(CountsDescriptors, nullptr, ChildLimits()));
    int numbers[3] = {};
    EXPECT_TRUE(child.Read(numbers, sizeof numbers));
    EXPECT_EQ(child.Finish(true), ChildEnd_Done);
    testing::internal::GetCapturedStderr();
    SimulateNoSeccomp(false);
    close(krvtest::kOtherFd);
    close(file);
    EXPECT_EQ(numbers[0], 1);  // the pipe alone
    EXPECT_NE(numbers[1], file);
    EXPECT_NE(numbers[1], krvtest::kOtherFd);
}

TEST(Sandbox, WithoutSeccompJobsRunUnfilteredAndTheProgramSaysSoOnce)
{
    SimulateNoSeccomp(true);
    testing::internal::CaptureStderr();
    int done = 0;
    for (int i = 0; i < 3; ++i) {
        // A call the filter forbids: here it runs.
        ChildProcess child;
        ASSERT_TRUE(child.Start(
            [](int fd, void*) {
                return kill(getppid(), 0) == 0 && WritesThreeNumbers(fd, nullptr);
            },
            nullptr, ChildLimits()));
        int numbers[3] = {};
        const bool read = child.Read(numbers, sizeof numbers);
        EXPECT_FALSE(child.Filtered());
        done += child.Finish(read) == ChildEnd_Done && numbers[2] == 9;
    }
    const std::string said = testing::internal::GetCapturedStderr();
    SimulateNoSeccomp(false);
    EXPECT_EQ(done, 3);
    EXPECT_NE(said.find("without a system-call filter"), std::string::npos) << said;
    EXPECT_EQ(said.find('\n'), said.size() - 1) << said;  // one line for all three
}
