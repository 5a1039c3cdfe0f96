#include "platform.h"

#include <string>
#include <windows.h>

// Paths stay in the system code page as the command line gave them; only the
// saved current directory is kept in UTF-16 so that any name comes back intact.

static int is_directory(const char* path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int can_enter_directory(const char* path)
{
    // The saved directory is sized to the answer so that it is never cut.
    DWORD needed = GetCurrentDirectoryW(0, NULL);
    std::wstring home(needed, L'\0');
    if (needed == 0 || GetCurrentDirectoryW(needed, &home[0]) >= needed)
        return is_directory(path);
    int entered = SetCurrentDirectoryA(path) != 0;
    if (entered)
        (void)SetCurrentDirectoryW(home.c_str());
    return entered;
}

int create_directory(const char* path)
{
    return CreateDirectoryA(path, NULL) != 0;
}

std::FILE* open_file(const char* path, const char* mode)
{
    if (is_directory(path))
        return NULL;
    return std::fopen(path, mode);
}

static int identify(const char* path, BY_HANDLE_FILE_INFORMATION* info)
{
    HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
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
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}

int remove_file(const char* path)
{
    return DeleteFileA(path) != 0;
}

int path_in_use(const char* path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

// The full path of the folder or file at `path` with every link resolved.
static int final_path(const char* path, std::wstring* out)
{
    HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
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
