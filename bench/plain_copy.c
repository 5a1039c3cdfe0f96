/* forkit's file work without its translation, for bench/run.sh: the same folders, then the files
 * that the four copy lists name, in one process through one 128 KiB block. No copy that passes the
 * bytes through a program's memory takes less. Run it as forkit: MODNAME SOURCEPATH Q3PATH. */
#define _POSIX_C_SOURCE 200809L
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static char block[128 * 1024];

static int fail(const char* what)
{
    perror(what);
    return 1;
}

// Copies `path` in the working folder to the same path in the folder `to`.
static int copy_file(const char* path, int to)
{
    int in = open(path, O_RDONLY);
    int out = openat(to, path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ssize_t count = in < 0 || out < 0 ? -1 : 1;
    while (count > 0 && (count = read(in, block, sizeof block)) > 0)
        if (write(out, block, (size_t)count) != count)
            count = -1;
    return (close(in) | close(out)) != 0 || count != 0 ? fail(path) : 0;
}

int main(int argc, char** argv)
{
    static const char* const folders[] = {"", "game/", "cgame/", "ui/"};
    static const char* const lists[] = {"copyproject.dat", "copygame.dat", "copycgame.dat",
                                        "copyui.dat"};
    if (argc != 4)
        return 2;
    int q3 = open(argv[3], O_RDONLY | O_DIRECTORY);
    if (q3 < 0 || mkdirat(q3, argv[1], 0777) != 0)
        return fail(argv[1]);
    char path[4096];
    for (int m = 0; m < 4; m++)
        if (snprintf(path, sizeof path, "%s/%s", argv[2], folders[m]) >= (int)sizeof path ||
            mkdir(path, 0777) != 0)
            return fail(path);
    int code_set = open(argv[2], O_RDONLY | O_DIRECTORY);
    for (int m = 0; m < 4; m++) {
        FILE* list = fopen(lists[m], "r");
        if (list == NULL)
            return fail(lists[m]);
        size_t length = strlen(folders[m]);
        memcpy(path, folders[m], length);
        while (fgets(path + length, (int)(sizeof path - length), list) != NULL) {
            path[strcspn(path, "\r\n")] = '\0';
            if (path[length] != '\0' && copy_file(path, code_set) != 0)
                return 1;
        }
        fclose(list);
    }
    return 0;
}
