#include "new_file.h"

#include "failure.h"
#include "path_checks.h"
#include "path_rules.h"
#include "text_file.h"

#include <cctype>
#include <cstring>

static const char TEMPORARY_SUFFIX[] = ".forkit-new";
enum { SUFFIX_LENGTH = sizeof TEMPORARY_SUFFIX - 1, TEMPORARY_NAMES = 4 };

// The number (1 to 4) of the temporary name that `name` ends in, 0 if none;
// `as_windows` compares without case and trailing dots and blanks.
static int temporary_number(const char* name, int as_windows)
{
    std::size_t length = std::strlen(name);
    while (as_windows && length > 0 && (name[length - 1] == '.' || name[length - 1] == ' '))
        length--;
    for (int number = 1; number <= TEMPORARY_NAMES; number++) {
        std::size_t end = SUFFIX_LENGTH + (number > 1);
        if (length < end)
            continue;
        const char* suffix = name + length - end;
        int matches = number == 1 || suffix[SUFFIX_LENGTH] == '0' + number;
        for (std::size_t i = 0; matches && i < SUFFIX_LENGTH; i++)
            matches = (as_windows ? std::tolower(static_cast<unsigned char>(suffix[i]))
                                  : suffix[i]) == TEMPORARY_SUFFIX[i];
        if (matches)
            return number;
    }
    return 0;
}

int is_temporary_name(const char* name)
{
    return temporary_number(name, 1) != 0;
}

static void remove_if_leftover(const char* name, void* folder)
{
    if (temporary_number(name, 0) == 0)
        return;
    const char* path = format_text("%s\\%s", static_cast<const char*>(folder), name);
    if (path != NULL)
        (void)remove_unheld(path);
}

// A folder is looked at once: no link on the way below the root, and a
// temporary name that no run still going holds is a stopped run's leftover.
// In the source tree such a name may be a file of the tree's own.
static int folder_ready(const char* path, std::size_t root_length)
{
    static CheckedFolders checked;
    if (was_checked(&checked, path))
        return 1;
    std::size_t length = folder_length(path);
    if (passes_a_link(path, root_length, length)) {
        note_refusal(path, "passes through a link");
        return 0;
    }
    char folder[PATH_SIZE];
    std::memcpy(folder, path, length);
    folder[length] = '\0';
    if (lies_within(folder, 0, ".") == 0)
        (void)list_folder(folder, remove_if_leftover, folder);
    remember_checked(&checked, path);
    return 1;
}

// 0, with the reason noted, when what is at `path` must be kept.
static int may_replace(const char* path)
{
    int kind = path_kind(path);
    const char* refusal = NULL;
    if (kind == NOTHING_THERE)
        return 1;
    char folder[PATH_SIZE] = ".";
    std::size_t length = folder_length(path);
    if (length > 0) {
        std::memcpy(folder, path, length);
        folder[length] = '\0';
    }
    if (lies_within(folder, 0, ".") != 0)
        refusal = "would replace a file of the source tree";
    else if (kind == READ_ONLY_FILE)
        refusal = "is read-only";
    else if (kind != WRITABLE_FILE)
        refusal = "is not a regular file";
    if (refusal != NULL)
        note_refusal(path, refusal);
    return refusal == NULL;
}

int open_new_file(NewFile* out, const char* path, std::size_t root_length, unsigned mode)
{
    out->file = NO_FILE;
    if (!path_fits(path)) {
        note_refusal(path, "path too long");
        return 0;
    }
    std::strcpy(out->path, path);
    if (!folder_ready(out->path, root_length) || !may_replace(out->path))
        return 0;
    for (int number = 1; number <= TEMPORARY_NAMES; number++) {
        const char digit[] = {static_cast<char>('0' + number), '\0'};
        std::snprintf(out->temporary, sizeof out->temporary, "%s%s%s", out->path, TEMPORARY_SUFFIX,
                      number > 1 ? digit : "");
        int taken = 0;
        out->file = create_locked(out->temporary, mode, &taken);
        if (out->file != NO_FILE)
            return 1;
        if (!taken) {
            note_system_error(out->path);
            return 0;
        }
    }
    note_refusal(out->path, "is being written by other runs");
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

int commit_new_file(NewFile* out)
{
    if (commit_file(out->file, out->temporary, out->path))
        return 1;
    note_system_error(out->path);
    return 0;
}

void abandon_new_file(NewFile* out)
{
    abandon_file(out->file, out->temporary);
}
