#include "write_launch_script.h"

#include "../support/failure.h"
#include "../support/new_file.h"
#include "../support/platform.h"
#include "../support/text_buffer.h"

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

static int write_launcher_lines(NewFile* out, const char* modname, const char* q3path)
{
    // No escape keeps a double quote or a line end from ending the mod's
    // quotes or the line: the rest of the name would run as a command.
    if (breaks_a_quoted_line(q3path) || breaks_a_quoted_line(modname)) {
        note_refusal(out->path, "a name in it holds a double quote or a line end");
        return 0;
    }
    // Outside quotes the command interpreter acts on & | < > ^ and expands
    // %...%; inside the quotes around the mod's name only % matters.
    char folder[TEXT_BUFFER_SIZE];
    char mod[TEXT_BUFFER_SIZE];
    if (!escape_for_batch(q3path, "&|<>^", folder, sizeof folder) ||
        !escape_for_batch(modname, "", mod, sizeof mod))
        return write_new_file_text(out, NULL);
    return write_new_file_text(out, "@echo off\n") &&
           write_new_file_text(out, format_text("%c:\n", q3path[0])) &&
           write_new_file_text(out, format_text("cd %s\n", folder)) &&
           write_new_file_text(out, format_text("quake3.exe +set fs_game \"%s\"\n", mod));
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
    return open_new_file(&out, path, NULL) &&
           close_new_file(&out, write_launcher_lines(&out, mod, folder));
}

void write_launch_script(const char* modname, const char* sourcepath, const char* q3path)
{
    char buffer[TEXT_BUFFER_SIZE];
    const char* path = format_text("%s\\play it.bat", sourcepath);
    if (path != NULL)
        path = std::strcpy(buffer, path);
    if (!write_launcher(modname, q3path, path))
        report_failure(format_text("  Error creating %s\\play it.bat", sourcepath));
}
