#include "forkit_runner.h"

namespace {

using Copy = ForkitRun;

// The console between the copy phase's first heading and its separator.
std::string copy_section(const std::string& console)
{
    std::size_t start = console.find("Copying Project files..\n");
    std::size_t end = console.find(SEPARATOR_LINES, start);
    if (start == std::string::npos || end == std::string::npos)
        return "(no copy phase in)\n" + console;
    return console.substr(start, end - start);
}

std::string section(const std::string& project, const std::string& game,
                    const std::string& cgame = "  cg_main.c Copied\n",
                    const std::string& ui = "  ui_main.c Copied\n")
{
    return "Copying Project files..\n" + project + "Copying Server files..\n" + game +
           "Copying Client files..\n" + cgame + "Copying User Interface files..\n" + ui;
}

TEST_F(Copy, EachListLineBecomesAnEntryAsItIsRead)
{
    const std::string name78(78, 'n');
    write_file(tree / "game" / name78, "long\n");
    write_file(tree / "game" / "abcdefghi", "nine\n");
    // An empty line, a one-character line, lines led by or holding a NUL
    // (refused whole, not cut at the NUL), control characters (C0, and C1
    // in UTF-8, but not letters that share its second bytes), a line of
    // exactly 79 characters, one of 100, and a last line without its line
    // feed, whose last character goes like every other line's.
    write_list("copygame.dat", "g_main.c\r\n\r\nx\r\n" + std::string("\0abc\r\n", 6) +
                                   std::string("ab\0cd\r\n", 7) + "e\x1b[2J\r\nc\rd\r\n" +
                                   "f\xc2\x9b" + "2J\xc4\x80\xd0\x90\r\n" + name78 + "Z\r\n" +
                                   name78 + std::string(22, 'q') + "\n" + "abcdefghij");
    RunResult run = fork();
    // A Windows code page's bytes go to a pipe as they are.
    const std::string c1 = links_look_like_files() ? "\xc2\x9b" : "?";
    EXPECT_EQ(copy_section(run.console),
              section("  notes.txt Copied\n", "  g_main.c Copied\n  Error copying ?abc\n"
                                              "  Error copying ab?cd\n"
                                              "  Error copying e?[2J\n  Error copying c?d\n"
                                              "  Error copying f" +
                                                  c1 + "2J\xc4\x80\xd0\x90\n  " + name78 +
                                                  " Copied\n  " + name78 +
                                                  " Copied\n  Error copying " +
                                                  std::string(21, 'q') + "\n  abcdefghi Copied\n"));
    EXPECT_NE(run.errors.find("forkit: game" + sep() + "f" + c1 + "2J"), std::string::npos)
        << run.errors;
    EXPECT_EQ(read_file(code_set / "game" / name78), "long\r\n");
    EXPECT_EQ(read_file(code_set / "game" / "abcdefghi"), "nine\r\n");
}

TEST_F(Copy, CopiesAreWholeWithCrLfLineEnds)
{
    write_file(tree / "game" / "g_main.c", std::string("a\0b\x1a\nc\r\nd\re", 11));
    RunResult run = fork();
    EXPECT_EQ(copy_section(run.console), section("  notes.txt Copied\n", "  g_main.c Copied\n"));
    EXPECT_EQ(read_file(code_set / "game" / "g_main.c"), std::string("a\0b\x1a\r\nc\r\nd\re", 12));
    EXPECT_EQ(read_file(code_set / "notes.txt"), "Read me\r\nfirst\r\n");
    EXPECT_EQ(read_file(code_set / "ui" / "ui_main.c"), "int menu;");
}

TEST_F(Copy, AMissingListIsReportedAndTheNextListGoesOn)
{
    fs::remove(tree / "copycgame.dat");
    RunResult run = fork();
    EXPECT_EQ(copy_section(run.console), section("  notes.txt Copied\n", "  g_main.c Copied\n",
                                                 "  Error opening copycgame.dat\n"));
}

// A failed entry never creates, empties or replaces its destination.
TEST_F(Copy, AFailedEntryLeavesTheDestinationAsItWas)
{
    fs::create_directories(code_set / "game");
    write_file(code_set / "game" / "gone.c", "earlier work");
    write_file(code_set / "game" / "big.c", "earlier big");
    write_file(tree / "game" / "big.c", std::string(100000, 'b'));
    write_file(tree / "game" / "new_big.c", std::string(100000, 'n'));
    fs::create_directories(tree / "game" / "folder.c");
    write_list("copygame.dat",
               "gone.c\r\nmissing.c\r\nfolder.c\r\nbig.c\r\nnew_big.c\r\ng_main.c\r\n");
    // Files may grow to 2 KiB at most, so the big copy fails as on a full
    // disk; the signal that the limit sends must not stop the run. (Under
    // Wine it reaches Wine itself, which a Windows program cannot ignore.)
    RunResult run = fork(links_look_like_files() ? "trap '' XFSZ; ulimit -f 2;" : "ulimit -f 2;");
    EXPECT_EQ(copy_section(run.console),
              section("  notes.txt Copied\n",
                      "  Error copying gone.c\n  Error copying missing.c\n"
                      "  Error copying folder.c\n  Error copying big.c\n  Error copying new_big.c\n"
                      "  g_main.c Copied\n"));
    const std::string set = code_set.string();
    for (const std::string& why :
         std::vector<std::string>{"forkit: game" + sep() + "missing.c: ",
                                  "forkit: game" + sep() + "folder.c: is not a regular file\n",
                                  "forkit: " + set + sep() + "game" + sep() + "big.c: "})
        EXPECT_NE(run.errors.find(why), std::string::npos) << run.errors;
    EXPECT_EQ(read_file(code_set / "game" / "gone.c"), "earlier work");
    EXPECT_EQ(read_file(code_set / "game" / "big.c"), "earlier big");
    EXPECT_EQ(tree_listing(code_set / "game"),
              (std::vector<std::string>{"big.c", "g_main.c", "game.q3asm", "gone.c"}));
}

TEST_F(Copy, EntriesMayNotClimbOutOfTheCodeSet)
{
    // One level deeper than the tree, so that a climb reads one file and
    // writes another instead of meeting itself.
    code_set = root / "sets" / "mymod";
    fs::create_directories(root / "sets");
    write_file(root / "outside.txt", "not yours");
    write_file(root / "mymod.txt", "not yours either");
    // Links are never followed, out of the tree or inside it.
    fs::create_symlink(root / "outside.txt", tree / "game" / "key.c");
    fs::create_directory_symlink(root, tree / "game" / "sub");
    fs::create_symlink("g_main.c", tree / "game" / "same.c");
    write_file(tree / "game" / "g_main.c.forkit-new", "a temporary name");
    // Files of their own on POSIX; names Windows would change to g_main.c.
    if (!links_look_like_files()) {
        write_file(tree / "game" / "g_main.c.", "int dot;");
        write_file(tree / "game" / "g_main.c ", "int blank;");
    }
    write_file(tree / "game" / "G_MAIN.C.FORKIT-NEW3", "another");
    write_list("copygame.dat", "..\\ui\\ui_main.c\r\n..\\..\\outside.txt\r\n"
                               "../../mymod.txt\r\n..\\..\\..\\..\\..\\..\\..\\..\\tmp\\x\r\n"
                               "key.c\r\nsub\\outside.txt\r\nsame.c\r\n"
                               "g_main.c.forkit-new\r\nG_MAIN.C.FORKIT-NEW3\r\n"
                               "g_main.c.forkit-new. \r\ng_main.c.\r\ng_main.c \r\n");
    RunResult run = fork();
    EXPECT_EQ(copy_section(run.console),
              section("  notes.txt Copied\n",
                      "  ..\\ui\\ui_main.c Copied\n  Error copying ..\\..\\outside.txt\n"
                      "  Error copying ../../mymod.txt\n"
                      "  Error copying ..\\..\\..\\..\\..\\..\\..\\..\\tmp\\x\n"
                      "  Error copying key.c\n  Error copying sub\\outside.txt\n"
                      "  Error copying same.c\n"
                      // The next run would take them for its own leftovers.
                      "  Error copying g_main.c.forkit-new\n"
                      "  Error copying G_MAIN.C.FORKIT-NEW3\n"
                      // Windows drops the trailing dot and blank.
                      "  Error copying g_main.c.forkit-new. \n" +
                          std::string(links_look_like_files()
                                          ? "  Error copying g_main.c.\n  Error copying g_main.c \n"
                                          : "  g_main.c. Copied\n  g_main.c  Copied\n")));
    if (links_look_like_files()) {
        EXPECT_NE(run.errors.find("g_main.c.: Windows would give the file another name\n"),
                  std::string::npos)
            << run.errors;
        EXPECT_FALSE(fs::exists(code_set / "game" / "g_main.c"));
    } else {
        EXPECT_EQ(read_file(code_set / "game" / "g_main.c."), "int dot;");
    }
    for (const char* link : {"key.c: is a link\n", "sub: is a link\n", "same.c: is a link\n"})
        EXPECT_NE(run.errors.find("forkit: game" + sep() + link), std::string::npos) << run.errors;
    EXPECT_NE(run.errors.find("forkit: ..\\..\\outside.txt: climbs out of the code set\n"),
              std::string::npos)
        << run.errors;
    EXPECT_EQ(read_file(code_set / "ui" / "ui_main.c"), "int menu;");
    EXPECT_EQ(read_file(root / "outside.txt"), "not yours");
    EXPECT_EQ(read_file(root / "mymod.txt"), "not yours either");
    EXPECT_FALSE(fs::exists(root / "sets" / "outside.txt"));
    EXPECT_FALSE(fs::exists(root / "sets" / "mymod.txt"));
}

// A character of a double-byte code page whose second byte is a backslash
// (ソ is 83 5C in code page 932) is part of a name, never a separator.
TEST_F(Copy, NamesInADoubleByteCodePageKeepTheirCharacters)
{
    if (!links_look_like_files() || !fs::exists(UTF8_LOCALE_DATA / "LC_CTYPE"))
        GTEST_SKIP() << "code pages are Windows', set under Wine with the C.UTF-8 locale's files";
    const std::string sosu = "\x83\x5c\x81\x5b\x83\x58.c"; // ソース.c in code page 932
    write_file(tree / "game" / fs::u8path("ソース.c"), "int x;\n");
    write_list("copygame.dat", sosu + "\r\n");
    RunResult run = fork(wine_locale(root / "locales", "ja_JP"));
    EXPECT_EQ(copy_section(run.console), section("  notes.txt Copied\n", "  " + sosu + " Copied\n"))
        << run.errors;
    EXPECT_EQ(read_file(code_set / "game" / fs::u8path("ソース.c")), "int x;\r\n");
}

// A code set that is the source tree itself must not empty its sources.
TEST_F(Copy, ACodeSetInsideTheTreeNeverOverwritesASource)
{
    write_list("copyproject.dat", "notes.txt\r\ncopyproject.dat\r\nmissing.txt\r\n");
    std::vector<std::pair<fs::path, std::string>> sources;
    for (const auto& entry : fs::recursive_directory_iterator(tree))
        if (entry.is_regular_file())
            sources.emplace_back(entry.path(), read_file(entry.path()));
    const std::string paths[] = {".", tree.string(), tree.string() + sep() + "game" + sep() + ".."};
    for (const std::string& path : paths) {
        mod = "mod" + std::to_string(&path - paths);
        RunResult run = fork({mod, path, game.string()});
        EXPECT_EQ(copy_section(run.console),
                  section("  Error copying notes.txt\n  Error copying copyproject.dat\n"
                          "  Error copying missing.txt\n",
                          "  Error copying g_main.c\n", "  Error copying cg_main.c\n",
                          "  Error copying ui_main.c\n"))
            << path;
        for (const auto& [source, bytes] : sources)
            EXPECT_EQ(read_file(source), bytes) << source;
        // A missing source is not made by creating its destination.
        EXPECT_FALSE(fs::exists(tree / "missing.txt"));
    }
}

// A copy takes its source's permission bits and the owner's write bit, less
// the umask, also where it replaces an earlier file: a read-only checkout
// gives copies the mod's author can edit, and a later run can replace.
TEST_F(Copy, CopiesTakeTheirSourcesPermissionBitsAndAreTheOwnersToEdit)
{
    if (links_look_like_files())
        GTEST_SKIP() << "Windows files have no permission bits";
    fs::create_directories(code_set / "game");
    write_file(code_set / "game" / "g_main.c", "earlier");
    write_file(tree / "game" / "build.sh", "make\n");
    write_list("copygame.dat", "g_main.c\r\nbuild.sh\r\n");
    using fs::perms;
    const perms rwx = perms::owner_all, r = perms::owner_read, w = perms::owner_write;
    const perms gr = perms::group_read, gx = perms::group_exec;
    const std::pair<fs::path, std::pair<perms, perms>> cases[] = {
        {"game/build.sh", {rwx | perms::group_all | perms::others_read, rwx | gr | gx}},
        {"game/g_main.c", {rwx, rwx}},
        {"ui/ui_main.c", {r | w, r | w}},
        {"notes.txt", {r | gr | perms::others_read, r | w | gr}},
    };
    for (const auto& [name, modes] : cases)
        fs::permissions(tree / name, modes.first);
    for (const char* again : {"mymod", "again"}) {
        mod = again;
        RunResult run = fork("umask 027;");
        EXPECT_EQ(run.errors, "") << again;
        for (const auto& [name, modes] : cases)
            EXPECT_EQ(fs::status(code_set / name).permissions() & perms::all, modes.second)
                << name << " " << again;
        EXPECT_EQ(fs::status(code_set / "play it.bat").permissions() & perms::all, r | w | gr);
    }
}

} // namespace
