#pragma once

#include <cstdio>

// Opens a list or a source for reading in binary mode, only when it is a
// regular file that lies in the source tree, the current directory, with
// every link followed: a FIFO, a device or a folder is refused without
// waiting on it, and a link out of the tree is not read. NULL, with the
// reason noted, on failure.
std::FILE* open_source_file(const char* path);
