// Fuzzes forkit's text mode: a file is read by line reads of fuzzed sizes,
// copied whole with copy_text, and its bytes put through the translation
// after a CR and after another byte, and every result is held against a
// plain model of the translation.
//
// Input: [pad] [ops] [op...] [text...]
//   pad  puts the text after 0, 4, 64 or 128 Ki minus up to 31 bytes of
//        filler, so that it meets the edges of the reader's buffer and of one
//        or two copy blocks;
//   ops  how many op bytes follow (at most 63); each is a line read of at
//        most (op >> 1) + 1 characters.

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

// A file of the fuzzer's own, emptied or read from its start.
int fresh(std::FILE* file)
{
    std::rewind(file);
    check(ftruncate(fileno(file), 0) == 0, "setup truncate");
    return fileno(file);
}

std::string contents(int fd)
{
    std::string bytes;
    char block[65536];
    ssize_t count;
    check(lseek(fd, 0, SEEK_SET) == 0, "setup seek");
    while ((count = read(fd, block, sizeof block)) > 0)
        bytes.append(block, static_cast<std::size_t>(count));
    return bytes;
}

std::string line_reads(int fd, const std::uint8_t* ops, std::size_t op_count, std::size_t length)
{
    static char buffer[256];
    check(lseek(fd, 0, SEEK_SET) == 0, "setup seek");
    TextReader reader = {fd};
    std::string read;
    for (std::size_t i = 0; i < op_count || read.size() < length; i++) {
        // A line read of size 1 has no room for a character; from 2 on.
        std::size_t line_size = (i < op_count ? ops[i] >> 1 : 127) + 2;
        std::size_t count = read_text_line(&reader, buffer, line_size);
        check(count < line_size && buffer[count] == '\0', "a line read past its size");
        std::string line(buffer, count);
        check(line.find('\n') == std::string::npos || line.find('\n') == count - 1,
              "a line read past its line feed");
        if (count == 0)
            break;
        read += line;
    }
    return read;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    static const std::size_t edges[] = {0, 4096, 65536, 131072};
    std::size_t edge = edges[data[0] & 3];
    std::size_t pad = edge > (data[0] >> 3) ? edge - (data[0] >> 3) : 0;
    std::size_t op_count = data[1] & 63;
    if (size < 2 + op_count)
        return 0;
    const std::uint8_t* ops = data + 2;
    const std::string bytes =
        std::string(pad, 'x') +
        std::string(reinterpret_cast<const char*>(ops + op_count), size - 2 - op_count);
    const std::string text = model_read(bytes);

    static std::FILE* in_file = std::tmpfile();
    static std::FILE* out_file = std::tmpfile();
    check(in_file != NULL && out_file != NULL, "no temporary files");
    const int in = fresh(in_file);
    check(write(in, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()), "setup");

    check(line_reads(in, ops, op_count, text.size()) == text, "line reads differ from the model");

    int out = fresh(out_file), read_failed = 0;
    check(lseek(in, 0, SEEK_SET) == 0, "setup seek");
    check(copy_text(in, out, &read_failed) == 1, "copy failed");
    check(contents(out) == model_write(text), "the copy differs from the model");

    // The translation alone, after a CR and after another byte: a CR before
    // each LF that has none, or nothing when every LF has one.
    for (char before : {'\r', 'x'}) {
        const std::string expected = model_write(model_read(std::string(1, before) + bytes));
        std::string got(2 * bytes.size(), '\0');
        std::size_t length = add_carriage_returns(bytes.data(), bytes.size(), before, &got[0]);
        got.resize(length);
        check((length == 0 ? std::string(1, before) + bytes : before + got) == expected,
              "the translation differs from the model");
    }
    return 0;
}
