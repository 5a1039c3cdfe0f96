#pragma once

#include "text_buffer.h"

#include <cstdio>

// A file that never clobbers an earlier one by failing: where a file of its
// name exists, it is written beside it and moved there only once every byte is
// written and closed; where none does, it is written in place and removed
// again if writing fails.
struct NewFile {
    std::FILE* file;
    int in_place;
    char path[TEXT_BUFFER_SIZE];
    char temporary_path[TEXT_BUFFER_SIZE + 16];
};

// Starts the file that is to become `path`; 0 if it cannot be created (also
// when `path` is NULL, a path that did not fit), and 0 when it would replace
// anything inside the current directory, the source tree: new files may be
// made there, but no file of the tree is ever written over.
int open_new_file(NewFile* out, const char* path);

// Closes the file. When `written` is 1 and the close succeeds, the file takes
// the place of `path` and the result is 1; otherwise it is removed and any
// earlier file at `path` stays as it was.
int close_new_file(NewFile* out, int written);
