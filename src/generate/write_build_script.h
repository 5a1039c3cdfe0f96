#pragma once

// Writes sourcepath\module_dir\module_dir.q3asm: an -o line that sends the
// assembler's output to q3path\modname\vm\output_name (given as
// output_name.qvm where a dot would cut the name short), then the build list's
// text, with CR LF line ends like every file forkit writes. Prints only
// failures: "  Error opening LIST" (and no file is written) or "  Error
// creating PATH" (and any earlier file stays).
void write_build_script(const char* list_name, const char* sourcepath, const char* q3path,
                        const char* modname, const char* module_dir, const char* output_name);
