#pragma once

#include <cstddef>

// What a run checks before it creates anything, and how it tells a failure.
// Every other failure prints "Unknown error.".
enum { ERROR_INVALID_SOURCE = 1, ERROR_UNKNOWN = 2, ERROR_MOD_EXISTS = 3 };

// Prints how forkit is called, with an example.
void print_usage();

// 1 if game, cgame and ui can be entered from the current directory, which
// with them is held for the run; else 0, with the reason noted.
int source_tree_valid();

// NULL when `modname` can be the name of the mod's folder, as given, with
// that name in UTF-8, the form of names below a held folder, in `utf8`; else
// why not: it holds a separator (a mod's name is one folder name), or on
// Windows the code page changed it or Windows would make another name of it.
const char* mod_name_fault(const char* modname, char* utf8, std::size_t size);

// The game folder as the command files and the launcher name it, from any
// folder: a relative `q3path` gets the current folder's full path and a
// separator before it, a Windows one rooted without a drive gets the current
// drive, a drive path's long form is given short; any other stays as typed.
// Nothing in it is resolved or removed. 0, with the reason noted, when it
// cannot be formed in `size`.
int game_folder_for_files(const char* q3path, char* out, std::size_t size);

// 0 when the source tree, the game folder, the code set's path and the mod's
// name pass every check, with the game folder as the files are to name it
// in `game_folder`; else the code of the first that fails, its reason noted.
// The tree and the game folder are held from then on. A code set path that
// is empty or a root would put the code set at the root of a file system; a
// path that the system code page changed names another place than the one
// typed.
int check_inputs(const char* modname, const char* sourcepath, const char* q3path, char* game_folder,
                 std::size_t size);

// Prints the error heading and the message for `code`, then the noted reason
// on standard error.
void report_error(int code);
