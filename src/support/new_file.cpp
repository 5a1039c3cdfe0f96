#include "new_file.h"

#include "platform.h"

#include <cstring>

static const char temporary_suffix[] = ".forkit-new";

// 1 if something is at `path` in the current directory, the source tree forkit
// runs in, or in any folder below it, by whatever path that folder is reached.
static int taken_in_tree(const char* path)
{
    if (!path_in_use(path))
        return 0;
    // The folder is named as the path up to its last separator, then ".".
    char folder[sizeof(NewFile::temporary_path) + 1] = ".";
    std::size_t end = std::strlen(path);
    while (end > 0 && path[end - 1] != '\\' && path[end - 1] != '/')
        end--;
    if (end > 0) {
        std::memcpy(folder, path, end);
        std::memcpy(folder + end, ".", 2);
    }
    return directory_within(folder, ".");
}

// Every writer hands over whole blocks or whole lines; a stdio buffer would
// only copy each block once more and split it into two writes.
static int finish_opening(NewFile* out)
{
    if (out->file != NULL)
        (void)std::setvbuf(out->file, NULL, _IONBF, 0);
    return out->file != NULL;
}

int open_new_file(NewFile* out, const char* path)
{
    out->file = NULL;
    if (path == NULL)
        return 0;
    std::size_t length = std::strlen(path);
    if (length >= sizeof out->path || length + sizeof temporary_suffix > sizeof out->temporary_path)
        return 0;
    std::memcpy(out->path, path, length + 1);
    std::memcpy(out->temporary_path, path, length);
    std::memcpy(out->temporary_path + length, temporary_suffix, sizeof temporary_suffix);
    // With nothing at the path there is nothing to keep, and the file is made
    // in place: one rename less for every file of a fresh code set.
    out->in_place = !path_in_use(out->path);
    if (out->in_place) {
        out->file = create_file(out->path);
        return finish_opening(out);
    }
    // A code set placed in the tree would write over the files it is made from.
    if (taken_in_tree(out->path))
        return 0;
    // Whatever an earlier run left at the temporary name goes first, unless it
    // is in the tree: opening a link there would write through it, into the
    // file it names. Where a removed name lasts while its file is open
    // elsewhere, creating the file fails.
    if (path_in_use(out->temporary_path)) {
        if (taken_in_tree(out->temporary_path))
            return 0;
        (void)remove_file(out->temporary_path);
    }
    out->file = create_file(out->temporary_path);
    return finish_opening(out);
}

int close_new_file(NewFile* out, int written)
{
    // Flushed apart from the close, the last buffered bytes report their
    // failure even where fclose would not (Wine's C library drops it).
    int flushed = std::fflush(out->file) == 0;
    int closed = std::fclose(out->file) == 0 && flushed;
    out->file = NULL;
    if (out->in_place) {
        if (written && closed)
            return 1;
        (void)remove_file(out->path);
        return 0;
    }
    if (written && closed && replace_file(out->temporary_path, out->path))
        return 1;
    (void)remove_file(out->temporary_path);
    return 0;
}
