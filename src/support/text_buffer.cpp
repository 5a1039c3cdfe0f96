#include "text_buffer.h"

#include "platform.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

static char text_buffer[TEXT_BUFFER_SIZE];

const char* format_text(const char* tmpl, ...)
{
    va_list args;
    va_start(args, tmpl);
    int needed = vsnprintf(text_buffer, sizeof text_buffer, tmpl, args);
    va_end(args);
    if (needed >= 0 && needed < TEXT_BUFFER_SIZE)
        return text_buffer;
    // Some C libraries neither terminate a cut result nor say how long it
    // would be; either way the cut is terminated and marked.
    text_buffer[TEXT_BUFFER_SIZE - 1] = '\0';
    std::memcpy(text_buffer + TEXT_BUFFER_SIZE - 4, "...", 3);
    return NULL;
}

int breaks_a_quoted_line(const char* text)
{
    return std::strpbrk(text, "\"\r\n") != NULL;
}

// Names come from lists and arguments: a C0 or C1 control in one (an escape,
// a CR, the one-character CSI U+009B) must not reach the terminal as itself.
// In UTF-8 a C1 control is C2 80 to C2 9F, or a byte 80 to 9F that continues
// no character, which an 8-bit terminal obeys; other bytes of characters
// pass, as do a Windows code page's.
static void show(const char* text, int utf8, char* shown, std::size_t size)
{
    std::size_t at = 0;
    int continuing = 0; // bytes still to come of a UTF-8 character
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(text);
         *c != '\0' && at + 2 < size; c++) {
        int c1 = utf8 && ((c[0] == 0xC2 && c[1] >= 0x80 && c[1] <= 0x9F) ||
                          (continuing == 0 && c[0] >= 0x80 && c[0] <= 0x9F));
        int control = (*c < 32 && *c != '\t' && *c != '\n') || *c == 127;
        shown[at++] = c1 || control ? '?' : static_cast<char>(*c);
        c += c1 && c[0] == 0xC2;
        continuing = *c >= 0xC0                     ? (*c >= 0xF0   ? 3
                                                       : *c >= 0xE0 ? 2
                                                                    : 1)
                     : *c >= 0x80 && continuing > 0 ? continuing - 1
                                                    : 0;
    }
    shown[at++] = '\n';
    shown[at] = '\0';
}

static void write_shown(std::FILE* stream, const char* text)
{
    // Only a Windows console takes characters; elsewhere the bytes are UTF-8.
    char utf8[4 * TEXT_BUFFER_SIZE], shown_utf8[sizeof utf8 + 2], shown[sizeof utf8 + 2];
    int converted = ON_WINDOWS && convert_text(ARGUMENTS_PAGE, UTF8_PAGE, text, utf8, sizeof utf8);
    show(converted ? utf8 : "", 1, shown_utf8, sizeof shown_utf8);
    show(text, !ON_WINDOWS, shown, sizeof shown);
    write_console(stream, shown, converted ? shown_utf8 : NULL);
}

void print_line(const char* text)
{
    write_shown(stdout, text != NULL ? text : text_buffer);
}

void print_error_line(const char* text)
{
    write_shown(stderr, text);
}
