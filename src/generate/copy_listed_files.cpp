#include "copy_listed_files.h"

#include "../support/failure.h"
#include "../support/new_file.h"
#include "../support/source_file.h"
#include "../support/text_buffer.h"
#include "../support/text_file.h"

#include <cstring>

// A list line holds an entry of at most 78 characters, its line feed and the
// terminator; longer lines arrive in pieces, each taken as an entry.
enum { LIST_LINE_SIZE = 80 };

static int is_separator(char c)
{
    return c == '\\' || c == '/';
}

// Adds the depth change of each part of `path` to `depth`; 0 once it goes
// below where it started.
static int climb_stays_inside(const char* path, int* depth)
{
    while (*path != '\0') {
        std::size_t length = 0;
        while (path[length] != '\0' && !is_separator(path[length]))
            length++;
        if (length == 2 && path[0] == '.' && path[1] == '.')
            (*depth)--;
        else if (length > 0 && !(length == 1 && path[0] == '.'))
            (*depth)++;
        if (*depth < 0)
            return 0;
        path += length;
        if (*path != '\0')
            path++;
    }
    return 1;
}

int entry_stays_inside(const char* module_dir, const char* entry)
{
    // A rooted entry (\x, /x) or one with a drive (C:x) starts outside the tree.
    if (is_separator(entry[0]) || (entry[0] != '\0' && entry[1] == ':'))
        return 0;
    int depth = 0;
    return climb_stays_inside(module_dir, &depth) && climb_stays_inside(entry, &depth);
}

// Turns what one read of the list gave, `length` characters, into an entry:
// the last character (the line feed of an ordinary line) goes; NULL when
// fewer than two remain.
static char* entry_of_line(char* line, std::size_t length)
{
    if (length < 3)
        return NULL;
    line[length - 1] = '\0';
    return line;
}

// A NUL would cut the entry short and name another file: such an entry is
// refused, and shown with each NUL as '?'.
static int entry_holds_nul(char* entry, std::size_t length)
{
    int held = 0;
    for (std::size_t i = 0; i < length; i++) {
        if (entry[i] == '\0') {
            entry[i] = '?';
            held = 1;
        }
    }
    return held;
}

// A copy is its source's to edit: its permission bits, and the owner's
// write bit, less the umask. The source and the list lie in the tree, whose
// files are never replaced: a copy can be written over neither.
static int copy_file(const char* source, const char* destination, std::size_t root_length)
{
    unsigned mode = 0;
    FileHandle in = open_source_file(source, &mode);
    if (in == NO_FILE)
        return 0;
    NewFile out;
    int copied = 0;
    if (open_new_file(&out, destination, root_length, mode | 0200)) {
        int read_failed = 0;
        copied = copy_text(in, out.file, &read_failed);
        if (!copied) {
            note_system_error(read_failed ? source : out.path);
            abandon_new_file(&out);
        } else {
            copied = commit_new_file(&out);
        }
    }
    close_file(in);
    return copied;
}

static int copy_entry(const char* sourcepath, const char* module_dir, const char* entry)
{
    if (!entry_stays_inside(module_dir, entry)) {
        note_refusal(entry, "climbs out of the code set");
        return 0;
    }
    if (is_temporary_name(entry)) {
        note_refusal(entry, "is a name forkit keeps for files it has not finished");
        return 0;
    }
    // An entry is shorter than a list line, so its source always fits.
    char source[TEXT_BUFFER_SIZE];
    std::strcpy(source, module_dir[0] == '\0' ? entry : format_text("%s\\%s", module_dir, entry));
    const char* destination = module_dir[0] == '\0'
                                  ? format_text("%s\\%s", sourcepath, entry)
                                  : format_text("%s\\%s\\%s", sourcepath, module_dir, entry);
    return copy_file(source, destination, std::strlen(sourcepath));
}

static void report_entry(int copied, const char* entry)
{
    print_line(format_text(copied ? "  %s Copied" : "  Error copying %s", entry));
    if (copied)
        count_step_done();
    else
        print_failure();
}

void copy_listed_files(const char* list_name, const char* sourcepath, const char* module_dir)
{
    FileHandle list = open_source_file(list_name, NULL);
    if (list == NO_FILE) {
        report_failure(format_text("  Error opening %s", list_name));
        return;
    }
    TextReader reader;
    start_reading(&reader, list);
    char line[LIST_LINE_SIZE];
    std::size_t length;
    while ((length = read_text_line(&reader, line, sizeof line)) > 0) {
        char* entry = entry_of_line(line, length);
        if (entry == NULL)
            continue;
        if (entry_holds_nul(entry, length - 1)) {
            note_refusal(entry, "holds a NUL character");
            report_entry(0, entry);
        } else {
            report_entry(copy_entry(sourcepath, module_dir, entry), entry);
        }
    }
    if (reader.failed) {
        note_system_error(list_name);
        report_failure(format_text("  Error reading %s", list_name));
    }
    close_file(list);
}
