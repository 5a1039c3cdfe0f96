// Files and folders on Windows: every name below a held folder is opened by
// NtCreateFile with that folder as its root, so that it is found in the
// folder held, whatever has happened to the path that led there.

#include "platform_windows.h"
#include "path_rules.h"
#include "platform.h"

#include <cstring>
#include <windows.h>
#include <winternl.h>

const DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Opened so, a folder can be entered, listed and named below.
const ACCESS_MASK FOLDER_ACCESS = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;
// What a name that a link led to fails with.
const DWORD THROUGH_A_LINK = ERROR_CANT_RESOLVE_FILENAME;

// 0 if `handle`, opened as `name` in `folder`, is not what that name is
// itself: Wine shows a host's link as what it names, to be told by its final
// path (which Wine cannot give for long paths; Windows tells a link itself).
static int is_itself(Handle folder, Handle handle, const std::wstring& name)
{
    std::wstring itself = final_path(folder), at = final_path(handle);
    itself += itself.empty() || itself.back() == L'\\' ? L"" : L"\\";
    return itself.size() == 1 || at.empty() ||
           CompareStringOrdinal(at.c_str(), -1, (itself + name).c_str(), -1, TRUE) == CSTR_EQUAL;
}

// Opens `name` in `folder`, never through a link, telling in *made whether
// it was made; NO_HANDLE, with the Windows error set, on failure.
static Handle open_below(Handle folder, const char* name, ACCESS_MASK access, ULONG share,
                         ULONG disposition, ULONG options, int* made = NULL)
{
    std::wstring wide;
    if (!to_utf16(CP_UTF8, name, &wide))
        return NO_HANDLE;
    USHORT bytes = static_cast<USHORT>(wide.size() * 2);
    UNICODE_STRING unicode = {bytes, bytes, &wide[0]};
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &unicode, OBJ_CASE_INSENSITIVE, folder, NULL);
    IO_STATUS_BLOCK io;
    Handle handle = NO_HANDLE;
    NTSTATUS status = NtCreateFile(
        &handle, access | SYNCHRONIZE, &attributes, &io, NULL, FILE_ATTRIBUTE_NORMAL, share,
        disposition, options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, NULL, 0);
    if (status < 0) {
        SetLastError(RtlNtStatusToDosError(status));
        return NO_HANDLE;
    }
    if (made != NULL)
        *made = io.Information == FILE_CREATED;
    if (io.Information != FILE_CREATED && !wide.empty() && !is_itself(folder, handle, wide)) {
        close_file(handle);
        SetLastError(THROUGH_A_LINK);
        return NO_HANDLE;
    }
    return handle;
}

int facts_of(Handle handle, FileFacts* facts)
{
    BY_HANDLE_FILE_INFORMATION about;
    FILE_ID_INFO id; // ReFS's 64-bit indexes are not unique: its 128-bit ones are
    if (!GetFileInformationByHandle(handle, &about) ||
        !GetFileInformationByHandleEx(handle, FileIdInfo, &id, sizeof id))
        return 0;
    DWORD attributes = about.dwFileAttributes;
    facts->kind = attributes & FILE_ATTRIBUTE_REPARSE_POINT ? LINK
                  : attributes & FILE_ATTRIBUTE_DIRECTORY   ? FOLDER
                  : attributes & FILE_ATTRIBUTE_DEVICE || GetFileType(handle) != FILE_TYPE_DISK
                      ? OTHER_KIND
                      : REGULAR_FILE;
    facts->writable = !(attributes & FILE_ATTRIBUTE_READONLY);
    facts->mode = 0666;
    facts->identity.volume = id.VolumeSerialNumber;
    std::memcpy(facts->identity.id, id.FileId.Identifier, sizeof facts->identity.id);
    return 1;
}

int look_below(Handle folder, const char* name, FileFacts* facts)
{
    Handle handle = open_below(folder, name, FILE_READ_ATTRIBUTES, SHARE_ALL, FILE_OPEN, 0);
    facts->kind = GetLastError() == THROUGH_A_LINK ? LINK : NOTHING_THERE;
    int known = handle != NO_HANDLE ? facts_of(handle, facts)
                                    : facts->kind == LINK || GetLastError() == ERROR_FILE_NOT_FOUND;
    if (handle != NO_HANDLE)
        close_file(handle);
    return known;
}

