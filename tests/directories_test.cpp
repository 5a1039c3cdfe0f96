#include "driver/checks.h"
#include "support/held_folders.h"
#include "support/new_file.h"
#include "support/path_rules.h"
#include "support/platform.h"
#include "support/text_buffer.h"
#include "test_support.h"

#include <cstring>

namespace {

// Runs each test inside its own temporary folder and comes back afterwards.
class Directories : public TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        home = fs::current_path();
        fs::current_path(root);
        fs::create_directories(root / "game" / "vm");
        write_file(root / "notes.txt", "x");
    }
    void TearDown() override
    {
        release_held_folders();
        fs::current_path(home);
        TempDirTest::TearDown();
    }
    fs::path home;
};

// Folders below a held one are opened once, part by part, never through a
// link; a folder of the code set that is one of the tree's, however it is
// reached, takes no files.
TEST_F(Directories, HeldFoldersAreReachedByNameAndNeverThroughALink)
{
    fs::create_directories(root / "cgame");
    fs::create_directories(root / "ui");
    fs::create_directories(root / "set" / "game" / "vm");
    fs::create_directories(root / "elsewhere");
    const bool links = !running_under_wine();
    if (links) {
        fs::create_directory_symlink(root / "elsewhere", root / "set" / "linked");
        fs::create_directory_symlink(root / "game", root / "set" / "tree game");
    }
    ASSERT_EQ(source_tree_valid(), 1);
    ASSERT_EQ(hold_root(CODE_SET, "set", 0), 1);
    struct Case {
        int place;
        const char* path;
        bool held;
        bool refused;
    };
    const Case cases[] = {
        {TREE, "game", true, false},
        {TREE, "game" SEP "vm", true, false},
        {TREE, "missing", false, false},
        {TREE, "notes.txt", false, false},
        {CODE_SET, "", true, false},
        {CODE_SET, "game" SEP "vm", true, false},
        {CODE_SET, "game" SEP "missing", false, false},
    };
    for (const Case& c : cases) {
        HeldFolder* folder = held_folder(c.place, c.path);
        EXPECT_EQ(folder != nullptr, c.held) << c.path;
        if (folder != nullptr) {
            EXPECT_EQ(folder->refusal != nullptr, c.refused) << c.path;
        }
    }
    if (links) {
        EXPECT_EQ(held_folder(CODE_SET, "linked"), nullptr);
        EXPECT_EQ(held_folder(CODE_SET, "tree game"), nullptr);
    }
    // The tree's own folders, reached from the code set's side; a new one
    // made in the tree is the code set's.
    release_held_folders();
    ASSERT_EQ(source_tree_valid(), 1);
    EXPECT_EQ(hold_root(CODE_SET, ".", 0), 0);
    HeldFolder* refused = held_folder(CODE_SET, "");
    ASSERT_NE(refused, nullptr);
    EXPECT_NE(refused->refusal, nullptr);
    EXPECT_EQ(hold_module(CODE_SET, "game", 1), 0);
    EXPECT_EQ(hold_module(CODE_SET, "new", 1), 1);
    EXPECT_TRUE(fs::is_directory(root / "new"));

    // A folder that could not be held is not tried again, whatever is there
    // later; once the lists' folders are held, no other of the tree is.
    release_held_folders();
    ASSERT_EQ(source_tree_valid(), 1);
    ASSERT_EQ(hold_root(CODE_SET, "second set", 1), 1);
    write_file(root / "second set" / "game", "a file");
    EXPECT_EQ(hold_module(CODE_SET, "game", 1), 0);
    fs::remove(root / "second set" / "game");
    fs::create_directories(root / "second set" / "game");
    EXPECT_EQ(held_folder(CODE_SET, "game"), nullptr);
    hold_no_other_tree_folder();
    EXPECT_NE(held_folder(TREE, "game"), nullptr);
    EXPECT_EQ(held_folder(TREE, "game" SEP "vm"), nullptr);
    release_held_folders();
}

