#include "new_file.h"

#include "platform.h"

#include <cstring>

static const char temporary_suffix[] = ".forkit-new";

int open_new_file(NewFile* out, const char* path)
{
    out->file = NULL;
    if (path == NULL)
        return 0;
    std::size_t length = std::strlen(path);
    if (length >= sizeof out->path || length + sizeof temporary_suffix > sizeof out->temporary_path)
        return 0;
    std::memcpy(out->path, path, length + 1);
    std::memcpy(out->temporary_path, path, length);
    std::memcpy(out->temporary_path + length, temporary_suffix, sizeof temporary_suffix);
    out->file = open_file(out->temporary_path, "wb");
    return out->file != NULL;
}

int close_new_file(NewFile* out, int written)
{
    int closed = std::fclose(out->file) == 0;
    out->file = NULL;
    if (written && closed && replace_file(out->temporary_path, out->path))
        return 1;
    (void)remove_file(out->temporary_path);
    return 0;
}
