#include "forkit_runner.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>

namespace {

using Scripts = ForkitRun;

const char PHASES_AFTER_COPY[] = "Creating new compilation scripts..\n";

// The console from the command files on, when none of them, nor the
// launcher, can be written into the code set `set`.
std::string scripts_not_written(const std::string& set)
{
    const std::string s = sep();
    return "  Error creating " + set + s + "game" + s + "game.q3asm\n  Error creating " + set + s +
           "cgame" + s + "cgame.q3asm\n  Error creating " + set + s + "ui" + s + "ui.q3asm\n" +
           SEPARATOR_LINES + "Creating \"play it.bat\"...\n  Error creating " + set + s +
           "play it.bat\n" + SEPARATOR_LINES;
}

// The launcher for a game folder as the files name it.
std::string launcher(const std::string& folder, const std::string& mod)
{
    return "@echo off\r\n" + folder.substr(0, 1) + ":\r\ncd " + folder +
           "\r\nquake3.exe +set sv_pure 0 +set fs_game \"" + mod + "\"\r\n";
}

TEST_F(Scripts, ACompleteRunPrintsEveryPhaseAndWritesEveryFile)
{
    RunResult run = fork();
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.console, directories_block() +
                               "Copying Project files..\n  notes.txt Copied\n"
                               "Copying Server files..\n  g_main.c Copied\n"
                               "Copying Client files..\n  cg_main.c Copied\n"
                               "Copying User Interface files..\n  ui_main.c Copied\n" +
                               SEPARATOR_LINES + PHASES_AFTER_COPY + SEPARATOR_LINES +
                               "Creating \"play it.bat\"...\n" + SEPARATOR_LINES +
                               "Task complete\n");

    const std::string vm = in_files(game.string(), tree) + sep() + "mymod" + sep() + "vm" + sep();
    const std::pair<std::string, std::string> files[] = {
        {"cgame/cg_main.c", "int view;\r\n"},
        {"cgame/cgame.q3asm", "-o \"" + vm + "cgame\"\r\ncg_main\r\n"},
        {"game/g_main.c", "int score;\r\nint frags;\r\n"},
        {"game/game.q3asm", "-o \"" + vm + "qagame\"\r\ng_main\r\n..\\game\\g_syscalls\r\n"},
        {"notes.txt", "Read me\r\nfirst\r\n"},
        {"play it.bat", launcher(in_files(game.string(), tree), "mymod")},
        {"ui/ui.q3asm", "-o \"" + vm + "ui\"\r\nui_main"},
        {"ui/ui_main.c", "int menu;"},
    };
    std::vector<std::string> expected_listing = {"cgame", "game", "ui"};
    for (const auto& [name, bytes] : files) {
        EXPECT_EQ(read_file(code_set / name), bytes) << name;
        expected_listing.push_back(name);
    }
    std::sort(expected_listing.begin(), expected_listing.end());
    EXPECT_EQ(tree_listing(code_set), expected_listing);
    EXPECT_EQ(tree_listing(game), std::vector<std::string>{"mymod"});
    EXPECT_EQ(run.errors, "");
}

TEST_F(Scripts, BuildListsAreCopiedWholeAfterTheOutputLine)
{
    write_list("buildgame.dat", "");
    write_list("buildcgame.dat", std::string("a\0b\x1a\nc", 6));
    fs::remove(tree / "buildui.dat");
    fs::create_directories(code_set / "ui");
    write_file(code_set / "ui" / "ui.q3asm", "earlier");
    RunResult run = fork();
    EXPECT_NE(run.console.find(std::string(PHASES_AFTER_COPY) + "  Error opening buildui.dat\n" +
                               SEPARATOR_LINES),
              std::string::npos)
        << run.console;
    const std::string vm = in_files(game.string(), tree) + sep() + "mymod" + sep() + "vm" + sep();
    EXPECT_EQ(read_file(code_set / "game" / "game.q3asm"), "-o \"" + vm + "qagame\"\r\n");
    EXPECT_EQ(read_file(code_set / "cgame" / "cgame.q3asm"),
              "-o \"" + vm + "cgame\"\r\n" + std::string("a\0b\x1a\r\nc", 7));
    EXPECT_EQ(read_file(code_set / "ui" / "ui.q3asm"), "earlier");
}

