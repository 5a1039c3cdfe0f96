#include "platform.h"

#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <string>
#include <windows.h>

// Paths arrive in the system code page, as the command line gave them. Each
// call converts its path as the ...A functions would, then uses the wide
// function, which takes paths longer than MAX_PATH where the system allows
// them (forkit.exe's manifest asks for that). A path that cannot be converted
// becomes "", which every call refuses.
static std::wstring wide(const char* path)
{
    int needed = MultiByteToWideChar(CP_ACP, 0, path, -1, NULL, 0);
    if (needed <= 0)
        return std::wstring();
    std::wstring text(static_cast<std::size_t>(needed), L'\0');
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, &text[0], needed) != needed)
        return std::wstring();
    text.resize(static_cast<std::size_t>(needed) - 1);
    return text;
}

static int is_directory(const char* path)
{
    DWORD attributes = GetFileAttributesW(wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int can_enter_directory(const char* path)
{
    // The saved directory is sized to the answer so that it is never cut.
    DWORD needed = GetCurrentDirectoryW(0, NULL);
    std::wstring home(needed, L'\0');
    if (needed == 0 || GetCurrentDirectoryW(needed, &home[0]) >= needed)
        return is_directory(path);
    int entered = SetCurrentDirectoryW(wide(path).c_str()) != 0;
    if (entered)
        (void)SetCurrentDirectoryW(home.c_str());
    return entered;
}

int create_directory(const char* path)
{
    return CreateDirectoryW(wide(path).c_str(), NULL) != 0;
}

std::FILE* open_file(const char* path, const char* mode)
{
    if (is_directory(path))
        return NULL;
    return _wfopen(wide(path).c_str(), wide(mode).c_str());
}

std::FILE* create_file(const char* path)
{
    HANDLE handle = CreateFileW(wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, NULL,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (handle == INVALID_HANDLE_VALUE)
        return NULL;
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        (void)CloseHandle(handle);
        return NULL;
    }
    std::FILE* file = _fdopen(fd, "wb");
    if (file == NULL)
        (void)_close(fd);
    return file;
}

// A handle on the file or folder at `path` that only reads its properties.
static HANDLE open_to_query(const char* path)
{
    return CreateFileW(wide(path).c_str(), 0,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, NULL);
}

static int identify(const char* path, BY_HANDLE_FILE_INFORMATION* info)
{
    HANDLE handle = open_to_query(path);
    if (handle == INVALID_HANDLE_VALUE)
        return 0;
    int known = GetFileInformationByHandle(handle, info) != 0;
    (void)CloseHandle(handle);
    return known;
}

int same_file(const char* first, const char* second)
{
    BY_HANDLE_FILE_INFORMATION a, b;
    return identify(first, &a) && identify(second, &b) &&
           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

int replace_file(const char* from, const char* to)
{
    return MoveFileExW(wide(from).c_str(), wide(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

int remove_file(const char* path)
{
    return DeleteFileW(wide(path).c_str()) != 0;
}

int path_in_use(const char* path)
{
    return GetFileAttributesW(wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The full path of the folder or file at `path` with every link resolved.
static int final_path(const char* path, std::wstring* out)
{
    HANDLE handle = open_to_query(path);
    if (handle == INVALID_HANDLE_VALUE)
        return 0;
    DWORD needed = GetFinalPathNameByHandleW(handle, NULL, 0, FILE_NAME_NORMALIZED);
    DWORD got = 0;
    if (needed > 0) {
        out->assign(needed, L'\0');
        got = GetFinalPathNameByHandleW(handle, &(*out)[0], needed, FILE_NAME_NORMALIZED);
        out->resize(got < needed ? got : 0);
    }
    (void)CloseHandle(handle);
    return got > 0 && got < needed;
}

int directory_within(const char* path, const char* top)
{
    std::wstring inner, outer;
    if (!final_path(path, &inner) || !final_path(top, &outer))
        return 1;
    if (!outer.empty() && outer.back() == L'\\')
        outer.pop_back();
    int length = static_cast<int>(outer.size());
    return inner.size() >= outer.size() &&
           CompareStringOrdinal(inner.c_str(), length, outer.c_str(), length, TRUE) == CSTR_EQUAL &&
           (inner.size() == outer.size() || inner[outer.size()] == L'\\');
}

// `text`, in the system code page, as UTF-16; 0 with the system's error set
// when it cannot be converted with `flags`.
static int utf16_of_ansi(const char* text, DWORD flags, std::wstring* out)
{
    int needed = MultiByteToWideChar(CP_ACP, flags, text, -1, NULL, 0);
    if (needed <= 0)
        return 0;
    out->assign(static_cast<std::size_t>(needed), L'\0');
    if (MultiByteToWideChar(CP_ACP, flags, text, -1, &(*out)[0], needed) != needed)
        return 0;
    out->resize(static_cast<std::size_t>(needed) - 1);
    return 1;
}

int convert_for_batch_file(const char* text, char* out, std::size_t size)
{
    std::wstring characters;
    if (!utf16_of_ansi(text, MB_ERR_INVALID_CHARS, &characters))
        return 0;
    // A character the page lacks would become '?' or a look-alike and name
    // another folder or mod. The UTF-7 and UTF-8 pages hold every character,
    // and refuse both the flag and the question whether one was lacking.
    UINT page = GetOEMCP();
    int exact = page != CP_UTF7 && page != CP_UTF8;
    BOOL lost = FALSE;
    int size_in = size > INT_MAX ? INT_MAX : static_cast<int>(size);
    if (WideCharToMultiByte(page, exact ? WC_NO_BEST_FIT_CHARS : 0, characters.c_str(), -1, out,
                            size_in, NULL, exact ? &lost : NULL) == 0)
        return 0;
    if (lost) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    return 1;
}

// Writes `text` and a line end to the console behind `stream` as UTF-16; 0,
// with nothing written, when `stream` is not a console.
static int write_console_line(std::FILE* stream, const char* text)
{
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode;
    std::wstring characters;
    if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode) ||
        !utf16_of_ansi(text, 0, &characters))
        return 0;
    // As the C library's text mode would: each line feed as CR LF.
    std::wstring line;
    for (wchar_t c : characters)
        line += c == L'\n' ? std::wstring(L"\r\n") : std::wstring(1, c);
    line += L"\r\n";
    (void)std::fflush(stream);
    DWORD written;
    (void)WriteConsoleW(handle, line.c_str(), static_cast<DWORD>(line.size()), &written, NULL);
    return 1;
}

void write_line(std::FILE* stream, const char* text)
{
    // A console shows bytes in its own code page, not in the one the names
    // arrive in, so it is given the characters; files and pipes get the bytes.
    if (write_console_line(stream, text))
        return;
    (void)std::fputs(text, stream);
    (void)std::fputc('\n', stream);
    (void)std::fflush(stream);
}

void describe_system_error(char* out, std::size_t size)
{
    DWORD error = GetLastError();
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                                  error, 0, out, static_cast<DWORD>(size), NULL);
    if (length == 0)
        (void)std::snprintf(out, size, "error %lu", static_cast<unsigned long>(error));
    // The system's messages end in a line end, sometimes after a full stop.
    while (length > 0 && (out[length - 1] == '\n' || out[length - 1] == '\r' ||
                          out[length - 1] == ' ' || out[length - 1] == '.'))
        out[--length] = '\0';
}
