// Stands in for quake3.exe when a test runs "play it.bat": writes the folder
// it was started in and each argument it got, a line each, to started.txt
// beside itself. It reads them as UTF-16 and writes UTF-8, so that the record
// is the same whatever code pages a test sets.

#include <cstdio>
#include <cwchar>
#include <string>
#include <windows.h>

static std::string utf8(const wchar_t* text)
{
    int needed = WideCharToMultiByte(CP_UTF8, 0, text, -1, NULL, 0, NULL, NULL);
    if (needed <= 0)
        return std::string();
    std::string out(static_cast<std::size_t>(needed), '\0');
    if (WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], needed, NULL, NULL) != needed)
        return std::string();
    out.resize(static_cast<std::size_t>(needed) - 1);
    return out;
}

int wmain(int argc, wchar_t** argv)
{
    wchar_t record[MAX_PATH];
    wchar_t folder[MAX_PATH];
    DWORD length = GetModuleFileNameW(NULL, record, MAX_PATH);
    wchar_t* name = std::wcsrchr(record, L'\\');
    DWORD folder_length = GetCurrentDirectoryW(MAX_PATH, folder);
    if (length == 0 || length >= MAX_PATH || name == NULL ||
        name + sizeof "\\started.txt" > record + MAX_PATH || folder_length == 0 ||
        folder_length >= MAX_PATH)
        return 1;
    std::wcscpy(name, L"\\started.txt");
    std::FILE* out = _wfopen(record, L"wb");
    if (out == NULL)
        return 1;
    int written = std::fprintf(out, "%s\n", utf8(folder).c_str()) > 0;
    for (int i = 1; i < argc; i++)
        written = written && std::fprintf(out, "%s\n", utf8(argv[i]).c_str()) > 0;
    return std::fclose(out) == 0 && written ? 0 : 1;
}
