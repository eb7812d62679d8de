// The child process of platform/sandbox.h: fork, limits, a pipe read against a deadline.
#include "platform/sandbox.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KRV_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KRV_SANITIZED 1
#endif
#ifdef KRV_SANITIZED
#include <sanitizer/common_interface_defs.h>
#endif

namespace krvplat {

static uint64_t NowMs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

bool SanitizedBuild()
{
#ifdef KRV_SANITIZED
    return true;
#else
    return false;
#endif
}

// The address space the process has mapped now, from /proc/self/statm (its first field, in
// pages); 0 when unknown.
static size_t MappedBytes()
{
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f) return 0;
    unsigned long pages = 0;
    int n = std::fscanf(f, "%lu", &pages);
    std::fclose(f);
    long pageSize = sysconf(_SC_PAGESIZE);
    if (n != 1 || pageSize <= 0) return 0;
    return static_cast<size_t>(pages) * static_cast<size_t>(pageSize);
}

// In the child, before the job: only async-signal-safe calls (the other threads' locks are
// frozen in whatever state fork found them).
static void SetUpChild(const ChildLimits& limits, size_t mappedBytes)
{
    // The parent's handlers (a sanitizer's or a fuzzer's crash reporter among them) must not
    // run here: a crash in the child is the parent's failed job, not the program's crash. Core
    // files would cost seconds and disk for nothing.
    const int fatal[] = {SIGSEGV, SIGBUS, SIGILL,  SIGFPE, SIGABRT,
                         SIGTRAP, SIGSYS, SIGXCPU, SIGPIPE};
    for (int sig : fatal) signal(sig, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
#ifdef KRV_SANITIZED
    // A sanitizer's report in the child (the library overrunning a buffer) ends the child; a
    // fuzzer's death callback would otherwise record the input as a crash of the program.
    __sanitizer_set_death_callback(nullptr);
#endif

    rlimit core = {0, 0};
    setrlimit(RLIMIT_CORE, &core);
    if (limits.cpuSeconds > 0) {
        // The soft limit sends SIGXCPU; the hard one, a second above the most the job may ask
        // for, SIGKILL. Only the soft one can be raised later without privileges.
        const rlim_t cpu = static_cast<rlim_t>(limits.cpuSeconds);
        const rlim_t most = static_cast<rlim_t>(std::max(limits.cpuSeconds, limits.maxCpuSeconds));
        rlimit r = {cpu, most + 1};
        setrlimit(RLIMIT_CPU, &r);
    }
    if (limits.memoryBytes > 0 && mappedBytes > 0 && !SanitizedBuild()) {
        rlimit as;
        if (getrlimit(RLIMIT_AS, &as) == 0) {
            const rlim_t want =
                static_cast<rlim_t>(mappedBytes) + static_cast<rlim_t>(limits.memoryBytes);
            if (as.rlim_max == RLIM_INFINITY || want < as.rlim_max) {
                as.rlim_cur = want;
                as.rlim_max = want;
                setrlimit(RLIMIT_AS, &as);
            }
        }
    }
}

ChildProcess::~ChildProcess()
{
    if (!finished_) Finish(false);
}

bool ChildProcess::Start(Job job, void* context, const ChildLimits& limits)
{
    if (pid_ >= 0 || finished_) return false;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    // Larger than the default 64 KiB: fewer wake-ups for the tens of megabytes of a big image.
    // Best effort: the system may cap it.
    fcntl(fds[0], F_SETPIPE_SZ, 1 << 20);
    const size_t mapped = MappedBytes();
    deadline_ = NowMs() + static_cast<uint64_t>(std::max(limits.wallMilliseconds, 0));

    pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return false;
    }
    if (pid == 0) {
        close(fds[0]);
        SetUpChild(limits, mapped);
        bool ok = job(fds[1], context);
        _exit(ok ? 0 : 1);
    }
    close(fds[1]);
    pid_ = pid;
    fd_ = fds[0];
    return true;
}

long long ChildProcess::RemainingMilliseconds() const
{
    const uint64_t now = NowMs();
    return now >= deadline_ ? 0 : static_cast<long long>(deadline_ - now);
}

void ChildProcess::Kill()
{
    if (pid_ > 0 && !killed_) {
        kill(pid_, SIGKILL);
        killed_ = true;
    }
}

bool ChildProcess::Read(void* buffer, size_t bytes)
{
    if (fd_ < 0 || timedOut_) return false;
    unsigned char* out = static_cast<unsigned char*>(buffer);
    while (bytes > 0) {
        long long remaining = RemainingMilliseconds();
        if (remaining <= 0) {
            timedOut_ = true;
            return false;
        }
        pollfd p = {fd_, POLLIN, 0};
        int ready = poll(&p, 1, static_cast<int>(remaining > 1000000 ? 1000000 : remaining));
        if (ready < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (ready == 0) continue;  // the deadline is checked at the top
        ssize_t n = read(fd_, out, bytes);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return false;
        }
        if (n == 0) return false;  // the child ended or closed its end early
        out += n;
        bytes -= static_cast<size_t>(n);
    }
    return true;
}

ChildEnd ChildProcess::Finish(bool complete)
{
    if (finished_) return ChildEnd_Failed;
    finished_ = true;
    if (fd_ >= 0) {
        close(fd_);  // a child still writing gets EPIPE or SIGPIPE
        fd_ = -1;
    }
    if (pid_ < 0) return ChildEnd_Failed;
    if (!complete || timedOut_) Kill();

    int status = 0;
    bool reaped = false;
    for (;;) {
        pid_t r = waitpid(pid_, &status, killed_ ? 0 : WNOHANG);
        if (r == pid_) {
            reaped = true;
            break;
        }
        if (r < 0) {
            if (errno == EINTR) continue;
            break;  // ECHILD: the program ignores SIGCHLD and the system reaped it
        }
        if (RemainingMilliseconds() <= 0) {
            timedOut_ = true;
            Kill();
            continue;
        }
        // The child has written its last byte and is on its way out: this is short.
        timespec pause = {0, 1000000};
        nanosleep(&pause, nullptr);
    }
    pid_ = -1;

    if (timedOut_) return ChildEnd_TooSlow;
    if (!reaped) return complete ? ChildEnd_Done : ChildEnd_Failed;
    if (WIFEXITED(status))
        return WEXITSTATUS(status) == 0 && complete ? ChildEnd_Done : ChildEnd_Failed;
    if (WIFSIGNALED(status)) {
        const int sig = WTERMSIG(status);
        // SIGXCPU at the soft processor limit; SIGKILL not ours is the hard one.
        if (sig == SIGXCPU || (sig == SIGKILL && !killed_)) return ChildEnd_TooSlow;
    }
    return ChildEnd_Failed;
}

void LimitProcessorTime(int seconds)
{
    rlimit r;
    if (getrlimit(RLIMIT_CPU, &r) != 0) return;
    rlim_t cpu = static_cast<rlim_t>(std::max(seconds, 1));
    if (r.rlim_max != RLIM_INFINITY && cpu >= r.rlim_max) cpu = r.rlim_max - 1;
    r.rlim_cur = cpu;
    setrlimit(RLIMIT_CPU, &r);
}

bool WriteAll(int fd, const void* data, size_t bytes)
{
    const unsigned char* in = static_cast<const unsigned char*>(data);
    while (bytes > 0) {
        ssize_t n = write(fd, in, bytes);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        in += n;
        bytes -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace krvplat
