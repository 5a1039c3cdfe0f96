#include "checks.h"

#include "../support/directories.h"
#include "../support/failure.h"
#include "../support/platform.h"
#include "../support/text_buffer.h"

#include <cstring>

void print_usage()
{
    print_line("Program syntax:");
    print_line("forkit <modname> <sourcepath> <q3path>\n");
    print_line("Example:");
    print_line("forkit mymod c:\\mymod C:\\\"Program Files\"\\\"Quake III Arena\"\n");
    print_line("This would create a new code set from the current source code in the");
    print_line("path \"c:\\mymod\" and add a \"mymod\" directory to your Q3A directory.");
}

// directory_exists, noting why when the answer is 0.
static int folder_can_be_entered(const char* path)
{
    if (directory_exists(path))
        return 1;
    note_system_error(path);
    return 0;
}

int source_tree_valid()
{
    return folder_can_be_entered("game") && folder_can_be_entered("cgame") &&
           folder_can_be_entered("ui");
}

int is_one_folder_name(const char* modname)
{
    return std::strpbrk(modname, "\\/") == NULL;
}

const char* mod_name_fault(const char* modname)
{
    if (!is_one_folder_name(modname))
        return "a mod name is one folder name";
    if (!argument_is_exact(modname))
        return "the system code page has no such characters";
    if (!is_plain_folder_name(modname))
        return "the system would give the mod's folder another name";
    return NULL;
}

static int names_a_root(const char* sourcepath)
{
    return sourcepath[0] == '\0' || is_bare_drive(sourcepath);
}

int check_inputs(const char* modname, const char* sourcepath, const char* q3path)
{
    if (!source_tree_valid())
        return ERROR_INVALID_SOURCE;
    if (!argument_is_exact(q3path)) {
        note_refusal(q3path, "the system code page has no such characters");
        return ERROR_NO_GAME_FOLDER;
    }
    if (!folder_can_be_entered(q3path))
        return ERROR_NO_GAME_FOLDER;
    if (names_a_root(sourcepath)) {
        note_refusal(sourcepath, "would put the code set at the root of the drive");
        return ERROR_NO_CODE_SET_FOLDER;
    }
    if (!argument_is_exact(sourcepath)) {
        note_refusal(sourcepath, "the system code page has no such characters");
        return ERROR_NO_CODE_SET_FOLDER;
    }
    // A name that cannot be the mod's folder is refused where it would be made.
    if (mod_name_fault(modname) == NULL && subdirectory_exists(modname, q3path)) {
        note_refusal(format_text("%s\\%s", q3path, modname), "already exists");
        return ERROR_MOD_EXISTS;
    }
    return 0;
}

void report_error(int code)
{
    print_line("The following error was encountered:");
    if (code == ERROR_INVALID_SOURCE)
        print_line("The source code is invalid. Please install a fresh copy of the source code "
                   "and try again.");
    else if (code == ERROR_MOD_EXISTS)
        print_line("The mod name you have chosen already exists in your Q3A directory. Please "
                   "choose a different name.");
    else
        print_line("Unknown error.");
    print_failure();
}
