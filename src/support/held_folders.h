#pragma once

#include "platform.h"

// The folders a run reads from and writes into, each opened once, by name
// below one already held (the first of each place from the path typed), and
// used by its handle from then on: what a check found is what the run uses,
// whatever happens to the paths meanwhile.

enum Place { TREE, CODE_SET, GAME_FOLDER };

// Room for a module's name and a list entry's folders.
enum { FOLDER_PATH_SIZE = 96 };

struct HeldFolder {
    int in_use;
    Handle handle;
    int place;
    char path[FOLDER_PATH_SIZE]; // below the place's root, with forkit's separator; "" for the root
    int fresh;                   // made by this run: nothing in it but what the run wrote
    int claimed;                 // held for writing, what stopped runs left in it removed
    const char* refusal;         // why no file may be written in it; NULL when files may
    FileIdentity identity;
    char failure[128]; // why it could not be opened, when it could not
};

// Holds `path`, as typed, as the root of `place`, following links, made
// first when `make` and there is none. 0, with the reason noted, when it
// cannot be opened or entered, or (a code set's root) may take no files, as
// the system's root or a folder of the source tree.
int hold_root(int place, const char* path, int make);

// The folder `path` below the root of `place` (see hold_root): the one held,
// or else opened part by part, never through a link, and held from then on.
// A folder of the code set that is a folder of the source tree, however
// reached, is held with its refusal. A folder that could not be opened is
// not tried again. NULL, with the reason noted, when it cannot be held.
HeldFolder* held_folder(int place, const char* path);

// Holds the module folder `name` in the root of `place`, made first when
// `make` and there is none. 0, with the reason noted, when it cannot be held,
// or may take no files.
int hold_module(int place, const char* name, int make);

// From now on no folder of the tree is opened that is not held already: the
// lists' folders are, and a code set may be in any other.
void hold_no_other_tree_folder();

int same_identity(const FileIdentity& a, const FileIdentity& b);

// Notes why `name` in `folder` could not be opened, against `shown`: the
// system's reason, or that it is a link.
void note_open_failure(Handle folder, const char* name, const char* shown);

// Closes every held folder: a run's end, or a test's.
void release_held_folders();
