#include "write_build_script.h"

#include "../support/failure.h"
#include "../support/held_folders.h"
#include "../support/new_file.h"
#include "../support/source_file.h"
#include "../support/text_buffer.h"
#include "../support/text_file.h"

#include <cstdio>
#include <cstring>

// The line that names the assembler's output, q3path\modname\vm\name. The
// assembler cuts the name at the last dot after the last '/' and adds
// ".qvm"; with Windows paths, which have no '/', a dot in the game folder or
// the mod's name would send the module elsewhere. A name that already ends
// in ".qvm" is cut at that dot and gets it back, with every assembler.
static int write_output_line(NewFile* out, const char* q3path, const char* modname,
                             const char* name)
{
    // The assembler reads the path up to the next double quote, and a line
    // end would start another of its commands.
    if (breaks_a_quoted_line(q3path) || breaks_a_quoted_line(modname)) {
        note_refusal(out->shown, "its output path holds a double quote or a line end");
        return 0;
    }
    char path[TEXT_BUFFER_SIZE];
    int length =
        std::snprintf(path, sizeof path, "%s" SEP "%s" SEP "vm" SEP "%s", q3path, modname, name);
    const char* slash = std::strrchr(path, '/');
    return write_new_file_text(
        out, length >= 0 && length < TEXT_BUFFER_SIZE
                 ? format_text("-o \"%s%s\"\r\n", path,
                               std::strchr(slash != NULL ? slash : path, '.') ? ".qvm" : "")
                 : NULL);
}

void write_build_script(const char* list_name, const char* sourcepath, const char* q3path,
                        const char* modname, const char* module_dir, const char* output_name)
{
    FileFacts facts;
    NewFile out;
    int written = 0, read_failed = 0;
    Handle list = open_list(list_name, &facts, 1);
    if (list == NO_HANDLE)
        return;
    char name[NEW_NAME_SIZE], shown_text[TEXT_BUFFER_SIZE];
    std::snprintf(name, sizeof name, "%s.q3asm", module_dir);
    const char* shown = join_path(&shown_text, sourcepath, module_dir, name);
    HeldFolder* folder = held_folder(CODE_SET, module_dir);
    // The output line and then the list's text; the file is put in place
    // only when both are whole.
    if (folder != NULL && open_new_file(&out, folder, name, 0666, &facts.identity, shown)) {
        written = write_output_line(&out, q3path, modname, output_name);
        if (written && !(written = copy_text(list, out.file, &read_failed)))
            note_system_error(read_failed ? list_name : shown);
        written = finish_new_file(&out, written);
    }
    if (written)
        count_step_done();
    else if (read_failed)
        report_failure(format_text("  Error reading %s", list_name));
    else
        report_failure(
            format_text("  Error creating %s" SEP "%s" SEP "%s", sourcepath, module_dir, name));
    close_file(list);
}
