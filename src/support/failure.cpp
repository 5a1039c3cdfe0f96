#include "failure.h"

#include "platform.h"
#include "text_buffer.h"

#include <cstdio>
#include <cstring>

static char noted_path[TEXT_BUFFER_SIZE];
static char noted_reason_text[256];
static int noted = 0;
static long steps_done = 0, steps_failed = 0;

void note_refusal(const char* path, const char* reason)
{
    if (path == NULL)
        path = "(a path longer than forkit can form)";
    else if (path[0] == '\0')
        path = "\"\"";
    // A path too long for the note is shown cut, and marked so.
    if (std::snprintf(noted_path, sizeof noted_path, "%s", path) >=
        static_cast<int>(sizeof noted_path))
        std::memcpy(noted_path + sizeof noted_path - 4, "...", 4);
    std::snprintf(noted_reason_text, sizeof noted_reason_text, "%s", reason);
    noted = 1;
}

void note_system_error(const char* path)
{
    // Read before anything else runs: formatting the path must not change it.
    // Windows' messages end in a line end, sometimes after a full stop.
    char reason[sizeof noted_reason_text];
    describe_system_error(reason, sizeof reason);
    for (std::size_t end = std::strlen(reason); end > 0 && std::strchr("\r\n .", reason[end - 1]);)
        reason[--end] = '\0';
    note_refusal(path, reason);
}

const char* noted_reason()
{
    return noted_reason_text;
}

void print_failure()
{
    // Every failure notes its reason; a missing note is forkit's own fault,
    // still told rather than hidden.
    char line[sizeof noted_path + sizeof noted_reason_text + 16];
    if (noted)
        std::snprintf(line, sizeof line, "forkit: %s: %s", noted_path, noted_reason_text);
    else
        std::snprintf(line, sizeof line, "forkit: a step failed for a reason not noted");
    noted = 0;
    steps_failed++;
    print_error_line(line);
}

void report_failure(const char* console_line)
{
    print_line(console_line);
    print_failure();
}

void count_step_done()
{
    steps_done++;
}

void print_verdict()
{
    char line[128];
    if (steps_failed == 0)
        return;
    std::snprintf(line, sizeof line, "forkit: %ld of %ld steps failed; see the Error lines above",
                  steps_failed, steps_done + steps_failed);
    print_error_line(line);
}
