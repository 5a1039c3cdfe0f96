#include "path_rules.h"

#include "platform.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <initializer_list>

int is_separator(char c)
{
    return c == '\\' || c == '/';
}

std::size_t next_part(const char** at)
{
    while (is_separator(**at))
        (*at)++;
    return std::strcspn(*at, "\\/");
}

static int is_drive(const char* path)
{
    return std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
}

std::size_t long_form_prefix(const char* path)
{
    int long_form = std::strncmp(path, "\\\\?\\", 4) == 0 || std::strncmp(path, "\\??\\", 4) == 0;
    return long_form && is_drive(path + 4) && is_separator(path[6]) ? 4 : 0;
}

int windows_path_start(const char* path)
{
    if (std::strncmp(path, "\\??\\", 4) == 0 ||
        (is_separator(path[0]) && is_separator(path[1]) && (path[2] == '?' || path[2] == '.') &&
         is_separator(path[3])))
        return DEVICE_PATH;
    if (is_separator(path[0]))
        return is_separator(path[1]) ? NETWORK_PATH : ROOTED_PATH;
    if (is_drive(path))
        return is_separator(path[2]) ? DRIVE_PATH : DRIVE_RELATIVE;
    return RELATIVE_PATH;
}

// How many folders below where it starts `path` leads, "." and ".." taken
// by their text, and never above where it starts.
static int depth_of(const char* path)
{
    int depth = 0;
    for (std::size_t length; (length = next_part(&path)) > 0; path += length) {
        if (length == 2 && path[0] == '.' && path[1] == '.')
            depth -= depth > 0;
        else if (length > 1 || path[0] != '.')
            depth++;
    }
    return depth;
}

// 1 if `path`, after "\\" or "\\?\UNC\", names a share's root: a server and
// a share, and nothing deeper. Nothing at all would join into one.
static int names_a_share(const char* path)
{
    for (int part = 0; part < 2; part++) {
        std::size_t length = next_part(&path);
        if (length == 0)
            return part == 0;
        path += length;
    }
    return depth_of(path) == 0;
}

int windows_root_by_text(const char* path)
{
    if (std::strncmp(path, "\\\\?\\UNC\\", 8) == 0 || std::strncmp(path, "\\??\\UNC\\", 8) == 0)
        return names_a_share(path + 8);
    if (long_form_prefix(path) > 0 || std::strncmp(path, "\\\\.\\", 4) == 0)
        path += 4;
    switch (windows_path_start(path)) {
    case ROOTED_PATH:
        break;
    case DRIVE_PATH:
        path += 2;
        break;
    case DRIVE_RELATIVE: // "C:" joins into "C:\"; "C:." is told by what it names
        return path[2] == '\0';
    case NETWORK_PATH:
        return names_a_share(path + 2);
    default:
        return 0;
    }
    return depth_of(path) == 0;
}

// CON, PRN, AUX, NUL, and COM or LPT with a digit 0-9 or a superscript 1-3.
static int is_device_stem(const char* stem, std::size_t length)
{
    static const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "COM", "LPT"};
    const char* number = stem + 3;
    int numbered = (length == 4 && std::isdigit(static_cast<unsigned char>(number[0]))) ||
                   (length == 5 && number[0] == '\xc2' && std::strchr("\xb9\xb2\xb3", number[1]));
    for (int i = 0; i < 6 && length >= 3; i++) {
        int same = 1;
        for (int c = 0; c < 3; c++)
            same &= std::toupper(static_cast<unsigned char>(stem[c])) == devices[i][c];
        if (same && (i < 4 ? length == 3 : numbered))
            return 1;
    }
    return 0;
}

int windows_renames(const char* name)
{
    // The folder itself and its parent are names of their own.
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
        return 0;
    std::size_t length = std::strlen(name);
    if (length > 0 && (name[length - 1] == '.' || name[length - 1] == ' '))
        return 1;
    for (const char* c = name; *c != '\0'; c++) {
        if (static_cast<unsigned char>(*c) < 32 || std::strchr("<>:\"|?*", *c) != NULL)
            return 1;
    }
    // A device name stays one with any extension: "nul.txt" is NUL.
    std::size_t stem = std::strcspn(name, ".");
    while (stem > 0 && name[stem - 1] == ' ')
        stem--;
    return is_device_stem(name, stem);
}

// Appends one part of `length` characters to the folder, ".." taking the
// last one off; or why that cannot be.
static const char* step(char* folder, std::size_t size, const char* part, std::size_t length)
{
    std::size_t end = std::strlen(folder);
    if (length == 2 && part[0] == '.' && part[1] == '.') {
        if (end == 0)
            return "climbs out of the code set";
        while (end > 0 && folder[end - 1] != SEP[0])
            end--;
        folder[end > 0 ? end - 1 : 0] = '\0';
    } else if (length > 1 || part[0] != '.') {
        if (end + length + 2 > size)
            return "its path is too long";
        if (end > 0)
            folder[end++] = SEP[0];
        std::snprintf(folder + end, size - end, "%.*s", static_cast<int>(length), part);
    }
    return NULL;
}

const char* split_entry(const char* module_dir, const char* entry, int on_windows, char* folder,
                        std::size_t size, const char** name)
{
    char part[256];
    const char* refusal =
        windows_path_start(entry) != RELATIVE_PATH ? "climbs out of the code set" : NULL;
    folder[0] = '\0';
    *name = NULL;
    for (const char* at : {module_dir, entry}) {
        for (std::size_t length; refusal == NULL && (length = next_part(&at)) > 0; at += length) {
            std::snprintf(part, sizeof part, "%.*s", static_cast<int>(length), at);
            // Each part but the last is a folder's; the last is the name.
            if (on_windows && windows_renames(part))
                refusal = "Windows would give the file another name";
            else if (*name != NULL)
                refusal = step(folder, size, *name, std::strcspn(*name, "\\/"));
            *name = at;
        }
    }
    if (refusal == NULL && (*name == NULL || *name == module_dir || std::strcmp(*name, ".") == 0 ||
                            std::strcmp(*name, "..") == 0 || (*name)[std::strcspn(*name, "\\/")]))
        refusal = "names a folder, not a file";
    return refusal;
}
