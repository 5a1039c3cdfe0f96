#pragma once

#include <cstddef>
#include <cstdio>

// The file-system and process calls that differ between Windows and POSIX.
// Paths arrive as forkit forms them, with backslashes; only these functions
// turn them into what the platform takes. Every truth result is 1 or 0. A
// failing call leaves the system's error for describe_system_error.

// Readies the process: an output that closes never stops the run, and a run
// stopped from outside removes the file it was writing.
void prepare_process();

// Returns 1 if `path` is a folder that could be made the current directory.
// The current directory is never changed.
int can_enter_directory(const char* path);

// Creates the one directory `path` with default permissions; 0 if it exists
// or cannot be made.
int create_directory(const char* path);

// 1 on the platforms where a path that is only a drive ("C:") names the
// root folder of that drive.
int is_bare_drive(const char* path);

// 1 unless `argument`, one of the process's arguments, stands for other
// characters than those typed: Windows hands a program its arguments in the
// system code page, and swaps a character the page lacks for a look-alike.
int argument_is_exact(const char* argument);

// 1 if the folder made with the name `name` would have that very name:
// Windows drops trailing dots and blanks, and keeps device names (CON, NUL,
// COM1, ...) and characters such as * ? | for itself.
int is_plain_folder_name(const char* name);

// Opens `path` for reading in binary mode without waiting on it (a FIFO with
// no writer does not block); NULL on failure. It may be anything: ask
// is_regular_file before reading.
std::FILE* open_file(const char* path);

// 1 if the open file is a regular file: not a folder, FIFO or device.
int is_regular_file(std::FILE* file);

// What is at a path, without following a link.
enum PathKind { NOTHING_THERE, WRITABLE_FILE, READ_ONLY_FILE, OTHER_KIND };
int path_kind(const char* path);

// Returns 1 if the folder `path` is the folder `top` or lies anywhere below
// it, with links followed, and also when that cannot be told.
int directory_within(const char* path, const char* top);

// Returns 1 if the file at `path`, with every link on the way followed, lies
// in the current directory or below it; 0 when it does not or that cannot
// be told.
int file_within_current_directory(const char* path);

// Creates `path` exclusively, as the one file this run is writing, with the
// permission bits of `like` (default ones when NULL) less the process's mask.
// NULL on failure, with *taken set when something is already at `path`.
// Until put_in_place or discard_file, a stop by a signal removes it.
std::FILE* create_temporary_file(const char* path, std::FILE* like, int* taken);

// Removes what a run that was stopped left at `path`. 0 when that is the
// unfinished file of a run still going, or it cannot be removed.
int remove_leftover(const char* path);

// Moves the complete file being written from `temporary` to `path`, replacing
// what is there, and closes it; 1 if both worked.
int put_in_place(std::FILE* file, const char* temporary, const char* path);

// Closes the file being written and removes it from `temporary`.
void discard_file(std::FILE* file, const char* temporary);

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
