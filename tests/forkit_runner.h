#pragma once

#include "test_support.h"

// Runs forkit as a user would: as its own process, in a source tree, with
// its console captured. FORKIT_COMMAND, when set, is the command to run
// instead of the built program (another build, or one under an emulator).
struct RunResult {
    std::string console;
    std::string errors; // standard error, where forkit says why steps failed
    int status;
};
RunResult run_forkit(const fs::path& tree, const std::vector<std::string>& args,
                     const std::string& shell_setup = "");

std::string shell_quoted(const std::string& text);

// The shell command that runs forkit with `args`, as run_forkit runs it.
std::string forkit_command(const std::vector<std::string>& args);

// Runs the shell command `command` in `folder`, its output captured.
RunResult run_shell(const fs::path& folder, const std::string& command);

// Runs a command line of the Windows command interpreter, made of `words`,
// in `folder`, through FORKIT_BATCH_COMMAND (which must be set), after the
// shell words `shell_setup`; its output with CR LF taken as line ends.
RunResult run_batch_line(const fs::path& folder, const std::vector<std::string>& words,
                         const std::string& shell_setup = "");

// True when the program under test sees a symbolic link as the file it names
// and cannot tell the two apart: FORKIT_LINKS_LOOK_LIKE_FILES is set, as it
// is for Windows programs under Wine.
bool links_look_like_files();

// The separator forkit joins paths with: "\\" for a Windows program, "/"
// for a POSIX one.
std::string sep();

// The game folder `q3path`, given to forkit in the folder `current`, as
// forkit names it in the files it writes: a relative one after the current
// folder, and under Wine (FORKIT_WINE_PREFIX) one rooted without a drive
// after Z:, the drive that holds the host's root; a network path as it is.
std::string in_files(const std::string& q3path, const fs::path& current);

// Where the data of the C.UTF-8 locale is, for wine_locale.
extern const fs::path UTF8_LOCALE_DATA;

// Shell words that give Wine's programs the Windows locale `language` ("" for
// Wine's own), and with it its ANSI and OEM code pages. Wine takes the locale
// from the name of the Unix locale and the bytes of arguments and file names
// from its character set: a locale of that name with C.UTF-8's data, made
// under `folder`, gives both, whatever locales the system has.
std::string wine_locale(const fs::path& folder, const std::string& language);

// A temporary source tree with its three modules and seven lists, an empty
// game folder, and a code set path that does not exist yet.
class ForkitRun : public TempDirTest {
protected:
    void SetUp() override;

    // forkit mymod <code_set> <game> in the tree, or with other arguments.
    RunResult fork(const std::string& shell_setup = "");
    RunResult fork(const std::vector<std::string>& args, const std::string& shell_setup = "");

    void write_list(const std::string& name, const std::string& text);

    // The console of a run up to the copy phase, for these arguments.
    std::string directories_block() const;

    fs::path tree, game, code_set;
    std::string mod = "mymod";
};

extern const char BANNER[];
extern const char SEPARATOR_LINES[];
