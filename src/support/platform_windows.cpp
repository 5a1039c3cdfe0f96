#include "platform.h"

#include <cstring>
#include <cwchar>
#include <io.h>
#include <string>
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

// 1 if `characters` are exactly `text` in the ANSI code page.
static int gives_back(const wchar_t* characters, const char* text)
{
    std::string back(std::strlen(text) + 1, '\0');
    return from_utf16(CP_ACP, characters, &back[0], back.size()) &&
           back.c_str() == std::string(text);
}

// A path of forkit's for the wide calls, which take long paths where the
// system allows. The ...A calls would take a byte the code page lacks, or one
// that comes back as another, for another character: such a path is refused.
static int wide(const char* path, std::wstring* out)
{
    if (to_utf16(CP_ACP, path, out) && gives_back(out->c_str(), path))
        return 1;
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
}

// A handle on the file or folder `path` (in `page`) that reads its
// properties, and whatever `access` adds; shared with every other opener.
static HANDLE open_path(const char* path, DWORD access = 0, UINT page = CP_ACP)
{
    std::wstring name;
    int named = page == CP_ACP ? wide(path, &name) : to_utf16(page, path, &name);
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    return named ? CreateFileW(name.c_str(), access, share, NULL, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, NULL)
                 : INVALID_HANDLE_VALUE;
}

int path_kind(const char* path)
{
    std::wstring name;
    DWORD attributes =
        wide(path, &name) ? GetFileAttributesW(name.c_str()) : INVALID_FILE_ATTRIBUTES;
    return attributes == INVALID_FILE_ATTRIBUTES       ? NOTHING_THERE
           : attributes & FILE_ATTRIBUTE_REPARSE_POINT ? LINK
           : attributes & FILE_ATTRIBUTE_DIRECTORY     ? FOLDER
           : attributes & FILE_ATTRIBUTE_DEVICE        ? OTHER_KIND
           : attributes & FILE_ATTRIBUTE_READONLY      ? READ_ONLY_FILE
                                                       : WRITABLE_FILE;
}