// A code set at the root of a file system or a drive is refused before any
// run could create a folder there, by what the path names where it exists.
// A mod name with a separator passes the checks, to be refused where its
// folder would be made.
TEST_F(Directories, ChecksRefuseACodeSetAtTheRoot)
{
    fs::create_directories(root / "cgame");
    fs::create_directories(root / "ui");
    fs::create_directories(root / "quake3" / "taken");
    const int at_root = ERROR_UNKNOWN;
    const int windows_root = ON_WINDOWS ? at_root : 0;
    struct Case {
        const char* modname;
        const char* sourcepath;
        int error;
    };
    const Case cases[] = {
        {"mymod", "", at_root},
        {"mymod", "/", at_root},
        {"mymod", "\\", windows_root},
        {"mymod", "//", at_root},
        {"mymod", "/..", at_root},
        {"mymod", "C:", windows_root}, // "C:" is a folder name like any other on POSIX
        {"mymod", "C:\\", windows_root},
        {"mymod", "\\\\server\\share\\", windows_root},
        {"mymod", "\\??\\C:\\", windows_root},
        // A device path is a root unless what it names shows it is not.
        {"mymod", "\\\\?\\GLOBALROOT\\Device\\Nothing", windows_root},
        {"mymod", "\\\\.\\Nothing\\set", windows_root},
        // Windows would make another folder, or none.
        {"mymod", "set\\NUL", windows_root},
        {"mymod", "set. ", windows_root},
        {"mymod", "c:\\mymod", 0},
        {"mymod", "set", 0},
        {"taken", "set", ERROR_MOD_EXISTS},
        {"", "set", ERROR_MOD_EXISTS},
        {"..\\taken", "set", 0},
        {"a/b", "set", 0},
    };
    for (const Case& c : cases) {
        char game_folder[TEXT_BUFFER_SIZE];
        EXPECT_EQ(check_inputs(c.modname, c.sourcepath, "quake3", game_folder, sizeof game_folder),
                  c.error)
            << c.modname << " " << c.sourcepath;
        release_held_folders();
    }
}

// The files name the game folder so that it is found from any folder:
// nothing in it is resolved or removed, and an absolute one stays as typed.
TEST_F(Directories, TheFilesNameTheGameFolderInFull)
{
    const std::string here = fs::current_path().string();
    const std::string drive = ON_WINDOWS ? here.substr(0, 2) : "";
    const std::string sep = SEP;
    const std::pair<std::string, std::string> cases[] = {
        {"quake3", here + sep + "quake3"},
        {"..\\q3\\.", here + sep + "..\\q3\\."},
        {"/games/q3", drive + "/games/q3"},
        {"\\games\\q3", ON_WINDOWS ? drive + "\\games\\q3" : here + "/\\games\\q3"},
        {"C:\\Games\\Quake3", ON_WINDOWS ? "C:\\Games\\Quake3" : here + "/C:\\Games\\Quake3"},
        {"\\\\server\\share\\q3",
         ON_WINDOWS ? "\\\\server\\share\\q3" : here + "/\\\\server\\share\\q3"},
        // On Windows from the current folder of drive C:, each process's own;
        // "C:" alone joins with the mod's name into the drive's root.
        {"C:q3", ON_WINDOWS ? (fs::absolute("C:") / "q3").string() : here + "/C:q3"},
        {"C:", ON_WINDOWS ? "C:\\" : here + "/C:"},
        // A drive path's long forms are given short; other device paths stay.
        {"\\\\?\\C:\\q3", ON_WINDOWS ? "C:\\q3" : here + "/\\\\?\\C:\\q3"},
        {"\\??\\C:\\q3", ON_WINDOWS ? "C:\\q3" : here + "/\\??\\C:\\q3"},
        {"\\??\\UNC\\s\\q3", ON_WINDOWS ? "\\??\\UNC\\s\\q3" : here + "/\\??\\UNC\\s\\q3"},
        {"\\\\.\\C:\\q3", ON_WINDOWS ? "\\\\.\\C:\\q3" : here + "/\\\\.\\C:\\q3"},
    };
    for (const auto& [q3path, expected] : cases) {
        char folder[TEXT_BUFFER_SIZE];
        ASSERT_EQ(game_folder_for_files(q3path.c_str(), folder, sizeof folder), 1) << q3path;
        EXPECT_EQ(std::string(folder), expected);
    }
    // A bare drive is that drive's root, where the mod's folder goes, and
    // the folder held for it; not the drive's current folder.
    if (ON_WINDOWS) {
        char game_folder[TEXT_BUFFER_SIZE];
        FileFacts held, drive_root;
        fs::create_directories(root / "cgame");
        fs::create_directories(root / "ui");
        ASSERT_EQ(check_inputs("mymod", "set", drive.c_str(), game_folder, sizeof game_folder), 0);
        Handle folder = open_folder((drive + "\\").c_str(), nullptr);
        ASSERT_TRUE(facts_of(folder, &drive_root) &&
                    facts_of(held_folder(GAME_FOLDER, "")->handle, &held));
        EXPECT_TRUE(same_identity(held.identity, drive_root.identity));
        close_file(folder);
        release_held_folders();
    }
    const std::string too_long(TEXT_BUFFER_SIZE - here.size(), 'q');
    char folder[TEXT_BUFFER_SIZE];
    EXPECT_EQ(game_folder_for_files(too_long.c_str(), folder, sizeof folder), 0);
}

