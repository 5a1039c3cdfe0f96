#include "generate/write_launch_script.h"
#include "support/held_folders.h"
#include "support/path_rules.h"
#include "support/platform.h"

#include <algorithm>
#include <string>

#include <gtest/gtest.h>

namespace {

// An entry names a file in a folder below the code set's root, taken apart
// at \ and / with "." and ".." as the system takes them; never one above it.
TEST(CopyEntries, NameAFileInsideTheCodeSet)
{
    struct Case {
        const char* module_dir;
        const char* entry;
        const char* folder; // nullptr: refused
        const char* name;
        bool on_windows = false;
    };
    const Case cases[] = {
        {"", "g_main.c", "", "g_main.c"},
        {"game", "g_main.c", "game", "g_main.c"},
        {"game", "..\\ui\\ui_public.h", "ui", "ui_public.h"},
        {"game", "../cgame/cg_public.h", "cgame", "cg_public.h"},
        {"game", "sub\\..\\..\\x.c", "", "x.c"},
        {"game", ".\\.\\x.c", "game", "x.c"},
        {"game", "a//b\\c.c", "game/a/b", "c.c"},
        {"", "..\\outside.c", nullptr, nullptr},
        {"", "./../outside.c", nullptr, nullptr},
        {"game", "..\\..\\outside.c", nullptr, nullptr},
        {"game", "..\\..\\..\\..\\..\\etc\\passwd", nullptr, nullptr},
        {"ui", "a\\..\\..\\..\\b", nullptr, nullptr},
        {"", "..", nullptr, nullptr},
        {"", "/etc/passwd", nullptr, nullptr},
        {"", "\\Windows\\win.ini", nullptr, nullptr},
        {"game", "\\\\server\\share\\x.c", nullptr, nullptr},
        {"", "C:\\x.c", nullptr, nullptr},
        {"game", "C:x.c", nullptr, nullptr},
        {"game", "a:b", nullptr, nullptr},
        // Names of folders, not files.
        {"game", "sub\\", nullptr, nullptr},
        {"game", "sub\\..", nullptr, nullptr},
        {"game", ".", nullptr, nullptr},
        // Names that Windows would change: files of their own elsewhere.
        {"game", "g_main.c.", "game", "g_main.c."},
        {"game", "g_main.c.", nullptr, nullptr, true},
        {"game", "g_main.c ", nullptr, nullptr, true},
        {"game", "nul\\x.c", nullptr, nullptr, true},
        {"game", "sub.\\x.c", nullptr, nullptr, true},
        {"game", "x.c:stream", nullptr, nullptr, true},
        {"game", "sub\\x.c", "game/sub", "x.c", true},
    };
    for (const Case& c : cases) {
        char folder[FOLDER_PATH_SIZE];
        const char* name = nullptr;
        const char* refusal =
            split_entry(c.module_dir, c.entry, c.on_windows, folder, sizeof folder, &name);
        EXPECT_EQ(refusal == nullptr, c.folder != nullptr) << c.entry << ": " << refusal;
        if (refusal == nullptr && c.folder != nullptr) {
            std::string expected = c.folder;
            std::replace(expected.begin(), expected.end(), '/', SEP[0]);
            EXPECT_EQ(std::string(folder), expected) << c.entry;
            EXPECT_EQ(std::string(name), c.name) << c.entry;
        }
    }
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
