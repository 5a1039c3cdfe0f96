// Stands in for quake3.exe when a test runs "play it.bat": writes the folder
// it was started in and each argument it got, a line each, to started.txt
// beside itself.

#include <cstdio>
#include <cstring>
#include <windows.h>

int main(int argc, char** argv)
{
    char record[MAX_PATH];
    char folder[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, record, MAX_PATH);
    char* name = std::strrchr(record, '\\');
    DWORD folder_length = GetCurrentDirectoryA(MAX_PATH, folder);
    if (length == 0 || length >= sizeof record || name == NULL ||
        name + sizeof "\\started.txt" > record + sizeof record || folder_length == 0 ||
        folder_length >= sizeof folder)
        return 1;
    std::strcpy(name, "\\started.txt");
    std::FILE* out = std::fopen(record, "wb");
    if (out == NULL)
        return 1;
    int written = std::fprintf(out, "%s\n", folder) > 0;
    for (int i = 1; i < argc; i++)
        written = written && std::fprintf(out, "%s\n", argv[i]) > 0;
    return std::fclose(out) == 0 && written ? 0 : 1;
}
