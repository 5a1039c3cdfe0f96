#include "text_buffer.h"

#include "platform.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

static char text_buffer[TEXT_BUFFER_SIZE];

int breaks_a_quoted_line(const char* text)
{
    return std::strpbrk(text, "\"\r\n") != NULL;
}

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

static int is_shown_as_is(unsigned char c)
{
    return c == '\t' || c == '\n' || (c >= 32 && c != 127);
}

// Names come from lists and arguments; an escape sequence or a CR in one
// must not reach the terminal as itself.
static void write_shown(std::FILE* stream, const char* text)
{
    char shown[2 * TEXT_BUFFER_SIZE];
    std::size_t length = std::strlen(text);
    if (length >= sizeof shown)
        length = sizeof shown - 1;
    for (std::size_t i = 0; i < length; i++)
        shown[i] = is_shown_as_is(static_cast<unsigned char>(text[i])) ? text[i] : '?';
    shown[length] = '\0';
    write_line(stream, shown);
}

void print_line(const char* text)
{
    write_shown(stdout, text != NULL ? text : text_buffer);
}

void print_error_line(const char* text)
{
    write_shown(stderr, text);
}
