// The child process of platform/sandbox.h: fork, limits, the seccomp filter, a pipe read
// against a deadline.
#include "platform/sandbox.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#if defined(__linux__)
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#if defined(__x86_64__)
#define KRV_SECCOMP_ARCH AUDIT_ARCH_X86_64
#elif defined(__aarch64__)
#define KRV_SECCOMP_ARCH AUDIT_ARCH_AARCH64
#endif
#endif

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KRV_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KRV_SANITIZED 1
#endif
#ifdef KRV_SANITIZED
#include <link.h>
#include <sanitizer/common_interface_defs.h>
#include <sched.h>
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

static std::atomic<bool> simulateNoSeccomp{false};
// In the child only: where its SIGSYS handler leaves the number of the call the filter stopped.
static volatile int* childStopped = nullptr;
static std::atomic<bool> toldUnfiltered{false};

void SimulateNoSeccomp(bool on)
{
    simulateNoSeccomp = on;
    if (on) toldUnfiltered = false;  // so that a test sees the notice given once
}

// Closes every descriptor of the child but `keep`: what the parent had open (its files, its
// sockets, other children's pipes) must be out of reach of a job taken over. close_range where
// the kernel has it (5.9), else the list in /proc/self/fd read with raw system calls (no
// allocation), else every number up to the descriptor limit.
static void CloseAllBut(int keep)
{
#if defined(__linux__) && defined(SYS_close_range)
    const long lowDone = keep == 0 ? 0 : syscall(SYS_close_range, 0u, keep - 1u, 0u);
    if (lowDone == 0 && syscall(SYS_close_range, keep + 1u, ~0u, 0u) == 0) return;
#endif
#if defined(__linux__) && defined(SYS_getdents64)
    const int dir = open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        alignas(8) char buffer[4096];
        for (;;) {
            const long n = syscall(SYS_getdents64, dir, buffer, sizeof buffer);
            if (n <= 0) break;
            for (long at = 0; at < n;) {
                // struct linux_dirent64: inode (8), offset (8), record length (2), type (1), name.
                unsigned short length;
                __builtin_memcpy(&length, buffer + at + 16, sizeof length);
                const char* name = buffer + at + 19;
                int fd = 0;
                bool number = *name != 0;
                for (const char* c = name; *c; ++c) {
                    if (*c < '0' || *c > '9') number = false;
                    fd = fd * 10 + (*c - '0');
                }
                if (number && fd != keep && fd != dir) close(fd);
                at += length;
            }
        }
        close(dir);
        return;
    }
#endif
    rlimit files;
    long most = getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY
                    ? static_cast<long>(files.rlim_cur)
                    : 65536;
    most = std::min(most, 1L << 20);
    for (long fd = 0; fd < most; ++fd)
        if (fd != keep) close(static_cast<int>(fd));
}

#if defined(KRV_SECCOMP_ARCH) && defined(KRV_SANITIZED)
// The code of a sanitizer's runtime where it is a library of its own (GCC's libasan, libtsan):
// its calls are the runtime's bookkeeping, not the job's, and the runtime makes them with its
// own system-call instructions (maps, statistics, threads of its own), which differ with the
// machine and the moment. The filter of a sanitized build lets calls from there through. A
// runtime linked into the program (Clang's) cannot be told apart from the program: none then.
struct RuntimeCode {
    uintptr_t begin = 0, end = 0;
};

static int FindRuntimeCode(dl_phdr_info* info, size_t, void* data)
{
    RuntimeCode& code = *static_cast<RuntimeCode*>(data);
    const uintptr_t probe = reinterpret_cast<uintptr_t>(&__sanitizer_set_death_callback);
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& h = info->dlpi_phdr[i];
        if (h.p_type != PT_LOAD || !(h.p_flags & PF_X)) continue;
        const uintptr_t begin = info->dlpi_addr + h.p_vaddr;
        if (probe < begin || probe >= begin + h.p_memsz) continue;
        if (info->dlpi_name && info->dlpi_name[0]) code = {begin, begin + h.p_memsz};
        return 1;
    }
    return 0;
}

