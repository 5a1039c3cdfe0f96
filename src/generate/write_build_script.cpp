#include "write_build_script.h"

#include "../support/failure.h"
#include "../support/held_folders.h"
#include "../support/new_file.h"
#include "../support/source_file.h"
#include "../support/text_buffer.h"
#include "../support/text_file.h"

#include <cstring>

// What became of a command file.
enum { SCRIPT_WRITTEN, SCRIPT_NOT_CREATED, LIST_NOT_READ };

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
    const char* formed = format_text("%s" SEP "%s" SEP "vm" SEP "%s", q3path, modname, name);
    if (formed != NULL) {
        const char* slash = std::strrchr(std::strcpy(path, formed), '/');
        formed = format_text("-o \"%s%s\"\r\n", path,
                             std::strchr(slash != NULL ? slash : path, '.') ? ".qvm" : "");
    }
    return write_new_file_text(out, formed);
}

// The output line and then the list's text; the file is put in place only
// when both are whole.
static int write_command_file(const char* shown, HeldFolder* folder, const char* name, Handle list,
                              const FileFacts& list_facts, const char* list_name,
                              const char* q3path, const char* modname, const char* output_name)
{
    NewFile out;
    int read_failed = 0;
    if (folder == NULL || !open_new_file(&out, folder, name, 0666, &list_facts.identity, shown))
        return SCRIPT_NOT_CREATED;
    if (!write_output_line(&out, q3path, modname, output_name)) {
        abandon_new_file(&out);
        return SCRIPT_NOT_CREATED;
    }
    if (!copy_text(list, out.file, &read_failed)) {
        note_system_error(read_failed ? list_name : shown);
        abandon_new_file(&out);
        return read_failed ? LIST_NOT_READ : SCRIPT_NOT_CREATED;
    }
    return commit_new_file(&out) ? SCRIPT_WRITTEN : SCRIPT_NOT_CREATED;
}

void write_build_script(const char* list_name, const char* sourcepath, const char* q3path,
                        const char* modname, const char* module_dir, const char* output_name)
{
    FileFacts facts;
    Handle list = open_list(list_name, &facts);
    if (list == NO_HANDLE)
        return;
    char name[NEW_NAME_SIZE], shown[TEXT_BUFFER_SIZE];
    std::snprintf(name, sizeof name, "%s.q3asm", module_dir);
    int fits = std::snprintf(shown, sizeof shown, "%s" SEP "%s" SEP "%s", sourcepath, module_dir,
                             name) < static_cast<int>(sizeof shown);
    int result = write_command_file(fits ? shown : NULL, held_folder(CODE_SET, module_dir), name,
                                    list, facts, list_name, q3path, modname, output_name);
    if (result == SCRIPT_WRITTEN)
        count_step_done();
    else if (result == LIST_NOT_READ)
        report_failure(format_text("  Error reading %s", list_name));
    else
        report_failure(
            format_text("  Error creating %s" SEP "%s" SEP "%s", sourcepath, module_dir, name));
    close_file(list);
}
