#pragma once

#include "platform.h"

#include <cstddef>

// forkit's own text mode, the same on every platform, over files opened in
// binary mode: reading turns each CR LF pair into LF, copying puts a CR
// before each LF that has none, so that every line goes out ending in CR LF,
// and every other byte (NUL and Ctrl-Z included) passes unchanged. forkit's
// own lines are written with their CR LF.

// Reads a file a line at a time: TextReader reader = {file}.
struct TextReader {
    Handle file;
    std::size_t next = 0, end = 0;
    int failed = 0;
    char buffer[4096] = {};
};

// Reads one line into `line`: at most size - 1 characters, ending after a
// line feed if one comes first. Returns how many were stored (0 at the end
// of the file, or on a read error, which sets in->failed, right after the
// failed read) and terminates them.
std::size_t read_text_line(TextReader* in, char* line, std::size_t size);

// Moves the rest of the file `in` to `out` as text, up to a read that gives
// nothing; 1 if every byte was read and written. On failure *read_failed
// tells which.
int copy_text(Handle in, Handle out, int* read_failed);

// Copies `count` bytes of `text` to `out` with a CR before each LF that has
// none before it (`before` is the byte before the text) and returns the
// copy's length; 0 when there is no such LF, and the text goes out as it is.
// `out` has room for twice `count`.
std::size_t add_carriage_returns(const char* text, std::size_t count, char before, char* out);