// Found in the parent, before the first fork (dl_iterate_phdr takes a lock).
static RuntimeCode SanitizerRuntimeCode()
{
    static const RuntimeCode code = [] {
        RuntimeCode c;
        dl_iterate_phdr(FindRuntimeCode, &c);
        // The filter compares the address's two halves apart: the code must lie within one
        // 4 GiB page of addresses.
        if (c.end <= c.begin || (c.begin >> 32) != ((c.end - 1) >> 32)) c = {};
        return c;
    }();
    return code;
}
#endif

#ifdef KRV_SECCOMP_ARCH
// The filter, as classic BPF over struct seccomp_data. The calls allowed, and why:
//   brk mmap munmap mremap mprotect madvise  the allocators (mmap and mprotect only without
//                                            PROT_EXEC: no new code, whatever the job decodes)
//   write                                    on the pipe only (not even fstat: the C library
//                                            makes it newfstatat, whose path may be absolute)
//   futex                                    the C library's and the C++ runtime's locks
//   rt_sigprocmask rt_sigreturn tgkill       signals; tgkill to the child itself, so that abort
//   getpid gettid sigaltstack                and raise end it as a crash does (a sanitizer's
//                                            runtime sets its signal stack aside on exit)
//   prlimit64                                the processor-time limit only (LimitProcessorTime)
//   clock_gettime clock_nanosleep nanosleep  time
//   getrandom sched_yield restart_syscall
//   exit exit_group
// Everything else ends the whole child (see stop_ below). A system call of another ABI (x32 on
// x86-64) ends it as well. A sanitized build lets its runtime's own calls through and refuses the
// threads it would start (SanitizerRuntimeCode); the job's calls meet the same list.
class FilterBuilder {
public:
    static constexpr int kMax = 192;

    void Add(unsigned short code, unsigned k, unsigned char jt = 0, unsigned char jf = 0)
    {
        if (count_ < kMax) program_[count_] = sock_filter{code, jt, jf, k};
        ++count_;
    }
    void LoadNumber() { Add(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)); }
    // The low word of argument i: every argument checked here is an int or a set of bits
    // below bit 32.
    void LoadArgument(int i)
    {
        unsigned at = static_cast<unsigned>(offsetof(seccomp_data, args) + 8 * i);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        at += 4;
#endif
        Add(BPF_LD | BPF_W | BPF_ABS, at);
    }
    void Allow() { Add(BPF_RET | BPF_K, SECCOMP_RET_ALLOW); }
    void Refuse(unsigned error) { Add(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (error & 0xffffu)); }
    // Every call made from an instruction in [begin, end), which lies within one 4 GiB page;
    // the accumulator holds the call's number again afterwards.
    void AllowCallsFrom(uint64_t begin, uint64_t end)
    {
        unsigned low = static_cast<unsigned>(offsetof(seccomp_data, instruction_pointer));
        unsigned high = low + 4;
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        std::swap(low, high);
#endif
        Add(BPF_LD | BPF_W | BPF_ABS, high);
        Add(BPF_JMP | BPF_JEQ | BPF_K, static_cast<unsigned>(begin >> 32), 0, 4);
        Add(BPF_LD | BPF_W | BPF_ABS, low);
        Add(BPF_JMP | BPF_JGE | BPF_K, static_cast<unsigned>(begin), 0, 2);
        Add(BPF_JMP | BPF_JGT | BPF_K, static_cast<unsigned>(end - 1), 1, 0);
        Allow();
        LoadNumber();
    }
    void Kill() { Add(BPF_RET | BPF_K, stop_); }
    void AllowCall(long nr)
    {
        Add(BPF_JMP | BPF_JEQ | BPF_K, static_cast<unsigned>(nr), 0, 1);
        Allow();
    }
    // The call nr when argument i equals value; the number stays in the accumulator otherwise.
    void AllowCallWith(long nr, int i, unsigned value)
    {
        Add(BPF_JMP | BPF_JEQ | BPF_K, static_cast<unsigned>(nr), 0, 4);
        LoadArgument(i);
        Add(BPF_JMP | BPF_JEQ | BPF_K, value, 0, 1);
        Allow();
        Kill();
    }
    // The call nr when argument i has none of the bits.
    void AllowCallWithout(long nr, int i, unsigned bits)
    {
        Add(BPF_JMP | BPF_JEQ | BPF_K, static_cast<unsigned>(nr), 0, 4);
        LoadArgument(i);
        Add(BPF_JMP | BPF_JSET | BPF_K, bits, 1, 0);
        Allow();
        Kill();
    }
    // The call nr when argument i equals a and argument j equals b.
    void AllowCallWith2(long nr, int i, unsigned a, int j, unsigned b)
    {
        Add(BPF_JMP | BPF_JEQ | BPF_K, static_cast<unsigned>(nr), 0, 6);
        LoadArgument(i);
        Add(BPF_JMP | BPF_JEQ | BPF_K, a, 0, 3);
        LoadArgument(j);
        Add(BPF_JMP | BPF_JEQ | BPF_K, b, 0, 1);
        Allow();
        Kill();
    }
    bool Full() const { return count_ > kMax; }
    sock_fprog Program() { return sock_fprog{static_cast<unsigned short>(count_), program_}; }

