#include "platform.h"

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
    struct stat info;
    if (file != NULL && (fstat(fileno(file), &info) != 0 || S_ISDIR(info.st_mode))) {
        (void)std::fclose(file);
        return NULL;
    }
    return file;
}

int same_file(const char* first, const char* second)
{
    NativePath native_first, native_second;
    const char* a = native_path(first, &native_first);
    const char* b = native_path(second, &native_second);
    struct stat info_a, info_b;
    return a != NULL && b != NULL && stat(a, &info_a) == 0 && stat(b, &info_b) == 0 &&
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
