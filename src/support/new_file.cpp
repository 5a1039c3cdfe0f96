#include "new_file.h"

#include "failure.h"
#include "path_checks.h"
#include "path_rules.h"
#include "text_file.h"

#include <cctype>
#include <cstring>

static const char SUFFIX[] = ".forkit-new";
enum { SUFFIX_LENGTH = sizeof SUFFIX - 1 };
// Runs writing the same file at once each take a name of their own.
static const char* const NUMBERS[] = {"", "2", "3", "4"};

// 1 if `name` ends in the suffix, then nothing or a digit 2 to 4;
// `loosely`, as Windows compares names, without case and trailing dots and
// blanks: how entries are refused; the removal of leftovers takes only
// names forkit makes itself.
static int ends_in_temporary_name(const char* name, int loosely)
{
    std::size_t length = std::strlen(name);
    while (loosely && length > 0 && (name[length - 1] == '.' || name[length - 1] == ' '))
        length--;
    length -= length > SUFFIX_LENGTH && name[length - 1] >= '2' && name[length - 1] <= '4';
    if (length < SUFFIX_LENGTH)
        return 0;
    const char* suffix = name + length - SUFFIX_LENGTH;
    for (std::size_t i = 0; i < SUFFIX_LENGTH; i++) {
        unsigned char c = static_cast<unsigned char>(suffix[i]);
        if ((loosely ? std::tolower(c) : c) != SUFFIX[i])
            return 0;
    }
    return 1;
}

int is_temporary_name(const char* name)
{
    return ends_in_temporary_name(name, 1);
}

// On Windows, which compares names without case, any spelling of a name
// forkit makes blocks it.
static void remove_if_leftover(const char* name, void* folder)
{
    if (!ends_in_temporary_name(name, ON_WINDOWS))
        return;
    const char* path = format_text("%s\\%s", static_cast<const char*>(folder), name);
    if (path != NULL)
        (void)remove_unheld(path);
}

// The folder of `path` as a path of its own, "." when it has none.
static const char* folder_of(const char* path, char* folder)
{
    std::size_t length = folder_length(path);
    std::memcpy(folder, length > 0 ? path : ".", length > 0 ? length : 1);
    folder[length > 0 ? length : 1] = '\0';
    return folder;
}

// A folder is looked at once: no link on the way below the root, and a
// temporary name that no run still going holds is a stopped run's leftover.
// In the source tree such a name may be a file of the tree's own.
static int folder_ready(const char* path, std::size_t root_length)
{
    static CheckedFolders checked;
    char folder[PATH_SIZE];
    if (was_checked(&checked, path))
        return 1;
    if (passes_a_link(path, root_length, folder_length(path))) {
        note_refusal(path, "passes through a link");
        return 0;
    }
    if (lies_within(folder_of(path, folder), 0, ".") == OUTSIDE)
        (void)list_folder(folder, remove_if_leftover, folder);
    remember_checked(&checked, path);
    return 1;
}

// 0, with the reason noted, when what is at `path` must be kept.
static int may_replace(const char* path)
{
    char folder[PATH_SIZE];
    int kind = path_kind(path);
    const char* refusal = NULL;
    if (kind != NOTHING_THERE && lies_within(folder_of(path, folder), 0, ".") != OUTSIDE)
        refusal = "would replace a file of the source tree";
    else if (kind == READ_ONLY_FILE)
        refusal = "is read-only";
    else if (kind != NOTHING_THERE && kind != WRITABLE_FILE)
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
    for (const char* number : NUMBERS) {
        std::snprintf(out->temporary, sizeof out->temporary, "%s%s%s", out->path, SUFFIX, number);
        int taken = 0;
        out->file = create_locked(out->temporary, mode, &taken);
        if (out->file != NO_FILE)
            return 1;
        if (!taken) {
            note_system_error(out->path);
            return 0;
        }
    }
    note_refusal(out->path, "its temporary names are all taken, by other runs or what they left");
    return 0;
}

int write_new_file_text(NewFile* out, const char* text)
{
    if (text == NULL) {
        note_refusal(out->path, "a line of it would be too long");
        return 0;
    }
    if (write_text(out->file, text, std::strlen(text)))
        return 1;
    note_system_error(out->path);
    return 0;
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
