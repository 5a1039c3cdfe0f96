#include "text_buffer.h"

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

void print_line(const char* text)
{
    std::fputs(text != NULL ? text : text_buffer, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}
