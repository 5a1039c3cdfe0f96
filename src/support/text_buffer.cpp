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

const char* join_path(char (*out)[TEXT_BUFFER_SIZE], const char* first, const char* second,
                      const char* third)
{
    int length =
        std::snprintf(*out, sizeof *out, "%s%s%s%s%s", first,
                      first[0] != '\0' && (second[0] != '\0' || third[0] != '\0') ? SEP : "",
                      second, second[0] != '\0' && third[0] != '\0' ? SEP : "", third);
    return length >= 0 && length < TEXT_BUFFER_SIZE ? *out : NULL;
}

int breaks_a_quoted_line(const char* text)
{
    return std::strpbrk(text, "\"\r\n") != NULL;
}

// The length of the well-formed UTF-8 character at `c` (RFC 3629: no
// overlong form, no surrogate, nothing above U+10FFFF); 0 if none starts
// there.
static std::size_t utf8_length(const unsigned char* c)
{
    std::size_t length = c[0] >= 0xF0 ? 4 : c[0] >= 0xE0 ? 3 : 2;
    unsigned char low = c[0] == 0xE0 ? 0xA0 : c[0] == 0xF0 ? 0x90 : 0x80;
    unsigned char high = c[0] == 0xED ? 0x9F : c[0] == 0xF4 ? 0x8F : 0xBF;
    if (c[0] < 0xC2 || c[0] > 0xF4 || c[1] < low || c[1] > high)
        return 0;
    for (std::size_t i = 2; i < length; i++) {
        if (c[i] < 0x80 || c[i] > 0xBF)
            return 0;
    }
    return length;
}

// Names come from lists and arguments: a control in one (an escape, a CR,
// the CSI U+009B) must not reach the terminal as itself. C0 controls show
// as '?'; in UTF-8 so do the C1 controls (C2 80 to C2 9F) and any byte 80
// to 9F outside a well-formed character, which an 8-bit terminal obeys.
// Every other byte passes, a Windows code page's too (`utf8` 0).
static void show(const char* text, int utf8, char* shown, std::size_t size)
{
    std::size_t at = 0;
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(text);
         *c != '\0' && at + 5 < size;) {
        std::size_t length = utf8 ? utf8_length(c) : 0;
        int control =
            (*c < 32 && *c != '\t' && *c != '\n') || *c == 127 ||
            (utf8 && (length == 0 ? *c >= 0x80 && *c <= 0x9F : c[0] == 0xC2 && c[1] <= 0x9F));
        if (control) {
            shown[at++] = '?';
            c += length > 0 ? length : 1;
            continue;
        }
        for (std::size_t i = 0; i < (length > 0 ? length : 1); i++)
            shown[at++] = static_cast<char>(*c++);
    }
    shown[at++] = '\n';
    shown[at] = '\0';
}

// Only a Windows console takes characters; everything else, bytes.
static void write_shown(std::FILE* stream, const char* text)
{
    char utf8[4 * TEXT_BUFFER_SIZE], shown[sizeof utf8 + 2];
    if (is_console(stream) && convert_text(ARGUMENTS_PAGE, UTF8_PAGE, text, utf8, sizeof utf8)) {
        show(utf8, 1, shown, sizeof shown);
        write_console(stream, shown);
        return;
    }
    show(text, !ON_WINDOWS, shown, sizeof shown);
    (void)std::fputs(shown, stream);
    (void)std::fflush(stream);
}

void print_line(const char* text)
{
    write_shown(stdout, text != NULL ? text : text_buffer);
}

void print_error_line(const char* text)
{
    write_shown(stderr, text);
}
