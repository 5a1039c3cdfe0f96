#pragma once

#include <cstddef>

// What forkit's three arguments may be.

// NULL when `modname` can be the name of the mod's folder, as given; else
// why not: it holds a separator (a mod's name is one folder name), or on
// Windows the code page changed it or Windows would make another name of it.
const char* mod_name_fault(const char* modname);

// NULL when the path argument `path` names the place typed; else why not:
// on Windows the code page put a look-alike in it.
const char* path_argument_fault(const char* path);

// The game folder as the command files and the launcher name it, from any
// folder: a relative `q3path` gets the current folder's full path and a
// separator before it, a Windows one rooted without a drive gets the current
// drive; any other stays as typed. Nothing in it is resolved or removed. 0,
// with the reason noted, when it cannot be formed in `size`.
int game_folder_for_files(const char* q3path, char* out, std::size_t size);
