#pragma once

// Copies every file that the copy list `list_name` names from `module_dir` of
// the source tree (the tree's root when it is "") into the same place under
// `sourcepath`, printing one line per entry: "  E Copied" or "  Error copying E".
// With NULL for `sourcepath`, before any code-set folder is made, it only
// holds the folders of the tree that the entries would be read from, and
// tells nothing: a code-set folder that is one of them takes no file.
void copy_listed_files(const char* list_name, const char* sourcepath, const char* module_dir);
