#include "platform.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
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

// Ctrl-C, Ctrl-Break and a closed console end the process, which closes its
// handles; the file being written is marked to go with its last handle, so
// nothing is left to do on a stop.
void prepare_process() {}

int is_bare_drive(const char* path)
{
    return ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
           path[1] == ':' && path[2] == '\0';
}

// A stream over `handle`; NULL, with the handle closed, on failure.
static std::FILE* stream_of(HANDLE handle, int flags, const char* mode)
{
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags | _O_BINARY);
    if (fd < 0) {
        (void)CloseHandle(handle);
        return NULL;
    }
    std::FILE* file = _fdopen(fd, mode);
    if (file == NULL)
        (void)_close(fd);
    return file;
}

static HANDLE handle_of(std::FILE* file)
{
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
}

std::FILE* open_file(const char* path)
{
    // Folders open too, so that is_regular_file can tell them apart.
    HANDLE handle = CreateFileW(wide(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (handle == INVALID_HANDLE_VALUE)
        return NULL;
    return stream_of(handle, _O_RDONLY, "rb");
}

int is_regular_file(std::FILE* file)
{
    HANDLE handle = handle_of(file);
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info) &&
           !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
}

int path_kind(const char* path)
{
    DWORD attributes = GetFileAttributesW(wide(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return NOTHING_THERE;
    if (attributes &
        (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE))
        return OTHER_KIND;
    return attributes & FILE_ATTRIBUTE_READONLY ? READ_ONLY_FILE : WRITABLE_FILE;
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

// The file being written is marked to be deleted when its last handle
// closes, so a process that ends before it is complete leaves nothing.
static int mark_for_deletion(HANDLE handle, BOOLEAN deleted)
{
    FILE_DISPOSITION_INFO disposition;
    disposition.DeleteFile = deleted;
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                      sizeof disposition) != 0;
}

// Whether the file being written goes with its handle, or must be removed.
static int writing_marked = 0;

std::FILE* create_temporary_file(const char* path, std::FILE*, int* taken)
{
    // No other process may delete it, which tells other runs it is in use.
    HANDLE handle = CreateFileW(wide(path).c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, NULL,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        // A file another run is writing, marked for deletion, denies access.
        *taken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ||
                 (error == ERROR_ACCESS_DENIED && path_kind(path) != NOTHING_THERE);
        SetLastError(error);
        return NULL;
    }
    *taken = 0;
    writing_marked = mark_for_deletion(handle, TRUE);
    std::FILE* file = stream_of(handle, _O_WRONLY, "wb");
    if (file != NULL)
        (void)std::setvbuf(file, NULL, _IONBF, 0);
    else if (!writing_marked)
        (void)DeleteFileW(wide(path).c_str());
    return file;
}

int remove_leftover(const char* path)
{
    if (DeleteFileW(wide(path).c_str()))
        return 1;
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Renames the open file to `path`, replacing what is there. The name must be
// the system's own form of a full path (\??\C:\..., \??\UNC\server\...).
static int rename_open_file(HANDLE handle, const char* path)
{
    std::wstring name = wide(path);
    DWORD needed = GetFullPathNameW(name.c_str(), 0, NULL, NULL);
    std::wstring full(needed, L'\0');
    if (needed == 0 || GetFullPathNameW(name.c_str(), needed, &full[0], NULL) >= needed)
        return 0;
    full.resize(wcslen(full.c_str()));
    if (full.compare(0, 4, L"\\\\?\\") == 0)
        full = L"\\??\\" + full.substr(4);
    else if (full.compare(0, 2, L"\\\\") == 0)
        full = L"\\??\\UNC\\" + full.substr(2);
    else
        full = L"\\??\\" + full;
    std::size_t bytes = full.size() * sizeof(WCHAR);
    std::string buffer(sizeof(FILE_RENAME_INFO) + bytes, '\0');
    FILE_RENAME_INFO* rename = reinterpret_cast<FILE_RENAME_INFO*>(&buffer[0]);
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = NULL;
    rename->FileNameLength = static_cast<DWORD>(bytes);
    std::memcpy(rename->FileName, full.c_str(), bytes);
    return SetFileInformationByHandle(handle, FileRenameInfo, rename,
                                      static_cast<DWORD>(buffer.size())) != 0;
}

int put_in_place(std::FILE* file, const char* temporary, const char* path)
{
    HANDLE handle = handle_of(file);
    // Renamed while open, so that no other run can take it for a leftover;
    // where the system cannot, closed first and moved by name.
    int moved = std::fflush(file) == 0 && (!writing_marked || mark_for_deletion(handle, FALSE)) &&
                rename_open_file(handle, path);
    if (moved)
        return std::fclose(file) == 0;
    int closed = std::fclose(file) == 0;
    if (closed &&
        MoveFileExW(wide(temporary).c_str(), wide(path).c_str(), MOVEFILE_REPLACE_EXISTING))
        return 1;
    DWORD error = GetLastError();
    (void)DeleteFileW(wide(temporary).c_str());
    SetLastError(error);
    return 0;
}

void discard_file(std::FILE* file, const char* temporary)
{
    (void)std::fclose(file);
    if (!writing_marked)
        (void)DeleteFileW(wide(temporary).c_str());
}

int file_within_current_directory(const char* path)
{
    std::wstring file, top;
    if (!final_path(path, &file) || !final_path(".", &top))
        return 0;
    std::size_t last = file.find_last_of(L'\\');
    if (last == std::wstring::npos)
        return 0;
    file.resize(last);
    if (!top.empty() && top.back() == L'\\')
        top.pop_back();
    int length = static_cast<int>(top.size());
    return file.size() >= top.size() &&
           CompareStringOrdinal(file.c_str(), length, top.c_str(), length, TRUE) == CSTR_EQUAL &&
           (file.size() == top.size() || file[top.size()] == L'\\');
}
