#include "platform.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <string>
#include <windows.h>

// Paths arrive in the system code page, as the command line gave them. Each
// call converts its path, then uses the wide function, which takes paths
// longer than MAX_PATH where the system allows them (forkit.exe's manifest
// asks for that). The ...A functions would pass a byte the code page does not
// define, or one that comes back as another (best fit), as some other
// character, and so open a file that was never named: such a path is refused
// instead, with ERROR_NO_UNICODE_TRANSLATION, as one too long is.
static int wide(const char* path, std::wstring* out)
{
    UINT page = GetACP();
    int needed = MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, path, -1, NULL, 0);
    if (needed > 0) {
        out->assign(static_cast<std::size_t>(needed), L'\0');
        needed = MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, path, -1, &(*out)[0], needed);
    }
    // Converted back, the path must give its own bytes again. UTF-8 takes no
    // best-fit flag: it has no best fit.
    DWORD exact = page == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    std::size_t length = std::strlen(path);
    std::string back(length + 1, '\0');
    if (needed <= 0 ||
        WideCharToMultiByte(page, exact, out->c_str(), -1, &back[0], static_cast<int>(length + 1),
                            NULL, NULL) != static_cast<int>(length + 1) ||
        std::memcmp(back.c_str(), path, length + 1) != 0) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    out->resize(static_cast<std::size_t>(needed) - 1);
    return 1;
}

static int is_directory(const char* path)
{
    std::wstring name;
    DWORD attributes =
        wide(path, &name) ? GetFileAttributesW(name.c_str()) : INVALID_FILE_ATTRIBUTES;
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int can_enter_directory(const char* path)
{
    std::wstring name;
    if (!wide(path, &name))
        return 0;
    // The saved directory is sized to the answer so that it is never cut.
    DWORD needed = GetCurrentDirectoryW(0, NULL);
    std::wstring home(needed, L'\0');
    if (needed == 0 || GetCurrentDirectoryW(needed, &home[0]) >= needed)
        return is_directory(path);
    int entered = SetCurrentDirectoryW(name.c_str()) != 0;
    if (entered)
        (void)SetCurrentDirectoryW(home.c_str());
    return entered;
}

int create_directory(const char* path)
{
    std::wstring name;
    return wide(path, &name) && CreateDirectoryW(name.c_str(), NULL) != 0;
}

std::FILE* open_file(const char* path, const char* mode)
{
    std::wstring name, wide_mode;
    if (!wide(path, &name) || !wide(mode, &wide_mode) || is_directory(path))
        return NULL;
    return _wfopen(name.c_str(), wide_mode.c_str());
}

std::FILE* create_file(const char* path)
{
    std::wstring name;
    if (!wide(path, &name))
        return NULL;
    HANDLE handle = CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, NULL);
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
    std::wstring name;
    if (!wide(path, &name))
        return INVALID_HANDLE_VALUE;
    return CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
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
    std::wstring source, target;
    return wide(from, &source) && wide(to, &target) &&
           MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

int remove_file(const char* path)
{
    std::wstring name;
    return wide(path, &name) && DeleteFileW(name.c_str()) != 0;
}

int path_in_use(const char* path)
{
    std::wstring name;
    return wide(path, &name) && GetFileAttributesW(name.c_str()) != INVALID_FILE_ATTRIBUTES;
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

void write_line(std::FILE* stream, const char* text)
{
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
