#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// The operating system's calls, and nothing else: every rule made of them is
// portable code. Paths are forkit's: joined with backslashes, in the code
// page the arguments came in, and never longer than PATH_SIZE - 1 (see
// path_fits; POSIX turns each backslash into a slash here, and nowhere
// else). A call that fails leaves the system's error for
// describe_system_error.

enum { PATH_SIZE = 4096 };

// 1 on Windows: its names follow rules of their own (drives, devices), its
// console takes characters, and Wine shows a host's link as what it names.
extern const int ON_WINDOWS;

// An open file: a POSIX descriptor or a Windows handle.
typedef std::intptr_t FileHandle;
const FileHandle NO_FILE = -1;

// What is at a path, without following a link.
enum PathKind { NOTHING_THERE, WRITABLE_FILE, READ_ONLY_FILE, FOLDER, LINK, OTHER_KIND };
int path_kind(const char* path);

// 1 if the folder `path`, links followed, could be made the current one.
int can_enter_folder(const char* path);

// A final path names what a path leads to in full, every link resolved:
// POSIX "/a/b", Windows "\\?\C:\a\b" in UTF-8. 0 if it cannot be had or fit.
int final_path_of(const char* path, char* out, std::size_t size);

// What tells the file or folder at a final path from every other.
struct FileIdentity {
    std::uint64_t volume;
    unsigned char id[16];
};
int identity_of_final_path(const char* final_path, FileIdentity* out);

// Creates the one folder `path`; 0 if it exists or cannot be made.
int make_folder(const char* path);

// Opens `path` for reading, following links, without waiting on it (a FIFO
// opens at once): NO_FILE on failure. Tells whether it is a regular file,
// its permission bits, and on POSIX whether `path` itself is a link.
struct OpenedFile {
    int regular;
    unsigned mode;
    int through_link;
};
FileHandle open_for_reading(const char* path, OpenedFile* info);
// Bytes read into `to`: 0 at the end, -1 on an error.
long read_file(FileHandle file, char* to, std::size_t size);
// 1 if all `size` bytes were written.
int write_file(FileHandle file, const char* from, std::size_t size);
void close_file(FileHandle file);

// Creates `path`, which must not exist, locked as the file of a run still
// going, with the permission bits `mode` less the process's mask. Until it
// is committed or abandoned, a run stopped by Ctrl-C, a kill or a hang-up
// removes it. NO_FILE on failure, with *taken set when something holds the
// name.
FileHandle create_locked(const char* path, unsigned mode, int* taken);
// Renames the file from `temporary` to `path`, replacing what is there, and
// closes it; 1 if both worked. On failure the temporary is removed.
int commit_file(FileHandle file, const char* temporary, const char* path);
// Closes the file and removes it from `temporary`.
void abandon_file(FileHandle file, const char* temporary);
// Removes what is at `path` unless it is the file of a run still going;
// 1 if nothing is there afterwards.
int remove_unheld(const char* path);

// Calls `visit` with each name in the folder `path`; 0 if it cannot be read.
int list_folder(const char* path, void (*visit)(const char* name, void* context), void* context);

// The full path of the current folder, or on Windows of the current folder
// of the drive `drive` (0 for the current drive); 0 if it cannot be had.
int current_folder(char drive, char* out, std::size_t size);

// 1 unless `argument`, one of the process's arguments, stands for other
// characters than those typed: Windows hands a program its arguments in the
// system code page, and puts a look-alike for a character the page lacks.
int argument_is_exact(const char* argument);

// Converts `text` from one code page to another: the one the arguments come
// in, UTF-8, or the one the command interpreter reads batch files in. A copy
// but on Windows; 0 when a character has no exact match or it does not fit.
enum CodePage { ARGUMENTS_PAGE, UTF8_PAGE, BATCH_PAGE };
int convert_text(int from, int to, const char* text, char* out, std::size_t size);

// Writes a line to `stream` and flushes it: a Windows console takes it in
// UTF-8 (unless NULL), anything else in `bytes`. Output errors are not
// looked at.
void write_console(std::FILE* stream, const char* bytes, const char* utf8);

// The system's message for the error of the call that failed last, without a
// trailing line end, cut to fit `size`.
void describe_system_error(char* out, std::size_t size);

// Readies the process: an output that closes never stops the run, and a run
// stopped by Ctrl-C, a kill or a hang-up removes the file it was writing.
void prepare_process();
