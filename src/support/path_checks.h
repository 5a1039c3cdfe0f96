#pragma once

#include "platform.h"

#include <cstddef>

// Where a path leads: into the source tree or out of it, to the root of a
// file system, or through a link.

// Whether what `path` names (for a file, the folder that holds it), with
// every link followed, is the folder `top` or lies anywhere below it. Each
// caller decides which way UNKNOWN goes, always the safer one.
enum { OUTSIDE = 0, INSIDE = 1, UNKNOWN = -1 };
int lies_within(const char* path, int is_file, const char* top);

// 1 if `path` names a root, of which no folder may be the code set: "/" on
// POSIX, a drive's or a share's on Windows; by what it names where it
// exists, by its text (on Windows) where it does not. "" is one.
int names_a_root(const char* path);

// The length of the folder part of `path`: up to its last separator.
std::size_t folder_length(const char* path);

// 1 if a folder named by `path` up to a separator, or by its first `end`
// characters, is a link (on Windows, any reparse point); the root, its first
// `root_length` characters, may be one.
int passes_a_link(const char* path, std::size_t root_length, std::size_t end);

// The last few folders a caller checked, so that it looks at a folder once
// while it goes through it, not once a file.
struct CheckedFolders {
    char folder[4][PATH_SIZE];
    int next;
};
// 1 if the folder of `path` is among them; and remembering it.
int was_checked(const CheckedFolders* checked, const char* path);
void remember_checked(CheckedFolders* checked, const char* path);
