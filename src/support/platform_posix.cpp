#include "platform.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef PATH_MAX
#define PATH_MAX 4096
#endif

// forkit forms Windows paths; here every backslash becomes a slash. A path too
// long for any POSIX call, or one too long to form at all (NULL), is refused
// rather than cut.
struct NativePath {
    char text[PATH_MAX];
};

static const char* native_path(const char* path, NativePath* out)
{
    std::size_t length = path != NULL ? std::strlen(path) : sizeof out->text;
    if (length >= sizeof out->text) {
        errno = ENAMETOOLONG;
        return NULL;
    }
    for (std::size_t i = 0; i <= length; i++)
        out->text[i] = path[i] == '\\' ? '/' : path[i];
    return out->text;
}

static int same_node(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The file being written, for the signal handler: its name, and its
// descriptor once it is created and locked; while it is being created,
// `creating` is set instead.
static volatile std::sig_atomic_t writing_fd = -1;
static volatile std::sig_atomic_t creating = 0;
static char writing_path[PATH_MAX];

// Removes the regular file at `name` if no run holds its lock: a run that is
// going holds its file's lock. Once the lock is ours, only we may remove what
// the name holds, so it cannot change before unlink. Async-signal-safe.
static int remove_if_unlocked(const char* name)
{
    int fd = open(name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    struct stat held, named;
    int removed = flock(fd, LOCK_EX | LOCK_NB) == 0 && fstat(fd, &held) == 0 &&
                  lstat(name, &named) == 0 && same_node(held, named) && unlink(name) == 0;
    (void)close(fd);
    return removed;
}

// Removes the file at writing_path if it is the one this run created. Caught
// while creating it, the handler cannot know whether it was made yet: it
// takes the file only if it can lock it, which a file of another run going
// on never allows. Only async-signal-safe calls.
static void remove_unfinished_file()
{
    int fd = writing_fd;
    struct stat held, named;
    if (fd < 0 && creating)
        (void)remove_if_unlocked(writing_path);
    else if (fd >= 0 && fstat(fd, &held) == 0 && lstat(writing_path, &named) == 0 &&
             same_node(held, named))
        (void)unlink(writing_path);
}

// Removes the unfinished file, then stops the way the signal would have.
static void stop_on_signal(int signal_number)
{
    remove_unfinished_file();
    (void)std::signal(signal_number, SIG_DFL);
    (void)std::raise(signal_number);
}

void prepare_process()
{
    // A closed output and a file size limit make writes fail, which forkit
    // reports; neither stops the run half way.
    (void)std::signal(SIGPIPE, SIG_IGN);
    (void)std::signal(SIGXFSZ, SIG_IGN);
    // A stop that the caller chose to ignore (nohup, a background job) stays
    // ignored; every other one removes the unfinished file first.
    struct sigaction action, before;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = stop_on_signal;
    (void)sigemptyset(&action.sa_mask);
    const int stops[] = {SIGINT, SIGTERM, SIGHUP};
    for (int stop : stops) {
        if (sigaction(stop, NULL, &before) == 0 && before.sa_handler != SIG_IGN)
            (void)sigaction(stop, &action, NULL);
    }
}

int can_enter_directory(const char* path)
{
    NativePath native;
    const char* name = native_path(path, &native);
    struct stat info;
    if (name == NULL || stat(name, &info) != 0)
        return 0;
    if (!S_ISDIR(info.st_mode)) {
        errno = ENOTDIR;
        return 0;
    }
    return faccessat(AT_FDCWD, name, X_OK, AT_EACCESS) == 0;
}

int create_directory(const char* path)
{
    NativePath native;
    const char* name = native_path(path, &native);
    return name != NULL && mkdir(name, 0777) == 0;
}

int is_bare_drive(const char*)
{
    return 0;
}

int argument_is_exact(const char*)
{
    return 1;
}

int is_plain_folder_name(const char*)
{
    return 1;
}

std::FILE* open_file(const char* path)
{
    NativePath native;
    const char* name = native_path(path, &native);
    int fd = name != NULL ? open(name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC) : -1;
    if (fd < 0)
        return NULL;
    // Reads of a regular file never wait, so the flag may stay.
    std::FILE* file = fdopen(fd, "rb");
    if (file == NULL)
        (void)close(fd);
    return file;
}

int is_regular_file(std::FILE* file)
{
    struct stat info;
    return fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode);
}

int path_kind(const char* path)
{
    NativePath native;
    const char* name = native_path(path, &native);
    struct stat info;
    if (name == NULL || lstat(name, &info) != 0)
        return NOTHING_THERE;
    if (!S_ISREG(info.st_mode))
        return OTHER_KIND;
    // Write bits, not access(): root may write anything, but a file that
    // nobody may write is one its owner asked to keep.
    if ((info.st_mode & 0222) == 0 || faccessat(AT_FDCWD, name, W_OK, AT_EACCESS) != 0)
        return READ_ONLY_FILE;
    return WRITABLE_FILE;
}

// Walks up from the folder `native` (which it extends) by "/..", which the
// system resolves where each link leads, until it meets `goal` (1) or the
// root (0); -1 when a step cannot be taken.
static int walk_up_to(NativePath* native, const struct stat& goal)
{
    struct stat at, above;
    if (stat(native->text, &at) != 0)
        return -1;
    std::size_t length = std::strlen(native->text);
    while (!same_node(at, goal)) {
        if (length + 3 >= sizeof native->text)
            return -1;
        std::memcpy(native->text + length, "/..", 4);
        length += 3;
        if (stat(native->text, &above) != 0)
            return -1;
        if (same_node(above, at))
            return 0;
        at = above;
    }
    return 1;
}

int directory_within(const char* path, const char* top)
{
    NativePath native, native_top;
    const char* top_name = native_path(top, &native_top);
    struct stat goal;
    if (native_path(path, &native) == NULL || top_name == NULL || stat(top_name, &goal) != 0)
        return 1;
    return walk_up_to(&native, goal) != 0;
}

// 1 if some part of the relative path `name` is a symbolic link, or cannot
// be looked at.
static int passes_a_link(const char* name)
{
    NativePath part;
    std::size_t length = std::strlen(name);
    for (std::size_t end = 1; end <= length; end++) {
        if (end < length && name[end] != '/')
            continue;
        std::memcpy(part.text, name, end);
        part.text[end] = '\0';
        struct stat info;
        if (lstat(part.text, &info) != 0 || S_ISLNK(info.st_mode))
            return 1;
    }
    return 0;
}

int file_within_current_directory(const char* path)
{
    NativePath native, folder;
    const char* name = native_path(path, &native);
    if (name == NULL)
        return 0;
    // Without a link on the way, a relative path that never climbs stays
    // below where it starts: most entries are such, and cost an lstat a part.
    if (name[0] != '/' && std::strstr(name, "..") == NULL && !passes_a_link(name))
        return 1;
    struct stat goal;
    if (stat(".", &goal) != 0 || realpath(name, folder.text) == NULL)
        return 0;
    char* last_slash = std::strrchr(folder.text, '/');
    last_slash[last_slash == folder.text ? 1 : 0] = '\0';
    return walk_up_to(&folder, goal) == 1;
}

std::FILE* create_temporary_file(const char* path, std::FILE* like, int* taken)
{
    *taken = 0;
    NativePath native;
    const char* name = native_path(path, &native);
    if (name == NULL)
        return NULL;
    struct stat info;
    mode_t mode = like != NULL && fstat(fileno(like), &info) == 0 ? info.st_mode & 0777 : 0666;
    std::memcpy(writing_path, name, std::strlen(name) + 1);
    creating = 1;
    int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    *taken = fd < 0 && errno == EEXIST;
    // The lock marks the file as a running run's own. Another run that took it
    // first, between the creation and the lock, has removed it by now.
    if (fd >= 0 &&
        (flock(fd, LOCK_EX | LOCK_NB) != 0 || fstat(fd, &info) != 0 || info.st_nlink == 0)) {
        (void)close(fd);
        fd = -1;
        *taken = 1;
    }
    writing_fd = fd;
    creating = 0;
    std::FILE* file = fd >= 0 ? fdopen(fd, "wb") : NULL;
    if (fd >= 0 && file == NULL) {
        int error = errno;
        (void)unlink(name);
        writing_fd = -1;
        (void)close(fd);
        errno = error;
    }
    // Writers hand over whole blocks; a stdio buffer would only copy them.
    if (file != NULL)
        (void)std::setvbuf(file, NULL, _IONBF, 0);
    return file;
}

int remove_leftover(const char* path)
{
    NativePath native;
    const char* name = native_path(path, &native);
    struct stat named;
    if (name == NULL)
        return 0;
    if (lstat(name, &named) != 0)
        return errno == ENOENT;
    // Only a regular file can be a run's unfinished one.
    if (!S_ISREG(named.st_mode))
        return unlink(name) == 0;
    return remove_if_unlocked(name);
}

int put_in_place(std::FILE* file, const char* temporary, const char* path)
{
    NativePath native_temporary, native_path_to;
    const char* from = native_path(temporary, &native_temporary);
    const char* to = native_path(path, &native_path_to);
    // Moved while its lock is held, so that no other run takes it for a
    // leftover; a failed move leaves nothing behind.
    int moved = std::fflush(file) == 0 && from != NULL && to != NULL && rename(from, to) == 0;
    int error = errno;
    if (!moved && from != NULL)
        (void)unlink(from);
    writing_fd = -1;
    int closed = std::fclose(file) == 0;
    if (closed)
        errno = error;
    return moved && closed;
}

void discard_file(std::FILE* file, const char* temporary)
{
    NativePath native;
    const char* name = native_path(temporary, &native);
    if (name != NULL)
        (void)unlink(name);
    writing_fd = -1;
    (void)std::fclose(file);
}

int convert_for_batch_file(const char* text, char* out, std::size_t size)
{
    std::size_t length = std::strlen(text);
    if (length >= size) {
        errno = ENAMETOOLONG;
        return 0;
    }
    std::memcpy(out, text, length + 1);
    return 1;
}

void write_line(std::FILE* stream, const char* text)
{
    (void)std::fputs(text, stream);
    (void)std::fputc('\n', stream);
    (void)std::fflush(stream);
}

void describe_system_error(char* out, std::size_t size)
{
    (void)std::snprintf(out, size, "%s", std::strerror(errno));
}
