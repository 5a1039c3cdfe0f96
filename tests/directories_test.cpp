#include "driver/checks.h"
#include "support/directories.h"
#include "support/text_buffer.h"
#include "test_support.h"

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
        fs::current_path(home);
        TempDirTest::TearDown();
    }
    fs::path home;
};

TEST_F(Directories, ExistsOnlyForAPathThatCanBeEntered)
{
    const std::string full = (root / "game").string();
    // Where the code page has no character for 0xFF (UTF-8, which the Windows
    // tests run in), "game\xff" must not name the folder of its stand-in,
    // U+FFFD.
    fs::create_directory(root / fs::u8path("game\xef\xbf\xbd"));
    const std::pair<const char*, int> cases[] = {
        {"", 0},     {"notes.txt", 0},  {"missing", 0},  {nullptr, 0}, {"game\xff", 0},
        {"game", 1}, {full.c_str(), 1}, {"game\\vm", 1}, {".", 1},
    };
    for (const auto& [path, expected] : cases) {
        EXPECT_EQ(directory_exists(path), expected) << (path ? path : "NULL");
        EXPECT_EQ(fs::current_path(), root);
    }
    EXPECT_EQ(subdirectory_exists("vm", "game"), 1);
    EXPECT_EQ(subdirectory_exists("notes.txt", "."), 0);
    EXPECT_EQ(subdirectory_exists("", "game"), 1);
}

// The way back must not depend on the current directory's path fitting a
// fixed buffer.
TEST_F(Directories, ComesBackToACurrentDirectoryLongerThanTheBuffer)
{
    if (running_under_wine())
        GTEST_SKIP() << "Wine overruns its own memory when a current directory is longer "
                        "than MAX_PATH, and the process fails later";
    fs::path deep = root;
    while (deep.string().size() <= 2 * TEXT_BUFFER_SIZE)
        deep /= std::string(100, 'd');
    std::error_code error;
    fs::create_directories(deep, error);
    if (error)
        GTEST_SKIP() << "this file system takes no path of " << deep.string().size();
    fs::current_path(deep);
    EXPECT_EQ(directory_exists(".."), 1);
    EXPECT_EQ(directory_exists("missing"), 0);
    EXPECT_EQ(fs::current_path(), deep);
}

TEST_F(Directories, MakeCreatesOneNewDirectoryAndNothingElse)
{
    EXPECT_EQ(make_directory("mymod"), 1);
    EXPECT_TRUE(fs::is_directory(root / "mymod"));
    EXPECT_EQ(make_subdirectory("ui", "mymod"), 1);
    EXPECT_TRUE(fs::is_directory(root / "mymod" / "ui"));

    EXPECT_EQ(make_directory("game"), 0);
    EXPECT_TRUE(fs::is_directory(root / "game" / "vm"));
    EXPECT_EQ(make_directory("notes.txt"), 0);
    EXPECT_EQ(read_file(root / "notes.txt"), "x");
    EXPECT_EQ(make_subdirectory("b", "missing\\a"), 0);
    EXPECT_FALSE(fs::exists(root / "missing"));
    EXPECT_EQ(make_directory(nullptr), 0);
}

// An empty code set path would put the code set at the root of the drive
// (a bare drive, on Windows, at that drive's root); told here, before any
// run could create a folder there. A mod name with a separator passes the
// checks, to be refused where its folder would be made.
TEST_F(Directories, ChecksRefuseACodeSetAtTheRoot)
{
    fs::create_directories(root / "cgame");
    fs::create_directories(root / "ui");
    fs::create_directories(root / "quake3" / "taken");
#ifdef _WIN32
    const int bare_drive = ERROR_NO_CODE_SET_FOLDER;
#else
    const int bare_drive = 0; // "C:" is a folder name like any other
#endif
    struct Case {
        const char* modname;
        const char* sourcepath;
        int error;
    };
    const Case cases[] = {
        {"mymod", "", ERROR_NO_CODE_SET_FOLDER},
        {"mymod", "C:", bare_drive},
        {"mymod", "c:\\mymod", 0},
        {"mymod", "set", 0},
        {"taken", "set", ERROR_MOD_EXISTS},
        {"", "set", ERROR_MOD_EXISTS},
        {"..\\taken", "set", 0},
        {"a/b", "set", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(check_inputs(c.modname, c.sourcepath, "quake3"), c.error)
            << c.modname << " " << c.sourcepath;
    EXPECT_EQ(is_one_folder_name("my mod.1"), 1);
    EXPECT_EQ(is_one_folder_name("..\\taken"), 0);
    EXPECT_EQ(is_one_folder_name("a/b"), 0);
}

} // namespace
