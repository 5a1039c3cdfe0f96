#include "support/carriage_returns.h"
#include "support/text_file.h"
#include "test_support.h"

#include <cstdio>
#include <fcntl.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

using TextFile = TempDirTest;

std::FILE* open_with(const fs::path& path, const std::string& bytes)
{
    write_file(path, bytes);
    return std::fopen(path.string().c_str(), "rb");
}

// What copy_text, with its loop numbered `loop`, makes of `input`, or a note
// of its failure.
std::string copy_of(const fs::path& root, const std::string& input, int loop)
{
    std::FILE* in = open_with(root / "source", input);
    std::FILE* out = std::fopen((root / "copy").string().c_str(), "wb");
    if (in == nullptr || out == nullptr)
        return "(cannot open the test files)";
    int copied = copy_text_with_loop(loop, in, out);
    std::fclose(in);
    std::fclose(out);
    return copied ? read_file(root / "copy") : "(copy_text failed)";
}

// What write_text makes of `text`, or a note of its failure.
std::string written(const fs::path& root, const std::string& text)
{
    std::FILE* out = std::fopen((root / "written").string().c_str(), "wb");
    if (out == nullptr)
        return "(cannot open the test file)";
    int wrote = write_text(out, text.data(), text.size());
    std::fclose(out);
    return wrote ? read_file(root / "written") : "(write_text failed)";
}

TEST_F(TextFile, LineReadsStopAfterLineFeedOrAtTheSizeAndJoinCrLf)
{
    struct Case {
        std::string input;
        std::size_t size;
        std::vector<std::string> reads;
    };
    const Case cases[] = {
        {"", 80, {}},
        {"a\nbc\n", 80, {"a\n", "bc\n"}},
        {"a\r\nb", 80, {"a\n", "b"}},
        {"abcd\n", 3, {"ab", "cd", "\n"}},
        {"ab\r\n", 3, {"ab", "\n"}},
        {"a\r\r\n", 80, {"a\r\n"}},
        {"a\rb\r", 80, {"a\rb\r"}},
        {std::string("x\0y\x1az\n", 6), 80, {std::string("x\0y\x1az\n", 6)}},
    };
    for (const Case& c : cases) {
        std::FILE* in = open_with(root / "list", c.input);
        ASSERT_NE(in, nullptr);
        std::vector<std::string> reads;
        char line[80];
        std::size_t count;
        while ((count = read_text_line(in, line, c.size)) > 0) {
            EXPECT_EQ(line[count], '\0');
            reads.emplace_back(line, count);
        }
        std::fclose(in);
        EXPECT_EQ(reads, c.reads) << "input " << testing::PrintToString(c.input);
    }
}

// Copies move large blocks; a CR LF pair, or an LF and the byte before it,
// split between two blocks must come out as if nothing were split.
TEST_F(TextFile, CopiesJoinWhatBlockEdgesSplit)
{
    for (std::size_t edge : {4096, 16384, 65536, 131072, 262144}) {
        const std::string before_edge(edge - 1, 'a');
        const std::pair<std::string, std::string> cases[] = {
            {before_edge + "\r\n", before_edge + "\r\n"},
            {before_edge + "a\n", before_edge + "a\r\n"},
            {before_edge + "\r\r\n", before_edge + "\r\r\n"},
            {before_edge + "\rb\n", before_edge + "\rb\r\n"},
        };
        for (int loop = 0; carriage_return_loop_name(loop) != NULL; loop++) {
            for (const auto& [input, expected] : cases) {
                EXPECT_TRUE(copy_of(root, input, loop) == expected)
                    << "edge " << edge << ", loop " << carriage_return_loop_name(loop);
            }
        }
    }
}

TEST_F(TextFile, CopiesWriteCrLfForEveryLineFeedAndKeepAllOtherBytes)
{
    std::string big_in, big_out, feeds_in, feeds_out, pairs_in, pairs_out;
    for (int i = 0; i < 40000; i++) {
        big_in += i % 2 ? "line\r\n" : "z\n";
        big_out += i % 2 ? "line\r\n" : "z\r\n";
    }
    // Rounds of 16 and of 64 bytes full of bare LFs; a CR, and a bare LF, at
    // every place in a round.
    for (int i = 0; i < 200; i++) {
        feeds_in += "\n";
        feeds_out += "\r\n";
        pairs_in += "\r\n\n";
        pairs_out += "\r\n\r\n";
    }
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"a\nb", "a\r\nb"},
        {"a\r\nb\r\n", "a\r\nb\r\n"},
        {"a\rb\r", "a\rb\r"},
        {"\na", "\r\na"}, // follows a text that ends in CR
        {"a\r\r\n", "a\r\r\n"},
        {std::string("n\0u\x1al\n", 6), std::string("n\0u\x1al\r\n", 7)},
        {big_in, big_out},
        {feeds_in, feeds_out},
        {pairs_in, pairs_out},
    };
    for (int loop = 0; carriage_return_loop_name(loop) != NULL; loop++) {
        for (const auto& [input, expected] : cases) {
            EXPECT_EQ(copy_of(root, input, loop), expected)
                << "loop " << carriage_return_loop_name(loop);
        }
    }
    // Writing text from memory goes the same way.
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(written(root, input), expected);
    }
}

// A stream open for reading whose every read fails: its descriptor is made
// one open only for writing. (A stream opened only for writing does not fail
// its reads in every C library.)
std::FILE* open_unreadable(const fs::path& path)
{
    std::FILE* in = open_with(path, "text");
    if (in == nullptr)
        return nullptr;
#ifdef _WIN32
    int writer = _open(path.string().c_str(), _O_WRONLY | _O_BINARY);
    int replaced = writer >= 0 && _dup2(writer, _fileno(in)) == 0;
    if (writer >= 0)
        _close(writer);
#else
    int writer = open(path.c_str(), O_WRONLY);
    int replaced = writer >= 0 && dup2(writer, fileno(in)) >= 0;
    if (writer >= 0)
        close(writer);
#endif
    if (!replaced) {
        std::fclose(in);
        return nullptr;
    }
    return in;
}

TEST_F(TextFile, CopyReportsAReadError)
{
    std::FILE* in = open_unreadable(root / "source");
    std::FILE* out = std::fopen((root / "copy").string().c_str(), "wb");
    ASSERT_TRUE(in && out);
    EXPECT_EQ(copy_text(in, out), 0);
    std::fclose(in);
    std::fclose(out);
}

} // namespace
