#include "platform.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <fcntl.h>
#include <io.h>
#include <string>
#include <windows.h>

#include <shellapi.h>

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

// `characters` in the code page `page`, into `out` of `size` bytes; 0 if the
// result does not fit, or, with ERROR_NO_UNICODE_TRANSLATION, if a character
// has no exact match there: the system would put in '?' or a look-alike. The
// UTF-7 and UTF-8 pages hold every character, and refuse both the flag and
// the question whether one was lacking.
static int narrow_exactly(UINT page, const wchar_t* characters, char* out, std::size_t size)
{
    int exact = page != CP_UTF7 && page != CP_UTF8;
    BOOL lost = FALSE;
    int size_in = size > INT_MAX ? INT_MAX : static_cast<int>(size);
    if (WideCharToMultiByte(page, exact ? WC_NO_BEST_FIT_CHARS : 0, characters, -1, out, size_in,
                            NULL, exact ? &lost : NULL) == 0)
        return 0;
    if (lost) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    return 1;
}

// 1 if `characters` are exactly `text` in the ANSI code page.
static int gives_back(const wchar_t* characters, const char* text)
{
    std::size_t length = std::strlen(text);
    std::string back(length + 1, '\0');
    return narrow_exactly(GetACP(), characters, &back[0], back.size()) &&
           std::memcmp(back.c_str(), text, length + 1) == 0;
}

// Paths arrive in the system code page, as the command line gave them. Each
// call converts its path, then uses the wide function, which takes paths
// longer than MAX_PATH where the system allows them (forkit.exe's manifest
// asks for that). The ...A functions would pass a byte the code page does not
// define, or one that comes back as another (best fit), as some other
// character, and so open a file that was never named: such a path is refused
// instead, with ERROR_NO_UNICODE_TRANSLATION, as one too long is.
static int wide(const char* path, std::wstring* out)
{
    // NULL is a path that did not fit forkit's buffer.
    if (path == NULL) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    // Converted back, the path must give its own bytes again.
    if (!utf16_of_ansi(path, MB_ERR_INVALID_CHARS, out) || !gives_back(out->c_str(), path)) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    return 1;
}

