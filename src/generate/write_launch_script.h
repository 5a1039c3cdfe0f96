#pragma once

#include <cstddef>

// Writes sourcepath\play it.bat, which changes to the game's drive and folder
// and starts quake3.exe with the mod selected. The folder and the mod's name
// are written in the code page the command interpreter reads, and escaped,
// so that it sees them as given. Prints only a failure: "  Error creating
// PATH", and why on standard error; any earlier launcher stays, and a name
// that code page cannot hold fails before anything is written.
void write_launch_script(const char* modname, const char* sourcepath, const char* q3path);

// Copies `text` to `escaped` for a batch file line: every character of
// `caret_escaped` gets a ^ before it and every % is doubled. 0 if the result
// does not fit `size`.
int escape_for_batch(const char* text, const char* caret_escaped, char* escaped, std::size_t size);
