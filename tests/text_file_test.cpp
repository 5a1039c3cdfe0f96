#include "support/carriage_returns.h"
#include "support/carriage_returns_by_byte.h"
#include "support/text_file.h"
#include "test_support.h"

namespace {

using TextFile = TempDirTest;

FileHandle open_with(const fs::path& path, const std::string& bytes)
{
    write_file(path, bytes);
    OpenedFile info;
    return open_for_reading(path.string().c_str(), &info);
}

// What copy_text, or write_text when `as_text`, makes of `input` in a new
// file; or a note of its failure.
std::string copied(const fs::path& root, const std::string& input, bool as_text = false)
{
    const std::string temporary = (root / "copy.new").string(), copy = (root / "copy").string();
    FileHandle in = open_with(root / "source", input);
    int taken = 0, read_failed = 0;
    FileHandle out = create_locked(temporary.c_str(), 0666, &taken);
    if (in == NO_FILE || out == NO_FILE)
        return "(cannot open the test files)";
    int done =
        as_text ? write_text(out, input.data(), input.size()) : copy_text(in, out, &read_failed);
    close_file(in);
    if (!done || !commit_file(out, temporary.c_str(), copy.c_str()))
        return "(failed)";
    return read_file(copy);
}

TEST_F(TextFile, LineReadsStopAfterLineFeedOrAtTheSizeAndJoinCrLf)
{
    struct Case {
        std::string input;
        std::size_t size;
        std::vector<std::string> reads;
    };
    const std::string over_a_buffer = std::string(4095, 'b') + "\r";
    const Case cases[] = {
        {"", 80, {}},
        {"a\nbc\n", 80, {"a\n", "bc\n"}},
        {"a\r\nb", 80, {"a\n", "b"}},
        {"abcd\n", 3, {"ab", "cd", "\n"}},
        {"ab\r\n", 3, {"ab", "\n"}},
        {"a\r\r\n", 80, {"a\r\n"}},
        {"a\rb\r", 80, {"a\rb\r"}},
        {std::string("x\0y\x1az\n", 6), 80, {std::string("x\0y\x1az\n", 6)}},
        // A pair split between two reads of the file.
        {over_a_buffer + "\nc", 8192, {std::string(4095, 'b') + "\n", "c"}},
        {over_a_buffer + "c", 8192, {over_a_buffer + "c"}},
    };
    for (const Case& c : cases) {
        FileHandle in = open_with(root / "list", c.input);
        ASSERT_NE(in, NO_FILE);
        TextReader reader;
        start_reading(&reader, in);
        std::vector<std::string> reads;
        std::vector<char> line(c.size);
        std::size_t count;
        while ((count = read_text_line(&reader, line.data(), c.size)) > 0) {
            EXPECT_EQ(line[count], '\0');
            reads.emplace_back(line.data(), count);
        }
        close_file(in);
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
        for (const auto& [input, expected] : cases) {
            EXPECT_TRUE(copied(root, input) == expected) << "edge " << edge;
            EXPECT_TRUE(copied(root, input, true) == expected) << "edge " << edge;
        }
    }
}

// Every loop a build may take gives the bytes of the plain one, which puts a
// CR before each bare LF and keeps every other byte.
TEST_F(TextFile, EveryLoopPutsACarriageReturnBeforeEachBareLineFeed)
{
    std::string big_in, big_out, feeds_in, feeds_out, pairs_in, pairs_out;
    for (int i = 0; i < 40000; i++) {
        big_in += i % 2 ? "line\r\n" : "z\n";
        big_out += i % 2 ? "line\r\n" : "z\r\n";
    }
    // Chunks full of bare LFs; a CR, and a bare LF, at every place in a chunk.
    for (int i = 0; i < 200; i++) {
        feeds_in += "\n";
        feeds_out += "\r\n";
        pairs_in += "\r\n\n";
        pairs_out += "\r\n\r\n";
    }
    const std::pair<std::string, std::string> cases[] = {
        {"a\nb", "a\r\nb"},
        {"a\r\nb\r\n", ""}, // no bare LF: goes out as it is
        {"a\rb\r", ""},
        {"\na", "\r\na"},
        {"a\r\r\n", ""},
        {std::string("n\0u\x1al\n", 6), std::string("n\0u\x1al\r\n", 7)},
        {std::string(15, 'x') + "\n" + std::string(17, 'y') + "\n",
         std::string(15, 'x') + "\r\n" + std::string(17, 'y') + "\r\n"},
        {big_in, big_out},
        {feeds_in, feeds_out},
        {pairs_in, pairs_out},
    };
    std::vector<std::pair<const char*, AddCarriageReturns*>> loops = {
        {"byte", add_carriage_returns_by_byte}};
    for (int i = 0; i < CARRIAGE_RETURN_LOOP_COUNT; i++)
        if (CARRIAGE_RETURN_LOOPS[i].add != nullptr)
            loops.emplace_back(CARRIAGE_RETURN_LOOPS[i].name, CARRIAGE_RETURN_LOOPS[i].add);
    for (const auto& [name, add] : loops) {
        for (const auto& [input, expected] : cases) {
            // Bare LFs in what may be read past the text are not its own.
            std::string text = "x" + input + std::string(LOOP_READS_PAST, '\n');
            std::string out(2 * input.size() + LOOP_WRITES_PAST, '\0');
            std::size_t length = add(&text[1], input.size(), &out[0]);
            EXPECT_TRUE(out.substr(0, length) == expected) << name << " " << input.size();
        }
    }
}

TEST_F(TextFile, ACopyTellsAReadError)
{
    const std::string one = (root / "one").string(), two = (root / "two").string();
    int taken = 0, read_failed = 0;
    FileHandle in = create_locked(one.c_str(), 0666, &taken);
    FileHandle out = create_locked(two.c_str(), 0666, &taken);
    ASSERT_TRUE(in != NO_FILE && out != NO_FILE);
    // Read from a file open only for writing.
    EXPECT_EQ(copy_text(in, out, &read_failed), 0);
    EXPECT_EQ(read_failed, 1);
    abandon_file(in, one.c_str());
    abandon_file(out, two.c_str());
}

} // namespace
