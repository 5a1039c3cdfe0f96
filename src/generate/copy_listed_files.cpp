#include "copy_listed_files.h"

#include "../support/failure.h"
#include "../support/held_folders.h"
#include "../support/new_file.h"
#include "../support/path_rules.h"
#include "../support/source_file.h"
#include "../support/text_buffer.h"
#include "../support/text_file.h"

#include <algorithm>
#include <cstring>

// A list line holds an entry of at most 78 characters, its line feed and the
// terminator; longer lines arrive in pieces, each taken as an entry.
enum { LIST_LINE_SIZE = 80 };

// The folder below the code set's root and the name of the file that
// `entry` names, or why it names none. Taken apart in UTF-8, the form of the
// names below a held folder, where no byte of a character is a separator.
static const char* entry_parts(const char* module_dir, const char* entry,
                               char (*utf8)[4 * LIST_LINE_SIZE], char (*folder)[FOLDER_PATH_SIZE],
                               const char** name)
{
    if (!convert_text(ARGUMENTS_PAGE, UTF8_PAGE, entry, *utf8, sizeof *utf8))
        return "the system code page has no such characters";
    const char* refusal = split_entry(module_dir, *utf8, ON_WINDOWS, *folder, sizeof *folder, name);
    return refusal == NULL && is_temporary_name(*name, 1)
               ? "is a name forkit keeps for files it has not finished"
               : refusal;
}

static int copy_entry(const char* sourcepath, const char* module_dir, const char* entry)
{
    char utf8[4 * LIST_LINE_SIZE], folder_path[FOLDER_PATH_SIZE], source_text[TEXT_BUFFER_SIZE],
        shown_text[TEXT_BUFFER_SIZE];
    const char* name = NULL;
    const char* refusal = entry_parts(module_dir, entry, &utf8, &folder_path, &name);
    if (refusal != NULL) {
        note_refusal(entry, refusal);
        return 0;
    }
    // The paths as typed, for the reasons of failures.
    const char* source_shown = join_path(&source_text, "", module_dir, entry);
    const char* shown = join_path(&shown_text, sourcepath, module_dir, entry);
    FileFacts facts;
    HeldFolder* from = held_folder(TREE, folder_path);
    Handle in = from != NULL ? open_source_file(from, name, &facts, source_shown) : NO_HANDLE;
    if (in == NO_HANDLE)
        return 0;
    HeldFolder* to = held_folder(CODE_SET, folder_path);
    NewFile out;
    int copied = 0, read_failed = 0;
    // A copy is its source's to edit: its permission bits, and the owner's
    // write bit, less the umask.
    if (to != NULL && open_new_file(&out, to, name, facts.mode | 0200, &facts.identity, shown)) {
        if (!(copied = copy_text(in, out.file, &read_failed)))
            note_system_error(read_failed ? source_shown : shown);
        copied = finish_new_file(&out, copied);
    }
    close_file(in);
    return copied;
}

// Takes what one read of the list gave, `length` characters, as an entry
// and copies it into the code set at `sourcepath`, reporting it; with NULL
// for `sourcepath`, holds the tree's folder it would be read from, and tells
// nothing. The last character goes, the line feed of an ordinary line but a
// real one where none ends the line; fewer than two left are no entry. A NUL
// would cut the entry short and name another file: such an entry is
// refused, shown with '?' for it.
static void take_line(char* line, std::size_t length, const char* sourcepath,
                      const char* module_dir)
{
    char utf8[4 * LIST_LINE_SIZE], folder[FOLDER_PATH_SIZE];
    const char* name;
    if (length < 3)
        return;
    line[--length] = '\0';
    if (sourcepath == NULL) {
        if (entry_parts(module_dir, line, &utf8, &folder, &name) == NULL)
            (void)held_folder(TREE, folder);
        return;
    }
    int holds_nul = std::strlen(line) != length;
    std::replace(line, line + length, '\0', '?');
    if (holds_nul)
        note_refusal(line, "holds a NUL character");
    int copied = !holds_nul && copy_entry(sourcepath, module_dir, line);
    print_line(format_text(copied ? "  %s Copied" : "  Error copying %s", line));
    if (copied)
        count_step_done();
    else
        print_failure();
}

void copy_listed_files(const char* list_name, const char* sourcepath, const char* module_dir)
{
    FileFacts facts;
    Handle list = open_list(list_name, &facts, sourcepath != NULL);
    if (list == NO_HANDLE)
        return;
    TextReader reader = {list};
    char line[LIST_LINE_SIZE];
    std::size_t length;
    while ((length = read_text_line(&reader, line, sizeof line)) > 0)
        take_line(line, length, sourcepath, module_dir);
    if (reader.failed && sourcepath != NULL) {
        note_system_error(list_name);
        report_failure(format_text("  Error reading %s", list_name));
    }
    close_file(list);
}
