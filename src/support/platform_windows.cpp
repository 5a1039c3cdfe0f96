// The file system on Windows: every name below a held folder is opened
// through NtCreateFile with that folder as its root, so that it is found in
// the folder held, whatever has happened to the path that led there.

#include "platform_windows.h"
#include "path_rules.h"
#include "platform.h"

#include <cstring>
#include <string>
#include <windows.h>
#include <winternl.h>

static HANDLE handle_of(Handle handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

static Handle handle_from(HANDLE handle)
{
    return reinterpret_cast<Handle>(handle);
}

// Sets the Windows error for an NT status, as the ...W calls do; 1 if it
// is a success.
static int succeeded(NTSTATUS status)
{
    if (status < 0)
        SetLastError(RtlNtStatusToDosError(status));
    return status >= 0;
}

const DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
const ACCESS_MASK FOLDER_ACCESS =
    FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;

// The final path of the open `handle`, "\\?\C:\a" or "\\?\UNC\server\share\a";
// empty where it cannot be had.
static std::wstring final_path(HANDLE handle)
{
    std::wstring path(32768, L'\0');
    DWORD got = GetFinalPathNameByHandleW(handle, &path[0], 32768, FILE_NAME_NORMALIZED);
    path.resize(got < 32768 ? got : 0);
    return path;
}

// 1 unless `handle`, opened as `name` in `folder`, is not what that name is
// itself: Wine shows a host's link as what it names, to be told by its final
// path (which Wine cannot give for long paths; Windows tells a link itself).
static int is_itself(Handle folder, HANDLE handle, const std::wstring& name)
{
    std::wstring itself = final_path(handle_of(folder)), at = final_path(handle);
    itself += itself.empty() || itself.back() == L'\\' ? L"" : L"\\";
    return itself.size() == 1 || at.empty() || _wcsicmp(at.c_str(), (itself + name).c_str()) == 0;
}

// What an opened name that a link led to fails with.
const DWORD THROUGH_A_LINK = ERROR_CANT_RESOLVE_FILENAME;

// Opens `name` in `folder`, never through a link.
static HANDLE open_below(Handle folder, const char* name, ACCESS_MASK access, ULONG share,
                         ULONG disposition, ULONG options)
{
    std::wstring wide_name;
    if (!to_wide(name, &wide_name))
        return INVALID_HANDLE_VALUE;
    UNICODE_STRING unicode;
    unicode.Buffer = &wide_name[0];
    unicode.Length = unicode.MaximumLength = static_cast<USHORT>(wide_name.size() * 2);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &unicode, OBJ_CASE_INSENSITIVE, handle_of(folder),
                               NULL);
    IO_STATUS_BLOCK io;
    HANDLE handle = INVALID_HANDLE_VALUE;
    NTSTATUS status = NtCreateFile(
        &handle, access | SYNCHRONIZE, &attributes, &io, NULL, FILE_ATTRIBUTE_NORMAL, share,
        disposition, options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, NULL, 0);
    if (!succeeded(status))
        return INVALID_HANDLE_VALUE;
    if (disposition == FILE_OPEN && !wide_name.empty() && !is_itself(folder, handle, wide_name)) {
        (void)CloseHandle(handle);
        SetLastError(THROUGH_A_LINK);
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}

int facts_of(Handle handle, FileFacts* facts)
{
    BY_HANDLE_FILE_INFORMATION about;
    FILE_ID_INFO id;
    if (!GetFileInformationByHandle(handle_of(handle), &about) ||
        !GetFileInformationByHandleEx(handle_of(handle), FileIdInfo, &id, sizeof id))
        return 0;
    DWORD attributes = about.dwFileAttributes;
    facts->kind =
        attributes & FILE_ATTRIBUTE_REPARSE_POINT ? LINK
        : attributes & FILE_ATTRIBUTE_DIRECTORY   ? FOLDER
        : GetFileType(handle_of(handle)) != FILE_TYPE_DISK || attributes & FILE_ATTRIBUTE_DEVICE
            ? OTHER_KIND
            : REGULAR_FILE;
    facts->writable = !(attributes & FILE_ATTRIBUTE_READONLY);
    facts->mode = 0666;
    // ReFS's 64-bit indexes are not unique: its 128-bit ones are.
    facts->identity.volume = id.VolumeSerialNumber;
    std::memcpy(facts->identity.id, id.FileId.Identifier, sizeof facts->identity.id);
    return 1;
}

int look_below(Handle folder, const char* name, FileFacts* facts)
{
    HANDLE handle = open_below(folder, name, FILE_READ_ATTRIBUTES, SHARE_ALL, FILE_OPEN, 0);
    facts->kind = NOTHING_THERE;
    if (handle == INVALID_HANDLE_VALUE && GetLastError() == THROUGH_A_LINK)
        facts->kind = LINK;
    if (handle == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND || facts->kind == LINK;
    int known = facts_of(handle_from(handle), facts);
    (void)CloseHandle(handle);
    return known;
}

Handle open_folder(const char* path)
{
    std::wstring name;
    HANDLE handle = to_wide(path, &name)
                        ? CreateFileW(name.c_str(), FOLDER_ACCESS, SHARE_ALL, NULL, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, NULL)
                        : INVALID_HANDLE_VALUE;
    FileFacts facts;
    if (handle != INVALID_HANDLE_VALUE && facts_of(handle_from(handle), &facts) &&
        facts.kind != FOLDER && facts.kind != LINK) {
        (void)CloseHandle(handle);
        SetLastError(ERROR_DIRECTORY);
        return NO_HANDLE;
    }
    return handle_from(handle);
}

Handle open_folder_below(Handle folder, const char* name)
{
    HANDLE handle =
        open_below(folder, name, FOLDER_ACCESS, SHARE_ALL, FILE_OPEN, FILE_DIRECTORY_FILE);
    FileFacts facts;
    if (handle != INVALID_HANDLE_VALUE &&
        (!facts_of(handle_from(handle), &facts) || facts.kind != FOLDER)) {
        (void)CloseHandle(handle);
        SetLastError(ERROR_CANT_ACCESS_FILE);
        return NO_HANDLE;
    }
    return handle_from(handle);
}

int make_folder(const char* path)
{
    std::wstring name;
    return to_wide(path, &name) && CreateDirectoryW(name.c_str(), NULL) != 0;
}

int make_folder_below(Handle folder, const char* name)
{
    HANDLE handle =
        open_below(folder, name, FOLDER_ACCESS, SHARE_ALL, FILE_CREATE, FILE_DIRECTORY_FILE);
    if (handle == INVALID_HANDLE_VALUE)
        return 0;
    (void)CloseHandle(handle);
    return 1;
}

int can_enter(Handle folder)
{
    HANDLE handle =
        open_below(folder, "", FILE_TRAVERSE, SHARE_ALL, FILE_OPEN, FILE_DIRECTORY_FILE);
    if (handle == INVALID_HANDLE_VALUE)
        return 0;
    (void)CloseHandle(handle);
    return 1;
}

int is_system_root(Handle folder)
{
    std::string utf8;
    std::wstring at = final_path(handle_of(folder));
    if (at.empty() || !from_wide_utf8(at, &utf8))
        return -1;
    return windows_root_by_text(utf8.c_str());
}

int list_folder(Handle folder, void (*visit)(const char* name, void* context), void* context)
{
    alignas(8) char block[16384];
    FILE_INFO_BY_HANDLE_CLASS next = FileFullDirectoryRestartInfo;
    while (GetFileInformationByHandleEx(handle_of(folder), next, block, sizeof block)) {
        next = FileFullDirectoryInfo;
        for (const char* at = block;;) {
            const FILE_FULL_DIR_INFO* entry = reinterpret_cast<const FILE_FULL_DIR_INFO*>(at);
            std::string name; // a name the code page lacks is none of forkit's
            if (from_wide(std::wstring(entry->FileName, entry->FileNameLength / 2), &name))
                visit(name.c_str(), context);
            if (entry->NextEntryOffset == 0)
                break;
            at += entry->NextEntryOffset;
        }
    }
    return GetLastError() == ERROR_NO_MORE_FILES;
}

int hold_folder(Handle, int)
{
    return 1;
}

Handle open_file_below(Handle folder, const char* name)
{
    return handle_from(open_below(folder, name, GENERIC_READ, SHARE_ALL, FILE_OPEN, 0));
}

long read_file(Handle file, char* to, std::size_t size)
{
    DWORD got = 0;
    return ReadFile(handle_of(file), to, static_cast<DWORD>(size), &got, NULL)
               ? static_cast<long>(got)
               : -1;
}

// A write that puts nothing and reports no error is told as one.
int write_file(Handle file, const char* from, std::size_t size)
{
    while (size > 0) {
        DWORD put = 0;
        if (!WriteFile(handle_of(file), from, static_cast<DWORD>(size), &put, NULL))
            return 0;
        if (put == 0) {
            SetLastError(ERROR_WRITE_FAULT);
            return 0;
        }
        from += put;
        size -= put;
    }
    return 1;
}

void close_file(Handle file)
{
    (void)CloseHandle(handle_of(file));
}

// A file marked to be deleted goes with its last handle.
static int mark_for_deletion(HANDLE handle, BOOLEAN deleted)
{
    FILE_DISPOSITION_INFO disposition;
    disposition.DeleteFile = deleted;
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                      sizeof disposition) != 0;
}

Handle create_file_below(Handle folder, const char* name, unsigned, int* taken)
{
    // Shared for reading alone: no other run may remove it while it is open.
    HANDLE handle = open_below(folder, name, GENERIC_WRITE | DELETE, FILE_SHARE_READ, FILE_CREATE,
                               FILE_NON_DIRECTORY_FILE);
    DWORD error = GetLastError();
    // Another run's file, marked for deletion, denies even a look.
    *taken = handle == INVALID_HANDLE_VALUE &&
             (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ||
              error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION);
    if (handle != INVALID_HANDLE_VALUE)
        (void)mark_for_deletion(handle, TRUE);
    return handle_from(handle);
}

// FILE_RENAME_INFO is FILE_RENAME_INFORMATION's layout; only the NT call
// takes a root folder for the new name (under Wine too).
typedef NTSTATUS(NTAPI* SetInformationFile)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG,
                                            FILE_INFORMATION_CLASS);

