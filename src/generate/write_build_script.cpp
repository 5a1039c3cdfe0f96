#include "write_build_script.h"

#include "../support/failure.h"
#include "../support/new_file.h"
#include "../support/source_file.h"
#include "../support/text_buffer.h"
#include "../support/text_file.h"

#include <cstring>

// Where the assembler is to write a module: q3path\modname\vm\name.
struct ModuleOutput {
    const char* q3path;
    const char* modname;
    const char* name;
};

// What became of a command file.
enum { SCRIPT_WRITTEN, SCRIPT_NOT_CREATED, LIST_NOT_READ };

// The line that names the assembler's output, in the shared buffer; NULL if
// it does not fit. The assembler cuts the name at the last dot after the last
// '/' and adds ".qvm"; with Windows paths, which have no '/', a dot in the
// game folder or the mod's name would send the module elsewhere. A name that
// already ends in ".qvm" is cut at that dot and gets it back, with every
// assembler; a name without such a dot stays as it is.
static const char* output_line(const ModuleOutput& output)
{
    char path[TEXT_BUFFER_SIZE];
    const char* formed = format_text("%s\\%s\\vm\\%s", output.q3path, output.modname, output.name);
    if (formed == NULL)
        return NULL;
    std::strcpy(path, formed);
    const char* slash = std::strrchr(path, '/');
    int cut = std::strchr(slash != NULL ? slash : path, '.') != NULL;
    return format_text("-o \"%s%s\"\n", path, cut ? ".qvm" : "");
}

static int write_output_line(NewFile* out, const ModuleOutput& output)
{
    // The assembler reads the path up to the next double quote, and a line
    // end would start another of its commands.
    if (breaks_a_quoted_line(output.q3path) || breaks_a_quoted_line(output.modname)) {
        note_refusal(out->path, "its output path holds a double quote or a line end");
        return 0;
    }
    return write_new_file_text(out, output_line(output));
}

// Writes the output line and then the list's text, and puts the file in
// place only when both are whole.
static int fill_command_file(NewFile* out, FileHandle list, const char* list_name,
                             const ModuleOutput& output)
{
    int read_failed = 0;
    if (!write_output_line(out, output)) {
        abandon_new_file(out);
        return SCRIPT_NOT_CREATED;
    }
    if (!copy_text(list, out->file, &read_failed)) {
        note_system_error(read_failed ? list_name : out->path);
        abandon_new_file(out);
        return read_failed ? LIST_NOT_READ : SCRIPT_NOT_CREATED;
    }
    return commit_new_file(out) ? SCRIPT_WRITTEN : SCRIPT_NOT_CREATED;
}

void write_build_script(const char* list_name, const char* sourcepath, const char* q3path,
                        const char* modname, const char* module_dir, const char* output_name)
{
    FileHandle list = open_source_file(list_name, NULL);
    if (list == NO_FILE) {
        report_failure(format_text("  Error opening %s", list_name));
        return;
    }
    const ModuleOutput output = {q3path, modname, output_name};
    // The list lies in the tree, whose files are never replaced: the command
    // file cannot be written over it.
    NewFile out;
    const char* path = format_text("%s\\%s\\%s.q3asm", sourcepath, module_dir, module_dir);
    int result = open_new_file(&out, path, std::strlen(sourcepath), 0666)
                     ? fill_command_file(&out, list, list_name, output)
                     : SCRIPT_NOT_CREATED;
    if (result == SCRIPT_WRITTEN)
        count_step_done();
    else if (result == LIST_NOT_READ)
        report_failure(format_text("  Error reading %s", list_name));
    else
        report_failure(
            format_text("  Error creating %s\\%s\\%s.q3asm", sourcepath, module_dir, module_dir));
    close_file(list);
}