private:
    sock_filter program_[kMax];
    int count_ = 0;
    // A plain build traps, so that the child's handler can record the call before it dies by
    // the same signal; a sanitizer's runtime may make calls of its own in a signal's path, so
    // there the filter kills outright. The call is not made either way.
#ifdef KRV_SANITIZED
    unsigned stop_ = SECCOMP_RET_KILL_PROCESS;
#else
    unsigned stop_ = SECCOMP_RET_TRAP;
#endif
};

#ifndef KRV_SANITIZED
// The child's SIGSYS handler (SA_RESETHAND | SA_NODEFER): records the call and dies by the
// signal, now back at its default action. Code that took over the child can neither return
// from it nor replace it: rt_sigaction is itself forbidden, and a blocked SIGSYS is unblocked
// by the kernel for the filter's signal. A sanitized build, whose filter kills, installs none.
static void RecordStoppedCall(int, siginfo_t* info, void*)
{
    if (childStopped) *childStopped = info->si_syscall;
    raise(SIGSYS);
}
#endif

// Builds the filter for a child whose pipe is fd and installs it; false when the system cannot
// (no seccomp, or no filter mode).
static bool InstallFilter(int fd)
{
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return false;
    FilterBuilder b;
    b.Add(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch));
    b.Add(BPF_JMP | BPF_JEQ | BPF_K, KRV_SECCOMP_ARCH, 1, 0);
    b.Kill();
    b.LoadNumber();
#if defined(__x86_64__)
    b.Add(BPF_JMP | BPF_JGE | BPF_K, 0x40000000u /* __X32_SYSCALL_BIT */, 0, 1);
    b.Kill();
#endif
#ifdef KRV_SANITIZED
    const RuntimeCode runtime = SanitizerRuntimeCode();
    if (runtime.end > runtime.begin) b.AllowCallsFrom(runtime.begin, runtime.end);
    // A thread the runtime started for itself in the fork's child (ThreadSanitizer's
    // background thread) may still be registering with the kernel when the filter reaches it.
    b.AllowCall(SYS_set_robust_list);
#ifdef SYS_rseq
    b.AllowCall(SYS_rseq);
#endif
    // A thread the runtime would start for itself is refused, not fatal: glibc blocks every
    // signal around the clone, so the filter's signal could not be handled there.
    b.Add(BPF_JMP | BPF_JEQ | BPF_K, SYS_clone3, 0, 1);
    b.Refuse(ENOSYS);  // glibc then tries clone, below
    b.Add(BPF_JMP | BPF_JEQ | BPF_K, SYS_clone, 0, 4);
    b.LoadArgument(0);
    b.Add(BPF_JMP | BPF_JSET | BPF_K, CLONE_THREAD, 0, 1);
    b.Refuse(EAGAIN);
    b.LoadNumber();
