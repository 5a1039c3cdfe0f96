#include "new_file.h"

#include "failure.h"

#include <atomic>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>

static const char SUFFIX[] = ".forkit-new";
enum { SUFFIX_LENGTH = sizeof SUFFIX - 1 };
// Runs writing the same file at once each take a name of their own.
static const char* const NUMBERS[] = {"", "2", "3", "4"};

int is_temporary_name(const char* name, int loosely)
{
    std::size_t length = std::strlen(name);
    while (loosely && length > 0 && (name[length - 1] == '.' || name[length - 1] == ' '))
        length--;
    length -= length > SUFFIX_LENGTH && name[length - 1] >= '2' && name[length - 1] <= '4';
    if (length < SUFFIX_LENGTH)
        return 0;
    const char* suffix = name + length - SUFFIX_LENGTH;
    for (std::size_t i = 0; i < SUFFIX_LENGTH; i++) {
        unsigned char c = static_cast<unsigned char>(suffix[i]);
        if ((loosely ? std::tolower(c) : c) != SUFFIX[i])
            return 0;
    }
    return 1;
}

// The temporary that a stop must take with it: its folder, name and
// identity, armed only while all three are set.
static volatile std::sig_atomic_t stop_armed = 0;
static Handle stop_folder = NO_HANDLE;
static char stop_name[NEW_NAME_SIZE];
static FileIdentity stop_identity;

static void arm_stop(int armed)
{
    std::atomic_signal_fence(std::memory_order_seq_cst);
    stop_armed = armed;
    std::atomic_signal_fence(std::memory_order_seq_cst);
}

// Only the file this run made goes: after the rename, the name may be
// another run's.
void abandon_on_stop()
{
    FileFacts now;
    if (stop_armed && look_below(stop_folder, stop_name, &now) && now.kind == REGULAR_FILE &&
        same_identity(now.identity, stop_identity))
        (void)remove_below(stop_folder, stop_name);
}

// On Windows, which compares names without case, any spelling of a name
// forkit makes blocks it.
static void remove_if_leftover(const char* name, void* folder)
{
    if (is_temporary_name(name, ON_WINDOWS))
        (void)remove_below(static_cast<HeldFolder*>(folder)->handle, name);
}

// Before its first file in a folder, a run holds the folder shared, the mark
// of a run writing there. One that no run holds (this one can hold it alone)
// keeps only what stopped runs left, which would block the names: removed.
static void claim(HeldFolder* folder)
{
    if (folder->claimed)
        return;
    folder->claimed = 1;
    if (!folder->fresh && hold_folder(folder->handle, 1) == 1)
        (void)list_folder(folder->handle, remove_if_leftover, folder);
    // Another run holds it alone only while it cleans up.
    for (int tries = 0; tries < 1000 && hold_folder(folder->handle, 0) == 0; tries++)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// 0, with the reason noted, when what is at `name` must be kept.
static int may_replace(const HeldFolder* folder, const char* name, const FileIdentity* source,
                       const char* shown)
{
    FileFacts there;
    if (!look_below(folder->handle, name, &there)) {
        note_system_error(shown);
        return 0;
    }
    const char* refusal = there.kind == NOTHING_THERE  ? NULL
                          : there.kind != REGULAR_FILE ? "is not a regular file"
                          : source != NULL && same_identity(there.identity, *source)
                              ? "is the very file it would be made from"
                          : !there.writable ? "is read-only"
                                            : NULL;
    if (refusal != NULL)
        note_refusal(shown, refusal);
    return refusal == NULL;
}

int open_new_file(NewFile* out, HeldFolder* folder, const char* name, unsigned mode,
                  const FileIdentity* source, const char* shown)
{
    out->file = NO_HANDLE;
    out->folder = folder->handle;
    out->shown = shown;
    char in_folder[128];
    std::snprintf(in_folder, sizeof in_folder, "its folder %s", folder->refusal);
    const char* refusal = std::strlen(name) + SUFFIX_LENGTH + 2 > sizeof out->temporary
                              ? "its name is too long"
                          : folder->refusal != NULL ? in_folder
                                                    : NULL;
    if (refusal != NULL)
        note_refusal(shown, refusal);
    if (refusal != NULL || (!folder->fresh && !may_replace(folder, name, source, shown)))
        return 0;
    claim(folder);
    std::strcpy(out->name, name);
    for (const char* number : NUMBERS) {
        std::snprintf(out->temporary, sizeof out->temporary, "%s%s%s", name, SUFFIX, number);
        std::strcpy(stop_name, out->temporary);
        stop_folder = out->folder;
        int taken = 0;
        FileFacts made;
        out->file = create_file_below(out->folder, out->temporary, mode, &taken);
        if (out->file != NO_HANDLE) {
            if (facts_of(out->file, &made)) {
                stop_identity = made.identity;
                arm_stop(1);
            }
            return 1;
        }
        if (!taken) {
            note_system_error(shown);
            return 0;
        }
    }
    note_refusal(shown, "its temporary names are all taken, by other runs or what they left");
    return 0;
}

int write_new_file_text(NewFile* out, const char* text)
{
    if (text == NULL) {
        note_refusal(out->shown, "a line of it would be too long");
        return 0;
    }
    if (write_file(out->file, text, std::strlen(text)))
        return 1;
    note_system_error(out->shown);
    return 0;
}

int finish_new_file(NewFile* out, int complete)
{
    int in_place = complete && put_in_place(out->folder, out->file, out->temporary, out->name);
    if (!complete)
        throw_away(out->folder, out->file, out->temporary);
    else if (!in_place)
        note_system_error(out->shown);
    arm_stop(0);
    return in_place;
}
