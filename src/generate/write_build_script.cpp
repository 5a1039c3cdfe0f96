#include "write_build_script.h"

#include "../support/new_file.h"
#include "../support/platform.h"
#include "../support/text_buffer.h"
#include "../support/text_file.h"

#include <cstring>

static int write_command_file(std::FILE* list, const char* list_name, const char* sourcepath,
                              const char* q3path, const char* modname, const char* module_dir,
                              const char* output_name)
{
    const char* path = format_text("%s\\%s\\%s.q3asm", sourcepath, module_dir, module_dir);
    NewFile out;
    // A command file that is the list itself would lose the list.
    if (path == NULL || same_file(list_name, path) || !open_new_file(&out, path))
        return 0;
    const char* output_line = format_text("-o \"%s\\%s\\vm\\%s\"\n", q3path, modname, output_name);
    int written = output_line != NULL &&
                  write_text(out.file, output_line, std::strlen(output_line)) &&
                  copy_text(list, out.file);
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
    if (!write_command_file(list, list_name, sourcepath, q3path, modname, module_dir, output_name))
        print_line(
            format_text("  Error creating %s\\%s\\%s.q3asm", sourcepath, module_dir, module_dir));
    (void)std::fclose(list);
}
