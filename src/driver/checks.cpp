#include "checks.h"

#include "../support/failure.h"
#include "../support/held_folders.h"
#include "../support/path_rules.h"
#include "../support/platform.h"
#include "../support/text_buffer.h"

#include <cstdio>
#include <cstring>

static const char CODE_PAGE_LACKS[] =
    "the system code page has no such characters, or it is too long";

void print_usage()
{
    print_line("Program syntax:");
    print_line("forkit <modname> <sourcepath> <q3path>\n");
    print_line("Example:");
    print_line("forkit mymod c:\\mymod C:\\\"Program Files\"\\\"Quake III Arena\"\n");
    print_line("This would create a new code set from the current source code in the");
    print_line("path \"c:\\mymod\" and add a \"mymod\" directory to your Q3A directory.");
}

int source_tree_valid()
{
    return hold_root(TREE, ".", 0) && hold_module(TREE, "game", 0) &&
           hold_module(TREE, "cgame", 0) && hold_module(TREE, "ui", 0);
}

// 1 on Windows when Windows would give a folder made at `path` another name
// than its last part, or none. Told in UTF-8, where no byte of a character
// is taken for a separator, as the second byte of a double-byte one may be.
static int renamed_on_windows(const char* path)
{
    char utf8[4 * TEXT_BUFFER_SIZE];
    const char* last = utf8;
    if (!ON_WINDOWS || !convert_text(ARGUMENTS_PAGE, UTF8_PAGE, path, utf8, sizeof utf8))
        return ON_WINDOWS;
    for (const char* at = utf8; next_part(&at) > 0; at += std::strcspn(at, "\\/"))
        last = at;
    utf8[last - utf8 + std::strcspn(last, "\\/")] = '\0';
    return windows_renames(last);
}

const char* mod_name_fault(const char* modname, char* utf8, std::size_t size)
{
    int converted = convert_text(ARGUMENTS_PAGE, UTF8_PAGE, modname, utf8, size);
    if (std::strpbrk(converted ? utf8 : modname, "\\/") != NULL)
        return "a mod name is one folder name";
    if (!converted || !argument_is_exact(modname))
        return CODE_PAGE_LACKS;
    if (ON_WINDOWS && windows_renames(utf8))
        return "the system would give the mod's folder another name";
    return NULL;
}

int game_folder_for_files(const char* q3path, char* out, std::size_t size)
{
    // A drive path's long form names what its short one does, which the
    // command interpreter can take. A POSIX path from the root stays as
    // typed, as a Windows one with a drive.
    int start = RELATIVE_PATH;
    if (ON_WINDOWS) {
        q3path += long_form_prefix(q3path);
        start = windows_path_start(q3path);
    } else if (q3path[0] == '/') {
        start = DRIVE_PATH;
    }
    // "C:q3" lies in the current folder of drive C:, which is each process's
    // own: it is made full from that folder, as a relative path is. "C:"
    // alone is not: joined with the mod's name it is the drive's root.
    int relative = start == RELATIVE_PATH || (start == DRIVE_RELATIVE && q3path[2] != '\0');
    char current[TEXT_BUFFER_SIZE] = "";
    if ((relative || start == ROOTED_PATH) &&
        !current_folder(start == DRIVE_RELATIVE ? q3path[0] : 0, current, sizeof current)) {
        note_system_error(".");
        return 0;
    }
    // The current folder and a separator, or its drive, or nothing.
    std::size_t before = relative                                    ? std::strlen(current)
                         : start == ROOTED_PATH && current[1] == ':' ? 2
                                                                     : 0;
    const char* separator = relative && before > 0 && !is_separator(current[before - 1]) ? SEP : "";
    int written = std::snprintf(out, size, "%.*s%s%s%s", static_cast<int>(before), current,
                                separator, q3path + (relative && start == DRIVE_RELATIVE ? 2 : 0),
                                start == DRIVE_RELATIVE && !relative ? SEP : "");
    if (start == ROOTED_PATH && before == 0)
        note_refusal(q3path, "the current folder is on no drive to put before it");
    else if (written < 0 || static_cast<std::size_t>(written) >= size)
        note_refusal(q3path, "its full path would be too long");
    else
        return 1;
    return 0;
}

