// A child process that does one risky job for the program (decoding an untrusted file) under
// limits of processor time, wall-clock time and memory, and sends its result back through a pipe.
// Whatever happens in the child (a crash, an endless loop, an allocation of gigabytes) ends the
// child only; the parent sees a short stream and a failed or too slow child.
//
// The child is also a boundary for code that takes it over (a decoder exploited by its file).
// Before the job runs it closes every descriptor but its pipe, sets no_new_privs and installs a
// seccomp filter that allows only what computing on memory needs: memory mapped without
// execute, writes to the pipe, the processor-time limit, time, exit. Any other system call
// (open, socket, connect, execve, fork, ptrace, a write elsewhere, an executable mapping) kills
// the child, which the parent sees as ChildEnd_Forbidden, with the call's number (so that a
// library that needs one more call on some system says which). So the job must find everything it
// works on in memory already (the child inherits the parent's memory by fork) and must not
// start anything lazily that opens a file; the parent warms such libraries up before forking.
// Where the system has no seccomp the job still runs, unfiltered, and the program says so once
// on stderr.
//
// Who calls it: texture/image_decode.cpp, once an image file is loaded. It includes nothing of
// the Win32 subset, so files that use FreeImage can include it.
//
// The program has worker threads when it forks, and the child has only the forking thread: the
// child's job must not touch locks other threads may have held (the thread pool, the error
// report, iostreams); it computes, writes to its descriptor and returns. The child then ends
// with _exit, so no destructor, atexit handler or stdio flush of the parent runs twice.
#pragma once

#include <cstddef>
#include <cstdint>

namespace krvplat {

struct ChildLimits {
    int cpuSeconds = 2;                      // processor time (whole seconds); then SIGXCPU
    int maxCpuSeconds = 0;                   // how far the job may raise it (0: not at all)
    int wallMilliseconds = 5000;             // the parent's deadline for the whole exchange
    size_t memoryBytes = size_t{512} << 20;  // address space the child may add to what it has
};

enum ChildEnd {
    ChildEnd_Done,      // the job returned true and the child exited normally
    ChildEnd_Failed,    // the job returned false, the child crashed, or the child never started
    ChildEnd_TooSlow,   // killed at the processor-time limit or at the parent's deadline
    ChildEnd_Forbidden  // killed by the filter for a system call it does not allow
};

// The parent's side of one child. Start it, Read exactly what the job writes, then Finish.
class ChildProcess {
public:
    typedef bool (*Job)(int fd, void* context);

    ChildProcess() {}
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Forks and runs job(fd, context) in the child, fd being the write end of the pipe. False
    // when no child could be started (then Finish gives ChildEnd_Failed).
    bool Start(Job job, void* context, const ChildLimits& limits);
    // Reads exactly `bytes` bytes; false at the end of the stream, on an error or at the deadline.
    bool Read(void* buffer, size_t bytes);
    // After a Read that returned true: whether the child runs under the seccomp filter.
    bool Filtered() const { return preamble_ == 'F'; }
    // Ends the exchange and reaps the child. complete: the caller read everything it expected,
    // so the child is given until the deadline to exit; otherwise it is killed at once.
    ChildEnd Finish(bool complete);
    // After Finish gave ChildEnd_Forbidden: the number of the system call the filter stopped,
    // or -1 where the build cannot tell (a sanitized build's filter kills outright).
    int ForbiddenCall() const { return forbiddenCall_; }
    // After Finish gave ChildEnd_TooSlow: the child reached the wall-clock deadline having used
    // under a tenth of that time on the processor. It was waiting, not working (nothing a file
    // makes the decoder do waits), so the caller may try once more with a new child; the
    // program's stderr has one line on where it waited.
    bool Stalled() const { return stalled_; }

private:
    bool ReadRaw(void* buffer, size_t bytes);
    long long RemainingMilliseconds() const;
    void Kill();
    void Inspect();
    void ReleaseStopped();

    int pid_ = -1;
    int fd_ = -1;
    uint64_t deadline_ = 0;  // CLOCK_MONOTONIC, milliseconds
    bool timedOut_ = false;
    bool killed_ = false;
    bool finished_ = false;
    // The child's first byte, before the job's: 'F' under the filter, 'U' without; 0 until read.
    unsigned char preamble_ = 0;
    // A page shared with the child, where its SIGSYS handler leaves the stopped call's number.
    volatile int* stopped_ = nullptr;
    int forbiddenCall_ = -1;
    bool stalled_ = false;
    uint64_t started_ = 0;  // CLOCK_MONOTONIC, milliseconds
};

// For the job, in the child: writes all of data; false once the parent has stopped reading.
bool WriteAll(int fd, const void* data, size_t bytes);
// For the job, in the child: replaces the processor-time limit (counted from the child's start)
// once the job knows how much work it has taken on, up to ChildLimits::maxCpuSeconds.
void LimitProcessorTime(int seconds);

// For tests: children started from now on behave as where the system has no seccomp (the
// filter is not installed, the job runs unfiltered and the program's notice is given once more).
void SimulateNoSeccomp(bool on);

// True when the program runs under a sanitizer: those reserve terabytes of address space at
// start, so the child's memory limit is left off there.
bool SanitizedBuild();

}  // namespace krvplat
