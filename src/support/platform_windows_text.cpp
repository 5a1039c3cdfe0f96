// Code pages, final paths, the console and the process on Windows.

#include "path_rules.h"
#include "platform.h"
#include "platform_windows.h"

#include <cstring>
#include <io.h>
#include <windows.h>

#include <shellapi.h>

const int ON_WINDOWS = 1;

// No code page gives more UTF-16 units than it has bytes.
int to_utf16(unsigned page, const char* text, std::wstring* out)
{
    out->assign(std::strlen(text) + 1, L'\0');
    int got = MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, text, -1, &(*out)[0],
                                  static_cast<int>(out->size()));
    out->resize(got > 0 ? static_cast<std::size_t>(got) - 1 : 0);
    return got > 0;
}

// Where a character has no exact match, the system would put a '?' or a
// look-alike: ERROR_NO_UNICODE_TRANSLATION. UTF-8 has every character, and
// refuses the question.
int from_wide(unsigned page, const std::wstring& characters, std::string* out)
{
    BOOL lost = FALSE;
    BOOL* asked = page == CP_UTF8 ? NULL : &lost;
    out->assign(4 * characters.size() + 1, '\0');
    int got = WideCharToMultiByte(page, asked ? WC_NO_BEST_FIT_CHARS : 0, characters.c_str(), -1,
                                  &(*out)[0], static_cast<int>(out->size()), NULL, asked);
    out->resize(got > 0 ? static_cast<std::size_t>(got) - 1 : 0);
    if (lost)
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return got > 0 && !lost;
}

int to_wide(const char* text, std::wstring* out)
{
    std::string back;
    if (to_utf16(CP_ACP, text, out) && from_wide(CP_ACP, *out, &back) && back == text)
        return 1;
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
}

std::wstring final_path(Handle handle)
{
    std::wstring path(32768, L'\0');
    DWORD got = GetFinalPathNameByHandleW(handle, &path[0], 32768, FILE_NAME_NORMALIZED);
    path.resize(got < 32768 ? got : 0);
    return path;
}

int hold_folder(Handle, int)
{
    return 1;
}

int is_system_root(Handle folder)
{
    std::string utf8;
    if (!from_wide(CP_UTF8, final_path(folder), &utf8) || utf8.empty())
        return -1;
    return windows_root_by_text(utf8.c_str());
}

int current_folder(char drive, char* out, std::size_t size)
{
    const wchar_t of_drive[] = {static_cast<wchar_t>(drive), L':', L'\0'};
    std::wstring full(32768, L'\0');
    std::string named;
    DWORD got = GetFullPathNameW(drive != 0 ? of_drive : L".", 32768, &full[0], NULL);
    full.resize(got < 32768 ? got : 0);
    return !full.empty() && from_wide(CP_ACP, full, &named) &&
           std::snprintf(out, size, "%s", named.c_str()) < static_cast<int>(size);
}

// The C library's copy of the arguments is found by its text; where two read
// alike, both must be exact. A text that is none of them was not typed.
int argument_is_exact(const char* argument)
{
    int count = 0;
    LPWSTR* typed = CommandLineToArgvW(GetCommandLineW(), &count);
    std::string back;
    int exact = typed != NULL;
    for (int i = 1; exact && i < count && i < __argc; i++) {
        if (std::strcmp(__argv[i], argument) == 0)
            exact = from_wide(CP_ACP, typed[i], &back) && back == argument;
    }
    (void)LocalFree(typed);
    return exact;
}

int convert_text(int from, int to, const char* text, char* out, std::size_t size)
{
    const UINT pages[] = {CP_ACP, CP_UTF8, GetOEMCP()}; // as CodePage numbers them
    std::wstring characters;
    std::string converted;
    return to_utf16(pages[from], text, &characters) &&
           from_wide(pages[to], characters, &converted) &&
           std::snprintf(out, size, "%s", converted.c_str()) < static_cast<int>(size);
}

int is_console(std::FILE* stream)
{
    DWORD mode;
    return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), &mode) != 0;
}

// A console shows bytes in its own code page, not in the one the names came
// in, so it is given the characters; it starts a new line at a line feed.
void write_console(std::FILE* stream, const char* text)
{
    std::wstring characters;
    DWORD written;
    if (to_utf16(CP_UTF8, text, &characters))
        (void)WriteConsoleW(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))),
                            characters.c_str(), static_cast<DWORD>(characters.size()), &written,
                            NULL);
}

void describe_system_error(char* out, std::size_t size)
{
    DWORD error = GetLastError();
    if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, error, 0,
                       out, static_cast<DWORD>(size), NULL) == 0)
        (void)std::snprintf(out, size, "error %lu", static_cast<unsigned long>(error));
}

void hold_off_stops(int) {}

void prepare_process() {}