#endif
    const unsigned pipe = static_cast<unsigned>(fd);
    const unsigned self = static_cast<unsigned>(getpid());
    b.AllowCallWith(SYS_write, 0, pipe);
    b.AllowCallWithout(SYS_mmap, 2, PROT_EXEC);
    b.AllowCall(SYS_munmap);
    b.AllowCall(SYS_brk);
    b.AllowCall(SYS_mremap);
    b.AllowCallWithout(SYS_mprotect, 2, PROT_EXEC);
    b.AllowCall(SYS_madvise);
    b.AllowCall(SYS_futex);
    b.AllowCall(SYS_rt_sigprocmask);
    b.AllowCall(SYS_rt_sigreturn);
    b.AllowCall(SYS_sigaltstack);
    b.AllowCallWith(SYS_tgkill, 0, self);
    b.AllowCall(SYS_getpid);
    b.AllowCall(SYS_gettid);
    b.AllowCallWith2(SYS_prlimit64, 0, 0u, 1, RLIMIT_CPU);
    // Time and the processor count, which a library may ask where the system answers them
    // with a call rather than from the vDSO.
    b.AllowCall(SYS_clock_gettime);
    b.AllowCall(SYS_clock_getres);
    b.AllowCall(SYS_gettimeofday);
#ifdef SYS_time
    b.AllowCall(SYS_time);
#endif
    b.AllowCall(SYS_getcpu);
    b.AllowCallWith(SYS_sched_getaffinity, 0, 0u);
    b.AllowCall(SYS_clock_nanosleep);
#ifdef SYS_nanosleep
    b.AllowCall(SYS_nanosleep);
#endif
    b.AllowCall(SYS_getrandom);
    b.AllowCall(SYS_sched_yield);
    b.AllowCall(SYS_restart_syscall);
    b.AllowCall(SYS_exit);
    b.AllowCall(SYS_exit_group);
    b.Kill();
    if (b.Full()) return false;
    sock_fprog program = b.Program();
    // Every thread of the child at once: the child of a plain build has only this one, but a
    // sanitizer's runtime may have restarted its own thread in the child.
    if (syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_TSYNC, &program) == 0)
        return true;
    return prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program, 0, 0) == 0;
}
#else
static bool InstallFilter(int) { return false; }
#endif

// In the child, before the job: only async-signal-safe calls (the other threads' locks are
// frozen in whatever state fork found them).
static void SetUpChild(const ChildLimits& limits, size_t mappedBytes, int fd)
{
    CloseAllBut(fd);
    // The parent's handlers (a sanitizer's or a fuzzer's crash reporter among them) must not
    // run here: a crash in the child is the parent's failed job, not the program's crash. Core
    // files would cost seconds and disk for nothing.
    const int fatal[] = {SIGSEGV, SIGBUS, SIGILL,  SIGFPE, SIGABRT,
                         SIGTRAP, SIGSYS, SIGXCPU, SIGPIPE};
    for (int sig : fatal) signal(sig, SIG_DFL);
#ifndef KRV_SANITIZED
    struct sigaction trap = {};
    trap.sa_sigaction = RecordStoppedCall;
    trap.sa_flags = SA_SIGINFO | SA_RESETHAND | SA_NODEFER;
    sigaction(SIGSYS, &trap, nullptr);
#endif
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
    // The boundary goes up last, once nothing but the job needs a call it forbids.
    const bool filtered = !simulateNoSeccomp.load(std::memory_order_relaxed) && InstallFilter(fd);
    const unsigned char preamble = filtered ? 'F' : 'U';
    WriteAll(fd, &preamble, 1);
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
    started_ = NowMs();
    deadline_ = started_ + static_cast<uint64_t>(std::max(limits.wallMilliseconds, 0));

    void* page =
        mmap(nullptr, sizeof(int), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (page != MAP_FAILED) {
        stopped_ = static_cast<volatile int*>(page);
        *stopped_ = -1;
    }

    // What the program's streams hold is written now: a child that flushed its copy on the
    // way out (a sanitizer's exit path does) would write it a second time, and its write to
    // anything but the pipe is forbidden.
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        ReleaseStopped();
        return false;
    }
    if (pid == 0) {
        childStopped = stopped_;
        SetUpChild(limits, mapped, fds[1]);
        bool ok = job(fds[1], context);
        _exit(ok ? 0 : 1);
    }
    close(fds[1]);
    pid_ = pid;
    fd_ = fds[0];
    return true;
}

