#pragma once

#include "platform.h"

#include <cstddef>

// forkit's own text mode, the same on every platform, over files opened in
// binary mode: reading turns each CR LF pair into LF, writing puts a CR
// before each LF that has none, so that every line goes out ending in CR LF,
// and every other byte (NUL and Ctrl-Z included) passes unchanged.

// Reads a file a line at a time.
struct TextReader {
    FileHandle file;
    std::size_t next, end;
    int failed;
    char buffer[4096];
};
void start_reading(TextReader* in, FileHandle file);

// Reads one line into `line`: at most size - 1 characters, ending after a
// line feed if one comes first. Returns how many were stored (0 at the end
// of the file, or on a read error, which sets in->failed, right after the
// failed read) and terminates them.
std::size_t read_text_line(TextReader* in, char* line, std::size_t size);

// Moves the rest of the regular file `in` to `out` as text, in large blocks;
// 1 if every byte was read and written. On failure *read_failed tells which.
int copy_text(FileHandle in, FileHandle out, int* read_failed);

// Writes `length` characters of text, as copy_text would copy them from a
// file; 1 if all of them were written.
int write_text(FileHandle out, const char* text, std::size_t length);
