#include "held_folders.h"

#include "failure.h"
#include "text_buffer.h"

#include <cstring>

// Enough for the roots, the modules and the folders of a few lists' entries;
// past that, a folder not pinned is closed and opened again when needed.
enum { SLOTS = 32 };
static HeldFolder held[SLOTS];
static const char* root_text[3];
static int next_victim = 0;

static int same_identity(const FileIdentity& a, const FileIdentity& b)
{
    return a.volume == b.volume && std::memcmp(a.id, b.id, sizeof a.id) == 0;
}

// The folder as the console names it: the root as typed, then the path below
// it, with forkit's separator; NULL when it does not fit.
static const char* shown(int place, const char* path)
{
    static char text[TEXT_BUFFER_SIZE];
    const char* root = place == TREE ? "" : root_text[place];
    int length = std::snprintf(text, sizeof text, "%s%s%s", root,
                               root[0] != '\0' && path[0] != '\0' ? SEP : "", path);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof text)
        return NULL;
    for (char* c = text; *c != '\0'; c++)
        *c = *c == '/' ? SEP[0] : *c;
    return text[0] != '\0' ? text : ".";
}

static HeldFolder* find(int place, const char* path)
{
    for (HeldFolder& folder : held) {
        if (folder.in_use && folder.place == place && std::strcmp(folder.path, path) == 0)
            return &folder;
    }
    return NULL;
}

// A free record, or the next one that is not pinned, closed first.
static HeldFolder* free_record()
{
    for (HeldFolder& folder : held) {
        if (!folder.in_use)
            return &folder;
    }
    for (int tries = 0; tries < SLOTS; tries++) {
        HeldFolder& folder = held[next_victim];
        next_victim = (next_victim + 1) % SLOTS;
        if (!folder.pinned) {
            close_file(folder.handle);
            folder.in_use = 0;
            return &folder;
        }
    }
    return NULL;
}

// Why no file may be written in the code set's folder `folder`. One whose
// identity is unknown cannot be told from the tree's.
static const char* code_set_refusal(const HeldFolder& folder, int known)
{
    const char* in_tree = "is a folder of the source tree, which forkit never writes in";
    if (folder.path[0] == '\0' && is_system_root(folder.handle) == 1)
        return "would put the code set at the root of a drive or file system";
    for (const HeldFolder& tree : held) {
        if (tree.in_use && tree.place == TREE && same_identity(tree.identity, folder.identity))
            return in_tree;
    }
    return known ? NULL : in_tree;
}

static HeldFolder* add(int place, const char* path, Handle handle, int fresh, int pinned)
{
    HeldFolder* folder = free_record();
    FileFacts facts;
    if (folder == NULL || std::strlen(path) >= sizeof folder->path) {
        close_file(handle);
        note_refusal(shown(place, path), "forkit cannot hold so many folders");
        return NULL;
    }
    folder->in_use = 1;
    folder->handle = handle;
    folder->place = place;
    std::strcpy(folder->path, path);
    folder->pinned = pinned;
    folder->fresh = fresh;
    folder->claimed = 0;
    int known = facts_of(handle, &facts);
    folder->identity = facts.identity;
    folder->refusal = place == CODE_SET ? code_set_refusal(*folder, known) : NULL;
    return folder;
}

// 1 if the folder just held may take files; else its refusal is noted.
static int usable(const HeldFolder* folder)
{
    if (folder != NULL && folder->refusal != NULL)
        note_refusal(shown(folder->place, folder->path), folder->refusal);
    return folder != NULL && folder->refusal == NULL;
}

// Opens, or with `made` makes, `name` in `parent`; NO_HANDLE, with why
// noted, on failure.
static Handle open_noting(Handle parent, const char* name, int* made, int place, const char* path)
{
    Handle handle = open_folder_below(parent, name, made);
    FileFacts facts;
    if (handle != NO_HANDLE)
        return handle;
    note_system_error(shown(place, path));
    if (look_below(parent, name, &facts) && facts.kind == LINK)
        note_refusal(shown(place, path), "is a link");
    return NO_HANDLE;
}

int hold_root(int place, const char* path, int make)
{
    int made = 0;
    root_text[place] = path;
    Handle handle = open_folder(path, make ? &made : NULL);
    if (handle == NO_HANDLE) {
        note_system_error(path);
        return 0;
    }
    return usable(add(place, "", handle, made, 1));
}

HeldFolder* held_folder(int place, const char* path)
{
    HeldFolder* found = find(place, path);
    if (found != NULL || path[0] == '\0') {
        if (found == NULL)
            note_refusal(shown(place, path), "the folder could not be made or used");
        return found;
    }
    char parent_path[FOLDER_PATH_SIZE];
    const char* name = std::strrchr(path, '/');
    std::size_t length = name != NULL ? static_cast<std::size_t>(name - path) : 0;
    if (length >= sizeof parent_path)
        length = 0;
    std::memcpy(parent_path, path, length);
    parent_path[length] = '\0';
    HeldFolder* parent = held_folder(place, parent_path);
    name = name != NULL ? name + 1 : path;
    Handle handle =
        parent != NULL ? open_noting(parent->handle, name, NULL, place, path) : NO_HANDLE;
    return handle != NO_HANDLE ? add(place, path, handle, 0, 0) : NULL;
}

int hold_module(int place, const char* name, int make)
{
    HeldFolder* root = held_folder(place, "");
    int made = 0;
    Handle handle = root != NULL ? open_noting(root->handle, name, make ? &made : NULL, place, name)
                                 : NO_HANDLE;
    return handle != NO_HANDLE && usable(add(place, name, handle, made, 1));
}

void release_held_folders()
{
    for (HeldFolder& folder : held) {
        if (folder.in_use)
            close_file(folder.handle);
        folder.in_use = 0;
    }
    next_victim = 0;
}
