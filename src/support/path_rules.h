#pragma once

#include <cstddef>

// What a path's text alone tells, the same on every build so that every
// build tests it; where it depends on Windows' rules, the callers apply it
// on Windows alone.

int is_separator(char c);

// 1 if forkit may hand `path` to the system: the one test of a path's
// length, which every file-system call passes first. NULL, a format_text
// result that did not fit, does not; no path is ever cut.
int path_fits(const char* path);

// The length of the root of a final path (see final_path_of), its trailing
// separator included: "/", "\\?\C:\" or "\\?\UNC\server\share\". Nothing
// above a root has a name. 0 for a text that is no final path.
std::size_t final_root_length(const char* final_path);

// Cuts the final path `path` to its folder, never above its root; 0 when it
// is a root already.
int cut_to_folder(char* final_path);

// 1 if `entry` is relative (no leading \ or /, no drive) and
// `module_dir`\`entry`, taken apart at \ and /, never climbs with ".." above
// the place it starts from.
int entry_stays_inside(const char* module_dir, const char* entry);

// How a Windows path begins.
enum PathStart {
    RELATIVE_PATH,  // "a\b"
    ROOTED_PATH,    // "\a": on the current drive
    DRIVE_RELATIVE, // "C:a"
    DRIVE_PATH,     // "C:\a"
    NETWORK_PATH    // "\\server\share\a"
};
int windows_path_start(const char* path);

// 1 if joining "\name" to `path` names a root's folder on Windows: "\", "/"
// and "\\" (which would join into a network path), a bare drive "C:", "C:\",
// "C:/", a share "\\server\share" with or without its separator, their long
// forms ("\\?\C:\", "\\?\UNC\server\share"), and any of them after "." and
// ".." parts that lead back to it ("C:\x\..").
int windows_root_by_text(const char* path);

// 1 if Windows would give a file or folder made with the UTF-8 name `name`
// another name, or none: a trailing dot or blank, a character it keeps for
// itself, or a device name (CON, NUL, COM1, LPT¹, ...) with any extension.
int windows_renames(const char* name);
