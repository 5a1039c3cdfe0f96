#include "text_file.h"

#include "carriage_returns.h"

#include <cstring>

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

// Copying and writing go through one translation, a block at a time; a block
// without a bare LF, the usual case for CR LF sources, goes out as it came in.
enum { COPY_BLOCK = 128 * 1024 };

// Each byte of a block has its forerunner in the buffer just before it: the
// last byte of the block before sits in front of where a block is read (on a
// boundary of its own, which the reads are quicker for). Both buffers have
// the room past the data that the translation needs.
enum { INPUT_OFFSET = 64 };
alignas(64) static char copy_input[INPUT_OFFSET + COPY_BLOCK + LOOP_READS_PAST];
alignas(64) static char copy_output[2 * COPY_BLOCK + LOOP_WRITES_PAST];
static char* const block = copy_input + INPUT_OFFSET;

// Writes the `count` bytes of text in `block` to `out` through the loop
// `add`, and keeps the last of them as the next block's forerunner.
static int put_block(std::FILE* out, std::size_t count, AddCarriageReturns* add)
{
    const char* text = block;
    std::size_t length = add(block, count, copy_output);
    if (length != 0)
        text = copy_output;
    else
        length = count;
    block[-1] = block[count - 1];
    return std::fwrite(text, 1, length, out) == length;
}

static int copy_blocks(std::FILE* in, std::FILE* out, AddCarriageReturns* add)
{
    block[-1] = '\0'; // no CR comes before the first byte
    std::size_t count;
    while ((count = std::fread(block, 1, COPY_BLOCK, in)) > 0) {
        if (!put_block(out, count, add))
            return 0;
        // A short read is the end of the file or an error: no need to ask again.
        if (count < COPY_BLOCK)
            break;
    }
    return !std::ferror(in);
}

int write_text(std::FILE* out, const char* text, std::size_t length)
{
    block[-1] = '\0';
    for (std::size_t done = 0; done < length; done += COPY_BLOCK) {
        std::size_t count = length - done;
        if (count > COPY_BLOCK)
            count = COPY_BLOCK;
        std::memcpy(block, text + done, count);
        if (!put_block(out, count, fastest_carriage_return_loop()))
            return 0;
    }
    return 1;
}

int copy_text(std::FILE* in, std::FILE* out)
{
    return copy_blocks(in, out, fastest_carriage_return_loop());
}

int copy_text_with_loop(int loop, std::FILE* in, std::FILE* out)
{
    AddCarriageReturns* add = carriage_return_loop(loop);
    return add != NULL && copy_blocks(in, out, add);
}
