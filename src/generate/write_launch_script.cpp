#include "write_launch_script.h"

#include "../support/failure.h"
#include "../support/new_file.h"
#include "../support/platform.h"
#include "../support/text_buffer.h"
#include "../support/text_file.h"

#include <cstring>

int escape_for_batch(const char* text, const char* caret_escaped, char* escaped, std::size_t size)
{
    std::size_t used = 0;
    for (; *text != '\0'; text++) {
        int prefixed = *text == '%' || std::strchr(caret_escaped, *text) != NULL;
        if (used + prefixed + 1 >= size)
            return 0;
        if (prefixed)
            escaped[used++] = *text == '%' ? '%' : '^';
        escaped[used++] = *text;
    }
    escaped[used] = '\0';
    return 1;
}

static int write_formatted(std::FILE* out, const char* line)
{
    return line != NULL && write_text(out, line, std::strlen(line));
}

static int write_launcher_lines(std::FILE* out, const char* modname, const char* q3path)
{
    // Outside quotes the command interpreter acts on & | < > ^ and expands
    // %...%; inside the quotes around the mod's name only % matters.
    char folder[TEXT_BUFFER_SIZE];
    char mod[TEXT_BUFFER_SIZE];
    return escape_for_batch(q3path, "&|<>^", folder, sizeof folder) &&
           escape_for_batch(modname, "", mod, sizeof mod) && write_formatted(out, "@echo off\n") &&
           write_formatted(out, format_text("%c:\n", q3path[0])) &&
           write_formatted(out, format_text("cd %s\n", folder)) &&
           write_formatted(out, format_text("quake3.exe +set fs_game \"%s\"\n", mod));
}

static int write_launcher(const char* modname, const char* q3path, const char* path)
{
    // The command interpreter reads a batch file in its own code page, not in
    // the one the names arrive in. A name that page cannot hold would start
    // the game elsewhere, so it fails here, before any file is made.
    char folder[TEXT_BUFFER_SIZE];
    char mod[TEXT_BUFFER_SIZE];
    if (!convert_for_batch_file(q3path, folder, sizeof folder) ||
        !convert_for_batch_file(modname, mod, sizeof mod)) {
        note_system_error(path);
        return 0;
    }
    NewFile out;
    return open_new_file(&out, path) &&
           close_new_file(&out, write_launcher_lines(out.file, mod, folder));
}

void write_launch_script(const char* modname, const char* sourcepath, const char* q3path)
{
    char buffer[TEXT_BUFFER_SIZE];
    const char* path = format_text("%s\\play it.bat", sourcepath);
    if (path != NULL)
        path = std::strcpy(buffer, path);
    if (!write_launcher(modname, q3path, path)) {
        print_line(format_text("  Error creating %s\\play it.bat", sourcepath));
        print_failure(path);
    }
}
