#include "support/platform.h"
#include "support/text_buffer.h"

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(TextBuffer, FormatsIntoTheSharedBufferOrRefusesWhatDoesNotFit)
{
    const std::string fits(TEXT_BUFFER_SIZE - 3, 'x');
    const char* result = format_text("%s\\%s", fits.c_str(), "y");
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(std::string(result), fits + "\\y");

    const std::string too_long(TEXT_BUFFER_SIZE - 2, 'x');
    EXPECT_EQ(format_text("%s\\%s", too_long.c_str(), "y"), nullptr);
    // A refusal leaves the buffer usable for the next text.
    EXPECT_EQ(format_text("%s", "next"), std::string("next"));
}

TEST(TextBuffer, PrintLineWritesTheTextAndOneLineFeed)
{
    // A Windows code page's bytes go to a file or pipe as they are.
    const std::string c1 = ON_WINDOWS ? "\xc2\x9b\xc2\x80" : "??";
    const std::string lone = ON_WINDOWS ? "\x9b\x85" : "??";
    const std::pair<const char*, std::string> cases[] = {
        {"Task complete", "Task complete\n"},
        {"100% done %s", "100% done %s\n"},
        {"\n=============\n", "\n=============\n\n"},
        {"", "\n"},
        // Control characters of names must not reach the terminal: C0, and
        // C1 in UTF-8 (U+009B is a CSI of its own), not letters that share
        // C1's second bytes.
        {"a\x1b[2Jb\rc\td\x7f\x01", "a?[2Jb?c\td??\n"},
        {"e\xc2\x9b\xc2\x80"
         "2J\xc4\x80\xd0\x90\xc2",
         "e" + c1 + "2J\xc4\x80\xd0\x90\xc2\n"},
        // A lone C1 byte is one of its own to an 8-bit terminal.
        {"k\x9b[2J\x85\xe2\x82\xac", "k" + lone.substr(0, lone.size() / 2) + "[2J" +
                                         lone.substr(lone.size() / 2) + "\xe2\x82\xac\n"},
    };
    std::vector<std::pair<const char*, std::string>> all(std::begin(cases), std::end(cases));
    // A byte 80 to 9F is a C1 control to an 8-bit terminal unless it
    // continues a well-formed UTF-8 character: after a byte that starts
    // none, a lead without its proper second byte, or a cut sequence, it is
    // one. Well-formed characters pass whole.
    const std::pair<const char*, const char*> malformed[] = {
        {"m\xc0\x9b"
         "31m",
         "m\xc0?31m"},
        {"\xe0\x80\x9b"
         "2J",
         "\xe0??2J"},
        {"\xed\xa0\x9b", "\xed\xa0?"},
        {"\xf0\x80\x9b", "\xf0??"},
        {"\xf4\x90\x9b", "\xf4??"},
        {"\xf5\x9b\xff\x9b", "\xf5?\xff?"},
        {"\xe2\x9bx", "\xe2?x"},
        {"\xe2\x80\x9b\xf0\x9f\x98\x80", "\xe2\x80\x9b\xf0\x9f\x98\x80"},
    };
    for (const auto& [text, masked] : malformed)
        all.emplace_back(text, std::string(ON_WINDOWS ? text : masked) + "\n");
    for (const auto& [text, expected] : all) {
        testing::internal::CaptureStdout();
        print_line(text);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), expected);
    }
}

TEST(TextBuffer, PrintLineShowsATextThatDidNotFitCutAndMarked)
{
    const std::string too_long(2 * TEXT_BUFFER_SIZE, 'x');
    testing::internal::CaptureStdout();
    print_line(format_text("  Error creating %s", too_long.c_str()));
    const std::string shown = testing::internal::GetCapturedStdout();
    EXPECT_EQ(shown, "  Error creating " + std::string(TEXT_BUFFER_SIZE - 21, 'x') + "...\n");
}

} // namespace