// Opened as the system opens a folder to make it the current one.
int can_enter_folder(const char* path)
{
    HANDLE handle = open_path(path, FILE_TRAVERSE | SYNCHRONIZE);
    BY_HANDLE_FILE_INFORMATION info;
    if (handle == INVALID_HANDLE_VALUE)
        return 0;
    int folder = GetFileInformationByHandle(handle, &info) &&
                 (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    (void)CloseHandle(handle);
    if (!folder)
        SetLastError(ERROR_DIRECTORY);
    return folder;
}

// The volume's serial number and the file's 128-bit ID there (ReFS's 64-bit
// indexes are not unique).
int identity_of_final_path(const char* final_path, FileIdentity* out)
{
    HANDLE handle = open_path(final_path, 0, CP_UTF8);
    FILE_ID_INFO info;
    if (handle == INVALID_HANDLE_VALUE)
        return 0;
    int known = GetFileInformationByHandleEx(handle, FileIdInfo, &info, sizeof info);
    (void)CloseHandle(handle);
    out->volume = info.VolumeSerialNumber;
    std::memcpy(out->id, info.FileId.Identifier, sizeof out->id);
    return known;
}

// The final path of the open `handle`, "\\?\C:\a" or "\\?\UNC\server\share\a";
// empty where it cannot be had.
static std::wstring final_path(HANDLE handle)
{
    std::wstring path(PATH_SIZE, L'\0');
    DWORD got = GetFinalPathNameByHandleW(handle, &path[0], PATH_SIZE, FILE_NAME_NORMALIZED);
    path.resize(got < PATH_SIZE ? got : 0);
    return path;
}

int final_path_of(const char* path, char* out, std::size_t size)
{
    HANDLE handle = open_path(path);
    std::wstring at = handle != INVALID_HANDLE_VALUE ? final_path(handle) : std::wstring();
    if (handle != INVALID_HANDLE_VALUE)
        (void)CloseHandle(handle);
    return !at.empty() && from_utf16(CP_UTF8, at.c_str(), out, size);
}

int make_folder(const char* path)
{
    std::wstring name;
    return wide(path, &name) && CreateDirectoryW(name.c_str(), NULL) != 0;
}

// Folders open too, to be told apart. Links are not told: the walk up to
// the tree follows every path on Windows.
FileHandle open_for_reading(const char* path, OpenedFile* info)
{
    HANDLE handle = open_path(path, GENERIC_READ);
    BY_HANDLE_FILE_INFORMATION about;
    info->regular = handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_DISK &&
                    GetFileInformationByHandle(handle, &about) &&
                    !(about.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
    info->mode = 0666;
    info->through_link = 0;
    return reinterpret_cast<FileHandle>(handle);
}

static HANDLE handle_of(FileHandle file)
{
    return reinterpret_cast<HANDLE>(file);
}

long read_file(FileHandle file, char* to, std::size_t size)
{
    DWORD got = 0;
    int read = ReadFile(handle_of(file), to, static_cast<DWORD>(size), &got, NULL);
    return read ? static_cast<long>(got) : -1;
}

int write_file(FileHandle file, const char* from, std::size_t size)
{
    DWORD put = 0;
    return WriteFile(handle_of(file), from, static_cast<DWORD>(size), &put, NULL) && put == size;
}

void close_file(FileHandle file)
{
    (void)CloseHandle(handle_of(file));
}

// A file marked to be deleted goes with its last handle, so a process that
// ends before the file is complete leaves nothing.
static int mark_for_deletion(HANDLE handle, BOOLEAN deleted)
{
    FILE_DISPOSITION_INFO disposition;
    disposition.DeleteFile = deleted;
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                      sizeof disposition) != 0;
}

FileHandle create_locked(const char* path, unsigned, int* taken)
{
    std::wstring name;
    *taken = 0;
    if (!wide(path, &name))
        return NO_FILE;
    // No other process may delete it: that tells other runs it is in use.
    HANDLE handle = CreateFileW(name.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, NULL,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (handle != INVALID_HANDLE_VALUE) {
        (void)mark_for_deletion(handle, TRUE);
        return reinterpret_cast<FileHandle>(handle);
    }
    // A file another run is writing, marked for deletion, denies access, even
    // to its attributes.
    DWORD error = GetLastError();
    DWORD found =
        GetFileAttributesW(name.c_str()) != INVALID_FILE_ATTRIBUTES ||
        (GetLastError() != ERROR_FILE_NOT_FOUND && GetLastError() != ERROR_PATH_NOT_FOUND);
    *taken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ||
             (error == ERROR_ACCESS_DENIED && found);
    SetLastError(error);
    return NO_FILE;
}

// Renames the open file to `path`, replacing what is there. The name must be
// the system's own form of a full path (\??\C:\..., \??\UNC\server\...).
static int rename_open_file(HANDLE handle, const std::wstring& path)
{
    DWORD needed = GetFullPathNameW(path.c_str(), 0, NULL, NULL);
    std::wstring full(needed + 1, L'\0');
    if (needed == 0 || GetFullPathNameW(path.c_str(), needed, &full[0], NULL) >= needed)
        return 0;
    full.resize(wcslen(full.c_str()));
    if (full.compare(0, 4, L"\\\\?\\") == 0)
        full.erase(0, 4);
    else if (full.compare(0, 2, L"\\\\") == 0)
        full.replace(0, 2, L"UNC\\");
    full.insert(0, L"\\??\\");
    std::size_t bytes = full.size() * sizeof(WCHAR);
    std::string buffer(sizeof(FILE_RENAME_INFO) + bytes, '\0');
    FILE_RENAME_INFO* rename = reinterpret_cast<FILE_RENAME_INFO*>(&buffer[0]);
    rename->ReplaceIfExists = TRUE;
    rename->FileNameLength = static_cast<DWORD>(bytes);
    std::memcpy(rename->FileName, full.c_str(), bytes);
    return SetFileInformationByHandle(handle, FileRenameInfo, rename,
                                      static_cast<DWORD>(buffer.size())) != 0;
}

// Windows replaces no file that is open without delete sharing, and another
// run that has just put the same file in place holds it so for a moment.
static int rename_when_free(HANDLE handle, const char* path)
{
    std::wstring name;
    for (int tries = 0; tries < 100 && wide(path, &name); tries++) {
        if (rename_open_file(handle, name))
            return 1;
        if (GetLastError() != ERROR_ACCESS_DENIED && GetLastError() != ERROR_SHARING_VIOLATION)
            return 0;
        Sleep(10);
    }
    return 0;
}

void abandon_file(FileHandle file, const char* temporary)
{
    // Where the mark did not take, the name goes after the handle; a file
    // that another run holds by then cannot be deleted, so it stays.
    (void)mark_for_deletion(handle_of(file), TRUE);
    (void)CloseHandle(handle_of(file));
    (void)remove_unheld(temporary);
}

// Renamed while open, so that no other run can take it for a leftover.
int commit_file(FileHandle file, const char* temporary, const char* path)
{
    HANDLE handle = handle_of(file);
    if (mark_for_deletion(handle, FALSE) && rename_when_free(handle, path))
        return CloseHandle(handle) != 0;
    DWORD error = GetLastError();
    abandon_file(file, temporary);
    SetLastError(error);
    return 0;
}

// Deleted through a handle on what is at `path` itself, if it is there:
// Wine shows a host's link as the file it names, which a delete by name would
// remove. A run still going holds its file without delete sharing.
int remove_unheld(const char* path)
{
    std::wstring name, full(PATH_SIZE, L'\0');
    HANDLE handle = wide(path, &name) ? CreateFileW(name.c_str(), DELETE, 0, NULL, OPEN_EXISTING,
                                                    FILE_FLAG_OPEN_REPARSE_POINT, NULL)
                                      : INVALID_HANDLE_VALUE;
    if (handle == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
    const std::wstring at = final_path(handle);
    DWORD got = GetFullPathNameW(name.c_str(), PATH_SIZE, &full[0], NULL);
    int itself = at.size() > 4 && got > 0 && got < PATH_SIZE && _wcsicmp(&at[4], full.c_str()) == 0;
    int removed = itself && mark_for_deletion(handle, TRUE);
    (void)CloseHandle(handle);
    return removed;
}

int list_folder(const char* path, void (*visit)(const char* name, void* context), void* context)
{
    std::wstring pattern;
    WIN32_FIND_DATAW found;
    HANDLE search = wide(path, &pattern) ? FindFirstFileW((pattern + L"\\*").c_str(), &found)
                                         : INVALID_HANDLE_VALUE;
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    char name[MAX_PATH * 4]; // a name the code page lacks is none of forkit's
    do {
        if (from_utf16(CP_ACP, found.cFileName, name, sizeof name))
            visit(name, context);
    } while (FindNextFileW(search, &found));
    (void)FindClose(search);
    return 1;
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
    for (int i = 1; exact && i < count && i < __argc; i++) {
        if (std::strcmp(__argv[i], argument) == 0)
            exact = gives_back(typed[i], argument);
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

// A console shows bytes in its own code page, not in the one the names came
// in, so it is given the characters; it starts a new line at a line feed.
void write_console(std::FILE* stream, const char* bytes, const char* utf8)
{
    HANDLE console = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    std::wstring characters;
    DWORD mode, written;
    if (utf8 == NULL || !GetConsoleMode(console, &mode) || !to_utf16(CP_UTF8, utf8, &characters)) {
        (void)std::fputs(bytes, stream);
        (void)std::fflush(stream);
        return;
    }
    (void)WriteConsoleW(console, characters.c_str(), static_cast<DWORD>(characters.size()),
                        &written, NULL);
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
// is marked to go with its last one: nothing is left to do on a stop.
void prepare_process() {}
