#include "copy_listed_files.h"

#include "../support/failure.h"
#include "../support/new_file.h"
#include "../support/path_rules.h"
#include "../support/source_file.h"
#include "../support/text_buffer.h"
#include "../support/text_file.h"

#include <cstring>

// A list line holds an entry of at most 78 characters, its line feed and the
// terminator; longer lines arrive in pieces, each taken as an entry.
enum { LIST_LINE_SIZE = 80 };

// A copy is its source's to edit: its permission bits, and the owner's write
// bit, less the umask. The source lies in the tree, whose files are never
// replaced, so the copy cannot be written over it.
static int copy_file(const char* source, const char* destination, std::size_t root_length)
{
    unsigned mode = 0;
    FileHandle in = open_source_file(source, &mode);
    NewFile out;
    int copied = 0, read_failed = 0;
    if (in != NO_FILE && open_new_file(&out, destination, root_length, mode | 0200)) {
        copied = copy_text(in, out.file, &read_failed);
        if (copied) {
            copied = commit_new_file(&out);
        } else {
            note_system_error(read_failed ? source : out.path);
            abandon_new_file(&out);
        }
    }
    if (in != NO_FILE)
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

// Takes what one read of the list gave, `length` characters, as an entry
// and reports it. The last character goes, the line feed of an ordinary
// line but a real one where none ends the line; fewer than two left are no
// entry. A NUL would cut the entry short and name another file: such an
// entry is refused, shown with '?' for it.
static void copy_line(char* line, std::size_t length, const char* sourcepath,
                      const char* module_dir)
{
    if (length < 3)
        return;
    line[--length] = '\0';
    int holds_nul = std::strlen(line) != length;
    for (std::size_t i = 0; holds_nul && i < length; i++)
        line[i] = line[i] == '\0' ? '?' : line[i];
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
    FileHandle list = open_source_file(list_name, NULL);
    if (list == NO_FILE) {
        report_failure(format_text("  Error opening %s", list_name));
        return;
    }
    TextReader reader;
    start_reading(&reader, list);
    char line[LIST_LINE_SIZE];
    std::size_t length;
    while ((length = read_text_line(&reader, line, sizeof line)) > 0)
        copy_line(line, length, sourcepath, module_dir);
    if (reader.failed) {
        note_system_error(list_name);
        report_failure(format_text("  Error reading %s", list_name));
    }
    close_file(list);
}
