#pragma once

// Copies every file that the copy list `list_name` names from `module_dir` of
// the source tree (the tree's root when it is "") into the same place under
// `sourcepath`, printing one line per entry: "  E Copied" or "  Error copying E".
void copy_listed_files(const char* list_name, const char* sourcepath, const char* module_dir);
