#include "forkit_runner.h"

#include <algorithm>
#include <cstdlib>
#include <sys/wait.h>

const char BANNER[] =
    "Forkit " FORKIT_VERSION " by Quorbel\n--------------------------------------\n\n";
const char SEPARATOR_LINES[] = "\n=============\n\n";

std::string shell_quoted(const std::string& text)
{
    std::string shell = "'";
    for (char c : text)
        shell += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return shell + "'";
}

// The Windows console ends its lines with CR LF; those count as line ends.
static std::string console_lines(std::string text)
{
    std::string lines;
    for (std::size_t i = 0; i < text.size(); i++) {
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            lines += text[i];
    }
    return lines;
}

// Runs the shell command `command` in `folder`; its standard output goes to a
// file beside the folder, out of what the tests look at.
RunResult run_shell(const fs::path& folder, const std::string& command)
{
    const fs::path console = folder.parent_path() / (folder.filename().string() + ".console");
    const fs::path errors = folder.parent_path() / (folder.filename().string() + ".errors");
    int status =
        std::system(("cd " + shell_quoted(folder.string()) + " && { " + command + "; } > " +
                     shell_quoted(console.string()) + " 2> " + shell_quoted(errors.string()))
                        .c_str());
    RunResult result;
    result.console = read_file(console);
    result.errors = console_lines(read_file(errors));
    fs::remove(console);
    fs::remove(errors);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string forkit_command(const std::vector<std::string>& args)
{
    const char* other = std::getenv("FORKIT_COMMAND");
    std::string command = other ? std::string(other) : shell_quoted(FORKIT_BINARY);
    for (const std::string& arg : args)
        command += " " + shell_quoted(arg);
    return command;
}

RunResult run_forkit(const fs::path& tree, const std::vector<std::string>& args,
                     const std::string& shell_setup)
{
    std::string command = shell_setup + " " + forkit_command(args);
    RunResult result = run_shell(tree, command);
    if (std::getenv("FORKIT_COMMAND"))
        result.console = console_lines(result.console);
    // forkit always exits with 0: anything else is a crash, or an error found
    // by a checker that FORKIT_COMMAND runs it under.
    EXPECT_EQ(result.status, 0) << command << "\n" << result.errors;
    return result;
}

RunResult run_batch_line(const fs::path& folder, const std::vector<std::string>& words,
                         const std::string& shell_setup)
{
    std::string command = shell_setup + " " + std::getenv("FORKIT_BATCH_COMMAND");
    for (const std::string& word : words)
        command += " " + shell_quoted(word);
    RunResult result = run_shell(folder, command);
    result.console = console_lines(result.console);
    return result;
}

bool links_look_like_files()
{
    return std::getenv("FORKIT_LINKS_LOOK_LIKE_FILES") != nullptr;
}

std::string sep()
{
    return links_look_like_files() ? "\\" : "/";
}

std::string in_files(const std::string& q3path, const fs::path& current)
{
    const bool wine = std::getenv("FORKIT_WINE_PREFIX") != nullptr;
    const bool rooted = q3path[0] == '/' || q3path[0] == '\\';
    if (rooted && (q3path[1] == '/' || q3path[1] == '\\'))
        return q3path; // a network path
    if (rooted)
        return wine ? "Z:" + q3path : q3path;
    std::string folder = current.string();
    if (wine)
        std::replace(folder.begin(), folder.end(), '/', '\\');
    return (wine ? "Z:" : "") + folder + sep() + q3path;
}

const fs::path UTF8_LOCALE_DATA = "/usr/lib/locale/C.utf8";

std::string wine_locale(const fs::path& folder, const std::string& language)
{
    if (language.empty())
        return "";
    const std::string name = language + ".UTF-8";
    fs::create_directories(folder);
    if (!fs::exists(folder / name))
        fs::create_directory_symlink(UTF8_LOCALE_DATA, folder / name);
    return "LOCPATH=" + shell_quoted(folder.string()) + " LC_ALL=" + name;
}

void ForkitRun::SetUp()
{
    TempDirTest::SetUp();
    tree = root / "source";
    game = root / "quake3";
    code_set = root / "mymod";
    for (const char* module : {"game", "cgame", "ui"})
        fs::create_directories(tree / module);
    fs::create_directories(game);
    write_file(tree / "notes.txt", "Read me\r\nfirst\r\n");
    write_file(tree / "game" / "g_main.c", "int score;\nint frags;\n");
    write_file(tree / "cgame" / "cg_main.c", "int view;\r\n");
    write_file(tree / "ui" / "ui_main.c", "int menu;");
    write_list("copyproject.dat", "notes.txt\r\n");
    write_list("copygame.dat", "g_main.c\r\n");
    write_list("copycgame.dat", "cg_main.c\r\n");
    write_list("copyui.dat", "ui_main.c\r\n");
    write_list("buildgame.dat", "g_main\r\n..\\game\\g_syscalls\r\n");
    write_list("buildcgame.dat", "cg_main\n");
    write_list("buildui.dat", "ui_main");
}

void ForkitRun::write_list(const std::string& name, const std::string& text)
{
    write_file(tree / name, text);
}

RunResult ForkitRun::fork(const std::string& shell_setup)
{
    return fork({mod, code_set.string(), game.string()}, shell_setup);
}

RunResult ForkitRun::fork(const std::vector<std::string>& args, const std::string& shell_setup)
{
    return run_forkit(tree, args, shell_setup);
}

std::string ForkitRun::directories_block() const
{
    const std::string set = code_set.string();
    return std::string(BANNER) + "Creating directories...\n  " + game.string() + sep() + mod +
           "\n  " + set + "\n  " + set + sep() + "game\n  " + set + sep() + "cgame\n  " + set +
           sep() + "ui\n" + SEPARATOR_LINES;
}
