#pragma once

// Names on Windows, shared by its platform files: the ...W calls take
// UTF-16, and forkit's names are in the code page its arguments came in.

#include <string>

// `path` in UTF-16; 0, with the error set, for a byte the code page lacks or
// one that comes back as another, which would name another file.
int to_wide(const char* path, std::wstring* out);
// `characters` in the arguments' code page; 0 if one has no exact match.
int from_wide(const std::wstring& characters, std::string* out);
int from_wide_utf8(const std::wstring& characters, std::string* out);
