#include "forkit_runner.h"

#include <algorithm>

namespace {

// The size of forkit's text buffer, past which it formats no path.
const std::size_t TEXT_BUFFER_LIMIT = 1024;

using Start = ForkitRun;

const char USAGE[] = "Program syntax:\n"
                     "forkit <modname> <sourcepath> <q3path>\n\n"
                     "Example:\n"
                     "forkit mymod c:\\mymod C:\\\"Program Files\"\\\"Quake III Arena\"\n\n"
                     "This would create a new code set from the current source code in the\n"
                     "path \"c:\\mymod\" and add a \"mymod\" directory to your Q3A directory.\n";

const char HEADING[] = "The following error was encountered:\n";

TEST_F(Start, AnyArgumentCountButThreeShowsTheUsageAndTouchesNothing)
{
    const auto before = tree_listing(root);
    const std::vector<std::vector<std::string>> argument_lists = {
        {},
        {"mymod"},
        {"mymod", code_set.string()},
        {"mymod", code_set.string(), game.string(), "extra"}};
    for (const auto& args : argument_lists) {
        RunResult run = fork(args);
        EXPECT_EQ(run.console, std::string(BANNER) + USAGE) << args.size() << " arguments";
        EXPECT_EQ(run.status, 0);
    }
    EXPECT_EQ(tree_listing(root), before);
}

TEST_F(Start, EachFailedCheckIsReportedAndNothingIsCreated)
{
    fs::create_directories(game / "taken");
    write_file(game / "afile", "");
    struct Case {
        const char* what;
        std::string modname;
        std::string q3path;
        const char* module_to_remove;
        std::string after_banner;
        std::string why;                  // the start of forkit's line on standard error
        const char* sourcepath = nullptr; // the code set's path
    };
    const std::string unknown = std::string(HEADING) + "Unknown error.\n";
    const std::string exists = std::string(HEADING) +
                               "The mod name you have chosen already exists in your Q3A "
                               "directory. Please choose a different name.\n";
    const std::string missing = (root / "missing").string();
    const Case cases[] = {
        {"no ui folder", "mymod", game.string(), "ui",
         std::string(HEADING) + "The source code is invalid. Please install a fresh copy of "
                                "the source code and try again.\n",
         "forkit: ui: "},
        {"no game folder", "mymod", missing, nullptr, unknown, "forkit: " + missing + ": "},
        {"mod exists", "taken", game.string(), nullptr, exists,
         "forkit: " + game.string() + sep() + "taken: already exists\n"},
        {"empty mod name", "", game.string(), nullptr, exists,
         "forkit: " + game.string() + sep() + ": "},
        {"mod name .", ".", game.string(), nullptr, exists,
         "forkit: " + game.string() + sep() + ".: "},
        {"mod name ..", "..", game.string(), nullptr, exists,
         "forkit: " + game.string() + sep() + "..: "},
        {"mod name is a file", "afile", game.string(), nullptr,
         "Creating directories...\n  " + game.string() + sep() + "afile\n" + unknown,
         "forkit: " + game.string() + sep() + "afile: "},
        // A mod's name is one folder: with a separator it would be made
        // beside the game folder, or anywhere.
        {"mod name climbs out", "..\\escape", game.string(), nullptr,
         "Creating directories...\n  " + game.string() + sep() + "..\\escape\n" + unknown,
         "forkit: ..\\escape: a mod name is one folder name\n"},
        {"mod name with a slash", "../taken", (game / "taken").string(), nullptr,
         "Creating directories...\n  " + (game / "taken").string() + sep() + "../taken\n" + unknown,
         "forkit: ../taken: a mod name is one folder name\n"},
        // The code set's files would be written at the root of the system.
        {"code set at the root", "mymod", game.string(), nullptr, unknown,
         "forkit: /: would put the code set at the root", "/"},
        {"empty code set path", "mymod", game.string(), nullptr, unknown,
         "forkit: \"\": would put the code set at the root", ""},
    };
    std::vector<Case> all(std::begin(cases), std::end(cases));
    // Windows would make another folder than the one named: a device name,
    // a trailing dot, or a character that the code page swaps for a
    // look-alike (forkit.exe gets "Omod" for "\u03a9mod").
    if (links_look_like_files()) {
        const std::pair<std::string, std::string> renamed[] = {
            {"NUL", "NUL"}, {"y.", "y."}, {"\xce\xa9mod", "Omod"}, {"COM\xc2\xb9", "COM\xb9"}};
        for (const auto& [typed, got] : renamed)
            all.push_back(
                {"a mod name Windows would change", typed, game.string(), nullptr,
                 "Creating directories...\n  " + game.string() + sep() + got + "\n" + unknown,
                 "forkit: " + got + ": "});
    }
    for (const Case& c : all) {
        if (c.module_to_remove)
            fs::rename(tree / c.module_to_remove, root / "away");
        const auto before = tree_listing(root);
        RunResult run =
            fork({c.modname, c.sourcepath ? c.sourcepath : code_set.string(), c.q3path});
        EXPECT_EQ(run.console, BANNER + c.after_banner) << c.what;
        EXPECT_EQ(run.errors.substr(0, c.why.size()), c.why) << c.what;
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(tree_listing(root), before) << c.what;
        if (c.module_to_remove)
            fs::rename(root / "away", tree / c.module_to_remove);
    }
}

// Arguments far longer than any path forkit forms end the run with a
// message, and nothing is ever created at a shortened path.
TEST_F(Start, OverlongArgumentsEndNormallyAndCreateNothingCut)
{
    const std::string long_name(3000, 'm');
    RunResult run = fork({long_name, code_set.string(), game.string()});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.console.substr(run.console.size() - 15), "Unknown error.\n");
    EXPECT_TRUE(fs::is_empty(game));
    EXPECT_FALSE(fs::exists(code_set));

    // A code set deeper than the text buffer: its files are reached by name
    // below its held folder, never by a path that was cut, so all of them
    // land where they belong; only the console's lines are cut, and marked.
    fs::path deep = root / "deep";
    while (deep.string().size() <= TEXT_BUFFER_LIMIT)
        deep /= "segment";
    fs::create_directories(deep);
    const auto before = tree_listing(root / "deep");
    run = fork({"mymod2", deep.string(), game.string()});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.console.find("Error"), std::string::npos) << run.console;
    EXPECT_NE(run.console.find("...\n"), std::string::npos);
    EXPECT_EQ(run.console.substr(run.console.size() - 14), "Task complete\n");
    std::vector<std::string> expected = before;
    const std::string at = fs::relative(deep, root / "deep").generic_string() + "/";
    for (const char* name :
         {"cgame", "cgame/cg_main.c", "cgame/cgame.q3asm", "game", "game/g_main.c",
          "game/game.q3asm", "notes.txt", "play it.bat", "ui", "ui/ui.q3asm", "ui/ui_main.c"})
        expected.push_back(at + name);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(tree_listing(root / "deep"), expected);
}

} // namespace
