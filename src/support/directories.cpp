#include "directories.h"

#include "failure.h"
#include "path_rules.h"
#include "platform.h"
#include "text_buffer.h"

// Calls `act` on `path` when it fits, and notes why when that gives 0.
static int noting_why(int (*act)(const char*), const char* path)
{
    if (!path_fits(path)) {
        note_refusal(path, "path too long");
        return 0;
    }
    if (act(path))
        return 1;
    note_system_error(path);
    return 0;
}

int directory_exists(const char* path)
{
    return noting_why(can_enter_folder, path);
}

int subdirectory_exists(const char* child, const char* parent)
{
    return directory_exists(format_text("%s\\%s", parent, child));
}

int make_directory(const char* path)
{
    return noting_why(make_folder, path);
}

int make_subdirectory(const char* child, const char* parent)
{
    return make_directory(format_text("%s\\%s", parent, child));
}
