#include "platform.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

const int ON_WINDOWS = 0;

// forkit forms Windows paths: here each backslash becomes a slash.
typedef char NativePath[PATH_SIZE];

static const char* native(const char* path, NativePath* out)
{
    std::size_t i = 0;
    for (; path[i] != '\0' && i + 1 < PATH_SIZE; i++)
        (*out)[i] = path[i] == '\\' ? '/' : path[i];
    // Never cut: a path that does not fit names nothing.
    (*out)[path[i] == '\0' ? i : 0] = '\0';
    return *out;
}

// The file being created, for the stop hook: its native name, and its
// descriptor once open() has returned it.
static volatile std::sig_atomic_t writing_fd = -1;
static char writing_path[PATH_SIZE];

static void forget_writing()
{
    writing_fd = -1;
    writing_path[0] = '\0';
}

// Removes what is at `name` unless a run holds its lock, as a run still
// going does; once the lock is ours, nobody else removes what the name holds
// before we do. Async-signal-safe.
static int remove_if_unlocked(const char* name)
{
    struct stat named, held;
    if (lstat(name, &named) != 0)
        return errno == ENOENT;
    if (!S_ISREG(named.st_mode))
        return unlink(name) == 0;
    int fd = open(name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    int removed = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 && fstat(fd, &held) == 0 &&
                  lstat(name, &named) == 0 && held.st_dev == named.st_dev &&
                  held.st_ino == named.st_ino && unlink(name) == 0;
    if (fd >= 0)
        (void)close(fd);
    return removed;
}

// Whenever the signal comes, closing our descriptor gives up our lock, so
// the file at the name goes if it is ours or nobody's: one rule from before
// the creation to after the rename. Only async-signal-safe calls.
static void stop_on_signal(int signal_number)
{
    if (writing_fd >= 0)
        (void)close(writing_fd);
    if (writing_path[0] != '\0')
        (void)remove_if_unlocked(writing_path);
    (void)std::signal(signal_number, SIG_DFL);
    (void)std::raise(signal_number);
}

void prepare_process()
{
    // A closed output or a size limit fails a write, which forkit reports.
    (void)std::signal(SIGPIPE, SIG_IGN);
    (void)std::signal(SIGXFSZ, SIG_IGN);
    // A stop that the caller chose to ignore (nohup) stays ignored.
    static const int stops[] = {SIGINT, SIGTERM, SIGHUP};
    for (int stop : stops) {
        if (std::signal(stop, stop_on_signal) == SIG_IGN)
            (void)std::signal(stop, SIG_IGN);
    }
}

int path_kind(const char* path)
{
    NativePath native_path;
    const char* name = native(path, &native_path);
    struct stat info;
    if (lstat(name, &info) != 0)
        return NOTHING_THERE;
    if (!S_ISREG(info.st_mode))
        return S_ISLNK(info.st_mode) ? LINK : S_ISDIR(info.st_mode) ? FOLDER : OTHER_KIND;
    // Write bits, not access() alone: root may write anything, but a file
    // that nobody may write is one its owner asked to keep.
    if ((info.st_mode & 0222) == 0 || faccessat(AT_FDCWD, name, W_OK, AT_EACCESS) != 0)
        return READ_ONLY_FILE;
    return WRITABLE_FILE;
}

int can_enter_folder(const char* path)
{
    NativePath native_path;
    const char* name = native(path, &native_path);
    struct stat info;
    if (stat(name, &info) != 0)
        return 0;
    if (!S_ISDIR(info.st_mode)) {
        errno = ENOTDIR;
        return 0;
    }
    return faccessat(AT_FDCWD, name, X_OK, AT_EACCESS) == 0;
}

int identity_of_final_path(const char* name, FileIdentity* out)
{
    struct stat info;
    if (stat(name, &info) != 0)
        return 0;
    std::memset(out, 0, sizeof *out);
    out->volume = static_cast<std::uint64_t>(info.st_dev);
    std::memcpy(out->id, &info.st_ino, sizeof info.st_ino);
    return 1;
}

int final_path_of(const char* path, char* out, std::size_t size)
{
    NativePath native_path;
    char resolved[PATH_MAX];
    if (realpath(native(path, &native_path), resolved) == NULL || std::strlen(resolved) >= size)
        return 0;
    std::strcpy(out, resolved);
    return 1;
}

int make_folder(const char* path)
{
    NativePath native_path;
    return mkdir(native(path, &native_path), 0777) == 0;
}

FileHandle open_for_reading(const char* path, OpenedFile* info)
{
    NativePath native_path;
    const char* name = native(path, &native_path);
    // Reads of a regular file never wait, so the flag may stay.
    const int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    int fd = open(name, flags | O_NOFOLLOW);
    info->through_link = fd < 0 && (errno == ELOOP || errno == EMLINK);
    if (info->through_link)
        fd = open(name, flags);
    struct stat status;
    info->regular = fd >= 0 && fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    info->mode = info->regular ? status.st_mode & 0777 : 0;
    return fd;
}

// forkit's handlers end the process, so no read or write is interrupted to
// be tried again. A short write is followed by one that fails and says why.
long read_file(FileHandle file, char* to, std::size_t size)
{
    return static_cast<long>(read(static_cast<int>(file), to, size));
}

int write_file(FileHandle file, const char* from, std::size_t size)
{
    while (size > 0) {
        ssize_t put = write(static_cast<int>(file), from, size);
        if (put <= 0)
            return 0;
        from += put;
        size -= static_cast<std::size_t>(put);
    }
    return 1;
}

void close_file(FileHandle file)
{
    (void)close(static_cast<int>(file));
}

FileHandle create_locked(const char* path, unsigned mode, int* taken)
{
    NativePath native_path;
    const char* name = native(path, &native_path);
    // The hook looks at no name while its first byte is 0, as it is between
    // two files: written last, it never shows a name half copied.
    std::memcpy(writing_path + 1, name + 1, std::strlen(name));
    std::atomic_signal_fence(std::memory_order_seq_cst);
    writing_path[0] = name[0];
    int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    writing_fd = fd;
    // The lock marks the file as a running run's own. Another run that took
    // it for a leftover before the lock holds it, or has removed it by now.
    struct stat info;
    int locked = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0;
    *taken = locked ? fstat(fd, &info) == 0 && info.st_nlink == 0
                    : errno == (fd < 0 ? EEXIST : EWOULDBLOCK);
    if (locked && !*taken)
        return fd;
    int error = errno;
    if (fd >= 0 && !*taken)
        (void)unlink(name); // ours, but of no use without a lock
    forget_writing();
    if (fd >= 0)
        (void)close(fd);
    errno = error;
    return NO_FILE;
}

int commit_file(FileHandle file, const char* temporary, const char* path)
{
    NativePath from, to;
    // Renamed while its lock is held, so that no other run takes it for a
    // leftover.
    int moved = rename(native(temporary, &from), native(path, &to)) == 0;
    int error = errno;
    if (!moved)
        (void)unlink(from);
    forget_writing();
    int closed = close(static_cast<int>(file)) == 0;
    if (!moved)
        errno = error;
    return moved && closed;
}

void abandon_file(FileHandle file, const char* temporary)
{
    NativePath native_path;
    (void)unlink(native(temporary, &native_path));
    forget_writing();
    (void)close(static_cast<int>(file));
}

int remove_unheld(const char* path)
{
    NativePath native_path;
    return remove_if_unlocked(native(path, &native_path));
}

int list_folder(const char* path, void (*visit)(const char* name, void* context), void* context)
{
    NativePath native_path;
    DIR* folder = opendir(native(path, &native_path));
    if (folder == NULL)
        return 0;
    while (const struct dirent* entry = readdir(folder))
        visit(entry->d_name, context);
    (void)closedir(folder);
    return 1;
}

int current_folder(char, char* out, std::size_t size)
{
    return getcwd(out, size) != NULL;
}

int argument_is_exact(const char*)
{
    return 1;
}

int convert_text(int, int, const char* text, char* out, std::size_t size)
{
    std::size_t length = std::strlen(text);
    if (length >= size)
        return 0;
    std::memcpy(out, text, length + 1);
    return 1;
}

void write_console(std::FILE* stream, const char* bytes, const char*)
{
    (void)std::fputs(bytes, stream);
    (void)std::fflush(stream);
}

void describe_system_error(char* out, std::size_t size)
{
    (void)std::snprintf(out, size, "%s", std::strerror(errno));
}
