#pragma once

#include <cstdio>

// Opens a list or a source for reading in binary mode, only when it is a
// regular file; a FIFO, a device or a folder is refused without waiting on
// it. NULL, with the reason noted, on failure.
std::FILE* open_source_file(const char* path);
