#pragma once

// Folder tests and creation over forkit's paths; 1 true, 0 false. A 0 notes
// why.

// 1 if `path` can be made the current directory (a file, a missing path or a
// closed folder gives 0; so does NULL, a path that did not fit). The current
// directory is never changed.
int directory_exists(const char* path);

// directory_exists of "parent\child". Note the order: child first.
int subdirectory_exists(const char* child, const char* parent);

// Creates the one folder `path`; 0 on any failure, an existing one included.
int make_directory(const char* path);

// make_directory of "parent\child". Note the order: child first.
int make_subdirectory(const char* child, const char* parent);
