#pragma once

#include "text_buffer.h"

#include <cstdio>

// A file that stands under its name only once it is whole: it is written at a
// temporary name beside it (`<name>.forkit-new`, or `.forkit-new2` and on
// while other runs write the same file) and moved there when complete.
// Whatever stops a run, no final name holds a partial file, and an earlier
// file stays as it was until its replacement is complete.
struct NewFile {
    std::FILE* file;
    char path[TEXT_BUFFER_SIZE];
    char temporary_path[TEXT_BUFFER_SIZE + 16];
};

// 1 if `path` ends in a name that a NewFile takes while it is written; such
// a name is not for files of the user's, since the next run may remove it.
int is_temporary_name(const char* path);

// Starts the file that is to become `path`, with the permission bits of
// `like` (default ones when NULL). 0, with the reason noted, when it cannot be
// started: `path` is NULL (a path that did not fit), it names anything but a
// writable regular file, it would replace a file inside the current directory
// (the source tree: new files may be made there, none is ever written over),
// or the system refuses.
int open_new_file(NewFile* out, const char* path, std::FILE* like);

// Writes `text`, formatted for the file (NULL: a text that did not fit), in
// forkit's text mode; 0, with the reason noted, when that fails.
int write_new_file_text(NewFile* out, const char* text);

// When `written` is 1, puts the file in the place of `path` and returns 1 if
// that worked; otherwise removes it, and any earlier file at `path` stays.
// A failure of its own is noted; the caller notes why `written` is 0.
int close_new_file(NewFile* out, int written);
