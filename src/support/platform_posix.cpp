#include "platform.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <initializer_list>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

const int ON_WINDOWS = 0;

static int fill_facts(const struct stat& info, FileFacts* facts)
{
    facts->kind = S_ISREG(info.st_mode)   ? REGULAR_FILE
                  : S_ISDIR(info.st_mode) ? FOLDER
                  : S_ISLNK(info.st_mode) ? LINK
                                          : OTHER_KIND;
    facts->mode = info.st_mode & 0777;
    facts->writable = (info.st_mode & 0222) != 0;
    facts->identity = FileIdentity{static_cast<std::uint64_t>(info.st_dev), {}};
    std::memcpy(facts->identity.id, &info.st_ino, sizeof info.st_ino);
    return 1;
}

int facts_of(Handle handle, FileFacts* facts)
{
    struct stat info;
    return fstat(handle, &info) == 0 && fill_facts(info, facts);
}

int look_below(Handle folder, const char* name, FileFacts* facts)
{
    struct stat info;
    if (fstatat(folder, name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
        facts->kind = NOTHING_THERE;
        return errno == ENOENT;
    }
    fill_facts(info, facts);
    // Write bits, then access: root may write anything, but a file that
    // nobody may write is one its owner asked to keep.
    facts->writable = facts->writable && (facts->kind != REGULAR_FILE ||
                                          faccessat(folder, name, W_OK, AT_EACCESS) == 0);
    return 1;
}

static Handle folder_at(int at, const char* name, int* made, int flags)
{
    if (made != NULL && !(*made = mkdirat(at, name, 0777) == 0) && errno != EEXIST)
        return NO_HANDLE;
    int fd = openat(at, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | flags);
    // A folder that cannot be entered is no use: nothing in it can be opened.
    if (fd >= 0 && faccessat(fd, ".", X_OK, AT_EACCESS) != 0) {
        (void)close(fd);
        return NO_HANDLE;
    }
    return fd;
}

Handle open_folder(const char* path, int* made)
{
    return folder_at(AT_FDCWD, path, made, 0);
}

Handle open_folder_below(Handle folder, const char* name, int* made)
{
    return folder_at(folder, name, made, O_NOFOLLOW);
}

int is_system_root(Handle folder)
{
    struct stat root, here;
    if (stat("/", &root) != 0 || fstat(folder, &here) != 0)
        return -1;
    return root.st_dev == here.st_dev && root.st_ino == here.st_ino;
}

// The listing gets a descriptor of its own, which closedir closes.
int list_folder(Handle folder, void (*visit)(const char* name, void* context), void* context)
{
    DIR* listing = fdopendir(openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (listing == NULL)
        return 0;
    while (const struct dirent* entry = readdir(listing))
        visit(entry->d_name, context);
    (void)closedir(listing);
    return 1;
}

int hold_folder(Handle folder, int alone)
{
    if (flock(folder, (alone ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0)
        return 1;
    return errno == EWOULDBLOCK ? 0 : -1;
}

Handle open_file_below(Handle folder, const char* name)
{
    // Reads of a regular file never wait, so the flag may stay.
    return openat(folder, name, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
}

// A process stopped and continued may see a call interrupted.
long read_file(Handle file, char* to, std::size_t size)
{
    ssize_t got;
    do
        got = read(file, to, size);
    while (got < 0 && errno == EINTR);
    return static_cast<long>(got);
}

// A short write is followed by one that fails and says why.
int write_file(Handle file, const char* from, std::size_t size)
{
    while (size > 0) {
        ssize_t put = write(file, from, size);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return 0;
        from += put;
        size -= static_cast<std::size_t>(put);
    }
    return 1;
}

void close_file(Handle file)
{
    (void)close(file);
}

Handle create_file_below(Handle folder, const char* name, unsigned mode, int* taken)
{
    int fd = openat(folder, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    static_cast<mode_t>(mode));
    *taken = fd < 0 && errno == EEXIST;
    return fd;
}

int put_in_place(Handle folder, Handle file, const char* temporary, const char* name)
{
    if (close(file) == 0 && renameat(folder, temporary, folder, name) == 0)
        return 1;
    int error = errno;
    (void)unlinkat(folder, temporary, 0);
    errno = error;
    return 0;
}

void throw_away(Handle folder, Handle file, const char* temporary)
{
    (void)unlinkat(folder, temporary, 0);
    (void)close(file);
}

// Runs hold the folders they write in, so a run that holds one alone is the
// only one there: a file at a temporary name is nobody's.
int remove_below(Handle folder, const char* name)
{
    return unlinkat(folder, name, 0) == 0 || errno == ENOENT;
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
    return std::snprintf(out, size, "%s", text) < static_cast<int>(size);
}

int is_console(std::FILE*)
{
    return 0;
}

void write_console(std::FILE*, const char*) {}

void describe_system_error(char* out, std::size_t size)
{
    (void)std::snprintf(out, size, "%s", std::strerror(errno));
}

// What was blocked before stays blocked: the caller's choice.
void hold_off_stops(int held)
{
    static sigset_t before;
    sigset_t stops;
    sigemptyset(&stops);
    for (int stop : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&stops, stop);
    if (held)
        (void)sigprocmask(SIG_BLOCK, &stops, &before);
    else
        (void)sigprocmask(SIG_SETMASK, &before, NULL);
}

void prepare_process()
{
    // A closed output or a size limit fails a write, which forkit reports.
    (void)std::signal(SIGPIPE, SIG_IGN);
    (void)std::signal(SIGXFSZ, SIG_IGN);
}
