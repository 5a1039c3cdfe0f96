#include "source_file.h"

#include "failure.h"
#include "text_buffer.h"

Handle open_source_file(HeldFolder* folder, const char* name, FileFacts* facts, const char* shown)
{
    Handle file = open_file_below(folder->handle, name);
    if (file == NO_HANDLE) {
        note_open_failure(folder->handle, name, shown);
        return NO_HANDLE;
    }
    if (!facts_of(file, facts))
        note_system_error(shown);
    else if (facts->kind != REGULAR_FILE)
        note_refusal(shown, "is not a regular file");
    else
        return file;
    close_file(file);
    return NO_HANDLE;
}

Handle open_list(const char* name, FileFacts* facts, int told)
{
    HeldFolder* root = held_folder(TREE, "");
    Handle list = root != NULL ? open_source_file(root, name, facts, name) : NO_HANDLE;
    if (list == NO_HANDLE && told)
        report_failure(format_text("  Error opening %s", name));
    return list;
}
