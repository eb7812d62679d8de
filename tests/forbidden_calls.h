// What code that has taken over a decoding child would try first, one system call each, for the
// tests of the child's filter (test_sandbox.cpp, and test_texture_load.cpp through a decoder
// that does them). Each returns whether the call succeeded; under the filter none returns.
#pragma once

#include "platform/sandbox.h"

#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/mman.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace krvtest {

struct ForbiddenCall {
    const char* name;
    bool (*attempt)();
    long number;  // the call the filter stops; -1 where the C library may choose between two
};

// A descriptor number the child does not hold (the parent's, say, once they are closed).
constexpr int kOtherFd = 200;

inline const ForbiddenCall* ForbiddenCalls(int& count)
{
    static const ForbiddenCall calls[] = {
        {"openat /etc/passwd", [] { return open("/etc/passwd", O_RDONLY) >= 0; }, SYS_openat},
        {"creat in /tmp",
         [] { return open("/tmp/krv_sandbox_probe", O_WRONLY | O_CREAT, 0600) >= 0; }, SYS_openat},
        {"socket", [] { return socket(AF_INET, SOCK_STREAM, 0) >= 0; }, SYS_socket},
        {"connect",
         [] {
             sockaddr_in a = {};
             a.sin_family = AF_INET;
             a.sin_port = htons(9);
             a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
             return connect(kOtherFd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
         },
         SYS_connect},
        {"execve /bin/sh",
         [] {
             char sh[] = "/bin/sh";
             char* argv[] = {sh, nullptr};
             return execve(sh, argv, nullptr) == 0;
         },
         SYS_execve},
        {"fork",
         [] {
             const pid_t pid = fork();
             if (pid == 0) _exit(0);
             return pid > 0;
         },
         -1},
        {"clone",
         [] {
             const long pid = syscall(SYS_clone, SIGCHLD, 0, 0, 0, 0);
             if (pid == 0) _exit(0);
             return pid > 0;
         },
         SYS_clone},
        {"ptrace", [] { return ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) == 0; }, SYS_ptrace},
        // getppid itself is forbidden: another process is taken by a number known beforehand.
        {"signal another process", [] { return kill(1, 0) == 0; }, SYS_kill},
        {"getppid", [] { return getppid() > 0; }, SYS_getppid},
        {"write to stderr", [] { return write(2, "x", 1) == 1; }, SYS_write},
        {"write elsewhere", [] { return write(kOtherFd, "x", 1) == 1; }, SYS_write},
        {"read",
         [] {
             char c;
             return read(0, &c, 1) >= 0;
         },
         SYS_read},
        {"fstat",
         [] {
             struct stat st;
             return fstat(kOtherFd, &st) == 0;
         },
         -1},
        {"mmap executable",
         [] {
             return mmap(nullptr, 4096, PROT_READ | PROT_WRITE | PROT_EXEC,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0) != MAP_FAILED;
         },
         SYS_mmap},
        {"mprotect executable",
         [] {
             void* p =
                 mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
             return p != MAP_FAILED && mprotect(p, 4096, PROT_READ | PROT_EXEC) == 0;
         },
         SYS_mprotect},
        {"raise the memory limit",
         [] {
             rlimit r = {RLIM_INFINITY, RLIM_INFINITY};
             return setrlimit(RLIMIT_AS, &r) == 0;
         },
         SYS_prlimit64},
        {"limits of another process",
         [] {
             rlimit r;
             return prlimit(1, RLIMIT_CPU, nullptr, &r) == 0;
         },
         SYS_prlimit64},
    };
    count = static_cast<int>(sizeof calls / sizeof calls[0]);
    return calls;
}

// Whether children here run under the filter (not on a system without seccomp).
inline bool ChildrenAreFiltered()
{
    krvplat::ChildProcess child;
    const auto writesOne = [](int fd, void*) { return krvplat::WriteAll(fd, "1", 1); };
    if (!child.Start(writesOne, nullptr, krvplat::ChildLimits())) return false;
    char one;
    const bool read = child.Read(&one, 1);
    const bool filtered = read && child.Filtered();
    child.Finish(read);
    return filtered;
}

}  // namespace krvtest
