#pragma once

#include <cstddef>
#include <cstdio>

// forkit's own text mode, the same on every platform, over files opened in
// binary mode: reading turns each CR LF pair into LF, writing puts a CR before
// each LF that has none, so that every line goes out ending in CR LF, and
// every other byte (NUL and Ctrl-Z included) passes unchanged.

// Reads one line of text into `line`: at most size - 1 characters, ending
// after a line feed if one comes first. Returns how many were stored (0 at
// the end of the file or on a read error) and terminates them.
std::size_t read_text_line(std::FILE* in, char* line, std::size_t size);

// Writes `length` characters of text, as copy_text would copy them from a
// file; 1 if all of them were written.
int write_text(std::FILE* out, const char* text, std::size_t length);

// Moves the rest of `in` to `out` as text, in large blocks; 1 if every byte
// was read and written.
int copy_text(std::FILE* in, std::FILE* out);

// For tests and fuzzing: copies as copy_text does, with the loop numbered
// `loop` of those carriage_return_loop_name names; 0 when there is no such.
int copy_text_with_loop(int loop, std::FILE* in, std::FILE* out);