// Windows' rules for names are plain text, tested on every build.
TEST(PathRules, TellWhatWindowsMakesOfAName)
{
    const std::pair<const char*, int> renamed[] = {
        {"mymod", 0},       {"my mod.1", 0},    {".", 0},
        {"..", 0},          {"y.", 1},          {"y ", 1},
        {"a:b", 1},         {"a|b", 1},         {"a\x01", 1},
        {"NUL", 1},         {"nul.txt", 1},     {"Con .x", 1},
        {"COM1", 1},        {"lpt9.c", 1},      {"COM", 0},
        {"COM10", 0},       {"com\xc2\xb9", 1}, {"LPT\xc2\xb3.x", 1},
        {"COM\xc2\xb4", 0}, {"N P", 0},         {"nullmod", 0},
        {"auxiliary", 0},
    };
    for (const auto& [name, expected] : renamed)
        EXPECT_EQ(windows_renames(name), expected) << name;

    const std::pair<const char*, int> roots[] = {
        {"\\", 1},
        {"/", 1},
        {"C:", 1},
        {"c:\\", 1},
        {"C:/", 1},
        {"C:.", 0},
        {"C:\\x", 0},
        {"\\x", 0},
        {"x", 0},
        {"\\\\s\\sh", 1},
        {"\\\\s\\sh\\", 1},
        {"//s/sh/", 1},
        {"\\\\s", 0},
        {"\\\\s\\sh\\x", 0},
        {"//", 1},
        // The long forms, and what "." and ".." make of a path.
        {"\\\\?\\UNC\\s\\sh", 1},
        {"\\??\\UNC\\s\\sh\\", 1},
        {"\\\\?\\C:\\", 1},
        {"\\??\\C:\\", 1},
        {"\\??\\C:\\x", 0},
        {"\\\\?\\Volume{1}\\", 0}, // told by what it names
        {"\\\\.\\C:", 1},
        {"\\\\s\\sh\\.", 1},
        {"\\\\s\\sh\\x\\..", 1},
        {"C:\\x\\..\\..", 1},
        {"\\x\\..", 1},
        {"C:\\x\\.", 0},
    };
    for (const auto& [path, expected] : roots)
        EXPECT_EQ(windows_root_by_text(path), expected) << path;

    const std::pair<const char*, int> starts[] = {
        {"a\\b", RELATIVE_PATH},
        {".\\a", RELATIVE_PATH},
        {"\\a", ROOTED_PATH},
        {"/a", ROOTED_PATH},
        {"C:a", DRIVE_RELATIVE},
        {"C:\\a", DRIVE_PATH},
        {"c:/a", DRIVE_PATH},
        {"\\\\s\\a", NETWORK_PATH},
        {"//s/a", NETWORK_PATH},
        {"\\??\\C:\\a", DEVICE_PATH},
        {"\\\\.\\C:", DEVICE_PATH},
        {"//?/Volume{1}/", DEVICE_PATH},
        {"\\\\?\\UNC\\s\\a", DEVICE_PATH},
    };
    for (const auto& [path, expected] : starts)
        EXPECT_EQ(windows_path_start(path), expected) << path;
}

// Temporary names are refused as entries, however Windows spells them.
TEST(PathRules, TellTemporaryNames)
{
    const std::pair<const char*, int> names[] = {
        {"g_main.c.forkit-new", 1}, {"G_MAIN.C.FORKIT-NEW3", 1}, {"x.forkit-new4", 1},
        {"x.forkit-new. ", 1},      {"x.forkit-new5", 0},        {"x.forkit-new1", 0},
        {"x.forkit-ne", 0},         {"forkit-new", 0},           {"g_main.c", 0},
    };
    for (const auto& [name, expected] : names)
        EXPECT_EQ(is_temporary_name(name, 1), expected) << name;
}

} // namespace
