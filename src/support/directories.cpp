#include "directories.h"

#include "platform.h"
#include "text_buffer.h"

#include <cstddef>

int directory_exists(const char* path)
{
    return path != NULL && can_enter_directory(path);
}

int subdirectory_exists(const char* child, const char* parent)
{
    return directory_exists(format_text("%s\\%s", parent, child));
}

int make_directory(const char* path)
{
    return path != NULL && create_directory(path);
}

int make_subdirectory(const char* child, const char* parent)
{
    return make_directory(format_text("%s\\%s", parent, child));
}
