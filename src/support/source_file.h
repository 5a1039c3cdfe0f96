#pragma once

#include "platform.h"

// Opens a list or a source for reading, only when it is a regular file that
// lies in the source tree, the current folder, with every link followed: a
// FIFO, a device or a folder is refused without waiting on it, and a link
// out of the tree is not read. Sets *mode to its permission bits when
// `mode` is not NULL. NO_FILE, with the reason noted, on failure.
FileHandle open_source_file(const char* path, unsigned* mode);
