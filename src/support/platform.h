#pragma once

#include <cstddef>
#include <cstdio>

// The file-system calls that differ between Windows and POSIX. Paths arrive as
// forkit forms them, with backslashes; only these functions turn them into
// what the platform takes. Every result is 1 for true and 0 for false.

// Returns 1 if `path` can be made the current directory. The current
// directory is the same afterwards, whatever its length.
int can_enter_directory(const char* path);

// Creates the one directory `path` with default permissions; 0 if it exists
// or cannot be made.
int create_directory(const char* path);

// Opens a regular file in binary mode ("rb", "wb"); NULL for a directory or
// any failure.
std::FILE* open_file(const char* path, const char* mode);

// Creates the file `path` and opens it for writing in binary mode; NULL if
// anything, a link included, is already there, or on any failure.
std::FILE* create_file(const char* path);

// Returns 1 when both paths name one existing file (the same device and file
// number), however they are written.
int same_file(const char* first, const char* second);

// Moves the file `from` over `to`, replacing any file there.
int replace_file(const char* from, const char* to);

// Removes the file `path`; the result is 1 if it is gone.
int remove_file(const char* path);

// Returns 1 if anything is at `path`: a file, a folder, or a link (a link is
// not followed, so a broken one counts too).
int path_in_use(const char* path);

// Returns 1 if the folder `path` is the folder `top` or lies anywhere below
// it, with links followed, and also when that cannot be told.
int directory_within(const char* path, const char* top);

// Copies `text`, in the code page forkit's arguments come in, to `out` in the
// code page the command interpreter reads batch files in: on Windows the OEM
// code page, elsewhere the bytes as they are. 0, with the system's error set,
// if a character has no exact match there or the result does not fit `size`.
int convert_for_batch_file(const char* text, char* out, std::size_t size);

// Writes `text` and a line feed to `stream` and flushes it; output errors are
// not looked at.
void write_line(std::FILE* stream, const char* text);

// The system's message for the error of the call that failed last, without a
// trailing line end, cut to fit `size`.
void describe_system_error(char* out, std::size_t size);
