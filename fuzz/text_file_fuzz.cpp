// Fuzzes forkit's text mode: a file is read by line reads of fuzzed sizes,
// then copied to its end with copy_text and again with each of its loops,
// and every result is held against a plain model of the translation.
//
// Input: [pad] [ops] [op...] [text...]
//   pad  puts the text after 0, 4, 16, 64, 128 or 256 Ki minus up to 31 bytes
//        of filler, so that it meets the edges of the stdio buffer, of the
//        write buffer and of one or two copy blocks;
//   ops  how many op bytes follow (at most 63); each is a line read of at
//        most (op >> 1) + 1 characters.

#include "support/carriage_returns.h"
#include "support/text_file.h"
#include "text_model.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

void check(bool holds, const char* what)
{
    if (!holds) {
        std::fprintf(stderr, "text mode broken: %s\n", what);
        std::abort();
    }
}

std::string contents(std::FILE* file)
{
    std::string bytes;
    std::rewind(file);
    char block[65536];
    std::size_t count;
    while ((count = std::fread(block, 1, sizeof block, file)) > 0)
        bytes.append(block, count);
    return bytes;
}

// Rewinding also drops any character given back with ungetc and the end flag.
void empty(std::FILE* file)
{
    std::rewind(file);
    check(ftruncate(fileno(file), 0) == 0, "setup truncate");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    static const std::size_t edges[] = {0, 4096, 16384, 65536, 131072, 262144};
    std::size_t edge = edges[(data[0] & 7) % 6];
    std::size_t pad = edge > (data[0] >> 3) ? edge - (data[0] >> 3) : 0;
    std::size_t op_count = data[1] & 63;
    if (size < 2 + op_count)
        return 0;
    const std::uint8_t* ops = data + 2;
    const std::string bytes =
        std::string(pad, 'x') +
        std::string(reinterpret_cast<const char*>(ops + op_count), size - 2 - op_count);
    const std::string text = model_read(bytes);

    static std::FILE* in = std::tmpfile();
    static std::FILE* out = std::tmpfile();
    check(in != NULL && out != NULL, "no temporary files");
    empty(in);
    empty(out);
    check(std::fwrite(bytes.data(), 1, bytes.size(), in) == bytes.size(), "setup write");
    std::rewind(in);

    static char buffer[256];
    std::string read;
    for (std::size_t i = 0; i < op_count; i++) {
        std::size_t limit = (ops[i] >> 1) + 1;
        // A line read of size 1 has no room for a character; from 2 on.
        std::size_t line_size = limit + 1;
        buffer[line_size - 1] = 'z';
        std::size_t count = read_text_line(in, buffer, line_size);
        check(count < line_size && buffer[count] == '\0', "a line read past its size");
        check(count > 0 || read.size() == text.size(), "a line read ended early");
        std::string line(buffer, count);
        check(line.find('\n') == std::string::npos || line.find('\n') == count - 1,
              "a line read past its line feed");
        check(count == 0 || line.back() == '\n' || count == line_size - 1 ||
                  read.size() + count == text.size(),
              "a line read stopped short");
        read += line;
        check(text.compare(0, read.size(), read) == 0, "reads differ from the model");
    }
    const std::string copy = model_write(text.substr(read.size()));
    long rest = std::ftell(in);
    check(rest >= 0, "setup tell");
    check(copy_text(in, out) == 1, "copy failed");
    check(std::fflush(out) == 0, "flush");
    check(contents(out) == copy, "copy differs from the model");
    for (int loop = 0; carriage_return_loop_name(loop) != NULL; loop++) {
        empty(out);
        check(std::fseek(in, rest, SEEK_SET) == 0, "setup seek");
        check(copy_text_with_loop(loop, in, out) == 1, "copy failed");
        check(std::fflush(out) == 0, "flush");
        const std::string what = std::string("the copy of loop ") + carriage_return_loop_name(loop);
        check(contents(out) == copy, (what + " differs from the model").c_str());
    }

    // Writing alone, as the command files are written: as if `text` were
    // copied from a file.
    empty(out);
    check(write_text(out, text.data(), text.size()) == 1, "write failed");
    check(std::fflush(out) == 0, "flush");
    check(contents(out) == model_write(model_read(text)), "write differs from the model");
    return 0;
}
