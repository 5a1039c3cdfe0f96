#include "checks.h"

#include "../support/directories.h"
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
}
