#include "source_file.h"

#include "failure.h"
#include "path_checks.h"
#include "path_rules.h"

#include <cstring>

// Without a link on the way, a relative path that never climbs stays below
// where it starts: most entries are such, and cost nothing more once their
// folder was looked at. Windows programs under Wine see a host's link as
// what it names, so there every path is walked.
static int in_tree(const char* path, int through_link)
{
    static CheckedFolders checked;
    if (!ON_WINDOWS && !through_link && !is_separator(path[0]) && std::strstr(path, "..") == NULL) {
        if (was_checked(&checked, path))
            return 1;
        if (!passes_a_link(path, 0, folder_length(path))) {
            remember_checked(&checked, path);
            return 1;
        }
    }
    return lies_within(path, 1, ".") == INSIDE;
}

FileHandle open_source_file(const char* path, unsigned* mode)
{
    if (!path_fits(path)) {
        note_refusal(path, "path too long");
        return NO_FILE;
    }
    OpenedFile info;
    FileHandle file = open_for_reading(path, &info);
    if (file == NO_FILE) {
        note_system_error(path);
        return NO_FILE;
    }
    const char* refusal = NULL;
    if (!info.regular)
        refusal = "is not a regular file";
    else if (!in_tree(path, info.through_link))
        refusal = "leads out of the source tree";
    if (refusal != NULL) {
        note_refusal(path, refusal);
        close_file(file);
        return NO_FILE;
    }
    if (mode != NULL)
        *mode = info.mode;
    return file;
}
