#include "text_file.h"

#include "carriage_returns.h"

#include <cstdio>
#include <cstring>

void start_reading(TextReader* in, FileHandle file)
{
    in->file = file;
    in->next = in->end = 0;
    in->failed = 0;
}

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

// Copying and writing go through one translation, a block at a time; a block
// without a bare LF, the usual case for CR LF sources, goes out as it came in.
const std::size_t COPY_BLOCK = 128 * 1024;

// Each byte of a block has its forerunner in the buffer just before it: the
// last byte of the block before sits in front of where a block is read (on a
// boundary of its own, which the reads are quicker for). Both buffers have
// the room past the data that the translation needs.
const std::size_t INPUT_OFFSET = 64;
alignas(64) static char copy_input[INPUT_OFFSET + COPY_BLOCK + LOOP_READS_PAST];
alignas(64) static char copy_output[2 * COPY_BLOCK + LOOP_WRITES_PAST];
static char* const block = copy_input + INPUT_OFFSET;

// Writes the `count` bytes of text in `block`, and keeps the last of them as
// the next block's forerunner.
static int put_block(FileHandle out, std::size_t count)
{
    std::size_t length = chosen_carriage_return_loop()(block, count, copy_output);
    const char* text = length != 0 ? copy_output : block;
    block[-1] = block[count - 1];
    return write_file(out, text, length != 0 ? length : count);
}

int copy_text(FileHandle in, FileHandle out, int* read_failed)
{
    block[-1] = '\0'; // no CR comes before the first byte
    *read_failed = 0;
    for (;;) {
        long count = read_file(in, block, COPY_BLOCK);
        *read_failed = count < 0;
        if (count <= 0)
            return count == 0;
        if (!put_block(out, static_cast<std::size_t>(count)))
            return 0;
        // A short read of a regular file is its end: no need to ask again.
        if (static_cast<std::size_t>(count) < COPY_BLOCK)
            return 1;
    }
}

int write_text(FileHandle out, const char* text, std::size_t length)
{
    block[-1] = '\0';
    for (std::size_t done = 0; done < length; done += COPY_BLOCK) {
        std::size_t count = length - done < COPY_BLOCK ? length - done : COPY_BLOCK;
        std::memcpy(block, text + done, count);
        if (!put_block(out, count))
            return 0;
    }
    return 1;
}