TEST_F(Scripts, TheScriptsHandOverTheFolderAndModAsGiven)
{
    // Folder names that Windows allows too: | < > are escaped as well, but no
    // Windows folder holds them. The assembler would cut its output name at a
    // dot after the last '/', so such a name is given ending in .qvm where
    // the folders are joined with '\'.
    enum Typed { IN_FULL, RELATIVE, NETWORK };
    struct Case {
        const char* folder;
        const char* name;
        const char* escaped_name;
        const char* extension;
        Typed typed;
    };
    const Case cases[] = {
        {"Q3 & TA 100%x", "my%mod & co", "my%%mod & co", "", IN_FULL},
        {"a^b (1)", "plain", "plain", "", IN_FULL},
        {"Quake3 v1.32", "mymod", "mymod", ".qvm", IN_FULL},
        {"quake3", "my.mod", "my.mod", ".qvm", IN_FULL},
        {"a.b/q3", "mymod", "mymod", "", IN_FULL},
        // The assembler runs in another folder, and the launcher anywhere;
        // the ".." that stays in the path is a dot to the assembler.
        {"relative", "mymod", "mymod", ".qvm", RELATIVE},
        // A network folder cannot be the command interpreter's current one:
        // the command files are written, the launcher is not (on Windows;
        // "//" begins a POSIX path like any other).
        {"network", "mymod", "mymod", "", NETWORK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.folder) + " " + std::to_string(c.typed));
        game = root / c.folder;
        mod = c.name;
        fs::remove_all(code_set);
        fs::create_directories(game);
        // Under Wine, \\?\unix\ is a network path to a folder of the host.
        std::string network = (links_look_like_files() ? "\\\\?\\unix" : "/") + game.string();
        if (links_look_like_files())
            std::replace(network.begin(), network.end(), '/', '\\');
        const std::string q3path = c.typed == RELATIVE  ? ".." + sep() + c.folder
                                   : c.typed == NETWORK ? network
                                                        : game.string();
        // With '/' between the game folder and the output name, no dot comes
        // after the last '/'.
        const std::string extension = links_look_like_files() ? c.extension : "";
        RunResult run = fork({mod, code_set.string(), q3path});
        const std::string folder = in_files(q3path, tree);
        std::string escaped;
        for (char ch : folder)
            escaped += ch == '%' ? "%%" : std::string(std::strchr("&|<>^", ch) ? "^" : "") + ch;
        if (c.typed == NETWORK && links_look_like_files()) {
            EXPECT_NE(
                run.console.find("  Error creating " + code_set.string() + sep() + "play it.bat\n"),
                std::string::npos);
            // Under Wine \\?\unix\ is a device path, which fares the same.
            EXPECT_NE(run.errors.find(" path its current folder: "), std::string::npos)
                << run.errors;
            EXPECT_FALSE(fs::exists(code_set / "play it.bat"));
        } else {
            EXPECT_EQ(run.console.substr(run.console.size() - 14), "Task complete\n");
            EXPECT_EQ(read_file(code_set / "play it.bat"), launcher(escaped, c.escaped_name));
        }
        EXPECT_EQ(read_file(code_set / "game" / "game.q3asm"),
                  "-o \"" + folder + sep() + c.name + sep() + "vm" + sep() + "qagame" + extension +
                      "\"\r\ng_main\r\n..\\game\\g_syscalls\r\n");
    }
}