static int rename_open_file(Handle folder, HANDLE file, const char* name)
{
    static const SetInformationFile set_information =
        reinterpret_cast<SetInformationFile>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtSetInformationFile")));
    std::wstring wide_name;
    if (!to_wide(name, &wide_name))
        return 0;
    std::size_t bytes = wide_name.size() * sizeof(WCHAR);
    std::string buffer(sizeof(FILE_RENAME_INFO) + bytes, '\0');
    FILE_RENAME_INFO* rename = reinterpret_cast<FILE_RENAME_INFO*>(&buffer[0]);
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = handle_of(folder);
    rename->FileNameLength = static_cast<DWORD>(bytes);
    std::memcpy(rename->FileName, wide_name.c_str(), bytes);
    IO_STATUS_BLOCK io;
    const FILE_INFORMATION_CLASS rename_information = static_cast<FILE_INFORMATION_CLASS>(10);
    return succeeded(
        set_information(file, &io, rename, static_cast<ULONG>(buffer.size()), rename_information));
}

// Windows replaces no file that is open without delete sharing, and another
// run that has just put the same file in place holds it so for a moment.
static int rename_when_free(Handle folder, HANDLE file, const char* name)
{
    for (int tries = 0; tries < 100; tries++) {
        if (rename_open_file(folder, file, name))
            return 1;
        if (GetLastError() != ERROR_ACCESS_DENIED && GetLastError() != ERROR_SHARING_VIOLATION)
            return 0;
        Sleep(10);
    }
    return 0;
}

int put_in_place(Handle folder, Handle file, const char* temporary, const char* name)
{
    if (mark_for_deletion(handle_of(file), FALSE) &&
        rename_when_free(folder, handle_of(file), name))
        return CloseHandle(handle_of(file)) != 0;
    DWORD error = GetLastError();
    throw_away(folder, file, temporary);
    SetLastError(error);
    return 0;
}

void throw_away(Handle, Handle file, const char*)
{
    (void)mark_for_deletion(handle_of(file), TRUE);
    (void)CloseHandle(handle_of(file));
}

// A run still going holds its file without delete sharing.
int remove_below(Handle folder, const char* name)
{
    HANDLE handle = open_below(folder, name, DELETE, 0, FILE_OPEN, FILE_NON_DIRECTORY_FILE);
    if (handle == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    int removed = mark_for_deletion(handle, TRUE);
    (void)CloseHandle(handle);
    return removed;
}
