#pragma once

// Directory tests and creation over forkit's backslash paths; 1 true, 0 false.

// 1 if `path` can be made the current directory (a file, a missing path or a
// closed directory gives 0; so does NULL, a path that did not fit). The
// current directory is unchanged afterwards.
int directory_exists(const char* path);

// directory_exists of "parent\child". Note the order: child first.
int subdirectory_exists(const char* child, const char* parent);

// Creates the one directory `path`; 0 on any failure, an existing one included.
int make_directory(const char* path);

// make_directory of "parent\child". Note the order: child first.
int make_subdirectory(const char* child, const char* parent);
