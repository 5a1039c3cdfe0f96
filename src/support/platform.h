#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// The operating system's calls, and nothing else: every rule made of them is
// portable code. Only the three places a run starts from (the current folder
// and the code set's and game's folders as typed) are reached by path; every
// other file and folder is reached by name below a folder held open, so that
// a folder swapped for another after its check changes nothing. A call that
// fails leaves the system's error for describe_system_error.

// 1 on Windows: its names follow rules of their own (drives, devices), its
// console takes characters, and Wine shows a host's link as what it names.
extern const int ON_WINDOWS;

// How forkit joins the paths it shows and writes: Windows' own separator, or
// the one every POSIX program reads.
#ifdef _WIN32
#define SEP "\\"
#else
#define SEP "/"
#endif

// An open file or folder: a POSIX descriptor or a Windows HANDLE.
#ifdef _WIN32
typedef void* Handle;
#else
typedef int Handle;
#endif
const Handle NO_HANDLE = (Handle)-1;

// What tells a file or folder from every other, whatever path reaches it.
struct FileIdentity {
    std::uint64_t volume;
    unsigned char id[16];
};

// What is at a name, or what an open handle is, links never followed.
enum Kind { NOTHING_THERE, REGULAR_FILE, FOLDER, LINK, OTHER_KIND };
struct FileFacts {
    int kind;
    int writable;  // a file its owner has not made read-only, and we may write
    unsigned mode; // permission bits
    FileIdentity identity;
};
int facts_of(Handle handle, FileFacts* facts);
// 0 on failure; nothing at `name` is a success, of kind NOTHING_THERE.
int look_below(Handle folder, const char* name, FileFacts* facts);

// Opens the folder `path` as typed, links followed: a run's starting places.
// With `made`, makes the folder first where there is none, and tells whether
// it did. Only a folder that can be entered is opened.
Handle open_folder(const char* path, int* made);
// The same for the folder `name` in `folder`, never through a link.
Handle open_folder_below(Handle folder, const char* name, int* made);
// 1 if the folder is the system's root, or on Windows a drive's or a share's;
// 0 if not; -1 if that cannot be told.
int is_system_root(Handle folder);
// Calls `visit` with each name in the folder; 0 if it cannot be read.
int list_folder(Handle folder, void (*visit)(const char* name, void* context), void* context);
// Locks the folder for this run, shared or alone, without waiting: the mark
// of runs writing in it. 1 when held, 0 when another holds it so that it
// cannot be, -1 where the file system has no such locks. Always 1 on
// Windows, whose runs hold each file they write instead.
int hold_folder(Handle folder, int alone);

// Opens the file `name` in `folder` for reading, never through a link, and
// without waiting on it (a FIFO opens at once).
Handle open_file_below(Handle folder, const char* name);
// Bytes read into `to`: 0 at the end, -1 on an error.
long read_file(Handle file, char* to, std::size_t size);
// 1 if all `size` bytes were written.
int write_file(Handle file, const char* from, std::size_t size);
// For a file only read, or a folder.
void close_file(Handle file);

// Creates the file `name` in `folder`, which must not exist, with the
// permission bits `mode` less the process's mask. On Windows no other run
// may remove it while it is open, and it goes with its last handle until
// put in place. NO_HANDLE on failure, *taken set when the name was there.
Handle create_file_below(Handle folder, const char* name, unsigned mode, int* taken);
// Closes the complete file and renames it from `temporary` to `name`,
// replacing what is there; 1 if both worked, else the temporary is removed.
// POSIX closes first, as a close can tell that the data never reached the
// disk; Windows renames through the open file, which goes with its handle.
int put_in_place(Handle folder, Handle file, const char* temporary, const char* name);
// Closes the file and removes it from `temporary`.
void throw_away(Handle folder, Handle file, const char* temporary);
// Removes the file or link `name` unless a run still going holds it; never
// what a link names. 1 if it is gone.
int remove_below(Handle folder, const char* name);

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

// 1 if `stream` is a Windows console, which takes characters, not bytes.
int is_console(std::FILE* stream);
// Writes `text`, in UTF-8, to the console `stream`.
void write_console(std::FILE* stream, const char* text);

// The system's message for the error of the call that failed last, without a
// trailing line end, cut to fit `size`.
void describe_system_error(char* out, std::size_t size);

// Holds off Ctrl-C, a kill and a hang-up while `held`: one that comes
// meanwhile stops the run once they are let through, unless the caller had
// held it off too. Each hold is let go before the next. Nothing on Windows,
// where a file being written goes with its last handle.
void hold_off_stops(int held);

// Readies the process: an output that closes never stops the run.
void prepare_process();
