#include "generate/write_launch_script.h"
#include "support/path_rules.h"

#include <string>

#include <gtest/gtest.h>

namespace {

TEST(CopyEntries, StayInsideTheCodeSetUnlessTheyClimbAboveIt)
{
    struct Case {
        const char* module_dir;
        const char* entry;
        int inside;
    };
    const Case cases[] = {
        {"", "g_main.c", 1},
        {"game", "..\\ui\\ui_public.h", 1},
        {"game", "../cgame/cg_public.h", 1},
        {"game", "sub\\..\\..\\x.c", 1},
        {"game", ".\\.\\x.c", 1},
        {"", "..\\outside.c", 0},
        {"", "./../outside.c", 0},
        {"game", "..\\..\\outside.c", 0},
        {"game", "..\\..\\..\\..\\..\\etc\\passwd", 0},
        {"ui", "a\\..\\..\\..\\b", 0},
        {"", "..", 0},
        {"", "/etc/passwd", 0},
        {"", "\\Windows\\win.ini", 0},
        {"game", "\\\\server\\share\\x.c", 0},
        {"", "C:\\x.c", 0},
        {"game", "C:x.c", 0},
        {"game", "a:b", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(entry_stays_inside(c.module_dir, c.entry), c.inside) << c.entry;
}

TEST(Launcher, EscapesWhatTheCommandInterpreterWouldActOn)
{
    struct Case {
        const char* text;
        const char* caret_escaped;
        const char* expected;
    };
    const Case cases[] = {
        {"C:\\Program Files\\Quake III Arena", "&|<>^", "C:\\Program Files\\Quake III Arena"},
        {"C:\\Games\\Q3 & TA 100%x", "&|<>^", "C:\\Games\\Q3 ^& TA 100%%x"},
        {"a|b<c>d^e", "&|<>^", "a^|b^<c^>d^^e"},
        {"my%mod & co", "", "my%%mod & co"},
        {"", "&|<>^", ""},
    };
    for (const Case& c : cases) {
        char escaped[64];
        ASSERT_EQ(escape_for_batch(c.text, c.caret_escaped, escaped, sizeof escaped), 1);
        EXPECT_EQ(std::string(escaped), c.expected);
    }
    char small[5];
    EXPECT_EQ(escape_for_batch("abcd", "", small, sizeof small), 1);
    EXPECT_EQ(escape_for_batch("abc%", "", small, sizeof small), 0);
    EXPECT_EQ(escape_for_batch("abcde", "", small, sizeof small), 0);
}

} // namespace
