#pragma once

// Names on Windows, shared by its platform files: the ...W calls take
// UTF-16; the paths typed come in the arguments' code page, and the names
// below a held folder in UTF-8.

#include "platform.h"

#include <string>

// `text`, in the arguments' code page, in UTF-16; 0, with the error set, for
// a byte the code page lacks or one that comes back as another, which would
// name another file.
int to_wide(const char* text, std::wstring* out);
// `text`, in the code page `page`, in UTF-16; 0 for a byte that is no
// character there.
int to_utf16(unsigned page, const char* text, std::wstring* out);
// `characters` in the code page `page`; 0 if one has no exact match there.
int from_wide(unsigned page, const std::wstring& characters, std::string* out);
// The final path of the open `handle`, "\\?\C:\a" or "\\?\UNC\server\share\a";
// empty where it cannot be had.
std::wstring final_path(Handle handle);
