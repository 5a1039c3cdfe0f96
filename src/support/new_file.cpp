#include "new_file.h"

#include "failure.h"
#include "platform.h"
#include "text_file.h"

#include <cctype>
#include <cstring>

static const char temporary_suffix[] = ".forkit-new";

// Runs writing one file at once each take a temporary name of their own.
enum { TEMPORARY_NAMES = 4 };

int is_temporary_name(const char* path)
{
    // Compared without case, and without trailing dots and blanks, as
    // Windows compares names.
    std::size_t length = std::strlen(path);
    while (length > 0 && (path[length - 1] == '.' || path[length - 1] == ' '))
        length--;
    std::size_t suffix = sizeof temporary_suffix - 1;
    for (std::size_t extra = 0; extra <= 1; extra++) {
        if (length < suffix + extra)
            continue;
        const char* end = path + length - suffix - extra;
        int matches = extra == 0 || (end[suffix] >= '2' && end[suffix] <= '0' + TEMPORARY_NAMES);
        for (std::size_t i = 0; matches && i < suffix; i++)
            matches = std::tolower(static_cast<unsigned char>(end[i])) == temporary_suffix[i];
        if (matches)
            return 1;
    }
    return 0;
}

// 1 if the folder that holds `path` is the current directory, the source
// tree forkit runs in, or any folder below it, by whatever path it is reached.
static int folder_in_tree(const char* path)
{
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

// 0, with the reason noted, when what is at `path` must be kept.
static int may_replace(const char* path)
{
    int kind = path_kind(path);
    if (kind == NOTHING_THERE)
        return 1;
    if (folder_in_tree(path))
        note_refusal(path, "would replace a file of the source tree");
    else if (kind == OTHER_KIND)
        note_refusal(path, "is not a regular file");
    else if (kind == READ_ONLY_FILE)
        note_refusal(path, "is read-only");
    else
        return 1;
    return 0;
}

static void name_temporary(NewFile* out, std::size_t length, int name_number)
{
    char* end = out->temporary_path + length;
    std::memcpy(end, temporary_suffix, sizeof temporary_suffix);
    if (name_number > 1) {
        end[sizeof temporary_suffix - 1] = static_cast<char>('0' + name_number);
        end[sizeof temporary_suffix] = '\0';
    }
}

// Creates the file at its temporary name; a leftover of a stopped run that
// holds the name goes first, unless it is in the tree, where it may be a
// file of the tree's own.
static int create_at(NewFile* out, std::FILE* like, int* taken)
{
    out->file = create_temporary_file(out->temporary_path, like, taken);
    if (out->file == NULL && *taken && !folder_in_tree(out->temporary_path) &&
        remove_leftover(out->temporary_path))
        out->file = create_temporary_file(out->temporary_path, like, taken);
    return out->file != NULL;
}

int open_new_file(NewFile* out, const char* path, std::FILE* like)
{
    out->file = NULL;
    // NULL is a path that did not fit either.
    std::size_t length = path != NULL ? std::strlen(path) : sizeof out->path;
    if (length >= sizeof out->path ||
        length + sizeof temporary_suffix + 1 > sizeof out->temporary_path) {
        note_refusal(path, "path too long");
        return 0;
    }
    if (!may_replace(path))
        return 0;
    std::memcpy(out->path, path, length + 1);
    std::memcpy(out->temporary_path, path, length);
    for (int name_number = 1; name_number <= TEMPORARY_NAMES; name_number++) {
        name_temporary(out, length, name_number);
        int taken = 0;
        if (create_at(out, like, &taken))
            return 1;
        if (!taken) {
            note_system_error(path);
            return 0;
        }
    }
    note_refusal(path, "is being written by other runs");
    return 0;
}

int write_new_file_text(NewFile* out, const char* text)
{
    if (text == NULL) {
        note_refusal(out->path, "a line of it would be too long");
        return 0;
    }
    if (!write_text(out->file, text, std::strlen(text))) {
        note_system_error(out->path);
        return 0;
    }
    return 1;
}

int close_new_file(NewFile* out, int written)
{
    std::FILE* file = out->file;
    out->file = NULL;
    if (!written) {
        discard_file(file, out->temporary_path);
        return 0;
    }
    if (put_in_place(file, out->temporary_path, out->path))
        return 1;
    note_system_error(out->path);
    return 0;
}
