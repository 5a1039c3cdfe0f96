#include "text_file.h"

// A CR that ends what was read may be the first half of a pair: look at the
// next byte, and give it back if it is not the LF.
static int next_is_line_feed(std::FILE* in)
{
    int next = std::getc(in);
    if (next == '\n')
        return 1;
    if (next != EOF)
        (void)std::ungetc(next, in);
    return 0;
}

std::size_t read_text_line(std::FILE* in, char* line, std::size_t size)
{
    std::size_t count = 0;
    while (count + 1 < size) {
        int c = std::getc(in);
        if (c == EOF)
            break;
        if (c == '\r' && next_is_line_feed(in))
            c = '\n';
        line[count++] = static_cast<char>(c);
        if (c == '\n')
            break;
    }
    if (size > 0)
        line[count] = '\0';
    return count;
}

std::size_t read_text(std::FILE* in, char* text, std::size_t size)
{
    std::size_t count = std::fread(text, 1, size, in);
    std::size_t kept = 0;
    for (std::size_t i = 0; i < count; i++) {
        if (text[i] == '\r' && i + 1 < count && text[i + 1] == '\n')
            continue;
        text[kept++] = text[i];
    }
    if (kept > 0 && text[kept - 1] == '\r' && next_is_line_feed(in))
        text[kept - 1] = '\n';
    return kept;
}

int write_text(std::FILE* out, const char* text, std::size_t length)
{
    char wide[16384];
    std::size_t filled = 0;
    for (std::size_t i = 0; i < length; i++) {
        if (filled + 2 > sizeof wide) {
            if (std::fwrite(wide, 1, filled, out) != filled)
                return 0;
            filled = 0;
        }
        if (text[i] == '\n')
            wide[filled++] = '\r';
        wide[filled++] = text[i];
    }
    return std::fwrite(wide, 1, filled, out) == filled;
}

int copy_text(std::FILE* in, std::FILE* out)
{
    static char block[65536];
    std::size_t count;
    while ((count = read_text(in, block, sizeof block)) > 0) {
        if (!write_text(out, block, count))
            return 0;
    }
    return !std::ferror(in);
}
