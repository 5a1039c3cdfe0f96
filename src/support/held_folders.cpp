#include "held_folders.h"

#include "failure.h"
#include "text_buffer.h"

#include <cstdio>
#include <cstring>

// The roots, the modules and the folders of the lists' entries: a tree with
// more folders than the system lets a process hold open is not forkit's. The
// last records are kept for the roots and modules, which come after the
// tree's folders that the lists name.
enum { SLOTS = 128, KEPT_FOR_MODULES = 8 };
static HeldFolder held[SLOTS];
static const char* root_text[3];
static int tree_complete = 0;

int same_identity(const FileIdentity& a, const FileIdentity& b)
{
    return a.volume == b.volume && std::memcmp(a.id, b.id, sizeof a.id) == 0;
}

// The folder as the console names it: the root as typed, then the path below
// it, in the page of the names typed; NULL when it does not fit.
static const char* shown(int place, const char* path)
{
    static char text[TEXT_BUFFER_SIZE], typed[TEXT_BUFFER_SIZE];
    if (!convert_text(UTF8_PAGE, ARGUMENTS_PAGE, path, typed, sizeof typed))
        std::snprintf(typed, sizeof typed, "%s", path);
    return join_path(&text, place == TREE ? "" : root_text[place], typed, "");
}

static HeldFolder* find(int place, const char* path)
{
    for (HeldFolder& folder : held) {
        if (folder.in_use && folder.place == place && std::strcmp(folder.path, path) == 0)
            return &folder;
    }
    return NULL;
}

// Why no file may be written in the code set's folder `folder`. One whose
// identity is unknown cannot be told from the tree's.
static const char* code_set_refusal(const HeldFolder& folder, int known)
{
    if (!known)
        return "cannot be told from the source tree's folders";
    if (folder.path[0] == '\0' && is_system_root(folder.handle) == 1)
        return "would put the code set at the root of a drive or file system";
    for (const HeldFolder& tree : held) {
        if (tree.in_use && tree.place == TREE && same_identity(tree.identity, folder.identity))
            return "is a folder of the source tree, which forkit never writes in";
    }
    return NULL;
}

// Holds `handle` as the folder `path` of `place`; NO_HANDLE holds a folder
// that could not be opened, so that it is not tried again.
static HeldFolder* add(int place, const char* path, Handle handle, int fresh, int module)
{
    HeldFolder* folder = NULL;
    for (int i = 0; folder == NULL && i < SLOTS - (module ? 0 : KEPT_FOR_MODULES); i++)
        folder = held[i].in_use ? NULL : &held[i];
    FileFacts facts = {};
    if (folder == NULL || std::strlen(path) >= sizeof folder->path) {
        if (handle != NO_HANDLE)
            close_file(handle);
        note_refusal(shown(place, path), "forkit holds no more folders than this");
        return NULL;
    }
    int known = handle != NO_HANDLE && facts_of(handle, &facts);
    *folder = HeldFolder{1, handle, place, "", fresh, 0, NULL, facts.identity, ""};
    std::strcpy(folder->path, path);
    std::snprintf(folder->failure, sizeof folder->failure, "%s", noted_reason());
    folder->refusal = handle == NO_HANDLE ? folder->failure
                      : place == CODE_SET ? code_set_refusal(*folder, known)
                                          : NULL;
    return folder;
}

// 1 if the folder just held may take files; else its refusal is noted.
static int usable(const HeldFolder* folder)
{
    if (folder != NULL && folder->refusal != NULL)
        note_refusal(shown(folder->place, folder->path), folder->refusal);
    return folder != NULL && folder->refusal == NULL;
}

void note_open_failure(Handle folder, const char* name, const char* shown)
{
    FileFacts facts;
    note_system_error(shown);
    if (look_below(folder, name, &facts) && facts.kind == LINK)
        note_refusal(shown, "is a link");
}

int hold_root(int place, const char* path, int make)
{
    int made = 0;
    root_text[place] = path;
    Handle handle = open_folder(path, make ? &made : NULL);
    if (handle == NO_HANDLE)
        note_system_error(path);
    HeldFolder* folder = add(place, "", handle, made, 1);
    return handle != NO_HANDLE && usable(folder);
}

// The folder `path` of `place`, held before or now; `made` asks to make its
// last part where there is none, and tells whether it was made.
static HeldFolder* hold(int place, const char* path, int* made, int module)
{
    HeldFolder* found = find(place, path);
    if (found != NULL && found->handle != NO_HANDLE)
        return found;
    // One that failed to open keeps its failure.
    const char* refusal = found != NULL ? found->refusal
                          : place == TREE && tree_complete
                              ? "is not among the folders forkit held as the run began"
                              : NULL;
    if (refusal != NULL) {
        note_refusal(shown(place, path), refusal);
        return NULL;
    }
    // The folder above it first, then this one below it.
    char parent_path[FOLDER_PATH_SIZE];
    std::snprintf(parent_path, sizeof parent_path, "%s", path);
    char* last = std::strrchr(parent_path, SEP[0]);
    const char* name = last != NULL ? path + (last - parent_path) + 1 : path;
    *(last != NULL ? last : parent_path) = '\0';
    HeldFolder* parent = path[0] != '\0' ? hold(place, parent_path, NULL, module) : NULL;
    if (parent == NULL)
        return NULL;
    Handle handle = open_folder_below(parent->handle, name, made);
    if (handle == NO_HANDLE)
        note_open_failure(parent->handle, name, shown(place, path));
    HeldFolder* folder = add(place, path, handle, made != NULL && *made, module);
    return handle != NO_HANDLE ? folder : NULL;
}

HeldFolder* held_folder(int place, const char* path)
{
    return hold(place, path, NULL, 0);
}

int hold_module(int place, const char* name, int make)
{
    int made = 0;
    return usable(hold(place, name, make ? &made : NULL, 1));
}

void hold_no_other_tree_folder()
{
    tree_complete = 1;
}

void release_held_folders()
{
    for (HeldFolder& folder : held) {
        if (folder.in_use && folder.handle != NO_HANDLE)
            close_file(folder.handle);
        folder.in_use = 0;
    }
    tree_complete = 0;
}