// The Windows command interpreter runs "play it.bat", started on drive C:
// so that the launcher must change the drive too; a stand-in for quake3.exe
// writes down the folder it started in and its arguments. It reads the file
// in the OEM code page, not the ANSI one the names arrive in: a name that
// the OEM page cannot hold gives no launcher. A game folder typed relative
// to the tree, or without its drive, is found all the same.
TEST_F(Scripts, TheLauncherStartsTheGameInItsFolderWithTheMod)
{
    const char* stand_in = std::getenv("FORKIT_GAME_STAND_IN");
    if (std::getenv("FORKIT_BATCH_COMMAND") == nullptr || stand_in == nullptr)
        GTEST_SKIP() << "running play it.bat takes the Windows command interpreter "
                        "(FORKIT_BATCH_COMMAND) and a stand-in game (FORKIT_GAME_STAND_IN)";
    // The temporary folder as the command interpreter names it, drive and all.
    const std::string here = run_batch_line(root, {"cd"}).console;
    ASSERT_GT(here.size(), 3u) << here;
    const std::string windows_root = here.substr(0, here.find('\n'));
    enum Typed { IN_FULL, RELATIVE, DRIVELESS };
    struct Case {
        const char* folder;
        const char* name;
        const char* language; // the Windows locale; "" keeps Wine's own
        int launches;
        Typed typed;
    };
    const Case cases[] = {
        {"Quake III Arena", "mymod", "", 1, IN_FULL},
        {"Quake III Arena", "mymod", "", 1, RELATIVE},
        {"Quake III Arena", "mymod", "", 1, DRIVELESS},
        {"Q3 & TA 100%x", "my%mod & co", "", 1, IN_FULL},
        {"a^b (1)", "x^y", "", 1, IN_FULL},
        // ANSI 1252, OEM 437: é differs between them, and 437 has no €.
        {"Aréna", "été", "en_US", 1, IN_FULL},
        {"Q3 €", "mymod", "en_US", 0, IN_FULL},
        // ANSI 1251, OEM 866, which has no guillemets.
        {"Арена", "мод", "ru_RU", 1, IN_FULL},
        {"Arena", "«мод»", "ru_RU", 0, IN_FULL},
        // Code page 932 for both: ^ and | are the second bytes of タ and ポ.
        {"タポ", "ポ", "ja_JP", 1, IN_FULL},
    };
    const bool code_pages_settable = fs::exists(UTF8_LOCALE_DATA / "LC_CTYPE");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        if (c.language[0] != '\0' && !code_pages_settable)
            continue;
        const std::string setup = wine_locale(root / "locales", c.language);
        fs::remove_all(code_set);
        fs::create_directories(code_set);
        write_file(code_set / "play it.bat", "earlier");
        fs::create_directories(root / c.folder);
        fs::remove_all(root / c.folder / c.name);
        fs::copy_file(stand_in, root / c.folder / "quake3.exe",
                      fs::copy_options::overwrite_existing);
        const std::string full = windows_root + "\\" + c.folder;
        const std::string q3path = c.typed == RELATIVE    ? "..\\" + std::string(c.folder)
                                   : c.typed == DRIVELESS ? full.substr(2)
                                                          : full;
        const std::string set = windows_root + "\\mymod";
        RunResult run = fork({c.name, set, q3path}, setup);
        ASSERT_EQ(run.console.substr(run.console.size() - 14), "Task complete\n");
        if (!c.launches) {
            EXPECT_NE(run.console.find("  Error creating " + set + "\\play it.bat\n"),
                      std::string::npos)
                << run.console;
            EXPECT_EQ(read_file(code_set / "play it.bat"), "earlier");
            EXPECT_FALSE(fs::exists(code_set / "play it.bat.forkit-new"));
            continue;
        }
        RunResult launch =
            run_batch_line(root, {"cd", "/d", "C:\\", "&", "call", set + "\\play it.bat"}, setup);
        EXPECT_EQ(read_file(root / c.folder / "started.txt"),
                  full + "\n+set\nsv_pure\n0\n+set\nfs_game\n" + c.name + "\n")
            << launch.console;
        fs::remove(root / c.folder / "started.txt");
    }
    if (!code_pages_settable)
        GTEST_SKIP() << "names outside ASCII not tried: setting Wine's code pages takes the "
                        "C.UTF-8 locale's files in "
                     << UTF8_LOCALE_DATA;
}

TEST_F(Scripts, FilesThatCannotBeWrittenAreReportedAndTheRunGoesOn)
{
    const fs::path missing = root / "no" / "set";
    const std::string set = missing.string();
    RunResult run = fork({"mymod", set, game.string()});
    // Each folder that could not be made says so right after its announcement.
    const std::string s = sep();
    EXPECT_EQ(run.console.substr(0, run.console.find(SEPARATOR_LINES)),
              std::string(BANNER) + "Creating directories...\n  " + game.string() + s +
                  "mymod\n  " + set + "\n  Error creating " + set + "\n  " + set + s +
                  "game\n  Error creating " + set + s + "game\n  " + set + s +
                  "cgame\n  Error creating " + set + s + "cgame\n  " + set + s +
                  "ui\n  Error creating " + set + s + "ui\n");
    EXPECT_EQ(run.console.substr(run.console.find(PHASES_AFTER_COPY)),
              std::string(PHASES_AFTER_COPY) + scripts_not_written(set) + "Task complete\n");
    EXPECT_FALSE(fs::exists(root / "no"));
    // Failures hide among the lines that went well: the last line counts them.
    const std::string verdict = "forkit: 12 of 12 steps failed; see the Error lines above\n";
    EXPECT_EQ(run.errors.substr(run.errors.size() - verdict.size()), verdict);

    // A double quote or a line end in a name would end the quotes, or the
    // line, and let the rest run as a command; only POSIX folders hold them.
    // A folder below the code set that is a link would send files elsewhere.
    if (links_look_like_files())
        return;
    fs::create_directories(root / "elsewhere" / "sub");
    fs::create_directories(code_set / "cgame");
    fs::create_directory_symlink(root / "elsewhere", code_set / "game");
    fs::create_directory_symlink(root / "elsewhere" / "sub", code_set / "cgame" / "sub");
    fs::create_directories(tree / "cgame" / "sub");
    write_file(tree / "cgame" / "sub" / "x.c", "int x;\n");
    write_list("copycgame.dat", "cg_main.c\r\nsub\\x.c\r\n");
    mod = "linked";
    run = fork();
    const std::string linked = code_set.string() + sep() + "game";
    EXPECT_NE(run.console.find("  " + linked + "\n  Error creating " + linked + "\n  "),
              std::string::npos)
        << run.console;
    EXPECT_NE(run.console.find("  Error copying g_main.c\nCopying Client files..\n  cg_main.c "
                               "Copied\n  Error copying sub\\x.c\n"),
              std::string::npos);
    EXPECT_NE(run.console.find("  Error creating " + linked + sep() + "game.q3asm\n"),
              std::string::npos);
    EXPECT_NE(run.errors.find(linked + ": is a link\n"), std::string::npos) << run.errors;
    EXPECT_EQ(tree_listing(root / "elsewhere"), std::vector<std::string>{"sub"});
    fs::remove_all(code_set);
    for (const char* name : {"z\" & echo INJECTED & \"", "a\r\necho b", "c\recho d"}) {
        mod = name;
        run = fork();
        const std::string scripts = run.console.substr(run.console.find(PHASES_AFTER_COPY));
        EXPECT_EQ(scripts, std::string(PHASES_AFTER_COPY) + scripts_not_written(code_set.string()) +
                               "Task complete\n");
        EXPECT_FALSE(fs::exists(code_set / "play it.bat"));
        fs::remove_all(code_set);
    }
}

