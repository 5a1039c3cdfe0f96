#include "path_checks.h"

#include "path_rules.h"
#include "platform.h"

#include <cstring>

static int same_identity(const FileIdentity& a, const FileIdentity& b)
{
    return a.volume == b.volume && std::memcmp(a.id, b.id, sizeof a.id) == 0;
}

// The walk goes up the final path, where every link is resolved already,
// comparing each folder's identity with the top's: the same folder reached
// by another name (a link, a drive letter, "..") is still found.
int lies_within(const char* path, int is_file, const char* top)
{
    char at[PATH_SIZE];
    FileIdentity goal, here;
    if (!path_fits(path) || !final_path_of(top, at, sizeof at) ||
        !identity_of_final_path(at, &goal) || !final_path_of(path, at, sizeof at) ||
        (is_file && !cut_to_folder(at)))
        return UNKNOWN;
    do {
        if (!identity_of_final_path(at, &here))
            return UNKNOWN;
        if (same_identity(here, goal))
            return INSIDE;
    } while (cut_to_folder(at));
    return OUTSIDE;
}

int names_a_root(const char* path)
{
    char final_path[PATH_SIZE];
    if (path[0] == '\0' || (ON_WINDOWS && windows_root_by_text(path)))
        return 1;
    return path_fits(path) && final_path_of(path, final_path, sizeof final_path) &&
           final_path[final_root_length(final_path)] == '\0';
}

std::size_t folder_length(const char* path)
{
    std::size_t end = std::strlen(path);
    while (end > 0 && !is_separator(path[end - 1]))
        end--;
    return end > 0 ? end - 1 : 0;
}

int passes_a_link(const char* path, std::size_t root_length, std::size_t end)
{
    char folder[PATH_SIZE];
    for (std::size_t at = root_length + 1; at <= end && at < sizeof folder; at++) {
        if (at < end && !is_separator(path[at]))
            continue;
        std::memcpy(folder, path, at);
        folder[at] = '\0';
        if (path_kind(folder) == LINK)
            return 1;
    }
    return 0;
}

int was_checked(const CheckedFolders* checked, const char* path)
{
    std::size_t length = folder_length(path);
    for (const char* folder : checked->folder) {
        if (std::strlen(folder) == length && std::memcmp(folder, path, length) == 0)
            return 1;
    }
    return 0;
}

void remember_checked(CheckedFolders* checked, const char* path)
{
    std::size_t length = folder_length(path);
    char* slot = checked->folder[checked->next];
    checked->next = (checked->next + 1) % 4;
    std::memcpy(slot, path, length);
    slot[length] = '\0';
}
