#include "forkit_runner.h"
#include "tree_snapshot.h"

#include <algorithm>
#include <array>
#include <fcntl.h>
#include <functional>
#include <map>
#include <unistd.h>

namespace {

// The paths added, removed or changed between two snapshots, sorted.
std::vector<std::string> changes(const Snapshot& before, const Snapshot& after)
{
    std::vector<std::string> names;
    for (const auto& [name, bytes] : before) {
        auto found = after.find(name);
        if (found == after.end() || found->second != bytes)
            names.push_back(name);
    }
    for (const auto& [name, bytes] : after)
        if (before.count(name) == 0)
            names.push_back(name);
    std::sort(names.begin(), names.end());
    return names;
}

// Runs forkit with its files limited to `kib` KiB and SIGXFSZ ignored, so that a
// write past the limit fails as on a full disk. The console goes through a
// pipe, which the limit does not touch; forkit's exit status comes back.
std::string size_limited(int kib)
{
    return "bash -c 'set -o pipefail; trap \"\" XFSZ; (ulimit -f " + std::to_string(kib) +
           "; exec \"$@\") | cat' bash";
}

const std::array<std::string, 4> ALL_COPIED = {"  notes.txt Copied\n", "  g_main.c Copied\n",
                                               "  cg_main.c Copied\n", "  ui_main.c Copied\n"};

// The console of a run from the copy phase on.
std::string from_copies(const std::array<std::string, 4>& copies, const std::string& scripts = "",
                        const std::string& launcher = "")
{
    return "Copying Project files..\n" + copies[0] + "Copying Server files..\n" + copies[1] +
           "Copying Client files..\n" + copies[2] + "Copying User Interface files..\n" + copies[3] +
           SEPARATOR_LINES + "Creating new compilation scripts..\n" + scripts + SEPARATOR_LINES +
           "Creating \"play it.bat\"...\n" + launcher + SEPARATOR_LINES + "Task complete\n";
}

std::string copy_phase_of(const std::string& console)
{
    std::size_t start = console.find("Copying Project files..\n");
    return start == std::string::npos ? "(no copy phase in)\n" + console : console.substr(start);
}

// The console lines of a run in which no file at all could be written.
std::string nothing_written(const std::string& set)
{
    const std::array<std::string, 4> none = {
        "  Error copying notes.txt\n", "  Error copying g_main.c\n", "  Error copying cg_main.c\n",
        "  Error copying ui_main.c\n"};
    return from_copies(none,
                       "  Error creating " + set + "\\game\\game.q3asm\n  Error creating " + set +
                           "\\cgame\\cgame.q3asm\n  Error creating " + set + "\\ui\\ui.q3asm\n",
                       "  Error creating " + set + "\\play it.bat\n");
}

// Tears down, before the folders go, whatever a test mounted or mapped.
class FaultRun : public ForkitRun {
protected:
    void TearDown() override
    {
        for (auto at = mounts.rbegin(); at != mounts.rend(); ++at)
            (void)!std::system(("umount " + shell_quoted(at->string())).c_str());
        if (!drive_link.empty())
            fs::remove(drive_link);
        ForkitRun::TearDown();
    }

    // The root of the drive that map_drive makes, Y:\ for forkit; "" where
    // forkit does not run in a Wine prefix of the tests' own
    // (FORKIT_WINE_PREFIX).
    static std::string wine_drive()
    {
        return std::getenv("FORKIT_WINE_PREFIX") ? "Y:\\" : "";
    }

    // Makes wine_drive() a second name for `folder` until the test ends, as a
    // subst or network drive does on Windows.
    void map_drive(const fs::path& folder)
    {
        drive_link = fs::path(std::getenv("FORKIT_WINE_PREFIX")) / "dosdevices" / "y:";
        ASSERT_FALSE(fs::is_symlink(drive_link)) << drive_link << " is left from an earlier run";
        fs::create_directory_symlink(folder, drive_link);
    }

