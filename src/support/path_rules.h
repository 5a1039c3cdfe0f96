#pragma once

#include <cstddef>

// What a path's text alone tells, the same on every build so that every
// build tests it; where it depends on Windows' rules, the callers apply it
// on Windows alone.

int is_separator(char c);

// The length of the next part of a path at *at, between separators, after
// moving *at past the separators before it; 0 at the end.
std::size_t next_part(const char** at);

// How a Windows path begins.
enum PathStart {
    RELATIVE_PATH,  // "a\b"
    ROOTED_PATH,    // "\a": on the current drive
    DRIVE_RELATIVE, // "C:a"
    DRIVE_PATH,     // "C:\a"
    NETWORK_PATH,   // "\\server\share\a"
    DEVICE_PATH     // "\\.\x", "\\?\x", "\??\x" but for a drive path's long forms
};
int windows_path_start(const char* path);

// The length of the prefix that makes a drive path's long form ("\\?\C:\a",
// "\??\C:\a") of it; 0 for any other path.
std::size_t long_form_prefix(const char* path);

// 1 if joining "\name" to `path` names a root's folder on Windows: "\", "/"
// and "\\" (which would join into a network path), a bare drive "C:", "C:\",
// "C:/", a share "\\server\share" with or without its separator, their long
// forms ("\\?\C:\", "\??\UNC\server\share"), and any of them after "." and
// ".." parts that lead back to it ("C:\x\..").
int windows_root_by_text(const char* path);

// 1 if Windows would give a file or folder made with the UTF-8 name `name`
// another name, or none: a trailing dot or blank, a character it keeps for
// itself, or a device name (CON, NUL, COM1, LPT¹, ...) with any extension.
int windows_renames(const char* name);

// Splits `module_dir`\`entry` into the folder below the code set's root that
// holds the entry's file, its parts joined by forkit's separator with "."
// and ".." taken as the system takes them, and the file's name, which points into `entry`.
// Both \ and / part it, on every system. NULL when it names a file inside
// the code set; else why not: it is not relative, climbs above the root,
// names no file, or on Windows holds a part Windows would rename
// (`on_windows`).
const char* split_entry(const char* module_dir, const char* entry, int on_windows, char* folder,
                        std::size_t size, const char** name);
