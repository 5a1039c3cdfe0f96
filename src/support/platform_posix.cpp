#include "platform.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef PATH_MAX
#define PATH_MAX 4096
#endif

// forkit forms Windows paths; here every backslash becomes a slash. A path too
// long for any POSIX call is refused rather than cut.
struct NativePath {
    char text[PATH_MAX];
};

static const char* native_path(const char* path, NativePath* out)
{
    std::size_t length = std::strlen(path);
    if (length >= sizeof out->text)
        return NULL;
    for (std::size_t i = 0; i <= length; i++)
        out->text[i] = path[i] == '\\' ? '/' : path[i];
    return out->text;
}

static int is_enterable(const char* path)
{
    struct stat info;
    return stat(path, &info) == 0 && S_ISDIR(info.st_mode) && access(path, X_OK) == 0;
}

int can_enter_directory(const char* path)
{
    NativePath native;
    const char* name = native_path(path, &native);
    if (name == NULL)
        return 0;
    // A handle on the current directory brings us back however long its path.
    int home = open(".", O_RDONLY | O_CLOEXEC);
    if (home < 0)
        return is_enterable(name);
    int entered = chdir(name) == 0;
    if (entered)
        (void)!fchdir(home);
    (void)close(home);
    return entered;
}

int create_directory(const char* path)
{
    NativePath native;
    const char* name = native_path(path, &native);
    return name != NULL && mkdir(name, 0777) == 0;
}

std::FILE* open_file(const char* path, const char* mode)
{
    NativePath native;
    const char* name = native_path(path, &native);
    if (name == NULL)
        return NULL;
    std::FILE* file = std::fopen(name, mode);
    // A directory cannot be opened for writing at all; one opened for
    // reading is told by its type.
    struct stat info;
    if (file != NULL && mode[0] == 'r' &&
        (fstat(fileno(file), &info) != 0 || S_ISDIR(info.st_mode))) {
        (void)std::fclose(file);
        return NULL;
    }
    return file;
}

std::FILE* create_file(const char* path)
{
    NativePath native;
    const char* name = native_path(path, &native);
    int fd = name != NULL ? open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666) : -1;
    if (fd < 0)
        return NULL;
    std::FILE* file = fdopen(fd, "wb");
    if (file == NULL)
        (void)close(fd);
    return file;
}

int same_file(const char* first, const char* second)
{
    NativePath native_first, native_second;
    const char* a = native_path(first, &native_first);
    const char* b = native_path(second, &native_second);
    // The second path is mostly a file not made yet: looked at first, it
    // settles the question in one call.
    struct stat info_a, info_b;
    return a != NULL && b != NULL && stat(b, &info_b) == 0 && stat(a, &info_a) == 0 &&
           info_a.st_dev == info_b.st_dev && info_a.st_ino == info_b.st_ino;
}

int replace_file(const char* from, const char* to)
{
    NativePath native_from, native_to;
    const char* a = native_path(from, &native_from);
    const char* b = native_path(to, &native_to);
    return a != NULL && b != NULL && std::rename(a, b) == 0;
}

int remove_file(const char* path)
{
    NativePath native;
    const char* name = native_path(path, &native);
    return name != NULL && std::remove(name) == 0;
}

int path_in_use(const char* path)
{
    NativePath native;
    const char* name = native_path(path, &native);
    struct stat info;
    return name != NULL && lstat(name, &info) == 0;
}

static int same_node(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

int directory_within(const char* path, const char* top)
{
    NativePath native, native_top;
    const char* name = native_path(path, &native);
    const char* top_name = native_path(top, &native_top);
    struct stat at, above, goal;
    if (name == NULL || top_name == NULL || stat(top_name, &goal) != 0 || stat(name, &at) != 0)
        return 1;
    // Each step up appends "/..", which the system resolves where each link
    // leads; the walk ends at the root, which is its own parent.
    std::size_t length = std::strlen(name);
    while (!same_node(at, goal)) {
        if (length + 3 >= sizeof native.text)
            return 1;
        std::memcpy(native.text + length, "/..", 4);
        length += 3;
        if (stat(native.text, &above) != 0)
            return 1;
        if (same_node(above, at))
            return 0;
        at = above;
    }
    return 1;
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
