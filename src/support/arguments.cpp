#include "arguments.h"

#include "failure.h"
#include "path_rules.h"
#include "platform.h"
#include "text_buffer.h"

#include <cstdio>
#include <cstring>

const char* mod_name_fault(const char* modname)
{
    char utf8[4 * TEXT_BUFFER_SIZE];
    if (std::strpbrk(modname, "\\/") != NULL)
        return "a mod name is one folder name";
    if (!argument_is_exact(modname))
        return "the system code page has no such characters";
    if (ON_WINDOWS && (!convert_text(ARGUMENTS_PAGE, UTF8_PAGE, modname, utf8, sizeof utf8) ||
                       windows_renames(utf8)))
        return "the system would give the mod's folder another name";
    return NULL;
}

const char* path_argument_fault(const char* path)
{
    return argument_is_exact(path) ? NULL : "the system code page has no such characters";
}

int game_folder_for_files(const char* q3path, char* out, std::size_t size)
{
    int start = ON_WINDOWS                ? windows_path_start(q3path)
                : is_separator(q3path[0]) ? DRIVE_PATH
                                          : RELATIVE_PATH;
    char current[TEXT_BUFFER_SIZE] = "";
    int written;
    if (start == RELATIVE_PATH || start == ROOTED_PATH) {
        if (!current_folder(current, sizeof current)) {
            note_system_error(".");
            return 0;
        }
    }
    if (start == RELATIVE_PATH) {
        std::size_t length = std::strlen(current);
        int ends_in_separator = length > 0 && is_separator(current[length - 1]);
        written =
            std::snprintf(out, size, "%s%s%s", current, ends_in_separator ? "" : "\\", q3path);
    } else if (start == ROOTED_PATH) {
        if (current[1] != ':') {
            note_refusal(q3path, "the current folder is on no drive to put before it");
            return 0;
        }
        written = std::snprintf(out, size, "%c:%s", current[0], q3path);
    } else {
        written = std::snprintf(out, size, "%s", q3path);
    }
    if (written < 0 || static_cast<std::size_t>(written) >= size) {
        note_refusal(q3path, "its full path would be too long");
        return 0;
    }
    return 1;
}
