#pragma once

#include "platform.h"
#include "text_buffer.h"

#include <cstddef>

// A file that stands under its name only once it is whole: it is written at a
// temporary name beside it (`<name>.forkit-new`, or `.forkit-new2` to `4`
// while other runs write the same file) and renamed into place when
// complete. Whatever stops a run (short of the system itself, as no file is
// synced), no final name holds a partial file, and an earlier file stays as
// it was until its replacement is complete.
struct NewFile {
    FileHandle file;
    char path[PATH_SIZE];
    char temporary[PATH_SIZE + 16];
};

// 1 if `name` ends in a temporary name, compared as Windows compares names:
// such a name is not for files of the user's, since a later run removes it.
int is_temporary_name(const char* name);

// Starts the file that is to become `path`, with the permission bits `mode`
// less the process's mask. No folder below the code set's root, the first
// `root_length` characters of `path`, may be a link; when a run starts
// writing into a folder, outside the source tree, the temporaries that
// stopped runs left in it are removed. 0, with
// the reason noted, when it cannot be started: `path` does not fit, it names
// anything but a writable regular file, it would replace a file of the source
// tree (new files may be made there, none is ever written over), or the
// system refuses.
int open_new_file(NewFile* out, const char* path, std::size_t root_length, unsigned mode);

// Writes `text`, formatted for the file (NULL: a text that did not fit), in
// forkit's text mode; 0, with the reason noted, when that fails.
int write_new_file_text(NewFile* out, const char* text);

// Puts the complete file in the place of its path; 0, with the reason
// noted, when that fails, and the earlier file stays.
int commit_new_file(NewFile* out);

// Removes the unfinished file; any earlier file at its path stays.
void abandon_new_file(NewFile* out);