// 1 if `path` names a root, of which no folder may be the code set: "", the
// system's root, or on Windows a drive's or a share's; by what it names where
// it exists, by its text on Windows where it does not. A device path is one
// unless what it names shows it is not.
static int names_a_root(const char* path)
{
    if (path[0] == '\0' || (ON_WINDOWS && windows_root_by_text(path)))
        return 1;
    int device =
        ON_WINDOWS && windows_path_start(path) == DEVICE_PATH && long_form_prefix(path) == 0;
    Handle folder = open_folder(path, NULL);
    int root = folder != NO_HANDLE ? is_system_root(folder) : -1;
    if (folder != NO_HANDLE)
        close_file(folder);
    return root == 1 || (root == -1 && device);
}

// Why no code set may be made at `sourcepath`, or NULL: a root's folders
// belong to the system, and a path that the code page or Windows would
// change names another place than the one typed.
static const char* code_set_path_fault(const char* sourcepath)
{
    if (names_a_root(sourcepath))
        return "would put the code set at the root of a drive or file system";
    if (!argument_is_exact(sourcepath))
        return CODE_PAGE_LACKS;
    if (renamed_on_windows(sourcepath))
        return "the system would give the code set's folder another name";
    return NULL;
}

// 1 if the mod's name, in UTF-8, names a folder, or a link, in the game
// folder. "", "." and ".." name the game folder itself or the one above it.
static int mod_exists(const char* utf8)
{
    FileFacts facts;
    return (std::strlen(utf8) <= 2 && std::strspn(utf8, ".") == std::strlen(utf8)) ||
           (look_below(held_folder(GAME_FOLDER, "")->handle, utf8, &facts) &&
            (facts.kind == FOLDER || facts.kind == LINK));
}

int check_inputs(const char* modname, const char* sourcepath, const char* q3path, char* game_folder,
                 std::size_t size)
{
    if (!source_tree_valid())
        return ERROR_INVALID_SOURCE;
    const char* fault = argument_is_exact(q3path) ? NULL : CODE_PAGE_LACKS;
    // "C:" alone is the current folder of drive C:, but joined with the mod's
    // name it is the drive's root: the mod's folder is made there.
    const char drive_root[] = {q3path[0], ':', '\\', '\0'};
    const int bare_drive = ON_WINDOWS && windows_path_start(q3path) == DRIVE_RELATIVE && !q3path[2];
    if (fault != NULL)
        note_refusal(q3path, fault);
    if (fault != NULL || !hold_root(GAME_FOLDER, bare_drive ? drive_root : q3path, 0) ||
        !game_folder_for_files(q3path, game_folder, size))
        return ERROR_UNKNOWN;
    if ((fault = code_set_path_fault(sourcepath)) != NULL) {
        note_refusal(sourcepath, fault);
        return ERROR_UNKNOWN;
    }
    // A name that cannot be the mod's folder is refused where it would be made.
    char utf8[4 * TEXT_BUFFER_SIZE];
    if (mod_name_fault(modname, utf8, sizeof utf8) == NULL && mod_exists(utf8)) {
        note_refusal(format_text("%s" SEP "%s", q3path, modname), "already exists");
        return ERROR_MOD_EXISTS;
    }
    return 0;
}

void report_error(int code)
{
    print_line("The following error was encountered:");
    if (code == ERROR_INVALID_SOURCE)
        print_line("The source code is invalid. Please install a fresh copy of the source code "
                   "and try again.");
    else if (code == ERROR_MOD_EXISTS)
        print_line("The mod name you have chosen already exists in your Q3A directory. Please "
                   "choose a different name.");
    else
        print_line("Unknown error.");
    print_failure();
}
