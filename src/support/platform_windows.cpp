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

int same_file(const char* first, const char* second)
{
    // The second path is mostly a file not made yet: looked at first, it
    // settles the question in one call.
    FileIdentity a, b;
    return identify_path(second, &b) && identify_path(first, &a) && same_identity(a, b);
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

// Walks up from `path` as the POSIX build does: each folder's identity is
// compared with `top`'s. The walk follows the final path, where links and
// drive aliases (subst, mapped drives, Wine's drives) are resolved, and goes
// on past a root through its ".." entry. Any step that cannot be taken counts
// as inside.
int directory_within(const char* path, const char* top)
{
    FileIdentity goal, here, up;
    std::wstring at;
    HANDLE handle = open_to_query(path);
    int known = handle != INVALID_HANDLE_VALUE && final_path(handle, &at);
    if (handle != INVALID_HANDLE_VALUE)
        (void)CloseHandle(handle);
    if (!known || !identify_path(top, &goal))
        return 1;
    // No path Windows takes has more folders than this; a longer walk is a loop.
    for (int steps = 0; steps < 16384; steps++) {
        handle = open_to_query(at);
        if (handle == INVALID_HANDLE_VALUE)
            return 1;
        known = identify(handle, &here);
        (void)CloseHandle(handle);
        if (!known || same_identity(here, goal))
            return 1;
        std::size_t root = root_length(at);
        if (at.size() > root) {
            std::size_t last = at.rfind(L'\\');
            at.resize(last > root ? last : root);
            continue;
        }
        HANDLE above;
        if (!open_above_root(at, &above))
            return 1;
        if (above == INVALID_HANDLE_VALUE)
            return 0;
        known = identify(above, &up) && final_path(above, &at);
        (void)CloseHandle(above);
        if (!known)
            return 1;
        // The host's own root is its own parent.
        if (same_identity(up, here))
            return 0;
    }
    return 1;
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
