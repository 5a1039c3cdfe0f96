#include "new_file.h"

#include "failure.h"
#include "text_buffer.h"

#include <cctype>
#include <chrono>
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

// 0, with the reason noted, when what is at the file's name must be kept.
static int may_replace(const NewFile* out)
{
    FileFacts there;
    if (!look_below(out->folder, out->name, &there)) {
        note_system_error(out->shown);
        return 0;
    }
    const char* refusal = there.kind == NOTHING_THERE  ? NULL
                          : there.kind != REGULAR_FILE ? "is not a regular file"
                          : out->source != NULL && same_identity(there.identity, *out->source)
                              ? "is the very file it would be made from"
                          : !there.writable ? "is read-only"
                                            : NULL;
    if (refusal != NULL)
        note_refusal(out->shown, refusal);
    return refusal == NULL;
}

int open_new_file(NewFile* out, HeldFolder* folder, const char* name, unsigned mode,
                  const FileIdentity* source, const char* shown)
{
    *out = NewFile{folder->handle, NO_HANDLE, shown, source, !folder->fresh, "", ""};
    // A folder's refusal is short: the text always fits.
    const char* refusal = std::strlen(name) + SUFFIX_LENGTH + 2 > sizeof out->temporary
                              ? "its name is too long"
                          : folder->refusal != NULL ? format_text("its folder %s", folder->refusal)
                                                    : NULL;
    if (refusal != NULL) {
        note_refusal(shown, refusal);
        return 0;
    }
    claim(folder);
    std::strcpy(out->name, name);
    // From its creation to its rename, a stop waits: no file is left behind.
    hold_off_stops(1);
    int taken = 1;
    for (std::size_t i = 0; taken && i < sizeof NUMBERS / sizeof NUMBERS[0]; i++) {
        std::snprintf(out->temporary, sizeof out->temporary, "%s%s%s", name, SUFFIX, NUMBERS[i]);
        out->file = create_file_below(out->folder, out->temporary, mode, &taken);
        if (out->file != NO_HANDLE)
            return 1;
    }
    if (taken)
        note_refusal(shown, "its temporary names are all taken, by other runs or what they left");
    else
        note_system_error(shown);
    hold_off_stops(0);
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
    // What is at the name is looked at last, as close to the rename as can
    // be: a file made read-only while this one was written stays.
    complete = complete && (!out->check || may_replace(out));
    FileFacts made = {}, there;
    if (ON_WINDOWS && complete)
        (void)facts_of(out->file, &made);
    int in_place = complete && put_in_place(out->folder, out->file, out->temporary, out->name);
    if (!complete)
        throw_away(out->folder, out->file, out->temporary);
    else if (!in_place)
        note_system_error(out->shown);
    // Wine renames an open file by its folder's path, not by the folder held:
    // one swapped for a link at that moment sends the file where it leads.
    // Windows itself, as POSIX, renames within the folder held.
    else if (ON_WINDOWS &&
             !(look_below(out->folder, out->name, &there) && there.kind == REGULAR_FILE &&
               same_identity(there.identity, made.identity))) {
        note_refusal(out->shown, "may have gone where a swap of its folder led");
        in_place = 0;
    }
    hold_off_stops(0);
    return in_place;
}