// The last line of standard error counts the steps that failed among all
// the run took: each folder of the code set, entry, command file and the
// launcher is one, and a list that cannot be read is one in place of what
// it would have given. A run that went well writes nothing there.
TEST_F(Scripts, TheVerdictCountsEachKindOfStep)
{
    struct Case {
        const char* what;
        std::function<void()> prepare;
        const char* verdict;
    };
    const Case cases[] = {
        {"all went well", [] {}, ""},
        {"a folder of the code set, and what goes in it",
         [&] { write_file(code_set / "cgame", "a file"); }, "3 of 12"},
        {"an entry", [&] { fs::remove(tree / "game" / "g_main.c"); }, "1 of 12"},
        {"a copy list", [&] { fs::remove(tree / "copyui.dat"); }, "1 of 12"},
        {"a build list", [&] { fs::remove(tree / "buildui.dat"); }, "1 of 12"},
        {"a command file", [&] { fs::create_directories(code_set / "ui" / "ui.q3asm"); },
         "1 of 12"},
        {"the launcher", [&] { fs::create_directories(code_set / "play it.bat"); }, "1 of 12"},
    };
    fs::copy(tree, root / "pristine", fs::copy_options::recursive);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(code_set);
        fs::create_directories(code_set);
        fs::remove_all(tree);
        fs::copy(root / "pristine", tree, fs::copy_options::recursive);
        c.prepare();
        mod = std::string("mod") + std::to_string(&c - cases);
        const std::string errors = fork().errors;
        const std::string last = errors.substr(errors.rfind('\n', errors.size() - 2) + 1);
        EXPECT_EQ(c.verdict[0] == '\0' ? errors : last,
                  c.verdict[0] == '\0' ? ""
                                       : "forkit: " + std::string(c.verdict) +
                                             " steps failed; see the Error lines above\n")
            << errors;
    }
}

// A second run into the same code set, for another game folder, replaces
// what it writes and empties nothing; a build list linked to the command file
// it would write, outside the tree, is refused and the file kept.
TEST_F(Scripts, ASecondRunReplacesItsFilesAndKeepsTheRest)
{
    fork();
    write_file(code_set / "game" / "mine.c", "my own work");
    fs::remove(tree / "buildcgame.dat");
    fs::create_symlink(code_set / "cgame" / "cgame.q3asm", tree / "buildcgame.dat");
    const std::string first_cgame = read_file(code_set / "cgame" / "cgame.q3asm");
    game = root / "other game";
    fs::create_directories(game);
    RunResult run = fork();
    EXPECT_NE(run.console.find("  Error opening buildcgame.dat\n"), std::string::npos)
        << run.console;
    EXPECT_EQ(read_file(code_set / "game" / "mine.c"), "my own work");
    EXPECT_EQ(read_file(code_set / "game" / "g_main.c"), "int score;\r\nint frags;\r\n");
    EXPECT_EQ(read_file(code_set / "cgame" / "cgame.q3asm"), first_cgame);
    EXPECT_EQ(read_file(code_set / "ui" / "ui.q3asm"), "-o \"" + in_files(game.string(), tree) +
                                                           sep() + "mymod" + sep() + "vm" + sep() +
                                                           "ui\"\r\nui_main");
}

} // namespace