// Opens the folder as the system does to make it the current directory, and
// so answers without leaving the current directory.
int can_enter_directory(const char* path)
{
    std::wstring name;
    if (!wide(path, &name))
        return 0;
    HANDLE handle = CreateFileW(name.c_str(), FILE_TRAVERSE | SYNCHRONIZE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (handle == INVALID_HANDLE_VALUE)
        return 0;
    BY_HANDLE_FILE_INFORMATION info;
    int folder = GetFileInformationByHandle(handle, &info) &&
                 (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    (void)CloseHandle(handle);
    if (!folder)
        SetLastError(ERROR_DIRECTORY);
    return folder;
}

int create_directory(const char* path)
{
    std::wstring name;
    return wide(path, &name) && CreateDirectoryW(name.c_str(), NULL) != 0;
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

int argument_is_exact(const char* argument)
{
    int count = 0;
    LPWSTR* typed = CommandLineToArgvW(GetCommandLineW(), &count);
    if (typed == NULL)
        return 0;
    // The C library's copy of the arguments is found by its text; where two
    // arguments read alike, both must be exact. A text that is none of them
    // was not typed: there is nothing to compare.
    int exact = 1;
    for (int i = 1; exact && i < count && i < __argc; i++) {
        if (std::strcmp(__argv[i], argument) != 0)
            continue;
        // As typed, converted without a look-alike, it must give its bytes.
        exact = gives_back(typed[i], argument);
    }
    (void)LocalFree(typed);
    return exact;
}

int is_plain_folder_name(const char* name)
{
    // The folder itself and its parent are names of their own, always there.
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
        return 1;
    std::size_t length = std::strlen(name);
    if (length > 0 && (name[length - 1] == '.' || name[length - 1] == ' '))
        return 0;
    for (const char* c = name; *c != '\0'; c++) {
        if (static_cast<unsigned char>(*c) < 32 || std::strchr("<>:\"|?*", *c) != NULL)
            return 0;
    }
    // A device name stays one with any extension: "nul.txt" is NUL.
    std::size_t stem = std::strcspn(name, ".");
    while (stem > 0 && name[stem - 1] == ' ')
        stem--;
    char device[5] = "";
    if (stem < 3 || stem > 4)
        return 1;
    for (std::size_t i = 0; i < stem; i++)
        device[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[i])));
    device[stem] = '\0';
    static const char* const devices[] = {"CON", "PRN", "AUX", "NUL"};
    for (const char* reserved : devices) {
        if (std::strcmp(device, reserved) == 0)
            return 0;
    }
    int numbered = stem == 4 && device[3] >= '0' && device[3] <= '9';
    device[3] = '\0';
    return !(numbered && (std::strcmp(device, "COM") == 0 || std::strcmp(device, "LPT") == 0));
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
    std::wstring name;
    if (!wide(path, &name))
        return NULL;
    // Folders open too, so that is_regular_file can tell them apart.
    HANDLE handle = CreateFileW(name.c_str(), GENERIC_READ,
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
    std::wstring name;
    DWORD attributes =
        wide(path, &name) ? GetFileAttributesW(name.c_str()) : INVALID_FILE_ATTRIBUTES;
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return NOTHING_THERE;
    if (attributes &
        (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE))
        return OTHER_KIND;
    return attributes & FILE_ATTRIBUTE_READONLY ? READ_ONLY_FILE : WRITABLE_FILE;
}

// A handle on the file or folder at the wide path `name` that only reads its
// properties, and whatever `access` adds.
static HANDLE open_to_query(const std::wstring& name, DWORD access = 0)
{
    return CreateFileW(name.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
}

static HANDLE open_to_query(const char* path)
{
    std::wstring name;
    return wide(path, &name) ? open_to_query(name) : INVALID_HANDLE_VALUE;
}

// What tells one file from every other: its volume's serial number and its ID
// there. The ID is the 128-bit one where the file system gives it (ReFS's
// 64-bit indexes are not unique), else the 64-bit index widened as NTFS
// widens it. The two calls give the serial in 64 or in 32 bits, so only the
// low 32 are compared: two volumes that share them only make forkit refuse
// more.
struct FileIdentity {
    DWORD volume;
    unsigned char id[16];
};

static int identify(HANDLE handle, FileIdentity* out)
{
    FILE_ID_INFO full;
    BY_HANDLE_FILE_INFORMATION basic;
    std::memset(out->id, 0, sizeof out->id);
    if (GetFileInformationByHandleEx(handle, FileIdInfo, &full, sizeof full)) {
        out->volume = static_cast<DWORD>(full.VolumeSerialNumber);
        std::memcpy(out->id, full.FileId.Identifier, sizeof out->id);
        return 1;
    }
    if (!GetFileInformationByHandle(handle, &basic))
        return 0;
    out->volume = basic.dwVolumeSerialNumber;
    ULONGLONG index = (static_cast<ULONGLONG>(basic.nFileIndexHigh) << 32) | basic.nFileIndexLow;
    for (int i = 0; i < 8; i++)
        out->id[i] = static_cast<unsigned char>(index >> (8 * i));
    return 1;
}

static int identify_path(const char* path, FileIdentity* out)
{
    HANDLE handle = open_to_query(path);
    if (handle == INVALID_HANDLE_VALUE)
        return 0;
    int known = identify(handle, out);
    (void)CloseHandle(handle);
    return known;
}

static int same_identity(const FileIdentity& a, const FileIdentity& b)
{
    return a.volume == b.volume && std::memcmp(a.id, b.id, sizeof a.id) == 0;
}

// The full path of the file or folder open as `handle`, with every link and
// drive alias resolved: "\\?\C:\a\b" or "\\?\UNC\server\share\a".
static int final_path(HANDLE handle, std::wstring* out)
{
    DWORD needed = GetFinalPathNameByHandleW(handle, NULL, 0, FILE_NAME_NORMALIZED);
    DWORD got = 0;
    if (needed > 0) {
        out->assign(needed, L'\0');
        got = GetFinalPathNameByHandleW(handle, &(*out)[0], needed, FILE_NAME_NORMALIZED);
        out->resize(got < needed ? got : 0);
    }
    return got > 0 && got < needed && out->compare(0, 4, L"\\\\?\\") == 0;
}

// The length of the root of a final path, its trailing backslash included:
// "\\?\C:\" or "\\?\UNC\server\share\". Nothing above it has a name.
static std::size_t root_length(const std::wstring& path)
{
    int parts = path.compare(4, 4, L"UNC\\") == 0 ? 3 : 1;
    std::size_t end = 4;
    while (parts-- > 0) {
        end = path.find(L'\\', end);
        if (end == std::wstring::npos)
            return path.size();
        end++;
    }
    return end;
}

// Opens the folder above the root `root`, which no name reaches: a drive of
// Wine is a link to a folder of the host, and the root's ".." entry gives
// that folder's ID. Sets `above` to INVALID_HANDLE_VALUE where the root lists
// no "..", as a volume's own root does; 0 when that cannot be told.
static int open_above_root(const std::wstring& root, HANDLE* above)
{
    *above = INVALID_HANDLE_VALUE;
    HANDLE listing = open_to_query(root, FILE_LIST_DIRECTORY);
    if (listing == INVALID_HANDLE_VALUE)
        return 0;
    LONGLONG entries[2048];
    FILE_INFO_BY_HANDLE_CLASS batch = FileIdBothDirectoryRestartInfo;
    int told = 0, found = 0;
    while (!found && GetFileInformationByHandleEx(listing, batch, entries, sizeof entries)) {
        batch = FileIdBothDirectoryInfo;
        const unsigned char* at = reinterpret_cast<const unsigned char*>(entries);
        for (;;) {
            const FILE_ID_BOTH_DIR_INFO* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
            if (entry->FileNameLength == 2 * sizeof(WCHAR) && entry->FileName[0] == L'.' &&
                entry->FileName[1] == L'.') {
                FILE_ID_DESCRIPTOR id = {};
                id.dwSize = sizeof id;
                id.Type = FileIdType;
                id.FileId = entry->FileId;
                *above = OpenFileById(listing, &id, 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                      FILE_FLAG_BACKUP_SEMANTICS);
                found = 1;
                told = *above != INVALID_HANDLE_VALUE;
                break;
            }
            if (entry->NextEntryOffset == 0)
                break;
            at += entry->NextEntryOffset;
        }
    }
    if (!found)
        told = GetLastError() == ERROR_NO_MORE_FILES || GetLastError() == ERROR_FILE_NOT_FOUND;
    (void)CloseHandle(listing);
    return told;
}

// Walks up from the folder `at`, as the POSIX build does, comparing each
// folder's identity with `goal`'s: 1 when it meets it, 0 at the top of the
// host, -1 when a step cannot be taken. The walk follows the final path, where
// links and drive aliases (subst, mapped drives, Wine's drives) are resolved,
// and goes on past a root through its ".." entry.
static int walk_up_to(std::wstring at, const FileIdentity& goal)
{
    FileIdentity here, up;
    // No path Windows takes has more folders than this; a longer walk is a loop.
    for (int steps = 0; steps < 16384; steps++) {
        HANDLE handle = open_to_query(at);
        if (handle == INVALID_HANDLE_VALUE)
            return -1;
        int known = identify(handle, &here);
        (void)CloseHandle(handle);
        if (!known)
            return -1;
        if (same_identity(here, goal))
            return 1;
        std::size_t root = root_length(at);
        if (at.size() > root) {
            std::size_t last = at.rfind(L'\\');
            at.resize(last > root ? last : root);
            continue;
        }
        HANDLE above;
        if (!open_above_root(at, &above))
            return -1;
        if (above == INVALID_HANDLE_VALUE)
            return 0;
        known = identify(above, &up) && final_path(above, &at);
        (void)CloseHandle(above);
        if (!known)
            return -1;
        // The host's own root is its own parent.
        if (same_identity(up, here))
            return 0;
    }
    return -1;
}

// The final path of what is at `path`; 0 when it cannot be had.
static int final_path_of(const char* path, std::wstring* out)
{
    HANDLE handle = open_to_query(path);
    int known = handle != INVALID_HANDLE_VALUE && final_path(handle, out);
    if (handle != INVALID_HANDLE_VALUE)
        (void)CloseHandle(handle);
    return known;
}

// A step that cannot be taken counts as inside.
int directory_within(const char* path, const char* top)
{
    FileIdentity goal;
    std::wstring at;
    if (!final_path_of(path, &at) || !identify_path(top, &goal))
        return 1;
    return walk_up_to(at, goal) != 0;
}

int convert_for_batch_file(const char* text, char* out, std::size_t size)
{
    // A character the page lacks would name another folder or mod.
    std::wstring characters;
    return utf16_of_ansi(text, MB_ERR_INVALID_CHARS, &characters) &&
           narrow_exactly(GetOEMCP(), characters.c_str(), out, size);
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
    *taken = 0;
    std::wstring name;
    if (!wide(path, &name))
        return NULL;
    // No other process may delete it, which tells other runs it is in use.
    HANDLE handle = CreateFileW(name.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, NULL,
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
        (void)DeleteFileW(name.c_str());
    return file;
}

int remove_leftover(const char* path)
{
    std::wstring name;
    if (!wide(path, &name))
        return 0;
    if (DeleteFileW(name.c_str()))
        return 1;
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Renames the open file to `path`, replacing what is there. The name must be
// the system's own form of a full path (\??\C:\..., \??\UNC\server\...).
static int rename_open_file(HANDLE handle, const char* path)
{
    std::wstring name;
    if (!wide(path, &name))
        return 0;
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

// Windows replaces no file that is open without delete sharing, and another
// run that has just put the same file in place holds it so for a moment.
static int rename_when_free(HANDLE handle, const char* path)
{
    for (int tries = 0; tries < 100; tries++) {
        if (rename_open_file(handle, path))
            return 1;
        DWORD error = GetLastError();
        if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION)
            return 0;
        Sleep(10);
    }
    return 0;
}

int put_in_place(std::FILE* file, const char* temporary, const char* path)
{
    HANDLE handle = handle_of(file);
    // Renamed while open, so that no other run can take it for a leftover;
    // where the system cannot, closed first and moved by name.
    int moved = std::fflush(file) == 0 && (!writing_marked || mark_for_deletion(handle, FALSE)) &&
                rename_when_free(handle, path);
    if (moved)
        return std::fclose(file) == 0;
    int closed = std::fclose(file) == 0;
    std::wstring from, to;
    int converted = wide(temporary, &from) && wide(path, &to);
    if (closed && converted && MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING))
        return 1;
    DWORD error = GetLastError();
    if (converted)
        (void)DeleteFileW(from.c_str());
    SetLastError(error);
    return 0;
}

void discard_file(std::FILE* file, const char* temporary)
{
    (void)std::fclose(file);
    std::wstring name;
    if (!writing_marked && wide(temporary, &name))
        (void)DeleteFileW(name.c_str());
}

int file_within_current_directory(const char* path)
{
    // The folder that holds the file, links followed, walked up as a folder.
    FileIdentity goal;
    std::wstring at;
    int known = final_path_of(path, &at);
    std::size_t last = known ? at.rfind(L'\\') : std::wstring::npos;
    if (last == std::wstring::npos || !identify_path(".", &goal))
        return 0;
    at.resize(last < root_length(at) ? root_length(at) : last);
    return walk_up_to(at, goal) == 1;
}
