#include "write_build_script.h"

#include "../support/failure.h"
#include "../support/new_file.h"
#include "../support/platform.h"
#include "../support/text_buffer.h"
#include "../support/text_file.h"

#include <cstring>

// The line that names the assembler's output, in the shared buffer; NULL if
// it does not fit. The assembler cuts the name at the last dot after the last
// '/' and adds ".qvm"; with Windows paths, which have no '/', a dot in the
// game folder or the mod's name would send the module elsewhere. A name that
// already ends in ".qvm" is cut at that dot and gets it back, with every
// assembler; a name without such a dot stays as it is.
static const char* output_line(const char* q3path, const char* modname, const char* output_name)
{
    char output[TEXT_BUFFER_SIZE];
    const char* formed = format_text("%s\\%s\\vm\\%s", q3path, modname, output_name);
    if (formed == NULL)
        return NULL;
    std::strcpy(output, formed);
    const char* slash = std::strrchr(output, '/');
    int cut = std::strchr(slash != NULL ? slash : output, '.') != NULL;
    return format_text("-o \"%s%s\"\n", output, cut ? ".qvm" : "");
}

static int write_command_file(std::FILE* list, const char* list_name, const char* sourcepath,
                              const char* q3path, const char* modname, const char* module_dir,
                              const char* output_name)
{
    const char* path = format_text("%s\\%s\\%s.q3asm", sourcepath, module_dir, module_dir);
    NewFile out;
    // A command file that is the list itself would lose the list.
    if (path == NULL || same_file(list_name, path) || !open_new_file(&out, path))
        return 0;
    const char* line = output_line(q3path, modname, output_name);
    int written =
        line != NULL && write_text(out.file, line, std::strlen(line)) && copy_text(list, out.file);
    return close_new_file(&out, written);
}

void write_build_script(const char* list_name, const char* sourcepath, const char* q3path,
                        const char* modname, const char* module_dir, const char* output_name)
{
    std::FILE* list = open_file(list_name, "rb");
    if (list == NULL) {
        print_line(format_text("  Error opening %s", list_name));
        return;
    }
    if (!write_command_file(list, list_name, sourcepath, q3path, modname, module_dir,
                            output_name)) {
        print_line(
            format_text("  Error creating %s\\%s\\%s.q3asm", sourcepath, module_dir, module_dir));
        print_failure(format_text("%s\\%s\\%s.q3asm", sourcepath, module_dir, module_dir));
    }
    (void)std::fclose(list);
}
