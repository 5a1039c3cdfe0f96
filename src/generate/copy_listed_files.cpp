#include "copy_listed_files.h"

#include "../support/new_file.h"
#include "../support/platform.h"
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

// Turns what one read of the list gave into an entry: the last character
// (the line feed of an ordinary line) goes; NULL when fewer than two remain.
static const char* entry_of_line(char* line)
{
    std::size_t length = std::strlen(line);
    if (length == 0)
        return NULL;
    line[length - 1] = '\0';
    return length - 1 < 2 ? NULL : line;
}

static int copy_file(const char* source, const char* destination, const char* list_name)
{
    NewFile out;
    // Writing over the source, or over the list being read, would lose it.
    // A missing source fails before anything is created: where both paths
    // name one place, creating the destination would make the source.
    // The new file is started before the source is opened: where a removed
    // name lasts while its file is open (as under Wine), a link to the source
    // left at the temporary name could not go otherwise.
    if (!path_in_use(source) || same_file(source, destination) ||
        same_file(list_name, destination) || !open_new_file(&out, destination))
        return 0;
    std::FILE* in = open_file(source, "rb");
    if (in == NULL)
        return close_new_file(&out, 0);
    int copied = copy_text(in, out.file);
    (void)std::fclose(in);
    return close_new_file(&out, copied);
}

static int copy_entry(const char* list_name, const char* sourcepath, const char* module_dir,
                      const char* entry)
{
    if (!entry_stays_inside(module_dir, entry))
        return 0;
    char source[TEXT_BUFFER_SIZE];
    const char* formed = module_dir[0] == '\0' ? entry : format_text("%s\\%s", module_dir, entry);
    if (formed == NULL)
        return 0;
    std::strcpy(source, formed);
    const char* destination = module_dir[0] == '\0'
                                  ? format_text("%s\\%s", sourcepath, entry)
                                  : format_text("%s\\%s\\%s", sourcepath, module_dir, entry);
    return destination != NULL && copy_file(source, destination, list_name);
}

void copy_listed_files(const char* list_name, const char* sourcepath, const char* module_dir)
{
    std::FILE* list = open_file(list_name, "rb");
    if (list == NULL) {
        print_line(format_text("  Error opening %s", list_name));
        return;
    }
    char line[LIST_LINE_SIZE];
    while (read_text_line(list, line, sizeof line) > 0) {
        const char* entry = entry_of_line(line);
        if (entry == NULL)
            continue;
        int copied = copy_entry(list_name, sourcepath, module_dir, entry);
        print_line(format_text(copied ? "  %s Copied" : "  Error copying %s", entry));
    }
    if (std::ferror(list))
        print_line(format_text("  Error reading %s", list_name));
    (void)std::fclose(list);
}
