#include "support/platform.h"
#include "support/text_file.h"
#include "test_support.h"

namespace {

// Runs each test in a temporary folder that it holds open.
class TextFile : public TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        folder = open_folder(root.string().c_str(), nullptr);
        ASSERT_NE(folder, NO_HANDLE);
    }
    void TearDown() override
    {
        close_file(folder);
        TempDirTest::TearDown();
    }

    Handle open_with(const std::string& name, const std::string& bytes)
    {
        write_file(root / name, bytes);
        return open_file_below(folder, name.c_str());
    }

    // What copy_text makes of `input` in a new file; or a note of its failure.
    std::string copied(const std::string& input)
    {
        Handle in = open_with("source", input);
        int taken = 0, read_failed = 0;
        fs::remove(root / "copy.new");
        Handle out = create_file_below(folder, "copy.new", 0666, &taken);
        if (in == NO_HANDLE || out == NO_HANDLE)
            return "(cannot open the test files)";
        int done = copy_text(in, out, &read_failed);
        close_file(in);
        if (!done || !put_in_place(folder, out, "copy.new", "copy"))
            return "(failed)";
        return read_file(root / "copy");
    }

    Handle folder = NO_HANDLE;
};

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
        Handle in = open_with("list", c.input);
        ASSERT_NE(in, NO_HANDLE);
        TextReader reader = {in};
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
    for (std::size_t edge : {4096, 65536, 131072}) {
        const std::string before_edge(edge - 1, 'a');
        const std::pair<std::string, std::string> cases[] = {
            {before_edge + "\r\n", before_edge + "\r\n"},
            {before_edge + "a\n", before_edge + "a\r\n"},
            {before_edge + "\r\r\n", before_edge + "\r\r\n"},
            {before_edge + "\rb\n", before_edge + "\rb\r\n"},
        };
        for (const auto& [input, expected] : cases)
            EXPECT_TRUE(copied(input) == expected) << "edge " << edge;
    }
}

// A CR goes before each LF that has none, and every other byte stays.
TEST_F(TextFile, ACarriageReturnGoesBeforeEachBareLineFeed)
{
    std::string feeds_in, feeds_out, pairs_in, pairs_out;
    for (int i = 0; i < 200; i++) {
        feeds_in += "\n";
        feeds_out += "\r\n";
        pairs_in += "\r\n\n";
        pairs_out += "\r\n\r\n";
    }
    struct Case {
        std::string input;
        char before;
        std::string expected; // "" when the text goes out as it is
    };
    const Case cases[] = {
        {"a\nb", 0, "a\r\nb"},
        {"a\r\nb\r\n", 0, ""},
        {"a\rb\r", 0, ""},
        {"\na", 0, "\r\na"},
        {"\na", '\r', ""},
        {"a\r\r\n", 0, ""},
        {std::string("n\0u\x1al\n", 6), 0, std::string("n\0u\x1al\r\n", 7)},
        {feeds_in, 0, feeds_out},
        {pairs_in, 0, pairs_out},
    };
    for (const Case& c : cases) {
        std::string out(2 * c.input.size(), '\0');
        std::size_t length =
            add_carriage_returns(c.input.data(), c.input.size(), c.before, &out[0]);
        EXPECT_TRUE(out.substr(0, length) == c.expected) << c.input.size();
    }
}

TEST_F(TextFile, ACopyTellsAReadError)
{
    int taken = 0, read_failed = 0;
    Handle in = create_file_below(folder, "one", 0666, &taken);
    Handle out = create_file_below(folder, "two", 0666, &taken);
    ASSERT_TRUE(in != NO_HANDLE && out != NO_HANDLE);
    // Read from a file open only for writing.
    EXPECT_EQ(copy_text(in, out, &read_failed), 0);
    EXPECT_EQ(read_failed, 1);
    throw_away(folder, in, "one");
    throw_away(folder, out, "two");
}

} // namespace
