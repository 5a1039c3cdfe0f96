#include "path_rules.h"

#include "platform.h"

#include <cctype>
#include <cstring>

int is_separator(char c)
{
    return c == '\\' || c == '/';
}

int path_fits(const char* path)
{
    // A temporary name adds its suffix.
    return path != NULL && std::strlen(path) + 16 < PATH_SIZE;
}

static int is_drive(const char* path)
{
    return std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
}

// The end of the part of `text`, from `at`, that runs to the next backslash
// or the end; `parts` of them are skipped.
static std::size_t skip_parts(const char* text, std::size_t at, int parts)
{
    while (parts-- > 0 && text[at] != '\0') {
        while (text[at] != '\0' && text[at] != '\\')
            at++;
        at += text[at] == '\\';
    }
    return at;
}

std::size_t final_root_length(const char* final_path)
{
    if (final_path[0] == '/')
        return 1;
    if (std::strncmp(final_path, "\\\\?\\UNC\\", 8) == 0)
        return skip_parts(final_path, 8, 2);
    if (std::strncmp(final_path, "\\\\?\\", 4) == 0)
        return skip_parts(final_path, 4, 1);
    return 0;
}

int cut_to_folder(char* final_path)
{
    std::size_t root = final_root_length(final_path);
    std::size_t end = std::strlen(final_path);
    if (root == 0 || end <= root)
        return 0;
    // Final paths of POSIX part names at '/' only: a '\' is a name's own.
    char separator = final_path[0] == '/' ? '/' : '\\';
    while (end > root && final_path[end - 1] != separator)
        end--;
    final_path[end > root ? end - 1 : root] = '\0';
    return 1;
}

// Adds the depth change of each part of `path` to `depth`, "." and ".."
// taken as the system takes them, by their text; 0 if it would go above
// where it started, where it stays instead.
static int climb(const char* path, int* depth)
{
    int stays_inside = 1;
    for (const char* part = path; *part != '\0';) {
        std::size_t length = std::strcspn(part, "\\/");
        if (length == 2 && part[0] == '.' && part[1] == '.') {
            stays_inside &= *depth > 0;
            *depth -= *depth > 0;
        } else if (length > 1 || (length == 1 && part[0] != '.')) {
            (*depth)++;
        }
        part += length + (part[length] != '\0');
    }
    return stays_inside;
}

int entry_stays_inside(const char* module_dir, const char* entry)
{
    int depth = 0;
    return windows_path_start(entry) == RELATIVE_PATH && climb(module_dir, &depth) &&
           climb(entry, &depth);
}

int windows_path_start(const char* path)
{
    if (is_separator(path[0]))
        return is_separator(path[1]) ? NETWORK_PATH : ROOTED_PATH;
    if (is_drive(path))
        return is_separator(path[2]) ? DRIVE_PATH : DRIVE_RELATIVE;
    return RELATIVE_PATH;
}

// How many folders deep below where it starts `path` leads.
static int depth_below(const char* path)
{
    int depth = 0;
    (void)climb(path, &depth);
    return depth;
}

// 1 if `path`, after "\\" or "\\?\UNC\", names a share's root: a server and
// a share, and nothing deeper. Nothing at all would join into one.
static int names_a_share(const char* path)
{
    if (*path == '\0')
        return 1;
    for (int part = 0; part < 2; part++) {
        std::size_t length = std::strcspn(path, "\\/");
        if (length == 0)
            return 0;
        path += length + (path[length] != '\0');
    }
    return depth_below(path) == 0;
}

int windows_root_by_text(const char* path)
{
    // The long forms name what their short ones do.
    if (std::strncmp(path, "\\\\?\\UNC\\", 8) == 0)
        return names_a_share(path + 8);
    if (std::strncmp(path, "\\\\?\\", 4) == 0 || std::strncmp(path, "\\\\.\\", 4) == 0)
        path += 4;
    switch (windows_path_start(path)) {
    case ROOTED_PATH:
        return depth_below(path) == 0;
    case DRIVE_PATH:
        return depth_below(path + 2) == 0;
    case DRIVE_RELATIVE: // "C:" joins into "C:\"; "C:." is told by what it names
        return path[2] == '\0';
    case NETWORK_PATH:
        return names_a_share(path + 2);
    }
    return 0;
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
