// forkit starts a Quake III Arena mod from the game's source code. Run in the
// root of the source tree, it:
//   1. prints its banner, and the usage text unless it has three arguments;
//   2. checks the tree's module folders, the game folder, and that the mod is new;
//   3. creates the mod's folder in the game folder, then the new code set's
//      root and module folders;
//   4. copies the files that the four copy lists name into the code set;
//   5. writes an assembler command file per module from the build lists;
//   6. writes "play it.bat", which starts the game with the mod.
// Every failure is told on the console, and why on standard error, which
// after the last step also counts them; the exit status is always 0.

#include "run.h"

#include "../generate/copy_listed_files.h"
#include "../generate/write_build_script.h"
#include "../generate/write_launch_script.h"
#include "../support/failure.h"
#include "../support/held_folders.h"
#include "../support/new_file.h"
#include "../support/platform.h"
#include "../support/text_buffer.h"
#include "checks.h"

static const char VERSION[] = FORKIT_VERSION; // project(VERSION) in CMakeLists.txt
static const char SEPARATOR[] = "\n=============\n";

// The parts of a source tree, in the order in which they are checked,
// created, copied and scripted. The root row has no module folder.
struct Module {
    const char* directory;
    const char* copy_heading;
    const char* copy_list;
    const char* build_list;
    const char* output_name;
};

static const Module MODULES[] = {
    {"", "Copying Project files..", "copyproject.dat", NULL, NULL},
    {"game", "Copying Server files..", "copygame.dat", "buildgame.dat", "qagame"},
    {"cgame", "Copying Client files..", "copycgame.dat", "buildcgame.dat", "cgame"},
    {"ui", "Copying User Interface files..", "copyui.dat", "buildui.dat", "ui"},
};

static int is_root(const Module& module)
{
    return module.directory[0] == '\0';
}

// A folder of the code set, after `prefix`, as its announcement names it.
static const char* code_set_folder(const char* prefix, const char* sourcepath, const Module& module)
{
    return format_text("%s%s%s%s", prefix, sourcepath, is_root(module) ? "" : SEP,
                       module.directory);
}

// Creates one folder of the code set after announcing it, and holds it for
// the run; one that was there is used as it is. One that cannot be held, or
// may take no files, is reported, and the run goes on.
static void create_code_set_folder(const char* sourcepath, const Module& module)
{
    print_line(code_set_folder("  ", sourcepath, module));
    int held = is_root(module) ? hold_root(CODE_SET, sourcepath, 1)
                               : hold_module(CODE_SET, module.directory, 1);
    if (held)
        count_step_done();
    else
        report_failure(code_set_folder("  Error creating ", sourcepath, module));
}

// Creates the mod's folder (0 if that fails, or if the mod's name cannot be
// a folder's); holds the tree's folders the copy lists read from, so that
// none of them becomes a folder of the code set; and creates the code set's
// folders, whose failures show later as failed copies.
static int create_directories(const char* modname, const char* sourcepath, const char* q3path)
{
    print_line("Creating directories...");
    print_line(format_text("  %s" SEP "%s", q3path, modname));
    char utf8[4 * TEXT_BUFFER_SIZE];
    const char* fault = mod_name_fault(modname, utf8, sizeof utf8);
    int made = 0;
    Handle mod = fault == NULL
                     ? open_folder_below(held_folder(GAME_FOLDER, "")->handle, utf8, &made)
                     : NO_HANDLE;
    if (fault == NULL && mod == NO_HANDLE)
        note_system_error(format_text("%s" SEP "%s", q3path, modname));
    else if (fault != NULL)
        note_refusal(modname, fault);
    else if (!made) // there since the check: another run's
        note_refusal(format_text("%s" SEP "%s", q3path, modname), "already exists");
    if (mod != NO_HANDLE)
        close_file(mod);
    if (!made)
        return 0;
    for (const Module& module : MODULES)
        copy_listed_files(module.copy_list, NULL, module.directory);
    hold_no_other_tree_folder();
    for (const Module& module : MODULES)
        create_code_set_folder(sourcepath, module);
    print_line(SEPARATOR);
    return 1;
}

static void copy_phase(const char* sourcepath)
{
    for (const Module& module : MODULES) {
        print_line(module.copy_heading);
        copy_listed_files(module.copy_list, sourcepath, module.directory);
    }
    print_line(SEPARATOR);
}

static void build_script_phase(const char* modname, const char* sourcepath, const char* game_folder)
{
    print_line("Creating new compilation scripts..");
    for (const Module& module : MODULES) {
        if (!is_root(module))
            write_build_script(module.build_list, sourcepath, game_folder, modname,
                               module.directory, module.output_name);
    }
    print_line(SEPARATOR);
}

static void launch_phase(const char* modname, const char* sourcepath, const char* game_folder)
{
    print_line("Creating \"play it.bat\"...");
    write_launch_script(modname, sourcepath, game_folder);
    print_line(SEPARATOR);
    print_line("Task complete");
    print_verdict();
}

int run(int argc, char** argv)
{
    prepare_process();
    print_line(format_text("Forkit %s by Quorbel", VERSION));
    print_line("--------------------------------------\n");
    if (argc != 4) {
        print_usage();
        return 0;
    }
    const char* modname = argv[1];
    const char* sourcepath = argv[2];
    const char* q3path = argv[3];
    // The files name the game folder so that it is found from any folder;
    // the console shows it as typed.
    char game_folder[TEXT_BUFFER_SIZE];
    int error = check_inputs(modname, sourcepath, q3path, game_folder, sizeof game_folder);
    if (error == 0 && !create_directories(modname, sourcepath, q3path))
        error = ERROR_UNKNOWN;
    if (error != 0) {
        report_error(error);
    } else {
        copy_phase(sourcepath);
        build_script_phase(modname, sourcepath, game_folder);
        launch_phase(modname, sourcepath, game_folder);
    }
    release_held_folders();
    return 0;
}
