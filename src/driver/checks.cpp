#include "checks.h"

#include "../support/arguments.h"
#include "../support/directories.h"
#include "../support/failure.h"
#include "../support/path_checks.h"
#include "../support/text_buffer.h"

void print_usage()
{
    print_line("Program syntax:");
    print_line("forkit <modname> <sourcepath> <q3path>\n");
    print_line("Example:");
    print_line("forkit mymod c:\\mymod C:\\\"Program Files\"\\\"Quake III Arena\"\n");
    print_line("This would create a new code set from the current source code in the");
    print_line("path \"c:\\mymod\" and add a \"mymod\" directory to your Q3A directory.");
}

int source_tree_valid()
{
    return directory_exists("game") && directory_exists("cgame") && directory_exists("ui");
}

// 1 when the path argument names the place typed; else 0, with why noted.
static int path_argument_passes(const char* path)
{
    const char* fault = path_argument_fault(path);
    if (fault != NULL)
        note_refusal(path, fault);
    return fault == NULL;
}

int check_inputs(const char* modname, const char* sourcepath, const char* q3path, char* game_folder,
                 std::size_t size)
{
    if (!source_tree_valid())
        return ERROR_INVALID_SOURCE;
    if (!path_argument_passes(q3path) || !directory_exists(q3path) ||
        !game_folder_for_files(q3path, game_folder, size))
        return ERROR_NO_GAME_FOLDER;
    if (names_a_root(sourcepath)) {
        note_refusal(sourcepath, "would put the code set at the root of a drive or file system");
        return ERROR_NO_CODE_SET_FOLDER;
    }
    if (!path_argument_passes(sourcepath))
        return ERROR_NO_CODE_SET_FOLDER;
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
