#include "forkit_runner.h"
#include "tree_snapshot.h"

#include <algorithm>
#include <array>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <map>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

// The temporary files below `folder`.
std::vector<std::string> leftovers(const fs::path& folder)
{
    std::vector<std::string> found;
    for (const std::string& name : tree_listing(folder))
        if (name.find(".forkit-new") != std::string::npos)
            found.push_back(name);
    return found;
}

// Runs forkit with its files limited to `kib` KiB and SIGXFSZ ignored, so that a
// write past the limit fails as on a full disk. The console and standard
// error go through pipes, which the limit does not touch; forkit's exit
// status comes back.
std::string size_limited(int kib)
{
    return "bash -c 'set -o pipefail; trap \"\" XFSZ; { (ulimit -f " + std::to_string(kib) +
           "; exec \"$@\") 2>&1 1>&3 3>&- | cat >&2; } 3>&1 | cat' bash";
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

// Shell words that run forkit with the faults `faults` (fault_shim.cpp).
// AddressSanitizer wants its library first, which a preloaded one is not.
std::string with_faults(const std::string& faults)
{
    return "ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=" + shell_quoted(FORKIT_FAULT_SHIM) +
           " " + faults + " ";
}

// Natively, reads of 4 KiB make a copy last long enough for a busy machine's
// shell to see its temporary and act while it is there.
std::string slowly()
{
    return links_look_like_files() ? "" : with_faults("FORKIT_SHORT_READS=4096");
}

// Lines of C, `count` of them, as a source and as forkit copies it.
std::pair<std::string, std::string> big_source(int count, const std::string& word)
{
    std::string source, copy;
    source.reserve(static_cast<std::size_t>(count) * (word.size() + 14));
    copy.reserve(static_cast<std::size_t>(count) * (word.size() + 15));
    for (int i = 0; i < count; i++) {
        const std::string line = "int " + word + std::to_string(i) + ";";
        source.append(line).append("\n");
        copy.append(line).append("\r\n");
    }
    return {source, copy};
}

// The console lines of a run in which no file at all could be written.
std::string nothing_written(const std::string& set)
{
    const std::array<std::string, 4> none = {
        "  Error copying notes.txt\n", "  Error copying g_main.c\n", "  Error copying cg_main.c\n",
        "  Error copying ui_main.c\n"};
    const std::string s = sep();
    return from_copies(none,
                       "  Error creating " + set + s + "game" + s +
                           "game.q3asm\n  Error creating " + set + s + "cgame" + s +
                           "cgame.q3asm\n  Error creating " + set + s + "ui" + s + "ui.q3asm\n",
                       "  Error creating " + set + s + "play it.bat\n");
}

// Tears down, before the folders go, whatever a test mounted.
class FaultRun : public ForkitRun {
protected:
    void TearDown() override
    {
        for (auto at = mounts.rbegin(); at != mounts.rend(); ++at)
            (void)!std::system(("umount " + shell_quoted(at->string())).c_str());
        ForkitRun::TearDown();
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
};

enum FaultKind { NO_WRITE_FITS, DISK_FULL, READ_ONLY, BIG_FILES_FAIL, RENAME_FAILS };

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
    std::string big_list;
    for (int i = 0; i < 10000; i++)
        big_list += "module" + std::to_string(i) + "\r\n";
    write_file(tree / "game" / "g_main.c", big_source(20000, "line").first);
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
    case RENAME_FAILS: {
        // Nothing may be renamed over a mount point: the copy is complete
        // when its rename fails.
        const fs::path copy = code_set / "game" / "g_main.c";
        skip = mount("--bind " + shell_quoted(copy.string()), copy);
        if (!skip.empty())
            GTEST_SKIP() << skip;
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
    const std::array<std::string, 4> copies = {ALL_COPIED[0], "  Error copying g_main.c\n",
                                               ALL_COPIED[2], ALL_COPIED[3]};
    if (GetParam().kind == BIG_FILES_FAIL) {
        EXPECT_EQ(copy_phase_of(run.console),
                  from_copies(copies,
                              "  Error creating " + set + sep() + "game" + sep() + "game.q3asm\n"));
        // The small files are written anew, for the new game folder.
        changed = {"mymod/cgame/cgame.q3asm", "mymod/play it.bat", "mymod/ui/ui.q3asm",
                   "quake3 b/mymod"};
    } else if (GetParam().kind == RENAME_FAILS) {
        EXPECT_EQ(copy_phase_of(run.console), from_copies(copies));
        changed = {"mymod/cgame/cgame.q3asm", "mymod/game/game.q3asm", "mymod/play it.bat",
                   "mymod/ui/ui.q3asm", "quake3 b/mymod"};
    } else {
        EXPECT_EQ(copy_phase_of(run.console), nothing_written(set));
    }
    // The reason is the system's for the call that failed.
    const char* const reasons[][2] = {{"File too large", "General failure"},
                                      {"No space left on device", "Disk full"},
                                      {"Read-only file system", "Access denied"},
                                      {"File too large", "General failure"},
                                      {"Device or resource busy", "Lock violation"}};
    EXPECT_NE(run.errors.find("g_main.c: " +
                              std::string(reasons[GetParam().kind][links_look_like_files()])),
              std::string::npos)
        << run.errors;
    EXPECT_EQ(changes(before, snapshot(root)), changed);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FailingWrites,
    testing::Values(Fault{"NoWriteFits", NO_WRITE_FITS}, Fault{"DiskFull", DISK_FULL},
                    Fault{"ReadOnlyCodeSet", READ_ONLY}, Fault{"BigFilesFail", BIG_FILES_FAIL},
                    Fault{"RenamesFail", RENAME_FAILS}),
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
    // Named like a temporary, but a file of the tree's own: never removed.
    write_file(tree / "cgame" / "cg_main.c.forkit-new", "the tree's own");
    write_file(tree / "game" / "play it.bat", "the game folder's own launcher");
    fs::create_directory_symlink(tree, root / "tree link");
    fs::create_directory_symlink(tree / "game", root / "game link");
    fs::copy(tree, root / "pristine", fs::copy_options::recursive);

    const std::string s = sep();
    const std::string into_game[] = {"game", "cgame" + s + ".." + s + "game",
                                     (root / "game link").string(), tree.string() + s + "game"};
    const std::string into_tree[] = {".", tree.string(), ".." + s + "source", "game" + s + "..",
                                     (root / "tree link").string()};
    int runs = 0;
    for (const std::string& path : into_game) {
        SCOPED_TRACE(path);
        mod = "mod" + std::to_string(++runs);
        const Snapshot before = snapshot(root);
        RunResult run = fork({mod, path, game.string()});
        const std::array<std::string, 4> copies = {"  Error copying notes.txt\n", ALL_COPIED[1],
                                                   ALL_COPIED[2], ALL_COPIED[3]};
        EXPECT_EQ(copy_phase_of(run.console),
                  from_copies(copies, "", "  Error creating " + path + s + "play it.bat\n"));
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

// The tree's folder reached another way, by a bind mount made in a mount
// namespace of the run's own: as the code set's module folder, it takes no
// file, and the tree's files stay as they were, its file at a temporary name
// too; the system's root bound elsewhere is still refused as a code set.
TEST_F(InPlace, TheTreeOrTheRootReachedByABindMountIsNeverWritten)
{
    if (links_look_like_files())
        GTEST_SKIP() << "Wine's server opens the files, outside the run's mount namespace";
    if (std::system("unshare -m --propagation private true 2>/dev/null") != 0)
        GTEST_SKIP() << "cannot make a mount namespace here; this needs root";
    // Mounts `from` at `to`, seen only by the run.
    const auto bound = [](const fs::path& from, const fs::path& to) {
        return "unshare -m --propagation private sh -c 'mount --bind \"$1\" \"$2\" && shift 2 && "
               "exec \"$@\"' sh " +
               shell_quoted(from.string()) + " " + shell_quoted(to.string());
    };
    write_file(tree / "game" / "design.forkit-new", "the tree's own");
    fs::create_directories(code_set / "game");
    const Snapshot tree_before = snapshot(tree);
    RunResult run = fork(bound(tree / "game", code_set / "game"));
    const std::string game_folder = code_set.string() + sep() + "game";
    EXPECT_NE(run.console.find("  " + game_folder + "\n  Error creating " + game_folder + "\n"),
              std::string::npos)
        << run.console;
    EXPECT_EQ(
        copy_phase_of(run.console),
        from_copies({ALL_COPIED[0], "  Error copying g_main.c\n", ALL_COPIED[2], ALL_COPIED[3]},
                    "  Error creating " + game_folder + sep() + "game.q3asm\n"));
    EXPECT_NE(run.errors.find("is a folder of the source tree"), std::string::npos) << run.errors;
    EXPECT_EQ(snapshot(tree), tree_before);

    fs::create_directories(root / "bound root");
    mod = "at the root";
    run =
        fork({mod, (root / "bound root").string(), game.string()}, bound("/", root / "bound root"));
    EXPECT_EQ(run.console, std::string(BANNER) + "The following error was encountered:\n"
                                                 "Unknown error.\n");
    EXPECT_NE(run.errors.find("would put the code set at the root"), std::string::npos)
        << run.errors;
}

// A code set in a folder of the tree that an entry reads from later: the
// root list's file of the same name never replaces the tree's.
TEST_F(InPlace, AFolderOfTheTreeReadFromLaterIsNeverWritten)
{
    fs::create_directories(tree / "game" / "sub");
    write_file(tree / "game" / "sub" / "a.c", "the tree's own");
    write_file(tree / "a.c", "the root's");
    write_list("copyproject.dat", "a.c\r\n");
    write_list("copygame.dat", "sub\\a.c\r\n");
    const Snapshot before = snapshot(tree);
    RunResult run = fork({mod, (tree / "game" / "sub").string(), game.string()});
    EXPECT_NE(run.console.find("Copying Project files..\n  Error copying a.c\n"), std::string::npos)
        << run.console;
    EXPECT_EQ(read_file(tree / "game" / "sub" / "a.c"), "the tree's own");
    for (const std::string& name : changes(before, snapshot(tree)))
        EXPECT_EQ(name.find("game/sub/a.c"), std::string::npos) << name;
}

using WrongKind = FaultRun;

void make_fifo(const fs::path& path)
{
    ASSERT_EQ(mkfifo(path.c_str(), 0644), 0) << path;
}

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
                     "  Error creating " + set + sep() + "ui" + sep() + "ui.q3asm\n",
                     "  Error creating " + set + sep() + "play it.bat\n"),
         all_but({"mymod", "mymod/game", "mymod/game/g_main.c", "mymod/ui", "mymod/ui/ui.q3asm",
                  "mymod/play it.bat"})},
        // Removed where the link is seen as what it is; a Windows program
        // under Wine cannot tell it from another name of the tree's file,
        // and keeps it.
        {"a hard link is left at a temporary name",
         [&] {
             fs::create_directories(code_set);
             write_file(code_set / "notes.txt", "earlier notes");
             fs::create_hard_link(tree / "notes.txt", code_set / "notes.txt.forkit-new");
         },
         from_copies(ALL_COPIED),
         links_look_like_files() ? all_but({"mymod"})
                                 : all_but({"mymod"}, {"mymod/notes.txt.forkit-new"})},
        // Read, a FIFO would wait for a writer and /dev/zero never end.
        {"lists and sources are not regular files",
         [&] {
             fs::remove(tree / "copygame.dat");
             make_fifo(tree / "copygame.dat");
             fs::remove(tree / "ui" / "ui_main.c");
             make_fifo(tree / "ui" / "ui_main.c");
             for (const char* list : {"copycgame.dat", "buildui.dat"}) {
                 fs::remove(tree / list);
                 fs::create_symlink("/dev/zero", tree / list);
             }
         },
         from_copies({ALL_COPIED[0], "  Error opening copygame.dat\n",
                      "  Error opening copycgame.dat\n", "  Error copying ui_main.c\n"},
                     "  Error opening buildui.dat\n"),
         all_but({"mymod/game/g_main.c", "mymod/cgame/cg_main.c", "mymod/ui/ui_main.c",
                  "mymod/ui/ui.q3asm"})},
        {"destinations are read-only or not files",
         [&] {
             fs::create_directories(code_set / "game");
             fs::create_directories(code_set / "ui");
             for (const char* name : {"game/g_main.c", "play it.bat"}) {
                 write_file(code_set / name, "kept");
                 fs::permissions(code_set / name, fs::perms::owner_read | fs::perms::group_read |
                                                      fs::perms::others_read);
             }
             make_fifo(code_set / "ui" / "ui_main.c");
         },
         from_copies({ALL_COPIED[0], "  Error copying g_main.c\n", ALL_COPIED[2],
                      "  Error copying ui_main.c\n"},
                     "", "  Error creating " + set + sep() + "play it.bat\n"),
         all_but({"mymod", "mymod/game", "mymod/game/g_main.c", "mymod/ui", "mymod/ui/ui_main.c",
                  "mymod/play it.bat"})},
        // A copy made in place of its own source would be no copy.
        {"a destination is its source, by a hard link",
         [&] {
             fs::create_directories(code_set / "game");
             fs::create_hard_link(tree / "game" / "g_main.c", code_set / "game" / "g_main.c");
         },
         from_copies({ALL_COPIED[0], "  Error copying g_main.c\n", ALL_COPIED[2], ALL_COPIED[3]}),
         all_but({"mymod", "mymod/game", "mymod/game/g_main.c"})},
        // A tree fetched from elsewhere must not publish the user's files, nor
        // have a list replaced by one of its own copies.
        {"lists are links out of the tree",
         [&] {
             fs::create_directories(code_set);
             write_file(code_set / "notes.txt", "notes.txt\r\n");
             fs::remove(tree / "copyproject.dat");
             fs::create_symlink(code_set / "notes.txt", tree / "copyproject.dat");
             write_file(root / "secret", "not for publishing");
             fs::remove(tree / "buildgame.dat");
             fs::create_symlink(root / "secret", tree / "buildgame.dat");
         },
         from_copies(
             {"  Error opening copyproject.dat\n", ALL_COPIED[1], ALL_COPIED[2], ALL_COPIED[3]},
             "  Error opening buildgame.dat\n"),
         all_but({"mymod", "mymod/notes.txt", "mymod/game/game.q3asm"})},
        // A run killed while writing leaves its file at a temporary name.
        {"stopped runs left their files at temporary names",
         [&] {
             fs::create_directories(code_set / "game");
             for (const char* name : {"g_main.c.forkit-new", "g_main.c.forkit-new2",
                                      "g_main.c.forkit-new4", "game.q3asm.forkit-new3"})
                 write_file(code_set / "game" / name, "half of a cop");
         },
         from_copies(ALL_COPIED),
         all_but({"mymod", "mymod/game"},
                 {"mymod/game/g_main.c.forkit-new", "mymod/game/g_main.c.forkit-new2",
                  "mymod/game/g_main.c.forkit-new4", "mymod/game/game.q3asm.forkit-new3"})},
        {"the launcher cannot be formed",
         [&] {
             fs::create_directories(root / amp_folder);
             fs::create_directories(code_set);
             write_file(code_set / "play it.bat", "earlier launcher");
         },
         from_copies(ALL_COPIED, "", "  Error creating " + set + sep() + "play it.bat\n"),
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

// Calls that fail, or give less than asked, as on some file systems: each
// failure is told, and no earlier file is lost nor a cut one kept. forkit
// runs with a preloaded library that makes them so (fault_shim.cpp).
TEST_F(WrongKind, SystemCallsThatFailOrReadShortLoseNothing)
{
    if (links_look_like_files())
        GTEST_SKIP() << "the calls are made to fail in a POSIX program";
    const auto [big, big_copy] = big_source(3000, "line");
    write_file(tree / "game" / "g_main.c", big);
    struct Case {
        const char* what;
        const char* fault;
        std::string copygame; // the game's copy list
        std::string console;  // from the copy phase on
        std::string g_main;   // the copy, or the earlier file kept
        const char* why;      // in what standard error says
        bool script_kept = false;
    };
    const Case cases[] = {
        {"a read that gives a few bytes is not the end", "FORKIT_SHORT_READS=7", "g_main.c\r\n",
         from_copies(ALL_COPIED), big_copy, ""},
        {"a write-back error at close keeps the earlier file",
         "FORKIT_FAILING_CLOSE=/g_main.c.forkit-new", "g_main.c\r\n",
         from_copies({ALL_COPIED[0], "  Error copying g_main.c\n", ALL_COPIED[2], ALL_COPIED[3]}),
         "earlier", "g_main.c: Input/output error\n"},
        {"a list line cut by a read error is no entry", "FORKIT_FAILING_READ=copygame.dat:14",
         "g_main.c\r\nabcdefgh\r\n",
         from_copies({ALL_COPIED[0], ALL_COPIED[1] + "  Error reading copygame.dat\n",
                      ALL_COPIED[2], ALL_COPIED[3]}),
         big_copy, "copygame.dat: Input/output error\n"},
        {"a file that cannot be created says why, not that its names are taken",
         "FORKIT_FAILING_CREATE=g_main.c.forkit-new", "g_main.c\r\n",
         from_copies({ALL_COPIED[0], "  Error copying g_main.c\n", ALL_COPIED[2], ALL_COPIED[3]}),
         "earlier", "g_main.c: No space left on device\n"},
        {"a folder of the code set that cannot be told from the tree's takes no file",
         "FORKIT_FAILING_FSTAT=/game", "g_main.c\r\n",
         from_copies({ALL_COPIED[0], "  Error copying g_main.c\n", ALL_COPIED[2], ALL_COPIED[3]},
                     "  Error creating " + code_set.string() + sep() + "game" + sep() +
                         "game.q3asm\n"),
         "earlier", "game: cannot be told from the source tree's folders\n", true},
        {"a build list that fails while read gives no command file",
         "FORKIT_FAILING_READ=buildgame.dat:3", "g_main.c\r\n",
         from_copies(ALL_COPIED, "  Error reading buildgame.dat\n"), big_copy,
         "buildgame.dat: Input/output error\n", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(code_set);
        fs::create_directories(code_set / "game");
        write_file(code_set / "game" / "g_main.c", "earlier");
        write_file(code_set / "game" / "game.q3asm", "earlier script");
        write_list("copygame.dat", c.copygame);
        mod = std::string("mod") + std::to_string(&c - cases);
        RunResult run = fork(with_faults(c.fault));
        EXPECT_EQ(copy_phase_of(run.console), c.console);
        EXPECT_TRUE(read_file(code_set / "game" / "g_main.c") == c.g_main);
        EXPECT_EQ(read_file(code_set / "game" / "game.q3asm") == "earlier script", c.script_kept);
        EXPECT_NE(run.errors.find(c.why), std::string::npos) << run.errors;
        EXPECT_EQ(leftovers(code_set), std::vector<std::string>{});
    }
}

// Folders swapped for links to elsewhere, and back, again and again while a
// run copies a few thousand files: the run keeps to the folders it checked,
// so nothing appears outside the three places, and every copy holds its own
// source's bytes or failed. The swaps are the host's, under Wine too: moved
// aside for a moment, or exchanged with the link at once, so that the name
// always leads somewhere.
TEST_F(WrongKind, FoldersSwappedForLinksMidRunChangeNothing)
{
    const int count = 2000;
    std::string list;
    fs::create_directories(root / "decoy");
    for (int i = 0; i < count; i++) {
        const std::string name = "f" + std::to_string(i) + ".c";
        write_file(tree / "game" / name, "int source" + std::to_string(i) + ";\n");
        write_file(root / "decoy" / name, "int decoy;\n");
        list += name + "\r\n";
    }
    write_list("copygame.dat", list);
    const Snapshot decoy = snapshot(root / "decoy");
    // Swaps `folder` for a link to `elsewhere` and back.
    const auto moved_aside = [](const std::string& folder, const std::string& elsewhere) {
        const std::string held = folder + ".held";
        if (rename(folder.c_str(), held.c_str()) == 0) {
            (void)!symlink(elsewhere.c_str(), folder.c_str());
            (void)!unlink(folder.c_str());
            (void)!rename(held.c_str(), folder.c_str());
        }
    };
    const auto exchanged = [](const std::string& folder, const std::string& elsewhere) {
        const std::string link = folder + ".held";
        (void)!symlink(elsewhere.c_str(), link.c_str());
        (void)!renameat2(AT_FDCWD, folder.c_str(), AT_FDCWD, link.c_str(), RENAME_EXCHANGE);
        (void)!renameat2(AT_FDCWD, folder.c_str(), AT_FDCWD, link.c_str(), RENAME_EXCHANGE);
    };
    const std::pair<const char*, std::function<void(const std::string&, const std::string&)>>
        ways[] = {{"moved aside", moved_aside}, {"exchanged", exchanged}};
    for (const auto& [way, swap] : ways) {
        SCOPED_TRACE(way);
        fs::remove_all(code_set);
        fs::remove_all(root / "outside");
        fs::create_directories(root / "outside");
        mod = std::string("mod ") + way;
        // Once the run has held the code set's game folder, swap it and the
        // tree's for links until told to stop.
        const pid_t swapper = ::fork();
        ASSERT_GE(swapper, 0);
        if (swapper == 0) {
            while (!fs::exists(code_set / "game" / "f0.c"))
                usleep(100);
            for (;;) {
                swap((tree / "game").string(), (root / "decoy").string());
                swap((code_set / "game").string(), (root / "outside").string());
            }
        }
        RunResult run = fork();
        kill(swapper, SIGKILL);
        waitpid(swapper, nullptr, 0);
        // Put back what the swapper left mid-swap.
        for (const fs::path& folder : {tree / "game", code_set / "game"}) {
            const fs::path held = folder.string() + ".held";
            if (fs::is_symlink(folder) && fs::is_directory(fs::symlink_status(held)))
                fs::remove(folder);
            if (fs::is_directory(fs::symlink_status(held)))
                fs::rename(held, folder);
            fs::remove(held);
        }
        // Wine renames a file by its folder's path: one swapped at that
        // moment sends the file outside, which is told as a failure.
        if (!links_look_like_files()) {
            EXPECT_TRUE(fs::is_empty(root / "outside"));
        }
        EXPECT_EQ(snapshot(root / "decoy"), decoy);
        int copied = 0;
        for (int i = 0; i < count; i++) {
            const std::string name = "f" + std::to_string(i) + ".c";
            const bool said = run.console.find("  " + name + " Copied\n") != std::string::npos;
            copied += said;
            EXPECT_EQ(said ? read_file(code_set / "game" / name) : "",
                      said ? "int source" + std::to_string(i) + ";\r\n" : "")
                << name;
        }
        // Under Wine, which goes by the held folder's name for some calls, a
        // file may fail instead.
        if (!links_look_like_files()) {
            EXPECT_EQ(copied, count) << run.errors;
        }
    }
}

// A destination made read-only while its replacement is written stays as it
// is: what is at the name is looked at just before the rename.
TEST_F(WrongKind, AFileMadeReadOnlyWhileItsReplacementIsWrittenIsKept)
{
    // Long enough a copy that a busy machine's shell sees its temporary.
    write_file(tree / "game" / "g_main.c", big_source(3000000, "line").first);
    fs::create_directories(code_set / "game");
    const fs::path edited = code_set / "game" / "g_main.c";
    write_file(edited, "my edits");
    RunResult run =
        fork(slowly() + "T=" + shell_quoted(edited.string() + ".forkit-new") +
             " F=" + shell_quoted(edited.string()) +
             " bash -c '\"$@\" & pid=$!; until [ -e \"$T\" ]; do kill -0 $pid 2>/dev/null"
             " || exit 3; done; chmod a-w \"$F\"; wait $pid' bash");
    EXPECT_NE(run.console.find("  Error copying g_main.c\n"), std::string::npos) << run.console;
    EXPECT_NE(run.errors.find("g_main.c: is read-only"), std::string::npos) << run.errors;
    EXPECT_TRUE(read_file(edited) == "my edits");
    EXPECT_EQ(leftovers(code_set), std::vector<std::string>{});
}

// The folders that entries name take the records a run holds folders in,
// but for those of the code set's own folders: they are made all the same,
// and only the entries past the last record fail (the code set has none of
// the entries' folders here, so their copies fail too).
TEST_F(WrongKind, ManyEntryFoldersLeaveRoomForTheCodeSetsOwn)
{
    std::string list;
    for (int i = 0; i < 130; i++) {
        fs::create_directories(tree / "game" / ("s" + std::to_string(i)));
        write_file(tree / "game" / ("s" + std::to_string(i)) / "f.c", "int f;\n");
        list += "s" + std::to_string(i) + "\\f.c\r\n";
    }
    write_list("copygame.dat", list + "g_main.c\r\n");
    RunResult run = fork();
    EXPECT_EQ(run.console.substr(0, directories_block().size()), directories_block());
    EXPECT_NE(run.console.find("  Error copying s129\\f.c\n"), std::string::npos);
    EXPECT_NE(run.console.find("  g_main.c Copied\nCopying Client"), std::string::npos);
    EXPECT_NE(run.errors.find("s129: is not among the folders forkit held as the run began"),
              std::string::npos)
        << run.errors;
    for (const char* name : {"notes.txt", "game/g_main.c", "game/game.q3asm", "play it.bat"})
        EXPECT_TRUE(fs::exists(code_set / name)) << name;
}

// On a drive letter that names a folder, as subst and a mapped share do,
// what a stopped run left at a temporary name is removed all the same.
TEST_F(WrongKind, LeftoversGoOnADriveThatNamesAFolder)
{
    const char* prefix = std::getenv("FORKIT_WINE_PREFIX");
    if (prefix == nullptr)
        GTEST_SKIP() << "drive letters are Windows'";
    const fs::path drive = fs::path(prefix) / "dosdevices" / "y:";
    fs::remove(drive);
    fs::create_directory_symlink(root, drive);
    fs::create_directories(code_set / "game");
    write_file(code_set / "game" / "g_main.c.forkit-new", "half of a cop");
    write_file(code_set / "game" / "g_main.c.forkit-new2", "half of another");
    RunResult run = fork({mod, "Y:\\" + code_set.filename().string(), game.string()});
    fs::remove(drive);
    EXPECT_EQ(copy_phase_of(run.console), from_copies(ALL_COPIED));
    EXPECT_EQ(leftovers(code_set), std::vector<std::string>{});
    EXPECT_EQ(read_file(code_set / "game" / "g_main.c"), "int score;\r\nint frags;\r\n");
}

// Symbolic links left at the temporary names of files being replaced are
// removed, never written through into the files they name, nor removed with
// them. A Windows program under Wine sees such a link as the file it names,
// and leaves it.
TEST_F(WrongKind, SymbolicLinksAtTheTemporaryNamesAreReplaced)
{
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
        all_but({"mymod", "mymod/game", "mymod/ui"}, {"quake3/mymod"});
    if (!links_look_like_files())
        expected.insert(expected.end(),
                        {"mymod/game/g_main.c.forkit-new", "mymod/ui/ui.q3asm.forkit-new"});
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(changes(before, snapshot(root)), expected);
}

} // namespace

namespace {

using Stopped = FaultRun;

// Whatever stops a run while it writes a file, a final name holds nothing or
// the whole file. SIGINT, SIGTERM and SIGHUP wait until the file in hand is
// in place, and leave nothing at a temporary name; what SIGKILL leaves there,
// the next run removes. Each signal is sent once the temporary is there, and
// only while it still is: a run that ends first fails the test.
TEST_F(Stopped, NoFinalNameEverHoldsAPartialFile)
{
    const auto [source, copy] = big_source(3000000, "line");
    write_file(tree / "game" / "g_main.c", source);
    // A signal that lands in Wine's own start-up can leave Wine waiting for
    // good on a lock that the signal interrupted: under Wine, a run still
    // there after 20 s is killed. forkit itself must never hang, so nothing
    // else waits on its behalf.
    const std::string end_a_hung_wine =
        std::getenv("FORKIT_WINE_PREFIX")
            ? "(sleep 20; kill -KILL $pid) & wait $pid; kill %2 2>/dev/null; "
            : "";
    int runs = 0;
    for (const char* signal_name : {"INT", "TERM", "HUP", "KILL"}) {
        for (const char* moment : {"0", "0.001"}) {
            SCOPED_TRACE(std::string(signal_name) + " " + moment + " s after the temporary came");
            code_set = root / ("set" + std::to_string(++runs));
            mod = "mod" + std::to_string(runs);
            const std::string temporary = (code_set / "game" / "g_main.c.forkit-new").string();
            // With job control on, a background job does not ignore SIGINT.
            fork(slowly() + "T=" + shell_quoted(temporary) +
                 " bash -c 'set -m; \"$@\" & pid=$!; until [ -e \"$T\" ]; do kill -0 $pid "
                 "2>/dev/null || exit 3; done; sleep " +
                 moment + "; [ -e \"$T\" ] || exit 4; kill -" + signal_name + " $pid; " +
                 end_a_hung_wine + "wait $pid; exit 0' bash");
            if (fs::exists(code_set / "game" / "g_main.c")) {
                EXPECT_TRUE(read_file(code_set / "game" / "g_main.c") == copy);
            }
            if (std::string(signal_name) != "KILL" && fs::exists(code_set)) {
                EXPECT_EQ(leftovers(code_set), std::vector<std::string>{});
            }

            mod += "again";
            RunResult again = fork();
            EXPECT_EQ(again.console.substr(again.console.size() - 14), "Task complete\n");
            EXPECT_TRUE(read_file(code_set / "game" / "g_main.c") == copy);
            EXPECT_EQ(leftovers(code_set), std::vector<std::string>{});
        }
    }
}

// A hang-up that the caller kept from forkit, ignored as nohup does or
// blocked, stays kept from it while it writes.
TEST_F(Stopped, AHangUpTheCallerKeptOffDoesNotStopTheRun)
{
    if (links_look_like_files())
        GTEST_SKIP() << "a hang-up is a POSIX signal";
    const auto [source, copy] = big_source(600000, "line");
    write_file(tree / "game" / "g_main.c", source);
    const std::array<std::pair<const char*, const char*>, 2> callers = {{
        {"ignored", "trap \"\" HUP; \"$@\""},
        {"blocked", "python3 -c \"import os, signal, sys; "
                    "signal.pthread_sigmask(signal.SIG_BLOCK, [signal.SIGHUP]); "
                    "os.execvp(sys.argv[1], sys.argv[1:])\" \"$@\""},
    }};
    for (const auto& [how, run_forkit] : callers) {
        SCOPED_TRACE(how);
        code_set = root / how;
        mod = how;
        const std::string temporary = (code_set / "game" / "g_main.c.forkit-new").string();
        fork(slowly() + "T=" + shell_quoted(temporary) + " bash -c '" + run_forkit +
             " & pid=$!; until [ -e \"$T\" ]; do kill -0 $pid 2>/dev/null || exit 3; done; "
             "kill -HUP $pid; wait $pid' bash");
        EXPECT_TRUE(read_file(code_set / "game" / "g_main.c") == copy);
        EXPECT_TRUE(fs::exists(code_set / "play it.bat"));
    }
}

// A standard output closed before forkit writes to it stops nothing.
TEST_F(Stopped, AClosedOutputDoesNotStopTheRun)
{
    fork("bash -c 'set -o pipefail; (sleep 0.3; \"$@\") | head -c 0' bash");
    EXPECT_EQ(read_file(code_set / "game" / "g_main.c"), "int score;\r\nint frags;\r\n");
    EXPECT_TRUE(fs::exists(code_set / "play it.bat"));
}

// Two runs at once into one code set, from two trees for two game folders:
// each reports only what it completed, and every file in place is whole and
// from one of them.
TEST_F(Stopped, TwoRunsAtOnceEachPutOnlyWholeFilesInPlace)
{
    const auto [first_source, first_copy] = big_source(300000, "first");
    const auto [second_source, second_copy] = big_source(300000, "second");
    write_file(tree / "game" / "g_main.c", first_source);
    fs::copy(tree, root / "second", fs::copy_options::recursive);
    write_file(root / "second" / "game" / "g_main.c", second_source);
    const fs::path second_game = root / "quake3 b";
    fs::create_directories(second_game);
    const std::string set = code_set.string();

    // The temporary names of a run still going, which holds their folder,
    // are not taken from it: the next free one is used, the last of them too.
    if (!links_look_like_files()) {
        fs::create_directories(code_set / "game");
        const fs::path game_folder = code_set / "game";
        for (const char* held :
             {"g_main.c.forkit-new", "g_main.c.forkit-new2", "g_main.c.forkit-new3"})
            write_file(game_folder / held, "another run's unfinished copy");
        int fd = open(game_folder.c_str(), O_RDONLY | O_DIRECTORY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(flock(fd, LOCK_SH), 0);
        mod = "held";
        RunResult run = fork();
        EXPECT_EQ(copy_phase_of(run.console), from_copies(ALL_COPIED));
        EXPECT_EQ(read_file(game_folder / "g_main.c.forkit-new3"), "another run's unfinished copy");
        EXPECT_TRUE(read_file(game_folder / "g_main.c") == first_copy);
        // With the fourth taken too, the file cannot be written, and says why.
        write_file(game_folder / "g_main.c.forkit-new4", "yet another");
        mod = "all taken";
        run = fork();
        EXPECT_NE(run.console.find("  Error copying g_main.c\n"), std::string::npos);
        EXPECT_NE(run.errors.find("g_main.c: its temporary names are all taken"), std::string::npos)
            << run.errors;
        close(fd);
        // Once no run holds the folder, the next run removes what they left.
        mod = "after them";
        run = fork();
        EXPECT_EQ(leftovers(code_set), std::vector<std::string>{});
    }

    for (int round = 0; round < 4; round++) {
        SCOPED_TRACE("round " + std::to_string(round));
        const std::string first_mod = "first" + std::to_string(round);
        const std::string second_mod = "second" + std::to_string(round);
        RunResult run = run_shell(
            root, "(cd second && " + forkit_command({second_mod, set, second_game.string()}) +
                      " > ../second.console 2>&1) & (cd source && " +
                      forkit_command({first_mod, set, game.string()}) + "); wait");
        const std::string second_console = read_file(root / "second.console");
        for (const std::string& console : {run.console, second_console}) {
            EXPECT_EQ(console.find("Error"), std::string::npos) << console;
            EXPECT_NE(console.find("Task complete"), std::string::npos) << console;
        }
        const std::string g_main = read_file(code_set / "game" / "g_main.c");
        EXPECT_TRUE(g_main == first_copy || g_main == second_copy);
        const std::string script = read_file(code_set / "game" / "game.q3asm");
        EXPECT_TRUE(script.find(game.string() + sep() + first_mod + sep()) != std::string::npos ||
                    script.find(second_game.string() + sep() + second_mod + sep()) !=
                        std::string::npos)
            << script;
        EXPECT_EQ(leftovers(code_set), std::vector<std::string>{});
    }
}

} // namespace
