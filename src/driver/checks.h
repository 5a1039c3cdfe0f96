#pragma once

#include <cstddef>

// What a run checks before it creates anything, and how it tells a failure.

enum {
    ERROR_INVALID_SOURCE = 1,
    ERROR_NO_GAME_FOLDER = 2,
    ERROR_MOD_EXISTS = 3,
    ERROR_NO_CODE_SET_FOLDER = 4,
    ERROR_MOD_NOT_CREATED = 999
};

// Prints how forkit is called, with an example.
void print_usage();

// 1 if game, cgame and ui can be entered from the current directory.
int source_tree_valid();

// 0 when the source tree, the game folder, the code set's path and the mod's
// name pass every check, with the game folder as the files are to name it
// in `game_folder`; else the code of the first that fails, its reason noted.
// A code set path that is empty or a root would put the code set at the
// root of a file system; a path that the system code page changed names
// another place than the one typed.
int check_inputs(const char* modname, const char* sourcepath, const char* q3path, char* game_folder,
                 std::size_t size);

// Prints the error heading and the message for `code`, then the noted reason
// on standard error.
void report_error(int code);
