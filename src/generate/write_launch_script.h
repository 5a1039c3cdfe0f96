#pragma once

#include <cstddef>

// Writes sourcepath\play it.bat, which changes to the game's drive and
// folder and starts quake3.exe with the mod selected, as a local game that
// loads the mod's own modules (sv_pure 0). The folder and the mod's name are
// escaped, and written in the code page the command interpreter reads, so
// that it sees them as given. Prints only a failure: "  Error creating
// PATH", and why on standard error; any earlier launcher stays.
void write_launch_script(const char* modname, const char* sourcepath, const char* q3path);

// Copies `text` to `escaped` for a batch file line: every character of
// `caret_escaped` gets a ^ before it and every % is doubled. 0 if the result
// does not fit `size`.
int escape_for_batch(const char* text, const char* caret_escaped, char* escaped, std::size_t size);
