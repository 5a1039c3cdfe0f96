#include "write_launch_script.h"

#include "../support/failure.h"
#include "../support/held_folders.h"
#include "../support/new_file.h"
#include "../support/path_rules.h"
#include "../support/platform.h"
#include "../support/text_buffer.h"

#include <cstdio>
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

// Room for any argument in UTF-8 with every character escaped, so that only
// the code page can fail a conversion.
enum { BATCH_WORD_SIZE = 8 * TEXT_BUFFER_SIZE };

// `text` as the command interpreter is to read it: escaped, then in the
// code page it reads batch files in. Escaped as characters, in UTF-8, so
// that no byte of a double-byte character is taken for a ^ or a |. A
// character that page lacks would name another folder or mod: 0, with the
// reason noted against `shown`.
static int batch_word(const char* text, const char* caret_escaped, char* out, const char* shown)
{
    char utf8[BATCH_WORD_SIZE], escaped[BATCH_WORD_SIZE];
    if (convert_text(ARGUMENTS_PAGE, UTF8_PAGE, text, utf8, sizeof utf8) &&
        escape_for_batch(utf8, caret_escaped, escaped, sizeof escaped) &&
        convert_text(UTF8_PAGE, BATCH_PAGE, escaped, out, BATCH_WORD_SIZE))
        return 1;
    note_system_error(shown);
    return 0;
}

// Outside quotes the command interpreter acts on & | < > ^ and expands
// %...%; inside the quotes around the mod's name only % matters. No escape
// keeps a double quote or a line end from ending the quotes or the line: the
// rest of the name would run as a command.
static int write_launcher_lines(NewFile* out, const char* modname, const char* q3path)
{
    char folder[BATCH_WORD_SIZE], mod[BATCH_WORD_SIZE];
    int start = ON_WINDOWS ? windows_path_start(q3path) : RELATIVE_PATH;
    if (breaks_a_quoted_line(q3path) || breaks_a_quoted_line(modname)) {
        note_refusal(out->shown, "a name in it holds a double quote or a line end");
        return 0;
    }
    if (start == NETWORK_PATH || start == DEVICE_PATH) {
        note_refusal(out->shown, "the command interpreter cannot make a network or device path "
                                 "its current folder: give the game folder with a drive letter");
        return 0;
    }
    return batch_word(q3path, "&|<>^", folder, out->shown) &&
           batch_word(modname, "", mod, out->shown) &&
           write_new_file_text(out, format_text("@echo off\r\n%c:\r\ncd %s\r\nquake3.exe +set "
                                                "sv_pure 0 +set fs_game \"%s\"\r\n",
                                                folder[0], folder, mod));
}

void write_launch_script(const char* modname, const char* sourcepath, const char* q3path)
{
    NewFile out;
    HeldFolder* folder = held_folder(CODE_SET, "");
    char shown[TEXT_BUFFER_SIZE];
    if (folder != NULL &&
        open_new_file(&out, folder, "play it.bat", 0666, NULL,
                      join_path(&shown, sourcepath, "play it.bat", "")) &&
        finish_new_file(&out, write_launcher_lines(&out, modname, q3path)))
        count_step_done();
    else
        report_failure(format_text("  Error creating %s" SEP "play it.bat", sourcepath));
}