void ChildProcess::ReleaseStopped()
{
    if (stopped_) munmap(const_cast<int*>(stopped_), sizeof(int));
    stopped_ = nullptr;
}

long long ChildProcess::RemainingMilliseconds() const
{
    const uint64_t now = NowMs();
    return now >= deadline_ ? 0 : static_cast<long long>(deadline_ - now);
}

// The first line of a small file of /proc, without its line end; empty when unreadable.
static std::string ProcLine(int pid, const char* name)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/%s", pid, name);
    std::string line;
    if (FILE* f = std::fopen(path, "r")) {
        char buffer[512];
        if (std::fgets(buffer, sizeof buffer, f)) line = buffer;
        std::fclose(f);
    }
    while (!line.empty() && (line.back() == '\n' || line.back() == '\0')) line.pop_back();
    return line;
}

// A child at its deadline, before it is killed: whether it was working or waiting, and where.
// A child that waits is a fault of the program, not of the file (see Stalled): the line on
// stderr says in which kernel function and system call it waited.
void ChildProcess::Inspect()
{
    const std::string stat = ProcLine(pid_, "stat");
    const size_t name = stat.rfind(')');
    if (name == std::string::npos) return;
    char state = '?';
    unsigned long user = 0, system = 0;
    // After the name: state (3), then fields 4 to 13, then utime (14) and stime (15).
    if (std::sscanf(stat.c_str() + name + 1, " %c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu",
                    &state, &user, &system) != 3)
        return;
    const long ticks = sysconf(_SC_CLK_TCK);
    const double cpu = ticks > 0 ? static_cast<double>(user + system) / ticks : 0.0;
    const double wall = static_cast<double>(NowMs() - started_) / 1000.0;
    stalled_ = cpu * 10.0 < wall;
    if (!stalled_) return;
    const std::string wchan = ProcLine(pid_, "wchan");
    const std::string call = ProcLine(pid_, "syscall");
    std::fprintf(stderr,
                 "krv: a child process waited %.1f s without working (%.2f s of processor "
                 "time, state %c, in %s, system call %s); it is killed\n",
                 wall, cpu, state, wchan.empty() ? "?" : wchan.c_str(),
                 call.empty() ? "?" : call.substr(0, call.find(' ')).c_str());
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
    if (preamble_ == 0 && !ReadRaw(&preamble_, 1)) return false;
    if (preamble_ != 'F' && preamble_ != 'U') return false;
    if (preamble_ == 'U' && !toldUnfiltered.exchange(true))
        std::fputs(
            "krv: this system has no seccomp filter: files are decoded in a child "
            "process with limits but without a system-call filter\n",
            stderr);
    return ReadRaw(buffer, bytes);
}

bool ChildProcess::ReadRaw(void* buffer, size_t bytes)
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
    if (pid_ < 0) {
        ReleaseStopped();
        return ChildEnd_Failed;
    }
    if (timedOut_ && !killed_) Inspect();
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
            Inspect();
            Kill();
            continue;
        }
        // The child has written its last byte and is on its way out: this is short.
        timespec pause = {0, 1000000};
        nanosleep(&pause, nullptr);
    }
    pid_ = -1;
    const int stopped = stopped_ ? *stopped_ : -1;
    ReleaseStopped();

    if (timedOut_) return ChildEnd_TooSlow;
    if (!reaped) return complete ? ChildEnd_Done : ChildEnd_Failed;
    if (WIFEXITED(status))
        return WEXITSTATUS(status) == 0 && complete ? ChildEnd_Done : ChildEnd_Failed;
    if (WIFSIGNALED(status)) {
        const int sig = WTERMSIG(status);
        // SIGXCPU at the soft processor limit; SIGKILL not ours is the hard one. The filter
        // kills with SIGSYS, which nothing else in a child raises.
        if (sig == SIGXCPU || (sig == SIGKILL && !killed_)) return ChildEnd_TooSlow;
        if (sig == SIGSYS) {
            forbiddenCall_ = stopped;
            return ChildEnd_Forbidden;
        }
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
