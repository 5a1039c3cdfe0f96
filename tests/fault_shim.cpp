// Preloaded into forkit (LD_PRELOAD) to make the system calls of some file
// systems fail as they do there, where a test cannot reach them:
//   FORKIT_SHORT_READS=N      every read gives at most N bytes, as FUSE with
//                             direct I/O and some network file systems do;
//   FORKIT_FAILING_CLOSE=S    closing a file whose name ends in S fails with
//                             EIO after it closed, as a write-back error that
//                             NFS or SMB report at close;
//   FORKIT_FAILING_READ=S:N   reading the file named S fails with EIO once N
//                             bytes were read since it was last opened;
//   FORKIT_FAILING_FSTAT=S    asking what the open file or folder whose name
//                             ends in S is fails with EIO;
//   FORKIT_FAILING_CREATE=S   creating a file named S in a folder fails with
//                             ENOSPC, as on a full disk.

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// 1 if the open descriptor `fd` names a file whose name ends in `suffix`.
bool names_end_in(int fd, const std::string& suffix)
{
    char link[64], name[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t length = readlink(link, name, sizeof name - 1);
    if (length <= 0 || suffix.empty())
        return false;
    std::string path(name, static_cast<std::size_t>(length));
    return path.size() >= suffix.size() &&
           path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0;
}

template <typename Function>
Function next(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// The bytes read so far of the file that reads are to fail in.
std::size_t read_so_far = 0;

} // namespace

extern "C" ssize_t read(int fd, void* to, std::size_t size)
{
    static const auto real_read = next<ssize_t (*)(int, void*, std::size_t)>("read");
    const char* short_reads = std::getenv("FORKIT_SHORT_READS");
    const char* failing = std::getenv("FORKIT_FAILING_READ");
    if (short_reads != nullptr && size > std::strtoul(short_reads, nullptr, 10))
        size = std::strtoul(short_reads, nullptr, 10);
    if (failing != nullptr && std::strchr(failing, ':') != nullptr &&
        names_end_in(fd, std::string(failing, std::strchr(failing, ':')))) {
        const std::size_t limit = std::strtoul(std::strchr(failing, ':') + 1, nullptr, 10);
        if (read_so_far >= limit) {
            errno = EIO;
            return -1;
        }
        size = size < limit - read_so_far ? size : limit - read_so_far;
        ssize_t got = real_read(fd, to, size);
        read_so_far += got > 0 ? static_cast<std::size_t>(got) : 0;
        return got;
    }
    return real_read(fd, to, size);
}

extern "C" int fstat(int fd, struct stat* info)
{
    static const auto real_fstat = next<int (*)(int, struct stat*)>("fstat");
    const char* failing = std::getenv("FORKIT_FAILING_FSTAT");
    if (failing != nullptr && names_end_in(fd, failing)) {
        errno = EIO;
        return -1;
    }
    return real_fstat(fd, info);
}

extern "C" int openat(int folder, const char* name, int flags, ...)
{
    static const auto real_openat = next<int (*)(int, const char*, int, ...)>("openat");
    const char* failing = std::getenv("FORKIT_FAILING_CREATE");
    const char* reads_fail = std::getenv("FORKIT_FAILING_READ");
    mode_t mode = 0;
    if (reads_fail != nullptr && std::strncmp(name, reads_fail, std::strlen(name)) == 0 &&
        reads_fail[std::strlen(name)] == ':')
        read_so_far = 0;
    if ((flags & O_CREAT) != 0) {
        va_list args;
        va_start(args, flags);
        mode = static_cast<mode_t>(va_arg(args, int));
        va_end(args);
        if (failing != nullptr && std::strcmp(name, failing) == 0) {
            errno = ENOSPC;
            return -1;
        }
    }
    return real_openat(folder, name, flags, mode);
}

extern "C" int close(int fd)
{
    static const auto real_close = next<int (*)(int)>("close");
    const char* failing = std::getenv("FORKIT_FAILING_CLOSE");
    const bool fails = failing != nullptr && names_end_in(fd, failing);
    int closed = real_close(fd);
    if (fails && closed == 0) {
        errno = EIO;
        return -1;
    }
    return closed;
}
