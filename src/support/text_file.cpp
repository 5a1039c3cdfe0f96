#include "text_file.h"

#include <cstdio>
#include <cstring>

static int next_byte(TextReader* in)
{
    if (in->next == in->end) {
        long got = in->failed ? -1 : read_file(in->file, in->buffer, sizeof in->buffer);
        in->failed = got < 0;
        if (got <= 0)
            return EOF;
        in->next = 0;
        in->end = static_cast<std::size_t>(got);
    }
    return static_cast<unsigned char>(in->buffer[in->next++]);
}

std::size_t read_text_line(TextReader* in, char* line, std::size_t size)
{
    std::size_t count = 0;
    while (count + 1 < size) {
        int c = next_byte(in);
        if (c == EOF)
            break;
        // A CR may be the first half of a pair; the byte after it, if not
        // the LF, is still in the buffer to be read again.
        if (c == '\r') {
            int after = next_byte(in);
            if (after == '\n')
                c = '\n';
            else if (after != EOF)
                in->next--;
        }
        line[count++] = static_cast<char>(c);
        if (c == '\n')
            break;
    }
    // A line cut short by a read error is none: the list's failure is told.
    if (in->failed)
        count = 0;
    if (size > 0)
        line[count] = '\0';
    return count;
}

// The C library's memchr finds line feeds many bytes at a time.
std::size_t add_carriage_returns(const char* text, std::size_t count, char before, char* out)
{
    std::size_t length = 0, copied = 0;
    const char* end = text + count;
    for (const char* at = text;
         (at = static_cast<const char*>(std::memchr(at, '\n', end - at))) != NULL; at++) {
        if ((at == text ? before : at[-1]) == '\r')
            continue;
        std::size_t run = static_cast<std::size_t>(at - text) - copied;
        std::memcpy(out + length, text + copied, run);
        length += run;
        out[length++] = '\r';
        copied += run;
    }
    if (length == 0)
        return 0;
    std::memcpy(out + length, text + copied, count - copied);
    return length + count - copied;
}

enum { COPY_BLOCK = 64 * 1024 };
static char copy_input[COPY_BLOCK];
static char copy_output[2 * COPY_BLOCK];

int copy_text(Handle in, Handle out, int* read_failed)
{
    char before = '\0'; // no CR comes before the first byte
    for (;;) {
        long count = read_file(in, copy_input, COPY_BLOCK);
        *read_failed = count < 0;
        if (count <= 0)
            return count == 0;
        std::size_t size = static_cast<std::size_t>(count);
        std::size_t length = add_carriage_returns(copy_input, size, before, copy_output);
        if (!write_file(out, length != 0 ? copy_output : copy_input, length != 0 ? length : size))
            return 0;
        before = copy_input[size - 1];
    }
}