    // Mounts with `options` at `at` (a remount adds no mount to undo); the
    // reason to skip when that is not allowed here.
    std::string mount(const std::string& options, const fs::path& at)
    {
        const std::string command =
            "mount " + options + " " + shell_quoted(at.string()) + " 2>/dev/null";
        if (std::system(command.c_str()) != 0)
            return "cannot mount (" + options +
                   ") here; this needs root in a system that allows it";
        if (options.find("remount") == std::string::npos)
            mounts.push_back(at);
        return "";
    }

    std::vector<fs::path> mounts;
    fs::path drive_link;
};

enum FaultKind { NO_WRITE_FITS, DISK_FULL, READ_ONLY, BIG_FILES_FAIL };

struct Fault {
    const char* name;
    FaultKind kind;
};

void PrintTo(const Fault& fault, std::ostream* out)
{
    *out << fault.name;
}

class FailingWrites : public FaultRun, public testing::WithParamInterface<Fault> {};

// A second run into a code set, for another game folder, whose writes fail:
// each failure is reported, never as done, and every file the first run
// wrote stays whole; nothing outside the code set changes but the new mod's
// folder in the new game folder.
TEST_P(FailingWrites, AreReportedAndKeepEveryEarlierFile)
{
    std::string big_source, big_list;
    for (int i = 0; i < 20000; i++)
        big_source += "int line" + std::to_string(i) + ";\n";
    for (int i = 0; i < 10000; i++)
        big_list += "module" + std::to_string(i) + "\r\n";
    write_file(tree / "game" / "g_main.c", big_source);
    write_list("buildgame.dat", big_list);
    fs::create_directories(code_set);
    std::string skip, setup;
    if (GetParam().kind == DISK_FULL)
        skip = mount("-t tmpfs -o size=1m tmpfs", code_set);
    if (!skip.empty())
        GTEST_SKIP() << skip;

    ASSERT_EQ(copy_phase_of(fork().console), from_copies(ALL_COPIED));
    switch (GetParam().kind) {
    case NO_WRITE_FITS:
        setup = size_limited(0);
        break;
    case BIG_FILES_FAIL:
        setup = size_limited(2);
        break;
    case DISK_FULL: {
        // Fill every page that is left.
        int filler = open((code_set / "filler").c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(filler, 0);
        const std::string block(4096, 'f');
        while (write(filler, block.data(), block.size()) > 0) {
        }
        close(filler);
        break;
    }
    case READ_ONLY:
        skip = mount("--bind " + shell_quoted(code_set.string()), code_set);
        if (skip.empty())
            skip = mount("-o remount,bind,ro", code_set);
        if (skip.empty() &&
            std::system(
                ("touch " + shell_quoted((code_set / "x").string()) + " 2>/dev/null").c_str()) == 0)
            skip = "a read-only bind mount is still writable here";
        if (!skip.empty())
            GTEST_SKIP() << skip;
        break;
    }

    game = root / "quake3 b";
    fs::create_directories(game);
    const Snapshot before = snapshot(root);
    RunResult run = fork(setup);
    const std::string set = code_set.string();
    std::vector<std::string> changed = {"quake3 b/mymod"};
    if (GetParam().kind == BIG_FILES_FAIL) {
        const std::array<std::string, 4> copies = {ALL_COPIED[0], "  Error copying g_main.c\n",
                                                   ALL_COPIED[2], ALL_COPIED[3]};
        EXPECT_EQ(copy_phase_of(run.console),
                  from_copies(copies, "  Error creating " + set + "\\game\\game.q3asm\n"));
        // The small files are written anew, for the new game folder.
        changed = {"mymod/cgame/cgame.q3asm", "mymod/play it.bat", "mymod/ui/ui.q3asm",
                   "quake3 b/mymod"};
    } else {
        EXPECT_EQ(copy_phase_of(run.console), nothing_written(set));
    }
    EXPECT_EQ(changes(before, snapshot(root)), changed);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FailingWrites,
    testing::Values(Fault{"NoWriteFits", NO_WRITE_FITS}, Fault{"DiskFull", DISK_FULL},
                    Fault{"ReadOnlyCodeSet", READ_ONLY}, Fault{"BigFilesFail", BIG_FILES_FAIL}),
    [](const testing::TestParamInfo<Fault>& fault) { return std::string(fault.param.name); });

using InPlace = FaultRun;

// A code set that is the tree, or one of its folders, however the path
// reaches it, never writes over a file of the tree: only new files appear.
TEST_F(InPlace, NoShapeOfThePathWritesOverAFileOfTheTree)
{
    write_file(tree / "game" / "notes.txt", "the game's own notes");
    for (const char* module : {"game", "cgame", "ui"})
        write_file(tree / module / (std::string(module) + ".q3asm"), "the tree's own");
    write_file(tree / "play it.bat", "the tree's own launcher");
    write_file(tree / "game" / "play it.bat", "the game folder's own launcher");
    fs::create_directory_symlink(tree, root / "tree link");
    fs::create_directory_symlink(tree / "game", root / "game link");
    fs::copy(tree, root / "pristine", fs::copy_options::recursive);

    std::vector<std::string> into_game = {"game", "cgame\\..\\game", (root / "game link").string(),
                                          tree.string() + "\\game"};
    const std::string drive = wine_drive();
    if (!drive.empty())
        into_game.push_back(drive);
    const std::string into_tree[] = {".", tree.string(), "..\\source", "game\\..",
                                     (root / "tree link").string()};
    int runs = 0;
    for (const std::string& path : into_game) {
        SCOPED_TRACE(path);
        if (path == drive) {
            ASSERT_NO_FATAL_FAILURE(map_drive(tree / "game"));
        }
        mod = "mod" + std::to_string(++runs);
        const Snapshot before = snapshot(root);
        RunResult run = fork({mod, path, game.string()});
        const std::array<std::string, 4> copies = {"  Error copying notes.txt\n", ALL_COPIED[1],
                                                   ALL_COPIED[2], ALL_COPIED[3]};
        EXPECT_EQ(copy_phase_of(run.console),
                  from_copies(copies, "", "  Error creating " + path + "\\play it.bat\n"));
        const std::vector<std::string> added = {"quake3/" + mod,
                                                "source/game/cgame",
                                                "source/game/cgame/cg_main.c",
                                                "source/game/cgame/cgame.q3asm",
                                                "source/game/game",
                                                "source/game/game/g_main.c",
                                                "source/game/game/game.q3asm",
                                                "source/game/ui",
                                                "source/game/ui/ui.q3asm",
                                                "source/game/ui/ui_main.c"};
        EXPECT_EQ(changes(before, snapshot(root)), added);
        fs::remove_all(tree);
        fs::copy(root / "pristine", tree, fs::copy_options::recursive);
    }
    for (const std::string& path : into_tree) {
        SCOPED_TRACE(path);
        mod = "mod" + std::to_string(++runs);
        const Snapshot before = snapshot(root);
        RunResult run = fork({mod, path, game.string()});
        EXPECT_EQ(copy_phase_of(run.console), nothing_written(path));
        EXPECT_EQ(changes(before, snapshot(root)), std::vector<std::string>{"quake3/" + mod});
    }
}

using WrongKind = FaultRun;

// What a whole run writes into a new code set, but `kept`, and `more`.
std::vector<std::string> all_but(const std::vector<std::string>& kept,
                                 std::vector<std::string> more = {})
{
    for (const char* name :
         {"mymod", "mymod/cgame", "mymod/cgame/cg_main.c", "mymod/cgame/cgame.q3asm", "mymod/game",
          "mymod/game/g_main.c", "mymod/game/game.q3asm", "mymod/notes.txt", "mymod/play it.bat",
          "mymod/ui", "mymod/ui/ui.q3asm", "mymod/ui/ui_main.c"})
        if (std::find(kept.begin(), kept.end(), name) == kept.end())
            more.push_back(name);
    return more;
}

// Paths that name the wrong kind of thing are reported one by one, and
// nothing but what was written anew changes; the tree is never touched.
TEST_F(WrongKind, PathsOfTheWrongKindAreReportedAndKept)
{
    fs::copy(tree, root / "pristine", fs::copy_options::recursive);
    struct Case {
        const char* what;
        std::function<void()> prepare;
        std::string console;              // from the copy phase on
        std::vector<std::string> changed; // beside the new mod folder
        std::string game_folder = "quake3";
    };
    // A game folder too long for the launcher once each & gets its ^.
    const std::string amps(200, '&');
    const std::string amp_folder = "amps/" + amps + "/" + amps + "/" + amps + "/" + amps;
    const std::string set = code_set.string();
    const Case cases[] = {
        {"the code set is a plain file",
         [&] { write_file(code_set, "a plain file"); },
         nothing_written(set),
         {}},
        {"lists are folders",
         [&] {
             for (const char* list : {"copygame.dat", "buildcgame.dat"}) {
                 fs::remove(tree / list);
                 fs::create_directories(tree / list);
                 write_file(tree / list / "inside", "kept");
             }
         },
         from_copies(
             {ALL_COPIED[0], "  Error opening copygame.dat\n", ALL_COPIED[2], ALL_COPIED[3]},
             "  Error opening buildcgame.dat\n"),
         all_but({"mymod/game/g_main.c", "mymod/cgame/cgame.q3asm"})},
        {"destinations are folders",
         [&] {
             for (const char* name : {"game/g_main.c", "ui/ui.q3asm", "play it.bat"}) {
                 fs::create_directories(code_set / name);
                 write_file(code_set / name / "inside", "kept");
             }
         },
         from_copies({ALL_COPIED[0], "  Error copying g_main.c\n", ALL_COPIED[2], ALL_COPIED[3]},
                     "  Error creating " + set + "\\ui\\ui.q3asm\n",
                     "  Error creating " + set + "\\play it.bat\n"),
         all_but({"mymod", "mymod/game", "mymod/game/g_main.c", "mymod/ui", "mymod/ui/ui.q3asm",
                  "mymod/play it.bat"})},
        {"a hard link is left at a temporary name",
         [&] {
             fs::create_directories(code_set);
             write_file(code_set / "notes.txt", "earlier notes");
             fs::create_hard_link(tree / "notes.txt", code_set / "notes.txt.forkit-new");
         },
         from_copies(ALL_COPIED), all_but({"mymod"}, {"mymod/notes.txt.forkit-new"})},
        {"the launcher cannot be formed",
         [&] {
             fs::create_directories(root / amp_folder);
             fs::create_directories(code_set);
             write_file(code_set / "play it.bat", "earlier launcher");
         },
         from_copies(ALL_COPIED, "", "  Error creating " + set + "\\play it.bat\n"),
         all_but({"mymod", "mymod/play it.bat"}), amp_folder},
    };
    int runs = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        mod = "mod" + std::to_string(++runs);
        c.prepare();
        const Snapshot before = snapshot(root);
        RunResult run = fork({mod, set, (root / c.game_folder).string()});
        EXPECT_EQ(copy_phase_of(run.console), c.console);
        std::vector<std::string> expected = c.changed;
        expected.push_back(c.game_folder + "/" + mod);
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(changes(before, snapshot(root)), expected);
        fs::remove_all(code_set);
        fs::remove_all(tree);
        fs::copy(root / "pristine", tree, fs::copy_options::recursive);
    }
}

// Symbolic links left at the temporary names of files being replaced are
// removed, never written through into the files they name.
TEST_F(WrongKind, SymbolicLinksAtTheTemporaryNamesAreReplaced)
{
    if (links_look_like_files())
        GTEST_SKIP() << "the program under test sees a symbolic link as the file it names "
                        "(as Windows programs under Wine do), so it cannot remove the link alone";
    fs::create_directories(code_set / "game");
    fs::create_directories(code_set / "ui");
    write_file(code_set / "game" / "g_main.c", "earlier source");
    write_file(code_set / "ui" / "ui.q3asm", "earlier script");
    fs::create_symlink(tree / "game" / "g_main.c", code_set / "game" / "g_main.c.forkit-new");
    fs::create_symlink(tree / "buildui.dat", code_set / "ui" / "ui.q3asm.forkit-new");
    const Snapshot before = snapshot(root);
    RunResult run = fork();
    EXPECT_EQ(copy_phase_of(run.console), from_copies(ALL_COPIED));
    std::vector<std::string> expected =
        all_but({"mymod", "mymod/game", "mymod/ui"},
                {"mymod/game/g_main.c.forkit-new", "mymod/ui/ui.q3asm.forkit-new", "quake3/mymod"});
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(changes(before, snapshot(root)), expected);
}

} // namespace