// Opened for FILE_TRAVERSE, a folder is one that can be entered. Made
// first, where `made` asks for it.
Handle open_folder(const char* path, int* made)
{
    std::wstring name;
    FileFacts facts;
    if (!to_wide(path, &name) || (made != NULL && !(*made = CreateDirectoryW(name.c_str(), NULL)) &&
                                  GetLastError() != ERROR_ALREADY_EXISTS))
        return NO_HANDLE;
    Handle handle = CreateFileW(name.c_str(), FOLDER_ACCESS | SYNCHRONIZE, SHARE_ALL, NULL,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (handle == NO_HANDLE || (facts_of(handle, &facts) && facts.kind == FOLDER))
        return handle;
    close_file(handle);
    SetLastError(ERROR_DIRECTORY);
    return NO_HANDLE;
}

Handle open_folder_below(Handle folder, const char* name, int* made)
{
    return open_below(folder, name, FOLDER_ACCESS, SHARE_ALL, made ? FILE_OPEN_IF : FILE_OPEN,
                      FILE_DIRECTORY_FILE, made);
}

int list_folder(Handle folder, void (*visit)(const char* name, void* context), void* context)
{
    alignas(8) char block[16384];
    FILE_INFO_BY_HANDLE_CLASS next = FileFullDirectoryRestartInfo;
    for (; GetFileInformationByHandleEx(folder, next, block, sizeof block);
         next = FileFullDirectoryInfo) {
        const FILE_FULL_DIR_INFO* entry = reinterpret_cast<const FILE_FULL_DIR_INFO*>(block);
        for (;; entry = reinterpret_cast<const FILE_FULL_DIR_INFO*>(
                    reinterpret_cast<const char*>(entry) + entry->NextEntryOffset)) {
            std::string name;
            if (from_wide(CP_UTF8, std::wstring(entry->FileName, entry->FileNameLength / 2), &name))
                visit(name.c_str(), context);
            if (entry->NextEntryOffset == 0)
                break;
        }
    }
    return GetLastError() == ERROR_NO_MORE_FILES;
}

// Folders open too, to be told apart.
Handle open_file_below(Handle folder, const char* name)
{
    return open_below(folder, name, GENERIC_READ, SHARE_ALL, FILE_OPEN, 0);
}

long read_file(Handle file, char* to, std::size_t size)
{
    DWORD got = 0;
    return ReadFile(file, to, static_cast<DWORD>(size), &got, NULL) ? static_cast<long>(got) : -1;
}

// A write that puts nothing and tells no error is told as one.
int write_file(Handle file, const char* from, std::size_t size)
{
    for (DWORD put = 0; size > 0; from += put, size -= put) {
        if (!WriteFile(file, from, static_cast<DWORD>(size), &put, NULL))
            return 0;
        if (put == 0) {
            SetLastError(ERROR_WRITE_FAULT);
            return 0;
        }
    }
    return 1;
}

void close_file(Handle file)
{
    (void)CloseHandle(file);
}

// A file marked to be deleted goes with its last handle.
static int mark_for_deletion(Handle file, BOOLEAN deleted)
{
    FILE_DISPOSITION_INFO disposition = {deleted};
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
}

Handle create_file_below(Handle folder, const char* name, unsigned, int* taken)
{
    // Shared for reading alone: no other run may remove it while it is open.
    Handle file = open_below(folder, name, GENERIC_WRITE | DELETE, FILE_SHARE_READ, FILE_CREATE,
                             FILE_NON_DIRECTORY_FILE);
    DWORD error = GetLastError();
    FileFacts there;
    // Another run's file, marked for deletion, denies even a look; a folder
    // that takes no file denies the name, but shows nothing there.
    *taken =
        file == NO_HANDLE && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ||
                              (error == ERROR_ACCESS_DENIED && !look_below(folder, name, &there)));
    SetLastError(error);
    if (file != NO_HANDLE)
        (void)mark_for_deletion(file, TRUE);
    return file;
}

// Only the NT call takes a root folder for the new name, under Wine too;
// FILE_RENAME_INFO has the layout of its FILE_RENAME_INFORMATION.
static int rename_open_file(Handle folder, Handle file, const char* name)
{
    typedef NTSTATUS(NTAPI * SetInformation)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG,
                                             FILE_INFORMATION_CLASS);
    static const SetInformation set_information =
        reinterpret_cast<SetInformation>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleW(L"ntdll"), "NtSetInformationFile")));
    std::wstring wide;
    if (!to_utf16(CP_UTF8, name, &wide))
        return 0;
    std::string buffer(sizeof(FILE_RENAME_INFO) + wide.size() * 2, '\0');
    FILE_RENAME_INFO* rename = reinterpret_cast<FILE_RENAME_INFO*>(&buffer[0]);
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = folder;
    rename->FileNameLength = static_cast<DWORD>(wide.size() * 2);
    std::memcpy(rename->FileName, wide.c_str(), wide.size() * 2);
    IO_STATUS_BLOCK io;
    const FILE_INFORMATION_CLASS rename_information = static_cast<FILE_INFORMATION_CLASS>(10);
    NTSTATUS status =
        set_information(file, &io, rename, static_cast<ULONG>(buffer.size()), rename_information);
    SetLastError(RtlNtStatusToDosError(status));
    return status >= 0;
}

// Windows replaces no file that is open without delete sharing, and another
// run that has just put the same file in place holds it so for a moment.
int put_in_place(Handle folder, Handle file, const char* temporary, const char* name)
{
    int busy = mark_for_deletion(file, FALSE);
    for (int tries = 0; busy && tries < 100; tries++) {
        if (rename_open_file(folder, file, name)) {
            close_file(file);
            return 1;
        }
        busy = GetLastError() == ERROR_ACCESS_DENIED || GetLastError() == ERROR_SHARING_VIOLATION;
        Sleep(busy ? 10 : 0);
    }
    DWORD error = GetLastError();
    throw_away(folder, file, temporary);
    SetLastError(error);
    return 0;
}

void throw_away(Handle, Handle file, const char*)
{
    (void)mark_for_deletion(file, TRUE);
    close_file(file);
}

// A run still going holds its file without delete sharing.
int remove_below(Handle folder, const char* name)
{
    Handle file = open_below(folder, name, DELETE, 0, FILE_OPEN, FILE_NON_DIRECTORY_FILE);
    int removed = file != NO_HANDLE && mark_for_deletion(file, TRUE);
    if (file != NO_HANDLE)
        close_file(file);
    return removed || GetLastError() == ERROR_FILE_NOT_FOUND;
}
