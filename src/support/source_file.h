#pragma once

#include "held_folders.h"
#include "platform.h"

// Opens the file `name` in the held `folder` for reading, only when it is a
// regular file: never through a link, and a FIFO, a device or a folder is
// refused without waiting on it. Its facts go to *facts. NO_HANDLE, with the
// reason noted against `shown`, on failure.
Handle open_source_file(HeldFolder* folder, const char* name, FileFacts* facts, const char* shown);

// Opens the list `name` in the tree's root, with its facts; where it cannot
// be, gives NO_HANDLE and, when `told`, prints "  Error opening <name>" and
// why.
Handle open_list(const char* name, FileFacts* facts, int told);
