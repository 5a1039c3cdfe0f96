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
    char path[FOLDER_PATH_SIZE]; // below the place's root, parts joined by '/'; "" for the root
    int pinned;                  // a root or a module folder, held for the whole run
    int fresh;                   // made by this run: nothing in it but what the run wrote
    int claimed;                 // held for writing, what stopped runs left in it removed
    const char* refusal;         // why no file may be written in it; NULL when files may
    FileIdentity identity;
};

// Holds `path`, as typed, as the root of `place`, following links, made
// first when `make` and there is none. 0, with the reason noted, when it
// cannot be opened or entered, or (a code set's root) may take no files, as
// the system's root or a folder of the source tree.
int hold_root(int place, const char* path, int make);

// The folder `path` below the root of `place` (see hold_root), opened once
// part by part, never through a link. A folder of the code set that is a
// folder of the source tree, however reached, is held with its refusal. NULL,
// with the reason noted, when it cannot be held. The record lasts until the
// next call, which may reuse it for another folder.
HeldFolder* held_folder(int place, const char* path);

// Holds the module folder `name` in the root of `place` for the whole run,
// made first when `make` and there is none. 0, with the reason noted, when
// it cannot be held, or may take no files.
int hold_module(int place, const char* name, int make);

// Closes every held folder: a run's end, or a test's.
void release_held_folders();
