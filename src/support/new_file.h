#pragma once

#include "held_folders.h"
#include "platform.h"

// A file that stands under its name only once it is whole: it is written at
// a temporary name beside it (`<name>.forkit-new`, or `.forkit-new2` to `4`
// while other runs write the same file), closed, and renamed into place.
// Whatever stops a run (short of the system itself, as no file is synced),
// no final name holds a partial file, and an earlier file stays as it was
// until its replacement is complete.

// Room for a name of a list entry or of a file forkit makes, with the suffix.
enum { NEW_NAME_SIZE = 128 };

struct NewFile {
    Handle folder;
    Handle file;
    const char* shown;          // the path that failures are noted against
    const FileIdentity* source; // the file it is made from, if any
    int check;                  // what is at its name may need keeping
    char name[NEW_NAME_SIZE];
    char temporary[NEW_NAME_SIZE];
};

// 1 if `name` ends in the suffix, then nothing or a digit 2 to 4; `loosely`,
// as Windows compares names, without case and trailing dots and blanks: how
// entries are refused, as a later run would remove such a file. The removal
// of leftovers takes only names forkit makes itself.
int is_temporary_name(const char* name, int loosely);

// Starts the file that is to become `name` in `folder`, with the permission
// bits `mode` less the process's mask. The first time a run writes in a
// folder that was there before it, the files that stopped runs left at
// temporary names are removed. 0, with the reason noted against `shown`,
// when it cannot be started: the folder takes no files, or the system
// refuses.
int open_new_file(NewFile* out, HeldFolder* folder, const char* name, unsigned mode,
                  const FileIdentity* source, const char* shown);

// Writes `text` as it is (NULL: a text that did not fit); 0, with the
// reason noted, when that fails.
int write_new_file_text(NewFile* out, const char* text);

// When `complete`, puts the file in the place of its name, unless something
// there must be kept: anything but a writable regular file, or the file
// `source` it is made from. Else, or when that fails (the reason noted),
// removes it, and any earlier file at its name stays. 1 if the file is in
// place; on Windows, once it is found there too (a rename under Wine may
// put it elsewhere, the reason noted).
int finish_new_file(NewFile* out, int complete);
