// Code pages, the console and the process on Windows.

#include "platform.h"
#include "platform_windows.h"

#include <cstring>
#include <io.h>
#include <windows.h>

#include <shellapi.h>

const int ON_WINDOWS = 1;

// No code page gives more UTF-16 units than it has bytes.
static int to_utf16(UINT page, const char* text, std::wstring* out)
{
    out->assign(std::strlen(text) + 1, L'\0');
    int got = MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, text, -1, &(*out)[0],
                                  static_cast<int>(out->size()));
    out->resize(got > 0 ? static_cast<std::size_t>(got) - 1 : 0);
    return got > 0;
}

// `characters` in `page`; 0 if they do not fit, or if one has no exact match
// there (ERROR_NO_UNICODE_TRANSLATION), where the system would put a '?' or
// a look-alike. UTF-8 has every character, and refuses the question.
static int from_utf16(UINT page, const wchar_t* characters, char* out, std::size_t size)
{
    BOOL lost = FALSE;
    BOOL* asked = page == CP_UTF8 ? NULL : &lost;
    if (WideCharToMultiByte(page, asked ? WC_NO_BEST_FIT_CHARS : 0, characters, -1, out,
                            static_cast<int>(size), NULL, asked) == 0)
        return 0;
    if (lost)
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return !lost;
}

static int from_wide_in(UINT page, const std::wstring& characters, std::string* out)
{
    out->assign(4 * characters.size() + 1, '\0');
    if (!from_utf16(page, characters.c_str(), &(*out)[0], out->size()))
        return 0;
    out->resize(std::strlen(out->c_str()));
    return 1;
}

int from_wide(const std::wstring& characters, std::string* out)
{
    return from_wide_in(CP_ACP, characters, out);
}

int from_wide_utf8(const std::wstring& characters, std::string* out)
{
    return from_wide_in(CP_UTF8, characters, out);
}

// The ...A calls would take a byte the code page lacks, or one that comes
// back as another, for another character: such a name is refused.
int to_wide(const char* path, std::wstring* out)
{
    std::string back;
    if (to_utf16(CP_ACP, path, out) && from_wide(*out, &back) && back == path)
        return 1;
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
}

int current_folder(char drive, char* out, std::size_t size)
{
    const wchar_t of_drive[] = {static_cast<wchar_t>(drive), L':', L'\0'};
    const wchar_t* name = drive != 0 ? of_drive : L".";
    DWORD needed = GetFullPathNameW(name, 0, NULL, NULL);
    std::wstring full(needed + 1, L'\0');
    return needed > 0 && GetFullPathNameW(name, needed, &full[0], NULL) < needed &&
           from_utf16(CP_ACP, full.c_str(), out, size);
}

int argument_is_exact(const char* argument)
{
    int count = 0;
    LPWSTR* typed = CommandLineToArgvW(GetCommandLineW(), &count);
    if (typed == NULL)
        return 0;
    // The C library's copy of the arguments is found by its text; where two
    // read alike, both must be exact. A text that is none of them was not
    // typed: there is nothing to compare.
    int exact = 1;
    std::string back;
    for (int i = 1; exact && i < count && i < __argc; i++) {
        if (std::strcmp(__argv[i], argument) == 0)
            exact = from_wide(typed[i], &back) && back == argument;
    }
    (void)LocalFree(typed);
    return exact;
}

int convert_text(int from, int to, const char* text, char* out, std::size_t size)
{
    const UINT pages[] = {CP_ACP, CP_UTF8, GetOEMCP()}; // as CodePage numbers them
    std::wstring characters;
    return to_utf16(pages[from], text, &characters) &&
           from_utf16(pages[to], characters.c_str(), out, size);
}

static HANDLE console_of(std::FILE* stream)
{
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
}

int is_console(std::FILE* stream)
{
    DWORD mode;
    return GetConsoleMode(console_of(stream), &mode) != 0;
}

// A console shows bytes in its own code page, not in the one the names came
// in, so it is given the characters; it starts a new line at a line feed.
void write_console(std::FILE* stream, const char* text)
{
    std::wstring characters;
    DWORD written;
    if (to_utf16(CP_UTF8, text, &characters))
        (void)WriteConsoleW(console_of(stream), characters.c_str(),
                            static_cast<DWORD>(characters.size()), &written, NULL);
}

void describe_system_error(char* out, std::size_t size)
{
    DWORD error = GetLastError();
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                                  error, 0, out, static_cast<DWORD>(size), NULL);
    if (length == 0)
        (void)std::snprintf(out, size, "error %lu", static_cast<unsigned long>(error));
}

// Whatever ends the process closes its handles, and the file being written
// goes with its last one: nothing is left to do on a stop.
void prepare_process(void (*)()) {}
