#include "source_file.h"

#include "failure.h"
#include "platform.h"

std::FILE* open_source_file(const char* path)
{
    std::FILE* file = open_file(path);
    if (file == NULL) {
        note_system_error(path);
        return NULL;
    }
    const char* refusal = NULL;
    if (!is_regular_file(file))
        refusal = "is not a regular file";
    else if (!file_within_current_directory(path))
        refusal = "leads out of the source tree";
    if (refusal != NULL) {
        note_refusal(path, refusal);
        (void)std::fclose(file);
        return NULL;
    }
    return file;
}
