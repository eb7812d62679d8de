// The file access of the OBJ/MTL reader (see model_files.h), on POSIX calls.
#include "platform/model_files.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace {

krvplat::FileIdentity IdentityOf(const struct stat& info)
{
    krvplat::FileIdentity identity;
    identity.device = static_cast<unsigned long long>(info.st_dev);
    identity.inode = static_cast<unsigned long long>(info.st_ino);
    return identity;
}

// Opens native for reading if it is a regular file (flags are added to the open's), or
// returns -1. Non-blocking, so a FIFO or device under a model's name cannot stall the open.
int OpenRegular(const std::string& native, int flags, struct stat& info)
{
    int fd = open(native.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | flags);
    if (fd < 0) return -1;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return -1;
    }
    return fd;
}

// Reads the open regular file fd (described by info) as ReadWholeFile does.
krvplat::ReadFileStatus ReadOpenFile(int fd, const struct stat& info, size_t maxBytes,
                                     char*& buffer, size_t& length)
{
    if (info.st_size < 0 || static_cast<unsigned long long>(info.st_size) > maxBytes)
        return krvplat::kReadFileTooLarge;
    const size_t size = static_cast<size_t>(info.st_size);
    char* data = new (std::nothrow) char[size + 1];
    if (!data) return krvplat::kReadFileFailed;
    size_t got = 0;
    while (got < size) {
        ssize_t n = read(fd, data + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            delete[] data;
            return krvplat::kReadFileFailed;
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    data[got] = 0;
    buffer = data;
    length = got;
    return krvplat::kReadFileOk;
}

}  // namespace

krvplat::ReadFileStatus krvplat::ReadWholeFile(const std::string& native, bool followLinks,
                                               size_t maxBytes, char*& buffer, size_t& length,
                                               FileIdentity& identity)
{
    struct stat info;
    int fd = OpenRegular(native, followLinks ? 0 : O_NOFOLLOW, info);
    if (fd < 0) return kReadFileNotOpened;
    ReadFileStatus status = ReadOpenFile(fd, info, maxBytes, buffer, length);
    close(fd);
    if (status == kReadFileOk) identity = IdentityOf(info);
    return status;
}

bool krvplat::RegularFileIdentity(const std::string& native, FileIdentity& identity)
{
    struct stat info;
    if (stat(native.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    identity = IdentityOf(info);
    return true;
}

bool krvplat::IsContainedName(const char* name)
{
    if (name[0] == '/' || name[0] == '\\') return false;
    char lower = static_cast<char>(name[0] | 0x20);
    if (lower >= 'a' && lower <= 'z' && name[1] == ':') return false;
    const char* start = name;
    for (const char* p = name;; ++p) {
        if (*p == '/' || *p == '\\' || *p == 0) {
            if (p - start == 2 && start[0] == '.' && start[1] == '.') return false;
            if (*p == 0) break;
            start = p + 1;
        }
    }
    return true;
}

krvplat::ContainedFolder::ContainedFolder(const std::string& native)
{
    const std::string folder = native.empty() ? "." : native;
    if (char* real = realpath(folder.c_str(), nullptr)) {
        folder_ = real;
        std::free(real);
    }
}

krvplat::ContainedFolder::Place krvplat::ContainedFolder::Locate(const std::string& native,
                                                                 std::string& real) const
{
    char* resolved = realpath(native.c_str(), nullptr);
    if (!resolved) return (errno == ENOENT || errno == ENOTDIR) ? kMissing : kOutside;
    real = resolved;
    std::free(resolved);
    if (folder_.empty()) return kOutside;
    if (folder_ == "/") return kInside;
    bool under = real.size() > folder_.size() && real.compare(0, folder_.size(), folder_) == 0 &&
                 real[folder_.size()] == '/';
    return under ? kInside : kOutside;
}
